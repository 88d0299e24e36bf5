#include <tav/atom.hpp>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using tav::atom;

atom make_atom(const char* text) {
    const std::size_t size = std::strlen(text) + 1;
    char* copy = new char[size];
    std::memcpy(copy, text, size);
    return atom(atom::array_type(copy));
}

TEST(atom, identity_is_the_address_of_the_text) {
    const std::vector<atom> hosts{make_atom("Host"), make_atom("Host")};
    const std::vector<atom> copies(hosts.begin(), hosts.end());
    EXPECT_STREQ(hosts[0].c_str(), hosts[1].c_str());
    EXPECT_NE(hosts[0], hosts[1]);
    EXPECT_FALSE(hosts[0] == hosts[1]);
    EXPECT_EQ(copies[0], hosts[0]);
    EXPECT_FALSE(copies[0] != hosts[0]);
    EXPECT_EQ(copies[0].c_str(), hosts[0].c_str());
    EXPECT_EQ(hosts[0].get_ptr().get(), hosts[0].c_str());
    EXPECT_EQ(hosts[0] < hosts[1], hosts[0].c_str() < hosts[1].c_str());
    EXPECT_NE(hosts[0] < hosts[1], hosts[1] < hosts[0]);
    EXPECT_FALSE(hosts[0] < copies[0]);
}

TEST(atom, null_atom_is_false_and_has_no_text) {
    const atom null;
    EXPECT_FALSE(null);
    EXPECT_EQ(null.c_str(), nullptr);
    EXPECT_EQ(null, atom());
    EXPECT_TRUE(make_atom(""));
}

TEST(atom, static_text_with_a_deleter_that_does_nothing) {
    static const char text[] = "Content-Type";
    const atom name(atom::array_type(text, [](const char*) {}));
    EXPECT_EQ(name.c_str(), text);
}

TEST(atom, swap_exchanges_the_texts) {
    atom first = make_atom("first");
    atom second = make_atom("second");
    const char* first_text = first.c_str();
    first.swap(second);
    EXPECT_STREQ(first.c_str(), "second");
    EXPECT_EQ(second.c_str(), first_text);
}

TEST(atom, serves_as_the_key_of_an_ordered_table) {
    const atom a = make_atom("a");
    const atom b = make_atom("b");
    std::map<atom, int> table{{a, 1}, {b, 2}};
    table[atom(a)] += 10;
    EXPECT_EQ(table.size(), 2U);
    EXPECT_EQ(table[a], 11);
    EXPECT_EQ(table.count(make_atom("a")), 0U);
}

TEST(atom_failure, is_a_copyable_runtime_error_with_its_message) {
    tav::atom_failure failure("atom table full");
    const tav::atom_failure copy = failure;
    failure = tav::atom_failure("other");
    EXPECT_STREQ(copy.what(), "atom table full");
    EXPECT_STREQ(failure.what(), "other");
    EXPECT_THROW(throw copy, std::runtime_error);
}

} // namespace
