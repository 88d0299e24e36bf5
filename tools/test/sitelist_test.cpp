#include "SiteListReader.hpp"

#include <quorrel/URLFilter.hpp>
#include <quorrel/URLGraphBuilder.hpp>

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>

using tav::urlfilter::URLFilter;
using tav::urlfilter::URLGraphBuilder;

namespace {

std::string Written(const URLGraphBuilder& builder) {
    std::ostringstream out;
    builder.Write(out);
    return out.str();
}

std::string Read(URLGraphBuilder& builder, const std::string& list) {
    std::istringstream in(list);
    try {
        SiteListReader(builder).Read(in);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "read";
}

// The error for a list of one good entry followed by line.
std::string ErrorOn(const std::string& line) {
    URLGraphBuilder builder;
    return Read(builder, "trusted good.example\n" + line + "\n");
}

std::string Find(const URLFilter& filter, const std::string& url) {
    tav::uri request;
    if (!request.parse_absolute(url.data(), url.data() + url.size()))
        return "bad url";
    const auto result = filter.Lookup(request);
    if (!result.found)
        return "not found";
    return (result.blocked ? "blocked " : "trusted ") + std::to_string(result.categories);
}

} // namespace

TEST(SiteListReader, ReadsEntriesAndSkipsCommentsAndBlankLines) {
    URLGraphBuilder read;
    ASSERT_EQ(Read(read, "# sites\n"
                         "\n"
                         "  blocked\tCasino.example/Poker   6,5   # two categories\n"
                         "trusted kids.example\r\n"
                         "blocked adult.example 32,1,4\n"
                         "trusted kids.example/\n"
                         "   \t\n"
                         "blocked last.example 16"),
              "read");
    URLGraphBuilder added;
    added.Add("casino.example", "/poker", true, 0x30);
    added.Add("kids.example", "", false, 0);
    added.Add("adult.example", "", true, 0x80000009);
    added.Add("kids.example", "/", false, 0);
    added.Add("last.example", "", true, 0x8000);
    EXPECT_EQ(Written(read), Written(added));
}

TEST(SiteListReader, NamesTheLineAndTheFaultOfABadEntry) {
    EXPECT_EQ(ErrorOn("bloked casino.example 6"),
              "line 2: unknown kind 'bloked', expected trusted or blocked");
    EXPECT_EQ(ErrorOn("casino.example 6"),
              "line 2: unknown kind 'casino.example', expected trusted or blocked");
    EXPECT_EQ(ErrorOn("blocked # no site"), "line 2: no site after 'blocked'");
    EXPECT_EQ(ErrorOn("blocked casino.example"), "line 2: a blocked site needs its categories");
    EXPECT_EQ(ErrorOn("trusted kids.example 3"), "line 2: a trusted site takes no categories");
    EXPECT_EQ(ErrorOn("blocked casino.example 6 5"), "line 2: unexpected '5' after the categories");
    for (const char* categories : {"0", "33", "100", "6,", ",6", "6,,5", "x", "-1", "+6", "6.5"})
        EXPECT_EQ(ErrorOn(std::string("blocked casino.example ") + categories).rfind("line 2: category '", 0),
                  0u)
            << categories;
    EXPECT_EQ(ErrorOn("blocked casino..example 6"), "line 2: empty label in host 'casino..example'");
    EXPECT_EQ(ErrorOn("blocked http://casino.example 6"), "line 2: character ':' in host 'http:'");
    EXPECT_EQ(ErrorOn("blocked casino.example/a?b 6"), "line 2: path '/a?b' holds '?', '#' or a zero byte");
    EXPECT_EQ(ErrorOn("trusted good.example/"), "read");
    EXPECT_EQ(ErrorOn("trusted GOOD.example"), "line 2: second entry for 'good.example'");
}

TEST(SiteListReader, SampleDatabaseAnswersAsItsListSays) {
    URLFilter filter;
    filter.Load(SAMPLE_DATABASE);

    EXPECT_EQ(Find(filter, "http://casino.example/"), "blocked 32");
    EXPECT_EQ(Find(filter, "http://www.Casino.Example/roulette?x=1"), "blocked 32");
    EXPECT_EQ(Find(filter, "http://poker.test/"), "blocked 96");
    EXPECT_EQ(Find(filter, "http://kids.example/games"), "trusted 0");
    EXPECT_EQ(Find(filter, "http://games.example/puzzles/42"), "trusted 0");
    EXPECT_EQ(Find(filter, "http://games.example/slots"), "blocked 32");
    EXPECT_EQ(Find(filter, "http://lottery.example.net/tickets.html"), "blocked 32");
    EXPECT_EQ(Find(filter, "http://lottery.example.net/results"), "not found");
    EXPECT_EQ(Find(filter, "http://forum.example.org/cracks/list"), "blocked 512");
    EXPECT_EQ(Find(filter, "http://forum.example.org/help"), "not found");
    EXPECT_EQ(Find(filter, "http://tools.forum.example.org/anything"), "blocked 512");
    EXPECT_EQ(Find(filter, "http://chat.example/help/faq"), "trusted 0");
    EXPECT_EQ(Find(filter, "http://chat.example/rooms"), "blocked 4");
    EXPECT_EQ(Find(filter, "http://example.com/"), "not found");
    EXPECT_EQ(Find(filter, "http://notcasino.example/"), "not found");
}
