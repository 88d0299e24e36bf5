#include <tav/msg.hpp>

#include <gtest/gtest.h>

#include <string>

namespace {

using tav::append_msg;
using tav::make_msg;
using tav::release_msg;

TEST(make_msg, copies_the_bytes_or_gives_an_empty_block) {
    const std::string data("a\0b\xff", 4);
    const tav::msg_auto_release mb(make_msg(data.data(), 4));
    EXPECT_EQ(std::string(mb->rd_ptr(), mb->length()), data);
    EXPECT_EQ(mb->rd_ptr(), mb->base());
    EXPECT_NE(mb->rd_ptr(), data.data());
    EXPECT_EQ(mb->cont(), nullptr);

    const tav::msg_auto_release no_data(make_msg(nullptr, 5));
    const tav::msg_auto_release no_size(make_msg("abc", 0));
    ASSERT_NE(no_data.get(), nullptr);
    ASSERT_NE(no_size.get(), nullptr);
    EXPECT_EQ(no_data->length() + no_size->length(), 0U);
}

// The guard at the end owns the chain; the address sanitizer reports any block it does not release.
TEST(append_msg, links_each_block_after_the_last_of_the_chain) {
    const std::string text = "abcd";
    ACE_Message_Block* head = nullptr;
    ACE_Message_Block* blocks[4];
    for (int i = 0; i < 4; ++i) {
        blocks[i] = make_msg(&text[i], 1);
        append_msg(head, blocks[i]);
        EXPECT_EQ(head, blocks[0]);
    }
    EXPECT_EQ(blocks[0]->cont(), blocks[1]);
    EXPECT_EQ(blocks[2]->cont(), blocks[3]);
    EXPECT_EQ(blocks[3]->cont(), nullptr);
    EXPECT_EQ(head->total_length(), 4U);
    const tav::msg_auto_release chain(head);
}

TEST(release_msg, releases_the_chain_and_clears_the_pointer) {
    ACE_Message_Block* head = make_msg("ab", 2);
    append_msg(head, make_msg("cd", 2));
    release_msg(head);
    EXPECT_EQ(head, nullptr);
    release_msg(head);
}

} // namespace
