#include <tav/uri.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

namespace {

using tav::uri;

bool parse(uri& u, const std::string& text) {
    return u.parse_absolute(text.data(), text.data() + text.size());
}

bool parse_authority(uri& u, const std::string& text) {
    return u.parse_authority(text.data(), text.data() + text.size());
}

std::string flat(const uri& u, unsigned which = uri::all_bits) {
    std::string out;
    u.flatten(out, which);
    return out;
}

// Everything a uri holds, to compare and print in one go.
struct parts {
    std::string scheme, userinfo, host, port, path, query, fragment;
    std::uint32_t bits = 0;

    auto tied() const { return std::tie(scheme, userinfo, host, port, path, query, fragment, bits); }
    bool operator==(const parts& other) const { return tied() == other.tied(); }
};

parts parts_of(const uri& u) {
    return {u.scheme(), u.userinfo(), u.host(), u.port(), u.path(), u.query(), u.fragment(), u.components()};
}

std::ostream& operator<<(std::ostream& os, const parts& p) {
    return os << testing::PrintToString(p.tied());
}

// A uri that is not empty, to show that a failed parse clears it.
uri filled() {
    uri u;
    parse(u, "http://u@h:1/p?q#f");
    return u;
}

struct parse_case {
    std::string input;
    parts expected;
};

void PrintTo(const parse_case& c, std::ostream* os) {
    *os << testing::PrintToString(c.input);
}

class parse_absolute_test : public testing::TestWithParam<parse_case> {};

TEST_P(parse_absolute_test, splits_and_normalises) {
    uri u = filled();
    ASSERT_TRUE(parse(u, GetParam().input));
    EXPECT_EQ(parts_of(u), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    cases, parse_absolute_test,
    testing::Values(
        parse_case{"HTTP://User@WWW.Example.COM:8080/A/b?Q=1#Frag",
                   {"http", "User", "www.example.com", "8080", "/A/b", "Q=1", "Frag", 0x7F}},
        parse_case{"HtTp://host", {"http", "", "host", "", "/", "", "", 0x15}},
        parse_case{"http://host:", {"http", "", "host", "", "/", "", "", 0x15}},
        parse_case{"http:", {"http", "", "", "", "/", "", "", 0x11}},
        parse_case{"http://", {"http", "", "", "", "/", "", "", 0x15}},
        parse_case{"https://host:", {"https", "", "host", "", "", "", "", 0x1D}},
        parse_case{"ftp://host", {"ftp", "", "host", "", "", "", "", 0x15}},
        parse_case{"http://h:80/%7e/../x?%41", {"http", "", "h", "80", "/%7e/../x", "%41", "", 0x3D}},
        parse_case{"mailto:Someone@Example.COM", {"mailto", "", "", "", "Someone@Example.COM", "", "", 0x11}},
        parse_case{"http://h/?", {"http", "", "h", "", "/", "", "", 0x35}},
        parse_case{"x:#", {"x", "", "", "", "", "", "", 0x51}},
        parse_case{"/p?a?b#c#d", {"", "", "", "", "/p", "a?b", "c#d", 0x70}},
        parse_case{"?", {"", "", "", "", "", "", "", 0x30}},
        parse_case{":x", {"", "", "", "", ":x", "", "", 0x10}},
        parse_case{"//Host/p", {"", "", "host", "", "/p", "", "", 0x14}},
        parse_case{"//u@", {"", "u", "", "", "", "", "", 0x16}},
        parse_case{"news://a:b@C@D:7", {"news", "a:b", "c@d", "7", "", "", "", 0x1F}},
        parse_case{"\xC9X y:\xE9\x80//", {"\xC9x y", "", "", "", "\xE9\x80//", "", "", 0x11}},
        parse_case{"//\xC9\xFF/\xE9?\xFF#\x80", {"", "", "\xC9\xFF", "", "/\xE9", "\xFF", "\x80", 0x74}},
        parse_case{std::string("s:p\n?q\0#f\n\0#", 12),
                   {"s", "", "", "", "p\n", std::string("q\0", 2), std::string("f\n\0#", 4), 0x71}}));

TEST(uri_parse, length_limit) {
    uri u = filled();
    EXPECT_FALSE(parse(u, ""));
    EXPECT_EQ(parts_of(u), parts{});

    u = filled();
    EXPECT_FALSE(parse(u, std::string(uri::max_length_ + 1, 'a')));
    EXPECT_EQ(parts_of(u), parts{});

    ASSERT_TRUE(parse(u, std::string(uri::max_length_, 'a')));
    EXPECT_EQ(u.path().size(), uri::max_length_);
}

class bad_authority_test : public testing::TestWithParam<std::string> {};

// A bad authority fails the parse, leaving the other components as taken, unnormalised.
TEST_P(bad_authority_test, fails_keeping_other_components) {
    uri u = filled();
    EXPECT_FALSE(parse(u, "HTTP://" + GetParam() + "?Q#F"));
    EXPECT_EQ(parts_of(u), (parts{"HTTP", "", "", "", "", "Q", "F", 0x71}));
}

INSTANTIATE_TEST_SUITE_P(cases, bad_authority_test,
                         testing::Values("h:x", "h:8a", "[::1]", "[::1]:80", "u@h:1:2", "h:\xD9\xA1"));

TEST(uri_parse_authority, splits_and_lowercases_host) {
    const std::vector<parse_case> cases{
        {"User@Host.COM:80", {"", "User", "host.com", "80", "", "", "", 0x0E}},
        {"host:", {"", "", "host", "", "", "", "", 0x0C}},
        {"a@B@c", {"", "a", "b@c", "", "", "", "", 0x06}},
        {"@", {"", "", "", "", "", "", "", 0x06}},
        {"/p?q#f", {"", "", "/p?q#f", "", "", "", "", 0x04}},
    };
    for (const auto& c : cases) {
        uri u = filled();
        EXPECT_TRUE(parse_authority(u, c.input)) << c.input;
        EXPECT_EQ(parts_of(u), c.expected) << c.input;
    }
    for (const std::string& bad :
         std::vector<std::string>{"", "h:1:2", "h:x", "[::1]:80", std::string(uri::max_length_ + 1, 'h')}) {
        uri u = filled();
        EXPECT_FALSE(parse_authority(u, bad)) << bad;
        EXPECT_EQ(parts_of(u), parts{}) << bad;
    }
}

// Any input, of any length and shape, makes the parse return rather than throw.
TEST(uri_parse, never_throws) {
    std::vector<std::string> inputs{std::string(20000, 'a'), "//" + std::string(uri::max_length_ - 2, '@'),
                                    "//" + std::string(uri::max_length_ - 2, ':')};
    for (const char c : std::string(":/@?#%a\n\0\xFF", 10)) {
        inputs.emplace_back(uri::max_length_, c);
    }
    std::string alternating;
    while (alternating.size() < uri::max_length_) {
        alternating += "a:/@";
    }
    inputs.push_back(alternating);
    for (const auto& input : inputs) {
        uri u;
        EXPECT_NO_THROW(parse(u, input));
        EXPECT_NO_THROW(parse_authority(u, input));
    }
}

TEST(uri_flatten, selectors) {
    uri u;
    ASSERT_TRUE(parse(u, "http://u:p@h:1/p?q#f"));
    const std::vector<std::pair<unsigned, std::string>> cases{
        {127, "http://u:p@h:1/p?q#f"},
        {124, "//h:1/p?q#f"},
        {0x01, "http:"},
        {0x02, "//u:p@"},
        {0x08, "//:1"},
        {0x10, "/p"},
        {0x20, "?q"},
        {0x40, "#f"},
        {0, ""},
    };
    for (const auto& [which, expected] : cases) {
        EXPECT_EQ(flat(u, which), expected) << which;
    }
}

TEST(uri_flatten, follows_component_bits) {
    uri u;
    std::string out = "GET ";
    ASSERT_TRUE(parse(u, "HTTP://H"));
    u.flatten(out, 127);
    EXPECT_EQ(out, "GET http://h/");

    ASSERT_TRUE(parse(u, "http://h:/"));
    EXPECT_EQ(flat(u), "http://h/");
    ASSERT_TRUE(parse(u, "foo://h:/"));
    EXPECT_EQ(flat(u), "foo://h:/");
    ASSERT_TRUE(parse(u, "mailto:a@b?"));
    EXPECT_EQ(flat(u), "mailto:a@b?");
    EXPECT_EQ(flat(u, 124), "a@b?");

    ASSERT_TRUE(parse(u, "http://u@h:1/p?q#f"));
    u.query("").userinfo("");
    EXPECT_EQ(flat(u), "http://h:1/p#f");
    u.host("");
    EXPECT_EQ(flat(u), "http:/p#f");
}

TEST(uri_setters, store_unchanged_and_track_emptiness) {
    uri u;
    u.scheme("HTTP").host("Ex%41mple").path("").port("80").port("");
    EXPECT_EQ(parts_of(u), (parts{"HTTP", "", "Ex%41mple", "", "", "", "", 0x05}));
    EXPECT_EQ(flat(u), "HTTP://Ex%41mple");

    u.clear();
    EXPECT_EQ(parts_of(u), parts{});
}

TEST(uri_decode_segment, cases) {
    const std::vector<std::tuple<std::string, std::string, unsigned>> cases{
        {"%41%4a%zz%4", "AJ%zz%4", 2},
        {"%2541", "%41", 1},
        {"%%41", "%A", 1},
        {"%4%41", "%4A", 1},
        {"%fF%e9", "\xFF\xE9", 2},
        {"%00x", std::string("\0x", 2), 1},
        {"%", "%", 0},
        {"%4", "%4", 0},
        {"%g1a+b", "%g1a+b", 0},
        {"", "", 0},
    };
    for (const auto& [input, expected, count] : cases) {
        std::string s = input;
        EXPECT_EQ(uri::decode_segment(s), count) << input;
        EXPECT_EQ(s, expected) << input;
    }
}

TEST(uri_decode, every_component_but_port) {
    uri u;
    u.scheme("%41").userinfo("%41").host("%41").port("%41").path("%41").query("%41").fragment("%41");
    u.decode();
    EXPECT_EQ(parts_of(u), (parts{"A", "A", "A", "%41", "A", "A", "A", 0x7F}));
}

// For each class bit, the punctuation it keeps besides letters, digits, ! $ & ' ( ) * + , - _ ~
// and '%', which stays unless escape_percent is given.
class encode_class_test : public testing::TestWithParam<std::pair<unsigned, std::string>> {};

TEST_P(encode_class_test, keeps_exactly_its_bytes) {
    const auto& [flags, extra] = GetParam();
    const std::string kept_bytes =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789!$&'()*+,-_~%" + extra;
    for (int byte = 0; byte < 256; ++byte) {
        const std::string input(1, static_cast<char>(byte));
        const bool kept = kept_bytes.find(static_cast<char>(byte)) != std::string::npos;
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned>(byte));
        std::string s = input;
        EXPECT_EQ(uri::encode_segment(s, flags), kept ? 0U : 1U) << byte;
        EXPECT_EQ(s, kept ? input : escaped) << byte;
    }
}

INSTANTIATE_TEST_SUITE_P(classes, encode_class_test,
                         testing::Values(std::make_pair(0x001U, "."), std::make_pair(0x002U, ""),
                                         std::make_pair(0x004U, "|"), std::make_pair(0x008U, "."),
                                         std::make_pair(0x010U, ".;:=@|/"), std::make_pair(0x020U, ".:=@|"),
                                         std::make_pair(0x040U, ":=@|"),
                                         std::make_pair(0x080U, ".;:=@|[\\]^{}"),
                                         std::make_pair(0x100U, ".;:=@|[\\]^{}/?"),
                                         std::make_pair(0x200U, ".;:=@|[\\]^{}/?#")));

TEST(uri_encode_segment, modifiers) {
    const std::vector<std::tuple<std::string, unsigned, std::string, unsigned>> cases{
        {" ", 0x2FFF, "%20", 1},
        {" ", 0x1000, " ", 0},
        {"%41", 0x100, "%41", 0},
        {"%41", 0x500, "%2541", 1},
        {"%", 0x1400, "%", 0},
        {"\xE9", 0x070, "%E9", 1},
        {"\xE9\x80\xFF", 0x800, "\xE9\x80\xFF", 0},
        {std::string("\x7F\x1F\0", 3), 0x1BFF, "%7F%1F%00", 3},
        {"<\"`>", 0x1000, "<\"`>", 0},
        {"a:b", 0x010, "a:b", 0},
        {"a:b", 0x2010, "a%3Ab", 1},
        {":=", 0x3000, "%3A=", 1},
        {"", 0, "", 0},
    };
    for (const auto& [input, flags, expected, count] : cases) {
        std::string s = input;
        EXPECT_EQ(uri::encode_segment(s, flags), count) << input << " " << flags;
        EXPECT_EQ(s, expected) << input << " " << flags;
    }
}

TEST(uri_encode, per_component_classes) {
    const std::string probe = "a.;:@|[/?#% \xE9";
    uri u;
    u.scheme(probe).userinfo(probe).host(probe).port(probe).path(probe).query(probe).fragment(probe);
    uri with_percent = u;

    u.encode(false);
    EXPECT_EQ(parts_of(u), (parts{"a.%3B%3A%40%7C%5B%2F%3F%23%%20%E9", "a%2E%3B%3A%40|%5B%2F%3F%23%%20%E9",
                                  "a.%3B%3A%40%7C%5B%2F%3F%23%%20%E9", probe, "a.;:@|%5B/%3F%23%%20%E9",
                                  "a.;:@|[/?%23%%20%E9", "a.;:@|[/?#%%20%E9", 0x7F}));

    with_percent.encode(true);
    EXPECT_EQ(with_percent.path(), "a.;:@|%5B/%3F%23%%20%E9");
    EXPECT_EQ(with_percent.query(), "a.;:@|[/?%23%25%20%E9");
    EXPECT_EQ(with_percent.fragment(), "a.;:@|[/?#%25%20%E9");
}

} // namespace
