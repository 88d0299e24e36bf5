#include "PolicyFolder.hpp"
#include <support/FakeClock.hpp>

#include <quorrel/Matching.hpp>
#include <quorrel/SiteIndex.hpp>
#include <quorrel/WordIndex.hpp>
#include <tav/canonical_uri.hpp>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <sched.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <sstream>
#include <stdexcept>

using tav::DataModel;
using tav::Ret;
using tav::uri;

namespace {

uri Url(const std::string& text) {
    uri parsed;
    EXPECT_TRUE(parsed.parse_absolute(text.data(), text.data() + text.size())) << text;
    return parsed;
}

// Group 4 "Kids" has client 10.0.0.4; group 5 "Teens" has client 10.0.0.5 and blocks no category.
const std::string POLICY = R"(<tavdata><clientgroups>
<clientgroup><id>4</id><name>Kids</name><blockedcategoriesmask>60</blockedcategoriesmask><protocolssettings>
  <httpprotocolsettings><isblockedsitesenabled>1</isblockedsitesenabled><istrustedsitesenabled>1</istrustedsitesenabled>
    <customersites><customersite><id>1</id><uri>http://h.t</uri><isblocked>1</isblocked></customersite>
      <customersite><id>2</id><uri>http://homework.example/maths/</uri><isblocked>0</isblocked></customersite>
      <customersite><id>3</id><uri>http://casino.example/rules</uri><isblocked>0</isblocked></customersite>
      <customersite><id>4</id><uri>http://school.example/secret</uri><isblocked>1</isblocked></customersite></customersites>
    <blockedurlwordsenabled>1</blockedurlwordsenabled><blockedurlwords>
      <blockedurlword><id>1</id><word>poker</word><categoriesmask>22</categoriesmask></blockedurlword>
      <blockedurlword><id>2</id><word>roulette</word><categoriesmask>20</categoriesmask></blockedurlword>
    </blockedurlwords>
    <iscontenttypesenabled>1</iscontenttypesenabled><contenttypes>
      <contenttype><id>1</id><type>text/</type><action>1</action></contenttype>
      <contenttype><id>2</id><type>image/png</type><action>0</action></contenttype></contenttypes>
    <isinapcontentwordsenabled>1</isinapcontentwordsenabled>
    <inapcontentwords><inapcontentword><id>1</id><word>gore</word></inapcontentword></inapcontentwords>
    <contentfiltrationenabled>1</contentfiltrationenabled></httpprotocolsettings>
  <httpsprotocolsettings><blockedurlwordsenabled>1</blockedurlwordsenabled><blockedurlwords>
      <blockedurlword><id>1</id><word>roulette</word><categoriesmask>20</categoriesmask></blockedurlword>
    </blockedurlwords></httpsprotocolsettings>
</protocolssettings></clientgroup>
<clientgroup><id>5</id><name>Teens</name></clientgroup>
</clientgroups><clients>
<client><ip>10.0.0.4</ip><groupid>4</groupid></client><client><ip>10.0.0.5</ip><groupid>5</groupid></client>
</clients><settings><isfiltrationon>1</isfiltrationon></settings></tavdata>)";

class Decisions : public testing::Test {
protected:
    Decisions() {
        tav::urlfilter::URLGraphBuilder sites;
        sites.Add("school.example", "", false, 0);
        sites.Add("casino.example", "", true, 1u << 5);              // gambling
        sites.Add("mixed.example", "", true, (1u << 2) | (1u << 6)); // web chat and mature content
        sites.Add("poker-school.example", "", false, 0);
        folder.WriteDatabase(sites);
        model = folder.Load();
        model->SetClock(clock);
        clock->SetTuesday(12, 0);
    }

    // The verdict, and the message it left ("-" when untouched).
    std::string Decide(const std::string& url, tav::PROTOS protocol = tav::PROTO_HTTP,
                       const std::string& ip = "10.0.0.4") {
        std::string message = "-";
        const bool allowed = model->IsAllowed(ip, Url(url), protocol, message);
        return std::string(allowed ? "allowed" : "refused") + ": " + message;
    }

    // Changes group 4 through the editing operations, as the administration does.
    template <class Change> void EditGroup(Change change) {
        std::unique_ptr<DataModel::ClientGroup> group(
            static_cast<DataModel::ClientGroup*>(model->GetClientGroup("4").GetObj()));
        change(*group);
        ASSERT_TRUE(model->SaveClientGroup(*group).IsOK());
    }
    template <class Settings, class Change>
    void EditSettings(DataModel::ProtocolSettingsType type, Change change) {
        std::unique_ptr<DataModel::ProtocolSettings> settings;
        ASSERT_TRUE(model->GetProtocolSettings("4", type, settings).IsOK());
        change(dynamic_cast<Settings&>(*settings));
        ASSERT_TRUE(model->SaveProtocolSettings("4", *settings).IsOK());
    }

    PolicyFolder folder{POLICY};
    std::unique_ptr<DataModel> model;
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
};

} // namespace

TEST_F(Decisions, GlobalSwitchClientAndProtocol) {
    EXPECT_EQ(Decide("http://a.example/", tav::PROTO_HTTP, "10.9.9.9"), "refused: Unknown client");
    EXPECT_EQ(Decide("http://a.example/", tav::PROTO_HTTP, " 10.0.0.4\t"), "allowed: -");
    EXPECT_EQ(Decide("http://a.example/", static_cast<tav::PROTOS>(8)), "refused: Unknown protocol");
    EXPECT_EQ(Decide("http://a.example/", static_cast<tav::PROTOS>(-1)), "refused: Unknown protocol");

    std::unique_ptr<DataModel::Settings> settings;
    model->GetSettings(settings);
    settings->SetIsFiltrationOn(false);
    model->SaveSettings(*settings);
    EXPECT_EQ(Decide("http://casino.example/", tav::PROTO_HTTP, "10.9.9.9"), "allowed: -");
    EXPECT_FALSE(model->IsHTTPContentFiltrationEnabled("10.9.9.9"));
}

TEST_F(Decisions, ProtocolSwitchesComeBeforeEverythingElse) {
    EditSettings<DataModel::HTTPProtocolSettings>(DataModel::PST_HTTP,
                                                  [](auto& http) { http.SetIsNetworkEnabled(false); });
    EXPECT_EQ(Decide("http://a.example/"), "refused: You are prohibited to access the internet");
    EXPECT_EQ(Decide("http://a.example/", tav::PROTO_HTTP_PROXY),
              "refused: You are prohibited to access the internet");
    EXPECT_EQ(Decide("smtp://mail.example", tav::PROTO_POP3), "allowed: -");

    EditGroup([](DataModel::ClientGroup& group) {
        group.SetTimeTable(std::string(336, '0'));
        group.SetIsTimeTableEnabled(true);
    });
    EditSettings<DataModel::FTPProtocolSettings>(DataModel::PST_FTP,
                                                 [](auto& ftp) { ftp.SetIsFiltrationEnabled(false); });
    EXPECT_EQ(Decide("ftp://files.example/", tav::PROTO_FTP), "allowed: -");
    EXPECT_EQ(Decide("socks://files.example/", tav::PROTO_SOCKS),
              "refused: You are prohibited to access the internet at this time");
}

TEST_F(Decisions, NumericHostsNeedPermission) {
    EXPECT_EQ(Decide("http://192.168.0.1/"), "refused: You can not access web sites through ip addresses");
    EXPECT_EQ(Decide("http://300.1.1.1/", tav::PROTO_IMAP),
              "refused: You can not access web sites through ip addresses");
    // Whatever the resolver reads as an IPv4 address is one; other hosts are names.
    for (const char* host : {"http://1.2.3/", "http://2130706433/", "http://0x7f.1/", "http://127.1./"})
        EXPECT_EQ(Decide(host), "refused: You can not access web sites through ip addresses") << host;
    for (const char* host :
         {"http://1.2.3.4.5/", "http://a.b.c.d/", "http://4294967296/", "http://0x100000000/"})
        EXPECT_EQ(Decide(host), "allowed: -") << host;
    EditSettings<DataModel::HTTPProtocolSettings>(DataModel::PST_HTTP,
                                                  [](auto& http) { http.SetCanAccessByIP(true); });
    EXPECT_EQ(Decide("http://192.168.0.1/"), "allowed: -");
}

TEST_F(Decisions, TimeTableSlotsAreHalfHoursOfTheWeek) {
    EditGroup([](DataModel::ClientGroup& group) {
        std::string table(336, '0');
        table[122] = '1'; // Tuesday 13:00-13:30
        group.SetTimeTable(table);
        group.SetIsTimeTableEnabled(true);
    });
    clock->SetTuesday(13, 29, 59);
    EXPECT_EQ(Decide("http://a.example/"), "allowed: -");
    clock->SetTuesday(13, 30);
    EXPECT_EQ(Decide("http://a.example/"), "refused: You are prohibited to access the internet at this time");
    clock->SetTuesday(12, 59, 59);
    EXPECT_EQ(Decide("http://a.example/"), "refused: You are prohibited to access the internet at this time");
}

TEST_F(Decisions, TimeTicksCountContinuousUse) {
    model->TickClientTime("10.0.0.4");
    for (int i = 0; i < 12; ++i) {
        clock->Advance(299);
        model->TickClientTime("10.0.0.4");
    }
    clock->Advance(300);
    model->TickClientTime("10.0.0.4");
    auto worked = [this] {
        std::unique_ptr<DataModel::Client> client(
            static_cast<DataModel::Client*>(model->GetClient("10.0.0.4").GetObj()));
        return client->GetDailyWorkedTime(*clock);
    };
    EXPECT_EQ(worked(), 12 * 299) << "the 300-second gap is a pause";

    EditGroup([](DataModel::ClientGroup& group) {
        group.SetTimeLimit(2, 60);
        group.SetIsTimeLimitsEnabled(true);
    });
    for (int i = 0; i < 4; ++i) {
        clock->Advance(6);
        model->TickClientTime("10.0.0.4");
    }
    EXPECT_EQ(worked(), 3612);
    EXPECT_EQ(Decide("http://a.example/"), "refused: You are exhaust your time limits");

    std::unique_ptr<DataModel::Client> client(
        static_cast<DataModel::Client*>(model->GetClient("10.0.0.4").GetObj()));
    client->SetDailyWorkedTime(3600);
    model->SaveClient(*client);
    EXPECT_EQ(Decide("http://a.example/"), "allowed: -") << "exactly the limit is admitted";
    client->SetDailyWorkedTime(3601);
    model->SaveClient(*client);
    EXPECT_EQ(Decide("http://a.example/"), "refused: You are exhaust your time limits");
    clock->Advance(24 * 3600);
    EXPECT_EQ(worked(), 0) << "yesterday's count reads 0 before any tick";
    EXPECT_EQ(Decide("http://a.example/"), "allowed: -");
}

TEST_F(Decisions, TimeTicksAcrossMidnight) {
    DataModel::Client client(nullptr);
    FakeClock late;
    late.SetTuesday(23, 59);
    client.TickTime(late);
    late.SetTuesday(24, 2, 10);
    client.TickTime(late);
    EXPECT_EQ(client.GetDailyWorkedTime(late), 130);

    late.SetTuesday(23, 50);
    client.TickTime(late);
    late.SetTuesday(24, 2, 10);
    client.TickTime(late);
    EXPECT_EQ(client.GetDailyWorkedTime(late), 0);
    EXPECT_EQ(client.GetDailyWorkedTimeLastUpdate(), late.Now());
}

TEST_F(Decisions, TrafficQuotaCountsBytesWithoutWrapping) {
    EditGroup([](DataModel::ClientGroup& group) {
        group.SetTrafficLimit(2, 0);
        group.SetIsTrafficLimitsEnabled(true);
    });
    EXPECT_EQ(Decide("http://a.example/"), "allowed: -") << "no byte yet today";
    model->TickClientTraffic("10.0.0.4", 1);
    EXPECT_EQ(Decide("http://a.example/"), "refused: You are exhaust your traffic limits");

    EditGroup([](DataModel::ClientGroup& group) { group.SetTrafficLimit(2, 1); });
    model->TickClientTraffic("10.0.0.4", 1048575);
    EXPECT_EQ(Decide("http://a.example/"), "allowed: -") << "exactly one MiB is admitted";
    for (int i = 0; i < 3; ++i)
        model->TickClientTraffic("10.0.0.4", 2000000000);
    EXPECT_EQ(Decide("http://a.example/"), "refused: You are exhaust your traffic limits")
        << "a heavy day must not wrap around to a small count";
    std::unique_ptr<DataModel::Client> client(
        static_cast<DataModel::Client*>(model->GetClient("10.0.0.4").GetObj()));
    EXPECT_EQ(client->GetDailyWorkedTraffic(*clock), INT32_MAX);

    EditGroup([](DataModel::ClientGroup& group) { group.SetTrafficLimit(2, tav::EMPTY_VALUE); });
    EXPECT_EQ(Decide("http://a.example/"), "allowed: -");
    EditGroup([](DataModel::ClientGroup& group) { group.SetTrafficLimit(2, 4000); });
    EXPECT_EQ(Decide("http://a.example/"), "allowed: -") << "a limit above 2 GiB is computed in 64 bits";
    clock->Advance(24 * 3600);
    model->TickClientTraffic("10.0.0.4", 5);
    client.reset(static_cast<DataModel::Client*>(model->GetClient("10.0.0.4").GetObj()));
    EXPECT_EQ(client->GetDailyWorkedTraffic(*clock), 5) << "a new day starts from the first tick";
    model->TickClientTraffic("10.9.9.9", 5);
}

TEST_F(Decisions, CustomerListsOutrankTheDatabase) {
    EXPECT_EQ(Decide("http://w.h.t/any"), "refused: Site is blocked by Customer Blocked Sites List");
    EXPECT_EQ(Decide("http://h.t"), "refused: Site is blocked by Customer Blocked Sites List");
    EXPECT_EQ(Decide("http://xh.t/"), "allowed: -");
    EXPECT_EQ(Decide("http://casino.example/rules/poker"), "allowed: -")
        << "trusted list before the database";
    EXPECT_EQ(Decide("http://casino.example/rulesx"),
              "refused: You are prohibited to access the sites of 'Gambling' category (Inner DB)");
    EXPECT_EQ(Decide("http://homework.example/maths/x?q=poker"), "allowed: -")
        << "trusted sites skip the words";

    EditSettings<DataModel::HTTPProtocolSettings>(DataModel::PST_HTTP, [](auto& http) {
        http.SetIsTrustedSitesFixed(true);
        http.SetIsBlockedSitesEnabled(false);
    });
    EXPECT_EQ(Decide("http://homework.example/maths/"),
              "allowed: You can access Customer Trusted Sites only");
    EXPECT_EQ(Decide("http://homework.example/art/"), "refused: You can access Customer Trusted Sites only");
}

TEST_F(Decisions, DatabaseCategoriesAndBlockedWords) {
    EXPECT_EQ(Decide("http://poker-school.example/poker"), "allowed: -")
        << "trusted database entry beats words";
    EXPECT_EQ(Decide("http://chat.mixed.example/"),
              "refused: You are prohibited to access the sites of 'Mature Content' category (Inner DB)");
    EXPECT_EQ(Decide("http://chat.mixed.example/", tav::PROTO_HTTP, "10.0.0.5"), "allowed: -");

    // "poker" is in categories 2 and 6: the group blocks 6 but not 2, and every category of a word counts.
    EXPECT_EQ(Decide("http://a.example/?game=poker"), "refused: Url you go contains a blocked word");
    EXPECT_EQ(Decide("http://a.example/roulette"), "refused: Url you go contains a blocked word");
    EXPECT_EQ(Decide("https://a.example/roulette", tav::PROTO_HTTPS),
              "refused: Url you go contains a blocked word");
    EXPECT_EQ(Decide("http://a.example/Roulette"), "refused: Url you go contains a blocked word");
    EXPECT_EQ(Decide("http://a.example/%52oulette"), "refused: Url you go contains a blocked word");
    EXPECT_EQ(Decide("smtp://roulette.example/", tav::PROTO_SMTP), "allowed: -");
    // A secure site takes the same site rules: customer lists, database and categories, then its own words.
    EXPECT_EQ(Decide("https://w.h.t/", tav::PROTO_HTTPS),
              "refused: Site is blocked by Customer Blocked Sites List");
    EXPECT_EQ(Decide("https://casino.example/", tav::PROTO_HTTPS),
              "refused: You are prohibited to access the sites of 'Gambling' category (Inner DB)");
    EXPECT_EQ(Decide("https://school.example/roulette", tav::PROTO_HTTPS), "allowed: -")
        << "a trusted database entry beats words";

    EditSettings<DataModel::HTTPProtocolSettings>(DataModel::PST_HTTP, [](auto& http) {
        http.SetIsInnerBlockedDBEnabled(false);
        http.SetIsInnerTrustedDBEnabled(false);
    });
    EXPECT_EQ(Decide("http://casino.example/"), "allowed: -");
    EXPECT_EQ(Decide("http://school.example/roulette"), "refused: Url you go contains a blocked word");

    EXPECT_TRUE(model->IsAllowedCategoryForClientGroup("4", "1"));
    EXPECT_FALSE(model->IsAllowedCategoryForClientGroup("4", "6"));
    EXPECT_TRUE(model->IsAllowedCategoryForClientGroup("4", "33"));
    EXPECT_FALSE(model->IsAllowedCategoryForClientGroup("404", "1"));
    EXPECT_FALSE(model->IsAllowedCategoryForClientGroup("4", " "));
}

// What a gateway lets each computer do now follows the policy: a pause or a time rule leaves nothing but
// the blocking page, and the group's switches open mail, FTP and other traffic.
TEST_F(Decisions, TheGatewayLetsEachComputerDoWhatThePolicyAllowsNow) {
    using Ips = std::vector<std::string>;
    const auto access = [this] { return model->GetGatewayAccess(); };
    EXPECT_EQ(access().known, (Ips{"10.0.0.4", "10.0.0.5"}));
    EXPECT_EQ(access().mail, (Ips{"10.0.0.4", "10.0.0.5"}));
    EXPECT_EQ(access().nothing, Ips{});
    EXPECT_EQ(access().other, Ips{});
    EditGroup([](DataModel::ClientGroup& group) { group.SetIsOtherTrafficEnabled(true); });
    EditSettings<DataModel::MailProtocolSettings>(DataModel::PST_MAIL,
                                                  [](auto& mail) { mail.SetIsNetworkEnabled(false); });
    EXPECT_EQ(access().other, Ips{"10.0.0.4"});
    EXPECT_EQ(access().mail, Ips{"10.0.0.5"});
    const std::int64_t now = clock->Now();
    EditGroup([now](DataModel::ClientGroup& group) { group.SetPausedUntil(now + 60); });
    EXPECT_EQ(access().nothing, Ips{"10.0.0.4"});
    EXPECT_EQ(access().other, Ips{});
    clock->Advance(61);
    EXPECT_EQ(access().nothing, Ips{}) << "the pause has ended";
    EditGroup([](DataModel::ClientGroup& group) {
        group.SetTimeTable(std::string(336, '0'));
        group.SetIsTimeTableEnabled(true);
    });
    EXPECT_EQ(access().nothing, Ips{"10.0.0.4"});
    std::unique_ptr<DataModel::Settings> settings;
    model->GetSettings(settings);
    settings->SetIsFiltrationOn(false);
    model->SaveSettings(*settings);
    EXPECT_TRUE(access().everyone);
    EXPECT_EQ(access().nothing, Ips{});
}

// A site that decodes an escaped slash or backslash serves the path of that reading: both readings are
// decided and the stricter holds. The group's own lists compare paths without regard to case.
TEST_F(Decisions, EscapedSlashesAndCaseDoNotWalkAroundPathRules) {
    const std::string gambling =
        "refused: You are prohibited to access the sites of 'Gambling' category (Inner DB)";
    const std::string listed = "refused: Site is blocked by Customer Blocked Sites List";
    const std::pair<const char*, std::string> cases[] = {
        {"http://school.example/SECRET/x", listed},
        {"http://school.example/x/..%2Fsecret", listed},
        {"http://school.example/x/..%2fSecret", listed},
        {"http://school.example/x/..%5Csecret", listed},
        {"http://school.example/x%2Fsecret", "allowed: -"},
        {"http://casino.example/rules/..%2Fplay", gambling},
        {"http://casino.example/Rules/%2Fx", "allowed: -"},
        {"http://homework.example/MATHS/", "allowed: -"},
    };
    for (const auto& [url, expected] : cases)
        EXPECT_EQ(Decide(url), expected) << url;
}

// Random spellings of the policy's addresses: each is decided exactly as its canonical form.
TEST_F(Decisions, EverySpellingIsDecidedAsItsCanonicalForm) {
    const std::vector<std::string> hosts = {"h.t",
                                            "H.T.",
                                            "w.h.t",
                                            "%68.t",
                                            "casino.example.",
                                            "MIXED.example",
                                            "homework.example",
                                            "poker-school.example",
                                            "0x7f.1",
                                            "a.example"};
    const std::vector<std::string> pieces = {"/",       "//",    "..",       ".",   "%2e",   "%2E",
                                             "maths",   "Maths", "%6d",      "art", "rules", "%2F",
                                             "P%4fker", "?",     "roulette", "%"};
    std::mt19937 random(21);
    for (int round = 0; round < 3000; ++round) {
        std::string text = "http://" + hosts[random() % hosts.size()];
        for (unsigned n = random() % 6; n > 0; --n)
            text += pieces[random() % pieces.size()];
        uri canonical = Url(text);
        tav::canonicalize(canonical, true);
        std::string canonicalText;
        canonical.flatten(canonicalText, uri::all_bits);
        ASSERT_EQ(Decide(text), Decide(canonicalText)) << text << " as " << canonicalText;
    }
    EXPECT_EQ(Decide("http://H.T./x"), "refused: Site is blocked by Customer Blocked Sites List");
    EXPECT_EQ(Decide("http://homework.example/maths/../art"), "allowed: -");
    EXPECT_EQ(Decide("http://casino.example/rules/%2e%2e/play"),
              "refused: You are prohibited to access the sites of 'Gambling' category (Inner DB)");
}

TEST_F(Decisions, ContentChecks) {
    EXPECT_EQ(model->IsContentTypeAllowed("10.0.0.4", "text/html; charset=utf-8"), DataModel::Preventing);
    EXPECT_EQ(model->IsContentTypeAllowed("10.0.0.4", "image/png"), DataModel::PassingThrough);
    EXPECT_EQ(model->IsContentTypeAllowed("10.0.0.4", "image/gif"), DataModel::Filtering);
    EXPECT_EQ(model->IsContentTypeAllowed("10.0.0.4", "Text/HTML"), DataModel::Preventing);
    EXPECT_EQ(model->IsContentTypeAllowed("10.0.0.5", "text/html"), DataModel::Filtering);
    EXPECT_EQ(model->IsContentTypeAllowed("10.9.9.9", "image/png"), DataModel::Preventing);

    EXPECT_FALSE(model->IsInapContentWordsAllowed("10.0.0.4", "lots of gore here"));
    EXPECT_FALSE(model->IsInapContentWordsAllowed("10.0.0.4", "GoRe"));
    EXPECT_TRUE(model->IsInapContentWordsAllowed("10.0.0.5", "gore"));
    EXPECT_FALSE(model->IsInapContentWordsAllowed("10.9.9.9", "anything"));

    EXPECT_TRUE(model->IsHTTPContentFiltrationEnabled("10.0.0.4"));
    EXPECT_FALSE(model->IsHTTPContentFiltrationEnabled("10.0.0.5"));
    try {
        model->IsHTTPContentFiltrationEnabled(" 10.9.9.9 ");
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Unknown client: 10.9.9.9");
    }
}

// A request keeps the policy it was decided by, whatever is published meanwhile, and lets it go when it ends.
TEST_F(Decisions, AVerdictHoldsItsPolicyUntilItEnds) {
    std::weak_ptr<const void> held;
    {
        const DataModel::Verdict verdict =
            model->Decide("10.0.0.4", Url("http://news.example/"), tav::PROTO_HTTP);
        held = verdict.GetPolicy();
        for (int edit = 0; edit < 10; ++edit)
            EditSettings<DataModel::HTTPProtocolSettings>(DataModel::PST_HTTP, [edit](auto& http) {
                http.SetIsNetworkEnabled(edit % 2 == 0);
                http.SetIsContentTypesEnabled(false);
                http.SetIsInapContentWordsEnabled(false);
            });
        EXPECT_EQ(Decide("http://news.example/"), "refused: You are prohibited to access the internet");
        EXPECT_TRUE(verdict.IsAllowed());
        EXPECT_TRUE(verdict.IsHTTPContentFiltrationEnabled());
        EXPECT_EQ(verdict.IsContentTypeAllowed("text/html"), DataModel::Preventing);
        EXPECT_FALSE(verdict.IsInapContentWordsAllowed("gore"));
        EXPECT_FALSE(held.expired());
    }
    EXPECT_TRUE(held.expired());

    const DataModel::Verdict none;
    EXPECT_TRUE(none.IsAllowed());
    EXPECT_FALSE(none.IsHTTPContentFiltrationEnabled());
    EXPECT_EQ(none.IsContentTypeAllowed("text/html"), DataModel::PassingThrough);
    EXPECT_TRUE(none.IsInapContentWordsAllowed("gore"));
}

TEST_F(Decisions, AnEditReachesTheDecisionsOfEveryProcessor) {
    // Decisions on each processor take the policy from a copy of their own, and each copy must follow.
    cpu_set_t all;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    for (const bool network : {false, true}) {
        EditSettings<DataModel::HTTPProtocolSettings>(
            DataModel::PST_HTTP, [network](auto& http) { http.SetIsNetworkEnabled(network); });
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(cpu, &one);
            if (CPU_ISSET(cpu, &all) && sched_setaffinity(0, sizeof one, &one) == 0) {
                EXPECT_EQ(Decide("http://news.example/").rfind("allowed", 0) == 0, network)
                    << "processor " << cpu;
            }
        }
    }
    sched_setaffinity(0, sizeof all, &all);
}

// The decision names the step that answered, the settings and list whose rule it was, and the blocked
// categories it found; the message is that reason's text.
TEST_F(Decisions, TheReasonNamesTheStepListAndSource) {
    using Step = DataModel::Reason::Step;
    using Source = DataModel::Reason::Source;
    const DataModel::ProtocolSettingsType none = DataModel::ProtocolSettingsType();
    const std::uint32_t gambling = 1u << 5;
    // The policy file writes masks in hexadecimal: of the words' categories (0x22 and 0x20) Kids (0x60)
    // block gambling.
    const std::uint32_t words = 0x22u & 0x60u;
    const struct {
        const char* url;
        tav::PROTOS protocol;
        const char* ip;
        bool allowed;
        Step step;
        DataModel::ProtocolSettingsType settings;
        Source source;
        std::uint32_t categories;
        const DataModel::Category* category;
    } cases[] = {
        {"http://a.example/", tav::PROTO_HTTP, "10.0.0.4", true, Step::None, none, Source::None, 0, nullptr},
        {"http://a.example/", tav::PROTO_HTTP, "10.9.9.9", false, Step::UnknownClient, none, Source::None, 0,
         nullptr},
        {"http://a.example/", static_cast<tav::PROTOS>(8), "10.0.0.4", false, Step::UnknownProtocol, none,
         Source::None, 0, nullptr},
        {"http://10.1.2.3/", tav::PROTO_HTTP, "10.0.0.4", false, Step::AddressByIP, DataModel::PST_HTTP,
         Source::None, 0, nullptr},
        {"http://w.h.t/x", tav::PROTO_HTTP, "10.0.0.4", false, Step::BlockedSite, DataModel::PST_HTTP,
         Source::GroupList, 0, nullptr},
        // The site rules are the HTTP settings' for HTTPS too.
        {"https://h.t/", tav::PROTO_HTTPS, "10.0.0.4", false, Step::BlockedSite, DataModel::PST_HTTP,
         Source::GroupList, 0, nullptr},
        {"http://casino.example/", tav::PROTO_HTTP, "10.0.0.4", false, Step::Category, DataModel::PST_HTTP,
         Source::URLDatabase, gambling, &DataModel::CAT_GAMBLING},
        {"http://casino.example/rules/x", tav::PROTO_HTTP, "10.0.0.4", true, Step::None, none, Source::None,
         0, nullptr},
        {"http://casino.example/rules/..%2Fplay", tav::PROTO_HTTP, "10.0.0.4", false, Step::Category,
         DataModel::PST_HTTP, Source::URLDatabase, gambling, &DataModel::CAT_GAMBLING},
        {"http://casino.example/", tav::PROTO_HTTP, "10.0.0.5", true, Step::None, none, Source::None, 0,
         nullptr},
        {"http://a.example/poker", tav::PROTO_HTTP, "10.0.0.4", false, Step::BlockedWord, DataModel::PST_HTTP,
         Source::GroupList, words, &DataModel::CAT_GAMBLING},
        {"https://a.example/roulette", tav::PROTO_HTTPS, "10.0.0.4", false, Step::BlockedWord,
         DataModel::PST_HTTPS, Source::GroupList, words, &DataModel::CAT_GAMBLING},
        {"https://a.example/poker", tav::PROTO_HTTPS, "10.0.0.4", true, Step::None, none, Source::None, 0,
         nullptr},
    };
    for (const auto& c : cases) {
        const DataModel::Verdict verdict = model->Decide(c.ip, Url(c.url), c.protocol);
        const DataModel::Reason& reason = verdict.GetReason();
        EXPECT_EQ(verdict.IsAllowed(), c.allowed) << c.url;
        EXPECT_TRUE(reason == DataModel::Reason(c.step, c.settings, c.source, c.categories, c.category))
            << c.url << ": step " << int(reason.GetStep()) << ", settings " << reason.GetSettingsType()
            << ", source " << int(reason.GetSource()) << ", categories " << reason.GetCategories();
        EXPECT_EQ(verdict.GetMessage(), reason.Text(*clock)) << c.url;
    }

    // A pause keeps its end, which its text shows by the local time.
    const std::int64_t until = clock->Now() + 3600;
    ASSERT_TRUE(model->PauseClientGroup("4", until).IsOK());
    const DataModel::Verdict paused = model->Decide("10.0.0.4", Url("ftp://files.example/"), tav::PROTO_FTP);
    EXPECT_TRUE(paused.GetReason() ==
                DataModel::Reason(Step::Paused, DataModel::PST_FTP, Source::None, 0, nullptr, until));
    EXPECT_EQ(paused.GetMessage(), "Internet access is paused until 13:00");

    // The group's site rules alone: its lists and the database, not its time rules nor its words.
    const auto site = [this](const char* group, const char* url) {
        return model->DecideSite(group, Url(url)).GetReason().GetStep();
    };
    EXPECT_EQ(site("4", "http://h.t/"), Step::BlockedSite);
    EXPECT_EQ(site("4", "http://casino.example/rules/..%2Fplay"), Step::Category);
    EXPECT_EQ(site("4", "http://a.example/poker"), Step::None);
    EXPECT_EQ(site("404", "http://h.t/"), Step::None);
    EXPECT_TRUE(model->DecideSite("404", Url("http://h.t/")).IsAllowed());
}

TEST_F(Decisions, ReportExplainsListsAndDatabase) {
    EXPECT_EQ(model->GetInfo("404", Url("http://a.example/")), "No such Group");
    EXPECT_EQ(model->GetInfo("4", Url("http://casino.example/rules")),
              "Tested URL: http://casino.example/rules<br>User Group: Kids<br>Customer DB: tested URL is "
              " defined as Trusted<br>Inner DB: tested URL is  defined as blocked in the Gambling Blocked "
              "Categories. It is Blocked for Kids<br>URL accessibility: Allowed");
    EXPECT_EQ(
        model->GetInfo("5", Url("http://mixed.example/")),
        "Tested URL: http://mixed.example/<br>User Group: Teens<br>Customer DB: tested URL is  not defined"
        "<br>Inner DB: tested URL is  defined as blocked in the Web Chat,Mature Content Blocked Categories. "
        "It is Allowed for Teens<br>URL accessibility: Allowed");
    EXPECT_EQ(model->GetInfo("4", Url("http://h.t/")),
              "Tested URL: http://h.t/<br>User Group: Kids<br>Customer DB: tested URL is  defined as Blocked"
              "<br>Inner DB: tested URL is  not defined<br>URL accessibility: Blocked");
    EXPECT_NE(model->GetInfo("4", Url("http://school.example/")).find("is  defined as trusted<br>"),
              std::string::npos);
    const std::string escaped = model->GetInfo("4", Url("http://casino.example/rules/..%2Fplay"));
    EXPECT_NE(escaped.find("<br>A site that reads its escaped slashes as separators serves:<br>Tested URL: "
                           "http://casino.example/play<br>"),
              std::string::npos)
        << escaped;

    std::ostringstream out;
    model->PrintModel(out);
    EXPECT_EQ(out.str().rfind("\nCategories:\n - 1 / Violence\n - 10 / Hacking And Spyware\n - 11 /", 0), 0u);
    EXPECT_NE(out.str().find("ClientGroups:\n - 4 / Kids / \n - 5 / Teens / \nClients:\n"
                             " - 10.0.0.4 / 10.0.0.4 / 4 (Kids)\n"),
              std::string::npos);
}

TEST(Matching, SitesCoverParentDomainsAndFolders) {
    const std::pair<const char*, const char*> matches[] = {
        {"http://h.t", "http://h.t"},
        {"http://h.t", "http://w.h.t/x"},
        {"http://h.t/g", "http://h.t/g"},
        {"http://h.t/g", "http://h.t/g/x"},
        {"http://h.t/g/", "http://h.t/g/x"},
        {"ftp://h.t", "ftp://h.t"},
        {"http://h.t:81/g", "http://h.t/g?q#f"},
        {"http://H.t/g", "http://h.t/G"},
    };
    for (const auto& [site, request] : matches)
        EXPECT_TRUE(tav::SiteMatches(Url(site), Url(request))) << site << " " << request;
    const std::pair<const char*, const char*> misses[] = {
        {"http://h.t", "http://xh.t/"}, {"http://w.h.t", "http://h.t/"}, {"http://h.t/g", "http://h.t/gx"},
        {"ftp://h.t/g", "ftp://h.t"},   {"ftp://h.t", "ftp://h.tx"},
    };
    for (const auto& [site, request] : misses)
        EXPECT_FALSE(tav::SiteMatches(Url(site), Url(request))) << site << " " << request;
    // For requests in canonical form, the index of a list answers what matching every site of it, in
    // canonical form too, answers; hosts with empty labels and trailing dots among them.
    const char* hosts[] = {"", ".", "h", "h.t", "w.h.t", "x.w.h.t", "t", "h.t.", "h..t", ".t", "wh.t", "H.t"};
    const char* paths[] = {"", "/", "/g", "/g/", "/g/x", "/gx"};
    std::vector<uri> all;
    for (const char* host : hosts)
        for (const char* path : paths) {
            const std::string text = std::string("http://") + host + path;
            uri parsed;
            if (parsed.parse_absolute(text.data(), text.data() + text.size())) {
                tav::canonicalize(parsed, true);
                all.push_back(parsed);
            }
        }
    std::mt19937 random(15);
    for (int round = 0; round < 200; ++round) {
        std::vector<uri> list;
        for (const uri& site : all)
            if (random() % 8 == 0)
                list.push_back(site);
        const tav::SiteIndex index(list);
        for (const uri& request : all)
            ASSERT_EQ(std::any_of(list.begin(), list.end(),
                                  [&](const uri& site) { return tav::SiteMatches(site, request); }),
                      index.Matches(request))
                << round << " " << request.host() << request.path();
    }
    EXPECT_EQ(tav::CategoryBitsToIDs(0x80000201u), (std::vector<std::string>{"1", "10", "32"}));
    EXPECT_TRUE(tav::CategoryBitsToIDs(0).empty());
}

// The index of a word list finds what looking for each word in the address finds: words that overlap,
// a word inside another, words and addresses in any case, escapes, an empty list and an empty word; the
// categories of every word found are OR-ed.
TEST(Matching, WordIndexFindsEveryWordOfTheList) {
    struct Case {
        std::vector<std::pair<const char*, std::int32_t>> words;
        const char* url;
        std::uint32_t found;
    };
    const Case cases[] = {
        {{}, "http://h.t/poker", 0},
        {{{"poker", 1}}, "http://h.t/poke", 0},
        {{{"Poker", 1}}, "http://h.t/?POKER", 1},
        {{{"poker", 1}, {"ok", 2}, {"kers", 4}}, "http://h.t/poker", 3},
        {{{"abab", 1}, {"bab", 2}, {"bc", 4}, {"abd", 8}}, "http://h.t/ababc", 7},
        {{{"aab", 1}, {"ab", 2}, {"b", 16}}, "http://h.t/aaab", 19},
        {{{"roulette", 8}, {"%52", 32}}, "http://h.t/%52oulette", 8},
        {{{"t/", 1}, {"http", 2}, {"h.t/", 4}}, "http://H.T", 7},
        {{{"x", 1}, {"a", INT32_MIN}}, "http://a.t/", 0x80000000},
        {{{"", 64}, {"q", 1}}, "http://h.t/", 64},
    };
    for (const Case& c : cases) {
        DataModel::BlockedUrlWords words;
        for (const auto& [text, mask] : c.words) {
            auto word = boost::make_shared<DataModel::BlockedUrlWord>(nullptr);
            word->SetWord(text);
            word->SetCategoriesMask(mask);
            words.insert(word);
        }
        DataModel::HTTPSProtocolSettings settings;
        settings.SetWords(words);
        const tav::WordIndex& index = settings.GetWordIndex();
        EXPECT_EQ(index.Categories(tav::WordText(Url(c.url))), c.found) << c.url;
        std::uint32_t all = 0;
        for (const auto& word : c.words)
            all |= static_cast<std::uint32_t>(word.second);
        EXPECT_EQ(index.AllCategories(), all) << c.url;
    }
    // Random lists and texts of two letters in both cases, where words overlap and repeat most: the index
    // answers what looking for each folded word in the folded text answers, wherever a word lies.
    std::mt19937 random(468);
    for (int round = 0; round < 2000; ++round) {
        const auto letters = [&random](std::size_t most) {
            std::string text(random() % (most + 1), 'a');
            for (char& c : text)
                c = "abA"[random() % 3];
            return text;
        };
        std::vector<std::pair<std::string, std::uint32_t>> words(random() % 6);
        for (std::size_t w = 0; w < words.size(); ++w)
            words[w] = {letters(round % 2 ? 12 : 4), 1u << w};
        const std::string text = letters(40);
        std::uint32_t expected = 0;
        for (const auto& [word, mask] : words)
            expected |=
                tav::FoldCase(text, false).find(tav::FoldCase(word, false)) != std::string::npos ? mask : 0;
        ASSERT_EQ(tav::WordIndex(words).Categories(text), expected) << round << " " << text;
    }
}
