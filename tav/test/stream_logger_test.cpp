#include "log_folder.hpp"

#include <tav/stream_logger.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

class stream_logger_test : public log_folder_test {
protected:
    tav::stream_logger stream_;
};

TEST_F(stream_logger_test, open_makes_the_folders_with_odd_bytes_replaced) {
    ASSERT_TRUE(stream_.open("\\a:b/c"));
    EXPECT_TRUE(stream_.log_inbound("GET / HTTP/1.1\r\n"));
    EXPECT_TRUE(stream_.log_outbound("HTTP/1.1 200 OK\r\n\0tail", 22));
    stream_.close();
    EXPECT_EQ(read("log/a_b/c/inbound"), "GET / HTTP/1.1\r\n");
    EXPECT_EQ(read("log/a_b/c/outbound"), std::string("HTTP/1.1 200 OK\r\n\0tail", 22));

    // Backslashes separate folders too, and opening again truncates both files.
    ASSERT_TRUE(stream_.open("//a:b\\c"));
    EXPECT_TRUE(stream_.log_inbound("new"));
    stream_.close();
    EXPECT_EQ(read("log/a_b/c/inbound"), "new");
    EXPECT_EQ(read("log/a_b/c/outbound"), "");
}

TEST_F(stream_logger_test, open_refuses_empty_names_and_parent_segments) {
    for (const std::string name : {"", "/", "\\/\\", "..", "a/..", "a/../../x", "..\\x", "/../x"}) {
        EXPECT_FALSE(stream_.open(name)) << name;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(root_), fs::directory_iterator()), 0);
    ASSERT_TRUE(stream_.open(".../."));
    stream_.close();
    EXPECT_TRUE(fs::exists("log/.../inbound"));
}

TEST_F(stream_logger_test, logging_fails_without_data_or_an_open_file) {
    EXPECT_FALSE(stream_.log_inbound("data", 4));
    ASSERT_TRUE(stream_.open("s"));
    EXPECT_FALSE(stream_.log_inbound(nullptr, 4));
    EXPECT_FALSE(stream_.log_outbound("data", 0));
    EXPECT_FALSE(stream_.log_inbound(nullptr));
    EXPECT_FALSE(stream_.log_outbound(""));
    stream_.close();
    EXPECT_FALSE(stream_.log_outbound("data"));
    EXPECT_EQ(fs::file_size("log/s/inbound") + fs::file_size("log/s/outbound"), 0U);
}

} // namespace
