#include "log_folder.hpp"

#include <tav/logger.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using record_ptr = boost::intrusive_ptr<tav::log_record>;

record_ptr record(const std::vector<std::pair<std::string, std::string>>& fields) {
    record_ptr made(new tav::log_record);
    for (const auto& [name, value] : fields) {
        made->set_field(name, value, true);
    }
    return made;
}

record_ptr value(const std::string& v) {
    return record({{"v", v}});
}

// The seconds since the epoch that a "#Date: " line names, reading its clock as UTC; -1 if it is
// not such a line.
std::time_t date_line_seconds(const std::string& line) {
    std::tm parts{};
    const char* end = ::strptime(line.c_str(), "#Date: %Y-%m-%d %H:%M:%S", &parts);
    return end != nullptr && *end == '\0' && line.size() == 26 ? ::timegm(&parts) : -1;
}

class logger_test : public log_folder_test {
protected:
    // The text of the exception that start throws, or nothing when it starts.
    std::optional<std::string> start_failure(const std::string& name) {
        try {
            log_.start(name, {"v"}, true);
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::nullopt;
    }

    const fs::path file_ = "log/x/log.txt";
    const fs::path old_file_ = "log/x/log.txt.old";
    tav::logger log_;
};

TEST_F(logger_test, header_on_a_new_file_and_a_date_line_at_each_opening) {
    const std::time_t before = std::time(nullptr);
    log_.start("proxy/access", {"date", "c-ip", "cs-uri"}, true);
    log_.log(record({{"c-ip", "10.0.0.1"}, {"cs-uri", "http://a.example/x y"}}));
    log_.stop();
    log_.start("proxy/access", {"date", "c-ip", "cs-uri"}, true);
    log_.log(record({{"date", "2024-05-01"}}));
    log_.stop();
    const std::time_t after = std::time(nullptr);

    const auto written = lines("log/proxy/access/log.txt");
    ASSERT_EQ(written.size(), 8U);
    EXPECT_EQ(written[0], "#Version: 1.0");
    EXPECT_EQ(written[1], "#Fields:\tdate\tc-ip\tcs-uri");
    for (const std::size_t date : {3, 6}) {
        EXPECT_EQ(written[date - 1], "");
        EXPECT_GE(date_line_seconds(written[date]), before) << written[date];
        EXPECT_LE(date_line_seconds(written[date]), after) << written[date];
    }
    EXPECT_EQ(written[4], "-\t10.0.0.1\thttp://a.example/x_y");
    EXPECT_EQ(written[7], "2024-05-01\t-\t-");
}

TEST_F(logger_test, date_line_is_in_local_time_unless_utc_is_asked) {
    ::setenv("TZ", "TWK-05:30", 1); // five and a half hours east of UTC
    ::tzset();
    const std::time_t before = std::time(nullptr);
    log_.start("x", {"v"}, false);
    log_.stop();
    const std::time_t after = std::time(nullptr);
    ::unsetenv("TZ");
    ::tzset();

    const std::time_t local = date_line_seconds(lines(file_).at(3)) - (5 * 3600 + 30 * 60);
    EXPECT_GE(local, before);
    EXPECT_LE(local, after);
}

TEST_F(logger_test, start_refuses_bad_names_and_a_second_start) {
    for (const std::string name : {"", "a b", "a\tb", "caf\xc3\xa9", "a*b", "a\\b", ".", "/", "./.", "a/..",
                                   "..", "../x", "a/../../x"}) {
        EXPECT_EQ(start_failure(name), "Can't start " + name + " logger: bad logger name");
    }
    // Nothing was made outside "log", and no failed start left the logger running.
    EXPECT_EQ(std::distance(fs::directory_iterator(root_), fs::directory_iterator()), 1);
    EXPECT_EQ(start_failure("x"), std::nullopt);
    EXPECT_EQ(start_failure("y"), "Can't start y logger: already started");
    log_.log(value("kept"));
    log_.stop();
    EXPECT_EQ(lines(file_).back(), "kept");
    EXPECT_FALSE(fs::exists("log/y"));
}

TEST_F(logger_test, start_reports_folder_and_file_errors) {
    std::ofstream("log") << "a file where the folder should be";
    const std::string prefix = "Can't start x logger: ";
    const auto folder_failure = start_failure("x");
    ASSERT_TRUE(folder_failure);
    EXPECT_EQ(folder_failure->rfind(prefix, 0), 0U) << *folder_failure;
    EXPECT_GT(folder_failure->size(), prefix.size());

    fs::remove("log");
    fs::create_directories(file_);
    EXPECT_EQ(start_failure("x"), prefix + "fail to open \"log/x/log.txt\"");
    fs::remove(file_);
    EXPECT_EQ(start_failure("x"), std::nullopt);
}

TEST_F(logger_test, writes_every_record_logged_while_started_and_nothing_else) {
    constexpr int count = 20000;
    log_.log(value("before start"));
    log_.start("x", {"v"}, true);
    log_.log(record_ptr());
    for (int n = 0; n < count; ++n) {
        log_.log(value(std::to_string(n)));
    }
    log_.stop();
    log_.log(value("after stop"));
    {
        tav::logger destroyed_running;
        destroyed_running.start("x", {"v"}, true);
        destroyed_running.log(value("last"));
    }

    const auto written = lines(file_);
    ASSERT_EQ(written.size(), 4U + count + 3U);
    for (int n = 0; n < count; ++n) {
        ASSERT_EQ(written[4 + n], std::to_string(n));
    }
    EXPECT_EQ(written.back(), "last");
}

// The first line brings the file to exactly 2 MiB, which is not past the limit; the next one is.
TEST_F(logger_test, rotates_past_2_MiB_replacing_the_older_old_file) {
    fs::create_directories("log/x");
    std::ofstream(old_file_) << "older generation\n";
    log_.start("x", {"v"}, true);
    const std::string fill(0x200000 - fs::file_size(file_) - 1, 'f');
    log_.log(value(fill));
    log_.log(value("past"));
    log_.log(value("new file"));
    log_.stop();

    const auto old_lines = lines(old_file_);
    ASSERT_EQ(old_lines.size(), 6U);
    EXPECT_EQ(old_lines[4], fill);
    EXPECT_EQ(old_lines[5], "past");
    const auto written = lines(file_);
    ASSERT_EQ(written.size(), 5U);
    EXPECT_EQ(written[0], "#Version: 1.0");
    EXPECT_EQ(written[4], "new_file");
}

// log.txt is a link to a device where every write fails, so the header already fails; the first
// record rotates the link away and lands in a new file.
TEST_F(logger_test, write_error_makes_the_next_record_rotate) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full to make writes fail";
    }
    fs::create_directories("log/x");
    fs::create_symlink("/dev/full", file_);
    log_.start("x", {"v"}, true);
    log_.log(value("after the error"));
    log_.stop();

    EXPECT_TRUE(fs::is_symlink(old_file_));
    const auto written = lines(file_);
    ASSERT_EQ(written.size(), 5U);
    EXPECT_EQ(written[4], "after_the_error");
}

// True while this process has the file open.
bool open_here(const fs::path& file) {
    const fs::path target = fs::canonical(file);
    for (const auto& descriptor : fs::directory_iterator("/proc/self/fd")) {
        std::error_code gone;
        if (fs::read_symlink(descriptor.path(), gone) == target) {
            return true;
        }
    }
    return false;
}

// A directory that cannot be removed stands where the old file goes, so the rotation fails and
// the log stays closed. Once it is gone, the very next record rotates and is written.
TEST_F(logger_test, record_after_a_failed_rotation_retries_it) {
    fs::create_directories(old_file_ / "blocker");
    log_.start("x", {"v"}, true);
    log_.log(value(std::string(0x200000, 'f')));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (open_here(file_)) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the writer never closed the log";
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    fs::remove_all(old_file_);
    log_.log(value("next"));
    log_.stop();

    EXPECT_GT(fs::file_size(old_file_), 0x200000U);
    const auto written = lines(file_);
    ASSERT_EQ(written.size(), 5U);
    EXPECT_EQ(written[4], "next");
}

// A log file removed while it is written is not shifted to ".old"; the rotation opens a new one.
TEST_F(logger_test, rotation_reopens_a_log_file_removed_while_running) {
    log_.start("x", {"v"}, true);
    fs::remove(file_);
    log_.log(value(std::string(0x200000, 'f')));
    log_.log(value("next"));
    log_.stop();

    EXPECT_FALSE(fs::exists(old_file_));
    const auto written = lines(file_);
    ASSERT_EQ(written.size(), 5U);
    EXPECT_EQ(written[4], "next");
}

// The number that follows "key": in goaccess's JSON report, or -1.
long json_number(const std::string& json, const std::string& key) {
    const std::string quoted = "\"" + key + "\": ";
    const auto at = json.find(quoted);
    return at == std::string::npos ? -1 : std::strtol(json.c_str() + at + quoted.size(), nullptr, 10);
}

// A real W3C log reader parses every record of a log written over two starts.
TEST_F(logger_test, goaccess_reads_the_log) {
    if (std::system("command -v goaccess >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "goaccess is not installed (scripts/deps installs it)";
    }
    const std::vector<std::string> fields{"date",        "time",      "c-ip",     "cs-method",
                                          "cs-uri-stem", "sc-status", "sc-bytes", "cs(User-Agent)"};
    const auto hit = [](const std::string& ip, const std::string& path, const std::string& status,
                        const std::string& bytes) {
        return record({{"date", "2024-05-01"},
                       {"time", "10:00:01"},
                       {"c-ip", ip},
                       {"cs-method", "GET"},
                       {"cs-uri-stem", path},
                       {"sc-status", status},
                       {"sc-bytes", bytes},
                       {"cs(User-Agent)", "Mozilla/5.0 (X11; Linux x86_64)"}});
    };
    log_.start("web", fields, true);
    log_.log(hit("192.168.1.10", "/index.html", "200", "512"));
    log_.log(hit("192.168.1.11", "/missing", "404", ""));
    log_.stop();
    log_.start("web", fields, true);
    log_.log(hit("192.168.1.10", "/a b", "200", "1000"));
    log_.stop();

    const int status = std::system("goaccess log/web/log.txt --no-global-config --log-format="
                                   "'%d\\t%t\\t%h\\t%m\\t%U\\t%s\\t%b\\t%u' --date-format=%Y-%m-%d "
                                   "--time-format=%H:%M:%S -o report.json </dev/null >goaccess.out 2>&1");
    ASSERT_EQ(status, 0) << read("goaccess.out");
    const std::string report = read("report.json");
    EXPECT_EQ(json_number(report, "total_requests"), 3) << report.substr(0, 400);
    EXPECT_EQ(json_number(report, "valid_requests"), 3);
    EXPECT_EQ(json_number(report, "failed_requests"), 0);
    EXPECT_EQ(json_number(report, "bandwidth"), 1512);
    EXPECT_EQ(json_number(report, "unique_not_found"), 1);
}

} // namespace
