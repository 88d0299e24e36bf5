#include <tav/msg.hpp>

#include <gtest/gtest.h>

#include <string>

namespace {

using tav::append_msg;
using tav::make_msg;
using tav::release_msg;

std::string content(const ACE_Message_Block* mb) {
    return std::string(mb->rd_ptr(), mb->length());
}

TEST(make_msg, copies_the_bytes_and_leaves_the_read_pointer_at_the_start) {
    const std::string data("a\0b\xff", 4);
    tav::msg_auto_release mb(make_msg(data.data(), 4));
    EXPECT_EQ(mb->length(), 4U);
    EXPECT_EQ(mb->rd_ptr(), mb->base());
    EXPECT_EQ(content(mb.get()), data);
    EXPECT_NE(mb->rd_ptr(), data.data());
    EXPECT_EQ(mb->cont(), nullptr);
    EXPECT_EQ(mb->msg_type(), ACE_Message_Block::MB_DATA);
}

TEST(make_msg, gives_an_empty_block_for_no_data) {
    for (const auto& [data, size] : {std::pair<const char*, unsigned>{nullptr, 5}, {"abc", 0}}) {
        tav::msg_auto_release mb(make_msg(data, size));
        ASSERT_NE(mb.get(), nullptr);
        EXPECT_EQ(mb->length(), 0U);
    }
}

TEST(append_msg, makes_the_first_block_the_head_and_links_later_ones_at_the_end) {
    ACE_Message_Block* head = nullptr;
    ACE_Message_Block* blocks[4];
    for (int i = 0; i < 4; ++i) {
        const std::string text(1, static_cast<char>('a' + i));
        blocks[i] = make_msg(text.data(), 1);
        append_msg(head, blocks[i]);
        EXPECT_EQ(head, blocks[0]);
    }
    EXPECT_EQ(head->cont(), blocks[1]);
    EXPECT_EQ(blocks[2]->cont(), blocks[3]);
    EXPECT_EQ(blocks[3]->cont(), nullptr);
    EXPECT_EQ(head->total_length(), 4U);
    release_msg(head);
    EXPECT_EQ(head, nullptr);
}

TEST(release_msg, ignores_a_null_pointer) {
    ACE_Message_Block* mb = nullptr;
    release_msg(mb);
    EXPECT_EQ(mb, nullptr);
}

TEST(msg_auto_release, releases_the_whole_chain_it_holds) {
    ACE_Message_Block* head = make_msg("ab", 2);
    append_msg(head, make_msg("cd", 2));
    // The address sanitizer reports the chain as leaked if the guard does not release it.
    const tav::msg_auto_release guard(head);
    EXPECT_EQ(&*guard, head);
    EXPECT_EQ(tav::msg_auto_release().get(), nullptr);
}

} // namespace
