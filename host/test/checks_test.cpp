#include "checks.hpp"
#include "deflate.hpp"

#include "PolicyFolder.hpp"

#include <quorrel/Client.hpp>
#include <quorrel/ClientGroup.hpp>
#include <quorrel/HTTPProtocolSettings.hpp>
#include <quorrel/InapContentWord.hpp>
#include <tav/canonical_uri.hpp>

#include <ace/Proactor.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using tav::http::checks;
using outcome = checks::outcome;

// The stages over the sample policy, with this machine (127.0.0.1) in group 3, whose answers are checked
// for their types and for the word "poker". The proxy is the stages' source of verdicts only: it is never
// started, and nothing is sent anywhere.
class checks_test : public ::testing::Test {
protected:
    void SetUp() override {
        model = policy.Load();
        const std::unique_ptr<tav::DataModel::ClientGroup> group = PolicyFolder::MachineInGroup(*model, "3");
        auto http = boost::static_pointer_cast<tav::DataModel::HTTPProtocolSettings>(
            group->GetProtocolSettings(tav::DataModel::PST_HTTP));
        http->SetIsContentFiltrationEnabled(true);
        http->SetIsContentTypesEnabled(true);
        http->SetIsInapContentWordsEnabled(true);
        ASSERT_TRUE(model->SaveClientGroup(*group).IsOK());
        auto word = model->CreateInapContentWord();
        word->SetWord("poker");
        ASSERT_TRUE(model->SaveInapContentWord("3", *word).IsOK());
        proxy = new tav::http::forward_proxy(proactor.get(), model.get(), nullptr);
        verdict = proxy->decide("127.0.0.1", address("http://school.example/"), tav::PROTO_HTTP);
        ASSERT_TRUE(verdict.IsAllowed());
    }
    void TearDown() override { proxy->stop(); }

    static tav::uri address(const std::string& text) {
        tav::uri parsed;
        EXPECT_TRUE(parsed.parse_absolute(text.data(), text.data() + text.size())) << text;
        tav::canonicalize(parsed);
        return parsed;
    }
    // The outcome in one line, to compare and to show.
    static std::string said(const outcome& o) {
        const char* const then[] = {"go on", "wait", "stop"};
        return std::string(then[o.then]) + (o.status != 0 ? " " + std::to_string(o.status) : std::string()) +
               (o.reason.empty() ? std::string() : ": " + o.reason);
    }

    PolicyFolder policy{PolicyFolder::Read(SAMPLE_CFG "/zun_data.xml")};
    std::unique_ptr<tav::DataModel> model;
    std::unique_ptr<ACE_Proactor> proactor{tav::make_proactor(1)};
    boost::intrusive_ptr<tav::http::forward_proxy> proxy;
    // The verdict for this machine, whose answers are checked.
    tav::DataModel::Verdict verdict;
};

TEST_F(checks_test, AdmissionGivesThePolicysVerdictAndTunnelsReachOnlySecurePorts) {
    const struct {
        const char* client;
        std::string target;
        std::string expected; // the reason, or its start for the policy's own messages
    } requests[] = {
        {"127.0.0.1", "http://school.example/lessons", "go on"},
        {"127.0.0.1", "http://games.example/", "stop: Site is blocked by Customer Blocked Sites List"},
        {"127.0.0.1", "http://unlisted.example/free-poker-tips", "stop: Url you go contains a blocked word"},
        {"192.0.2.1", "http://school.example/lessons", "stop: Unknown client"},
    };
    for (const auto& r : requests) {
        tav::DataModel::Verdict decided;
        const outcome o = checks::admit_request(*proxy, r.client, address(r.target), decided);
        EXPECT_EQ(0u, said(o).rfind(r.expected, 0)) << r.target << " from " << r.client << ": " << said(o);
        EXPECT_EQ(o.then == outcome::go_on, decided.IsAllowed()) << r.target;
    }

    const struct {
        std::string target;
        std::string expected;
        bool decided; // whether the policy was asked
    } tunnels[] = {
        {"https://school.example:443/", "go on", true},
        {"https://school.example:25/", "stop: Tunnels are open only to the ports of secure sites.", false},
        {"https://school.example:70443/", "stop: Tunnels are open only to the ports of secure sites.", false},
        {"https://games.example:443/", "stop: Site is blocked by Customer Blocked Sites List", true},
    };
    for (const auto& t : tunnels) {
        tav::DataModel::Verdict decided; // knows no client until the policy is asked
        const outcome o = checks::admit_tunnel(*proxy, "127.0.0.1", address(t.target), decided);
        EXPECT_EQ(0u, said(o).rfind(t.expected, 0)) << t.target << ": " << said(o);
        EXPECT_EQ(t.decided, decided.IsClientKnown()) << t.target;
    }
}

TEST_F(checks_test, SafeSearchAndTheFilterEachChangeTheirOwnPartOfTheOutgoingHead) {
    tav::SafeSearch::Redirect google;
    google.address = "forcesafesearch.google.com";
    google.parameter = "safe=active";
    tav::SafeSearch::Redirect youtube;
    youtube.address = "restrictmoderate.youtube.com";
    youtube.youTubeRestrict = "Moderate";
    const struct {
        const char* what;
        std::string target;
        tav::SafeSearch::Redirect safe;
        bool checked;
        std::string expected; // the target, then removed and added fields
    } cases[] = {
        {"nothing to change",
         "http://www.google.com/search?q=cats&safe=off",
         {},
         false,
         "/search?q=cats&safe=off |  | "},
        {"a search", "http://www.google.com/search?q=cats&SAFE=off", google, false,
         "/search?q=cats&safe=active |  | "},
        {"YouTube", "http://www.youtube.com/watch?v=1", youtube, false,
         "/watch?v=1 | youtube-restrict | YouTube-Restrict: Moderate"},
        {"a checked page",
         "http://school.example/",
         {},
         true,
         "/ | accept-encoding | Accept-Encoding: gzip, deflate"},
        {"both", "http://www.youtube.com/", youtube, true,
         "/ | youtube-restrict accept-encoding | YouTube-Restrict: Moderate Accept-Encoding: gzip, deflate"},
    };
    for (const auto& c : cases) {
        std::string removed;
        std::string added;
        for (const checks::outgoing& changes :
             {checks::safe_search_fields(c.safe), checks::filter_fields(c.checked)}) {
            for (const std::string& name : changes.removed)
                removed += (removed.empty() ? "" : " ") + name;
            for (const auto& field : changes.added)
                added.append(added.empty() ? "" : " ").append(field.first).append(": ").append(field.second);
        }
        EXPECT_EQ(c.expected,
                  checks::origin_target(address(c.target), c.safe) + " | " + removed + " | " + added)
            << c.what;
    }
    EXPECT_TRUE(checks::pages_checked(verdict));
    EXPECT_FALSE(checks::pages_checked(tav::DataModel::Verdict())) << "without a policy nothing is checked";
}

TEST_F(checks_test, TheAnswersHeadIsRefusedHeldOrPassedByItsType) {
    const std::size_t limit = 1000;
    const struct {
        const char* what;
        std::vector<std::pair<const char*, const char*>> fields;
        int status;
        const char* method;
        std::string expected; // the outcome, and "held" when the page is held for its words
    } cases[] = {
        {"a page", {{"Content-Type", "text/html; charset=utf-8"}}, 200, "GET", "go on held"},
        {"XHTML", {{"Content-Type", "application/xhtml+xml"}}, 200, "GET", "go on held"},
        {"a page without a type", {}, 200, "GET", "go on held"},
        {"a program",
         {{"Content-Type", "Application/X-MSDownload"}},
         200,
         "GET",
         "stop: Content of type Application/X-MSDownload is not allowed."},
        {"two types",
         {{"Content-Type", "text/html"}, {"Content-Type", "text/plain"}},
         200,
         "GET",
         "stop 502: The site sent conflicting content types"},
        {"one type twice",
         {{"Content-Type", "text/html"}, {"content-type", " TEXT/HTML "}},
         200,
         "GET",
         "go on held"},
        {"plain text", {{"Content-Type", "text/plain"}}, 200, "GET", "go on"},
        {"a page to HEAD", {{"Content-Type", "text/html"}}, 200, "HEAD", "go on"},
        {"a page not modified", {{"Content-Type", "text/html"}}, 304, "GET", "go on"},
        {"a page without content", {{"Content-Type", "text/html"}}, 204, "GET", "go on"},
        {"a page in br",
         {{"Content-Type", "text/html"}, {"Content-Encoding", "br"}},
         200,
         "GET",
         "go on held"},
        {"a page in a coding not read",
         {{"Content-Type", "text/html"}, {"Content-Encoding", "compress"}},
         200,
         "GET",
         "go on"},
        {"a page at the limit",
         {{"Content-Type", "text/html"}, {"Content-Length", "1000"}},
         200,
         "GET",
         "go on held"},
        {"a page over the limit",
         {{"Content-Type", "text/html"}, {"Content-Length", "1001"}},
         200,
         "GET",
         "go on"},
    };
    for (const auto& c : cases) {
        tav::http::header_map fields;
        for (const auto& field : c.fields)
            fields.add(tav::http::atom::intern(field.first), field.second);
        const checks::answer a = checks::answer_head(verdict, fields, c.status, c.method, limit);
        EXPECT_EQ(c.expected, said(a.result) + (a.hold ? " held" : "")) << c.what;
        // Without a policy nothing is refused or held.
        const checks::answer free =
            checks::answer_head(tav::DataModel::Verdict(), fields, c.status, c.method, limit);
        EXPECT_EQ("go on", said(free.result) + (free.hold ? " held" : "")) << c.what;
    }
}

TEST_F(checks_test, AHeldPageGoesOnlyWithoutTheClientsWords) {
    // A gzip body cut before its last 8 bytes, the check of what came before.
    const auto without_trailer = [](const std::string& packed) {
        return packed.substr(0, packed.size() - 8);
    };
    const std::string clean = "<p>homework</p>";
    const std::string poker = "<p>Play POKER now</p>";
    const struct {
        const char* what;
        std::string type;
        std::string coding;
        std::string body;
        std::size_t limit;
        std::string expected;
    } cases[] = {
        {"a clean page", "text/html", "", clean, 1000, "go on"},
        {"a page with a word", "text/html", "", poker, 1000,
         "stop: The page contains words that are not allowed."},
        {"the word packed", "text/html", "gzip", deflate_text::pack(poker, 15 + 16), 1000,
         "stop: The page contains words that are not allowed."},
        {"the word in a body cut short", "text/html", "gzip",
         without_trailer(deflate_text::pack(poker, 15 + 16)), 1000,
         "stop: The page contains words that are not allowed."},
        {"the word past the limit", "text/html", "", clean + poker, clean.size(), "go on"},
        {"a body that cannot be read", "text/html", "gzip", std::string(40, 'g'), 1000,
         "stop: The page cannot be read to check its words."},
        {"an empty page", "text/html", "gzip", "", 1000, "go on"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, said(checks::page_words(verdict, c.type, c.coding, c.body, c.limit))) << c.what;
}

TEST_F(checks_test, ATunnelGoesOnOnlyWithAServerNameThePolicyAllows) {
    using state = tav::http::client_hello::state;
    const struct {
        const char* what;
        state read;
        bool last;
        const char* name;
        bool intercepted;
        std::string expected;
        const char* site; // the site the tunnel then stands for
    } cases[] = {
        {"a handshake so far", state::need_more, false, "", false, "wait", "school.example"},
        {"a handshake that ends halfway", state::need_more, true, "", false,
         "stop: The client ended its TLS handshake halfway.", "school.example"},
        {"not TLS", state::not_tls, false, "", false, "stop: not TLS", "school.example"},
        {"a malformed handshake", state::malformed, false, "", false, "stop: The TLS handshake is malformed.",
         "school.example"},
        {"no name", state::done, false, "", false, "go on", "school.example"},
        {"the host, spelled otherwise", state::done, false, "SCHOOL.example.", false, "go on",
         "school.example"},
        {"a blocked name", state::done, false, "games.example", false,
         "stop: server name games.example: Site is blocked by Customer Blocked Sites List", "games.example"},
        {"a name of a redirected connection", state::done, false, "school.example", true, "go on",
         "school.example"},
        {"a blocked name of a redirected connection", state::done, false, "GAMES.example", true,
         "stop: server name games.example: Site is blocked by Customer Blocked Sites List", "games.example"},
    };
    for (const auto& c : cases) {
        std::string site = "school.example";
        tav::DataModel::Verdict decided = verdict;
        const outcome o = checks::server_name(*proxy, "127.0.0.1", c.read, c.last, c.name, "school.example",
                                              443, c.intercepted, decided, site);
        EXPECT_EQ(c.expected, said(o)) << c.what;
        EXPECT_EQ(c.site, site) << c.what;
    }
}

} // namespace
