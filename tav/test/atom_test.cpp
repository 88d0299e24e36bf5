#include <tav/atom.hpp>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <map>
#include <vector>

namespace {

using tav::atom;

atom make_atom(const char* text) {
    const std::size_t size = std::strlen(text) + 1;
    char* copy = new char[size];
    std::memcpy(copy, text, size);
    return atom(atom::array_type(copy));
}

TEST(atom, identity_and_order_are_those_of_the_text_address) {
    const std::vector<atom> hosts{make_atom("Host"), make_atom("Host")};
    const std::vector<atom> copies(hosts.begin(), hosts.end());
    EXPECT_NE(hosts[0], hosts[1]);
    EXPECT_EQ(copies[0], hosts[0]);
    EXPECT_EQ(copies[0].c_str(), hosts[0].c_str());
    EXPECT_NE(hosts[0] < hosts[1], hosts[1] < hosts[0]);

    std::map<atom, int> table{{hosts[0], 1}, {hosts[1], 2}};
    table[copies[0]] += 10;
    EXPECT_EQ(table.size(), 2U);
    EXPECT_EQ(table[hosts[0]], 11);
}

TEST(atom, null_atom_is_false_and_has_no_text) {
    EXPECT_FALSE(atom());
    EXPECT_EQ(atom().c_str(), nullptr);
    EXPECT_EQ(atom(), atom());
    EXPECT_TRUE(make_atom(""));
    static const char text[] = "Content-Type";
    EXPECT_EQ(atom(atom::array_type(text, [](const char*) {})).c_str(), text);
}

TEST(atom_failure, is_a_runtime_error_with_its_message) {
    tav::atom_failure failure("atom table full");
    const tav::atom_failure copy = failure;
    failure = tav::atom_failure("other");
    EXPECT_STREQ(copy.what(), "atom table full");
    EXPECT_STREQ(failure.what(), "other");
}

} // namespace
