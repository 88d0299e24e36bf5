#include <tav/canonical_uri.hpp>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using tav::uri;

uri parsed(const std::string& text) {
    uri u;
    EXPECT_TRUE(u.parse_absolute(text.data(), text.data() + text.size())) << text;
    return u;
}

std::string canonical(const std::string& text, bool merged) {
    uri u = parsed(text);
    tav::canonicalize(u, merged);
    std::string out;
    u.flatten(out, uri::all_bits);
    return out;
}

TEST(canonical_uri, EverySpellingOfAnAddressHasOneForm) {
    struct spelling {
        const char* written;
        const char* forwarded;
        const char* matched; // with repeated slashes merged, when it differs
    };
    const std::vector<spelling> spellings = {
        {"HTTP://Adult.Example./", "http://adult.example/", nullptr},
        {"http://adult.example../", "http://adult.example/", nullptr},
        {"http://%41dult.example/", "http://adult.example/", nullptr},
        {"http://.../", "http:/", nullptr},
        {"http://2130706433/", "http://127.0.0.1/", nullptr},
        {"http://0x7f.1/", "http://127.0.0.1/", nullptr},
        {"http://0X7F.1./", "http://127.0.0.1/", nullptr},
        {"http://127.1/", "http://127.0.0.1/", nullptr},
        {"http://0177.0.0.01/", "http://127.0.0.1/", nullptr},
        {"http://0/", "http://0.0.0.0/", nullptr},
        {"http://4294967296/", "http://4294967296/", nullptr},
        {"http://0x100000000/", "http://0x100000000/", nullptr},
        {"http://1.2.3.4.5/", "http://1.2.3.4.5/", nullptr},
        {"http://cafe.example/", "http://cafe.example/", nullptr},
        {"http://origin.example/%63asino", "http://origin.example/casino", nullptr},
        {"http://origin.example/a%2fb%3Fc%2a", "http://origin.example/a%2Fb%3Fc%2A", nullptr},
        {"http://origin.example/%252e", "http://origin.example/%252e", nullptr},
        {"http://origin.example/%4%31", "http://origin.example/%2541", nullptr},
        {"http://pharmacy.example/first-aid/../shop", "http://pharmacy.example/shop", nullptr},
        {"http://pharmacy.example/first-aid/%2e%2E/shop", "http://pharmacy.example/shop", nullptr},
        {"http://pharmacy.example/first-aid/.%2e/shop", "http://pharmacy.example/shop", nullptr},
        {"http://origin.example/../../x", "http://origin.example/x", nullptr},
        {"http://origin.example/a/./b/.", "http://origin.example/a/b/", nullptr},
        {"http://origin.example/a/..", "http://origin.example/", nullptr},
        {"http://origin.example//cracks//x", "http://origin.example//cracks//x",
         "http://origin.example/cracks/x"},
        {"http://origin.example/a//../b", "http://origin.example/a/b", nullptr},
        {"http://origin.example/P?q=%50oker#F", "http://origin.example/P?q=%50oker#F", nullptr},
    };
    for (const spelling& s : spellings) {
        EXPECT_EQ(canonical(s.written, false), s.forwarded) << s.written;
        EXPECT_EQ(canonical(s.written, true), s.matched ? s.matched : s.forwarded) << s.written;
    }
}

TEST(canonical_uri, IPAddressesAreKnownInTheirCanonicalForm) {
    for (const char* address : {"127.0.0.1", "0.0.0.0", "[::1]", "[2001:db8::1]"})
        EXPECT_TRUE(tav::is_ip_host(address)) << address;
    for (const char* name : {"example.com", "1.2.3", "1.2.3.4.5", "", "999.1.1.1"})
        EXPECT_FALSE(tav::is_ip_host(name)) << name;
    EXPECT_EQ(canonical("http://2130706433/", false), "http://127.0.0.1/");
}

// Random addresses made of the pieces that spellings play with: the canonical form of a canonical form is
// itself, and is_canonical says whether canonicalising changes anything.
TEST(canonical_uri, TheCanonicalFormIsAFixedPoint) {
    const std::vector<std::string> hosts = {"a.b",   "A.b.",      "0x7F.1", "127.1", "..", "%41",
                                            "%4%31", "1.2.3.4.5", "0",      "[::1]", "x.", "2130706433"};
    const std::vector<std::string> pieces = {"/", "//", ".", "..", "%2e", "%2E", "%2f", "%25", "%", "%4",
                                             "1", "a",  "A", "~",  "%7e", "%7E", "?",   "#",   ";", "%zz"};
    std::mt19937 random(20261209);
    for (int round = 0; round < 20000; ++round) {
        std::string text = "http://" + hosts[random() % hosts.size()];
        for (unsigned n = random() % 12; n > 0; --n)
            text += pieces[random() % pieces.size()];
        uri address;
        if (!address.parse_absolute(text.data(), text.data() + text.size()))
            continue;
        for (const bool merged : {false, true}) {
            uri once = address;
            tav::canonicalize(once, merged);
            uri twice = once;
            tav::canonicalize(twice, merged);
            ASSERT_EQ(twice.host() + " " + twice.path(), once.host() + " " + once.path()) << text;
            ASSERT_TRUE(tav::is_canonical(once, merged)) << text;
            ASSERT_EQ(tav::is_canonical(address, merged),
                      address.host() == once.host() && address.path() == once.path())
                << text;
        }
    }
}

} // namespace
