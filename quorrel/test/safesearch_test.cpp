#include "PolicyFolder.hpp"
#include <support/FakeClock.hpp>

#include <quorrel/SafeSearch.hpp>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using tav::DataModel;
using tav::SafeSearch;

namespace {

// The table the service ships.
std::shared_ptr<SafeSearch> Shipped() {
    auto table = std::make_shared<SafeSearch>();
    const tav::Ret loaded = table->Load(SAMPLE_CFG "/safesearch.txt");
    EXPECT_TRUE(loaded.IsOK()) << loaded.GetMessage();
    return table;
}

} // namespace

TEST(SafeSearchTable, HostsAndCountryPatternsMatchInAnyCaseWithoutTrailingDots) {
    const auto table = Shipped();
    const struct {
        const char* host;
        const char* rule; // the listed host that matches; empty for none
    } cases[] = {
        {"WWW.Google.COM.", "www.google.*"},
        {"www.google.co.uk", "www.google.*"},
        {"google.de", "google.*"},
        {"google.com.au", "google.*"},
        {"google.example.com", ""},
        {"google.co.uk.example", ""},
        {"google.c0m", ""},
        {"images.google.com", ""},
        {"bing.com..", "bing.com"},
        {"DuckDuckGo.com", "duckduckgo.com"},
        {"youtubei.googleapis.com", "youtubei.googleapis.com"},
        {"", ""},
    };
    for (const auto& c : cases) {
        const SafeSearch::Rule* rule = table->Find(c.host);
        EXPECT_EQ(rule != nullptr ? rule->host : std::string(), c.rule) << c.host;
    }
}

TEST(SafeSearchTable, EachLevelGivesItsAddressParameterAndHeader) {
    const auto table = Shipped();
    const struct {
        const char* host;
        int search;
        int youTube;
        const char* address; // empty: nothing changes
        const char* parameter;
        const char* header;
    } cases[] = {
        {"www.google.com", 0, 2, "", "", ""},
        {"google.co.uk", 1, 0, "forcesafesearch.google.com", "safe=active", ""},
        {"www.bing.com", 1, 0, "strict.bing.com", "adlt=moderate", ""},
        {"bing.com", 7, 0, "strict.bing.com", "adlt=strict", ""},
        {"bing.com", -1, 2, "", "", ""},
        {"www.duckduckgo.com", 2, 0, "safe.duckduckgo.com", "kp=1", ""},
        {"www.youtube.com", 0, 1, "restrictmoderate.youtube.com", "", "Moderate"},
        {"youtube.googleapis.com", 0, 2, "restrict.youtube.com", "", "Strict"},
    };
    for (const auto& c : cases) {
        const SafeSearch::Redirect redirect = table->For(c.host, c.search, c.youTube);
        const std::string what =
            std::string(c.host) + " " + std::to_string(c.search) + "/" + std::to_string(c.youTube);
        EXPECT_EQ(redirect.address, c.address) << what;
        EXPECT_EQ(static_cast<bool>(redirect), *c.address != '\0') << what;
        EXPECT_EQ(redirect.parameter, c.parameter) << what;
        EXPECT_EQ(redirect.youTubeRestrict, c.header) << what;
    }
}

TEST(SafeSearchTable, TheParameterReplacesOneOfTheSameName) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "safe=active"},
        {"q=cats&safe=off&hl=en", "q=cats&hl=en&safe=active"},
        {"SAFE=off&q=a&safe=images&safe", "q=a&safe=active"},
        {"safer=1&&q=a", "safer=1&q=a&safe=active"},
    };
    SafeSearch::Redirect redirect;
    redirect.parameter = "safe=active";
    for (const auto& c : cases)
        EXPECT_EQ(redirect.Query(c.first), c.second) << c.first;
    EXPECT_EQ(SafeSearch::Redirect().Query("q=cats&safe=off"), "q=cats&safe=off") << "without a parameter";
}

TEST(SafeSearchTable, ABadLineIsNamedWithItsNumberAndSkipped) {
    PolicyFolder folder;
    const std::string path = folder.Root() + "/safesearch.txt";
    PolicyFolder::Write(path, "# comment\n"
                              "search  Search.Example.  safe.example  SAFE.example.  q=1  -  # fine\n"
                              "serch   a.example        safe.example  safe.example\n"
                              "search  b.example        safe.example  safe.example  q=1\n"
                              "search  *.example        safe.example  safe.example\n"
                              "search  e..example       safe.example  safe.example\n"
                              "youtube f.example        safe_example  safe.example\n"
                              "search  g.example        safe.example  safe.example  q     -\n"
                              "search  i.example        safe.example  safe.example  q=a&b -\n"
                              "youtube search.example   other.example other.example\n"
                              "\n"
                              "youtube video.*          tube.example  tube.example\n");
    SafeSearch table;
    const tav::Ret loaded = table.Load(path);
    EXPECT_FALSE(loaded.IsOK());
    const std::string at = path + ":";
    const std::vector<std::string> expected = {
        at + "3: unknown kind 'serch' (search or youtube)",
        at + "4: expected KIND HOST MODERATE-ADDRESS STRICT-ADDRESS [MODERATE-PARAMETER STRICT-PARAMETER], "
             "found 5 fields",
        at + "5: '*.example' is neither a host name nor NAME.*",
        at + "6: 'e..example' is neither a host name nor NAME.*",
        at + "7: 'safe_example' is not a host name",
        at + "8: 'q' is neither NAME=VALUE nor -",
        at + "9: 'q=a&b' is neither NAME=VALUE nor -",
        at + "10: search.example is listed already, on line 2",
    };
    EXPECT_EQ(loaded.GetMessages(), expected);
    ASSERT_EQ(table.Size(), 2u) << "the good lines are kept";
    EXPECT_EQ(table.For("search.example", 1, 2).parameter, "q=1");
    EXPECT_EQ(table.For("search.example", 2, 0).address, "safe.example") << "in lower case, without the dot";
    EXPECT_EQ(table.For("video.de", 0, 2).youTubeRestrict, "Strict");

    const tav::Ret missing = table.Load(folder.Root() + "/none.txt");
    EXPECT_EQ(missing.GetMessages(), std::vector<std::string>{"cannot read " + folder.Root() + "/none.txt"});
    EXPECT_EQ(table.Size(), 0u);
}

// The site's URL test says when the group's access is paused, and where its searches would go.
TEST(SafeSearchReport, TheURLTestSaysWhereSearchesGoAndUntilWhenAccessIsPaused) {
    PolicyFolder folder("<tavdata><clientgroups><clientgroup><id>4</id><name>Kids</name></clientgroup>"
                        "</clientgroups><settings><isfiltrationon>1</isfiltrationon></settings></tavdata>");
    std::unique_ptr<DataModel> model = folder.Load();
    const auto clock = std::make_shared<FakeClock>();
    model->SetClock(clock);
    clock->SetTuesday(12, 0);
    EXPECT_EQ(model->GetSafeSearch(), nullptr);
    const auto url = [](const std::string& text) {
        tav::uri parsed;
        parsed.parse_absolute(text.data(), text.data() + text.size());
        return parsed;
    };
    const struct {
        bool table;
        int search;
        int youTube;
        std::int64_t pausedUntil; // from Tuesday 00:00
        const char* url;
        const char* lines; // after the accessibility
    } cases[] = {
        {true, 2, 0, 0, "https://www.google.de/search?q=x",
         "<br>Searches here go to forcesafesearch.google.com (safe search: strict)"},
        {true, 1, 0, 14 * 3600 + 30 * 60, "http://Bing.com/",
         "<br>Access of this group is paused until 14:30"
         "<br>Searches here go to strict.bing.com (safe search: moderate)"},
        {true, 0, 1, 0, "http://m.youtube.com/watch",
         "<br>YouTube here goes to restrictmoderate.youtube.com (restricted mode: moderate)"},
        {true, 0, 1, 32 * 3600, "http://www.google.com/",
         "<br>Access of this group is paused until 2026-12-02 08:00"},
        {false, 2, 2, 11 * 3600, "http://www.google.com/", ""},
    };
    for (const auto& c : cases) {
        model->SetSafeSearch(c.table ? Shipped() : nullptr);
        std::unique_ptr<DataModel::ProtocolSettings> settings;
        ASSERT_TRUE(model->GetProtocolSettings("4", DataModel::PST_HTTPS, settings).IsOK());
        auto& https = dynamic_cast<DataModel::HTTPSProtocolSettings&>(*settings);
        https.SetSafeSearch(c.search);
        https.SetYouTubeRestrict(c.youTube);
        ASSERT_TRUE(model->SaveProtocolSettings("4", https).IsOK());
        std::unique_ptr<DataModel::ClientGroup> group(
            static_cast<DataModel::ClientGroup*>(model->GetClientGroup("4").GetObj()));
        group->SetPausedUntil(c.pausedUntil != 0 ? FakeClock::TUESDAY + c.pausedUntil : 0);
        ASSERT_TRUE(model->SaveClientGroup(*group).IsOK());
        const std::string report = model->GetInfo("4", url(c.url));
        const std::string accessibility = "<br>URL accessibility: Allowed";
        const std::size_t end = report.find(accessibility);
        ASSERT_NE(end, std::string::npos) << report;
        EXPECT_EQ(report.substr(end + accessibility.size()), c.lines) << c.url;
    }
}
