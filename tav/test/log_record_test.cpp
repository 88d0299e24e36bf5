#include <tav/log_record.hpp>

#include <gtest/gtest.h>

namespace {

using record_ptr = boost::intrusive_ptr<tav::log_record>;

TEST(log_record, set_field_cleans_white_space_and_replaces_only_when_asked) {
    const record_ptr record(new tav::log_record);
    record->set_field("a", "x y", true);
    record->set_field("a", "new", false);
    record->set_field("spaces", " \t\n", false);
    record->set_field("spaces", "\v\f\r ", true);
    record->set_field("bytes", "\x80\xe9\x01\x7f", true);
    EXPECT_EQ(record->get_field("a"), "x_y");
    EXPECT_EQ(record->get_field("spaces"), "____");
    EXPECT_EQ(record->get_field("bytes"), "\x80\xe9\x01\x7f");
    EXPECT_EQ(record->get_field("missing"), "");
}

TEST(log_record, format_gives_one_column_per_name) {
    const record_ptr record(new tav::log_record);
    record->set_field("a", "x y", true);
    record->set_field("empty", "", true);
    EXPECT_EQ(record->format({"a", "b"}), "x_y\t-");
    EXPECT_EQ(record->format({"empty", "a", "a"}), "-\tx_y\tx_y");
    EXPECT_EQ(record->format({}), "");
}

TEST(log_record, merge_copies_every_field_over_existing_ones) {
    const record_ptr record(new tav::log_record);
    record->set_field("a", "1", true);
    record->set_field("b", "2", true);
    const record_ptr other(new tav::log_record);
    other->set_field("b", "20", true);
    other->set_field("c", "30", true);
    record->merge(other);
    record->merge(record_ptr());
    EXPECT_EQ(record->format({"a", "b", "c"}), "1\t20\t30");
}

} // namespace
