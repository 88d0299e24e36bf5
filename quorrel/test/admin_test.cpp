#include "AdminSite.hpp"

#include <quorrel/ClientGroup.hpp>
#include <quorrel/Settings.hpp>
#include <quorrel/admin/AdminPlugin.hpp>
#include <quorrel/admin/PageRules.hpp>
#include <quorrel/admin/RequestGuard.hpp>
#include <quorrel/admin/Templates.hpp>
#include <tav/http/ext_transaction_base.hpp>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace admin_site;

TEST_F(AdminTest, TakesTheRequestsForItsHostPortAndPath) {
    const struct {
        const char* url;
        bool taken;
    } cases[] = {
        {"http://admin.tollwick/", true},       {"http://ADMIN.tollwick/help?x=1", true},
        {"http://admin.tollwick:80/", false},   {"http://admin.tollwick:8008/", false},
        {"http://admin.tollwick.evil/", false}, {"https://admin.tollwick/", true},
        {"http://casino.example/", false},
    };
    for (const auto& c : cases) {
        boost::intrusive_ptr<tav::http::request_head> head(new tav::http::request_head);
        head->uri = Uri(c.url);
        EXPECT_EQ(c.taken,
                  plugin->create_transaction(head, ACE_INET_Addr(), ACE_INET_Addr(), nullptr) != nullptr)
            << c.url;
    }
}

// A page of another site cannot act through the administrator's browser: a request sent to the service's
// own address must name the site or that address, and a POST must come from the site's pages.
TEST(RequestGuard, OnlyTheSiteItselfMayAskAndChange) {
    const struct {
        const char* method;
        const char* target;
        std::vector<std::pair<const char*, const char*>> fields;
        const char* local;
        bool taken;
    } cases[] = {
        {"GET", "/", {{"Host", "127.0.0.1:8008"}}, "127.0.0.1:8008", true},
        {"GET", "/", {{"Host", "LocalHost:8008"}}, "127.0.0.1:8008", true},
        {"GET", "/", {{"Host", "127.0.0.1"}}, "127.0.0.1:8008", true},
        {"GET", "/", {{"Host", "admin.tollwick"}}, "127.0.0.1:8008", true},
        {"GET", "/", {}, "127.0.0.1:8008", true},
        {"GET", "/", {{"Host", "192.168.1.1:8008"}}, "192.168.1.1:8008", true},
        {"GET", "/", {{"Host", "rebound.example:8008"}}, "127.0.0.1:8008", false},
        {"GET", "/", {{"Host", "127.0.0.1:9999"}}, "127.0.0.1:8008", false},
        {"GET", "/", {{"Host", "localhost:8008"}}, "192.168.1.1:8008", false},
        {"GET", "http://admin.tollwick/", {{"Host", "elsewhere.example"}}, "127.0.0.1:8008", true},
        {"POST",
         "/",
         {{"Host", "127.0.0.1:8008"}, {"Origin", "http://127.0.0.1:8008"}},
         "127.0.0.1:8008",
         true},
        {"POST", "http://admin.tollwick/", {{"Origin", "http://admin.tollwick"}}, "127.0.0.1:8008", true},
        {"POST", "http://admin.tollwick/", {{"Referer", "http://admin.tollwick/?a"}}, "127.0.0.1:8008", true},
        {"POST", "http://admin.tollwick/", {{"Origin", "http://evil.example"}}, "127.0.0.1:8008", false},
        {"POST",
         "http://admin.tollwick/",
         {{"Origin", "null"}, {"Referer", "http://admin.tollwick/"}},
         "127.0.0.1:8008",
         false},
        {"POST",
         "http://admin.tollwick/",
         {{"Referer", "http://admin.tollwick.evil.example/"}},
         "127.0.0.1:8008",
         false},
        {"POST", "http://admin.tollwick/", {}, "127.0.0.1:8008", false},
    };
    const tav::uri root = Uri("http://admin.tollwick/");
    for (const auto& c : cases) {
        boost::intrusive_ptr<tav::http::request_head> head(new tav::http::request_head);
        head->method = c.method;
        head->target = c.target;
        for (const auto& [name, value] : c.fields)
            head->headers.add(tav::http::atom::intern(name), value);
        const std::string refusal = RequestRefusal(*head, ACE_INET_Addr(c.local), root);
        EXPECT_EQ(c.taken, refusal.empty())
            << c.method << " " << c.target << " at " << c.local << ": " << refusal;
    }
}

TEST(FormFieldsTest, DecodesPairsAsTheSiteSendsThem) {
    FormFields fields;
    fields.Decode("Name=a+b%41&Word=&Word=first&Word=second&9ID=7&_SessionID_=S&Login");
    EXPECT_EQ("a bA", fields.Get("Name"));
    EXPECT_EQ((std::vector<std::string>{"first", "second"}), fields.GetAll("Word"));
    EXPECT_EQ("7", fields.Get("ID")) << "a name starts at its first letter";
    EXPECT_EQ("S", fields.Get("_SessionID_"));
    EXPECT_TRUE(fields.GetAll("Login").empty()) << "a name without '=' ends the decoding";
    fields.Set("Word", "only");
    EXPECT_EQ((std::vector<std::string>{"only"}), fields.GetAll("Word"));
    fields.Add("Custom_Name", "v");
    EXPECT_EQ("v", fields.Get("Custom_Name"));
}

TEST(TemplatesTest, ReplaceAllNeverSearchesWhatItInsertedAndOptionsAreExact) {
    std::string text = "a%X%b%X%";
    ReplaceAll(text, "%X%", "<%X%>");
    EXPECT_EQ("a<%X%>b<%X%>", text);
    const std::pair<std::string, std::string> none{"0", "<..........>"};
    EXPECT_EQ("<option value=\"0\" selected>&lt;..........&gt;</option>", BuildOptions({}, "0", &none));
    EXPECT_EQ("<option value=\"1\">a&amp;b</option><option value=\"2\" selected>&quot;q&quot;</option>"
              "<option value=\"0\">&lt;..........&gt;</option>",
              BuildOptions({{"1", "a&b"}, {"2", "\"q\""}}, "2", &none, false));
    EXPECT_EQ("one<br>two", MessagesMarkup({"one", "two"}));
}

// A filter without a password is not set up: a child's computer must not switch it off. Only the filter
// machine itself, and a browser that opened the one-time set-up address, may set it up.
TEST_F(AdminTest, WithoutAPasswordOnlyTheMachineItselfOrTheSetupAddressOpensTheSite) {
    const std::string child = "192.168.1.10";
    const SiteAnswer refused = Answer("ObjectName=Settings&Action=SaveEdit", root_url, child);
    EXPECT_EQ(403, refused.status);
    EXPECT_NE(std::string::npos, refused.body.find("not set up yet")) << refused.body;
    EXPECT_EQ(403, Answer("", root_url + "?setup=ABCDEFGHIJKLMNOP", child).status) << "a guessed token";
    const std::string here = Page("");
    EXPECT_NE(std::string::npos, here.find("<h1>Welcome to Tollwick</h1>"));
    EXPECT_NE(std::string::npos, here.find("no password yet")) << "the banner leads to setting one";

    const std::string setup = plugin->SetupAddress();
    ASSERT_EQ(0u, setup.rfind(root_url + "?setup=", 0)) << setup;
    const std::string opened = Page("", setup, child);
    const std::string session = SessionOf(opened);
    EXPECT_NE(std::string::npos, opened.find("<h1>Welcome to Tollwick</h1>"));
    EXPECT_NE(
        std::string::npos,
        Page("ObjectName=HelpPage&Action=Get&_SessionID_=" + session, root_url, child).find("<h1>Help</h1>"))
        << "the browser that opened it goes on in its session";

    SetAccount("secret1", "2", "Paris");
    EXPECT_TRUE(IsLoginPage(Page("", root_url + "?setup=x", child)));
    EXPECT_EQ(std::string::npos, Page("").find("no password yet"));
    EXPECT_EQ("", plugin->SetupAddress()) << "the address is good until a password is set";
    SetAccount("", "", "");
    EXPECT_EQ(403, Answer("", setup, child).status);
}

TEST_F(AdminTest, AComputerOutsideThePolicyIsOfferedItsFormBehindTheLogin) {
    const std::string form = "id=\"client-ip\" name=\"IP\" value=\"";
    const std::string here = Page("");
    EXPECT_NE(std::string::npos, here.find("This computer, 127.0.0.1, is in no group yet.")) << here;
    EXPECT_NE(std::string::npos, here.find("name=\"NewClientIP\" value=\"127.0.0.1\"><button class=\"link\" "
                                           "id=\"add-this-computer\">"));
    const std::string added = Page("ObjectName=Client&Action=GetNew&NewClientIP=127.0.0.1");
    EXPECT_NE(std::string::npos, added.find(form + "127.0.0.1\"")) << "the banner's button fills the form";
    EXPECT_NE(std::string::npos, Page("", root_url + "?client=10.0.0.9").find(form + "10.0.0.9\""));
    EXPECT_NE(std::string::npos, Page("", root_url + "?client=%3Cb%3E").find(form + "&lt;b&gt;\""));

    SetAccount("secret1", "2", "Paris");
    const std::string asked = Page("", root_url + "?client=10.0.0.9", "10.0.0.9");
    EXPECT_TRUE(IsLoginPage(asked)) << "the link alone lets no one in";
    EXPECT_EQ(std::string::npos, asked.find(form));
    EXPECT_NE(std::string::npos, asked.find("name=\"NewClientIP\" value=\"10.0.0.9\""));
    EXPECT_EQ(std::string::npos, Page("", root_url, "192.168.1.10").find("add-this-computer"));
    const std::string signedIn =
        Page("ObjectName=LoginPage&Action=SaveEdit&Login=wexor&Password=secret1&NewClientIP=10.0.0.9");
    EXPECT_NE(std::string::npos, signedIn.find(form + "10.0.0.9\"")) << "the form comes after the login";
    EXPECT_NE("none", SessionOf(signedIn));
}

TEST_F(AdminTest, WithoutAPasswordEveryPageIsOpen) {
    EXPECT_NE(std::string::npos, Page("").find("<h1>Welcome to Tollwick</h1>"));
    EXPECT_NE(std::string::npos, Page("ObjectName=HelpPage&Action=Get").find("<h1>Help</h1>"));
    EXPECT_EQ("", Page("ObjectName=NoSuchPage&Action=Get"));
    const std::string unknown = Page("ObjectName=AboutPage&Action=get");
    EXPECT_NE(std::string::npos, unknown.find("<div class=\"errors\" role=\"alert\">Unknown Action</div>"));
    EXPECT_EQ(std::string::npos, unknown.find("<h1>About Tollwick</h1>"));
}

// No other site may frame the administration (to trick a click), keep its pages in a cache, or learn its
// address from a link; only the page's own style and script run in it.
TEST_F(AdminTest, EveryAnswerRefusesFramingCachingAndScriptsOfOthers) {
    const struct {
        const char* what;
        std::string body;
        std::string url;
    } kinds[] = {
        {"the home page", "", "http://admin.tollwick/"},
        {"an unknown object", "ObjectName=NoSuchPage&Action=Get", "http://admin.tollwick/"},
        {"an image", "", "http://admin.tollwick/images/logo.png"},
        {"the login page", "", "http://admin.tollwick/"},
    };
    for (const auto& kind : kinds) {
        if (std::string(kind.what) == "the login page")
            SetAccount("secret1", "", "");
        const SiteAnswer answer = Answer(kind.body, kind.url);
        std::map<std::string, std::string> fields(answer.fields.begin(), answer.fields.end());
        EXPECT_EQ("DENY", fields["X-Frame-Options"]) << kind.what;
        EXPECT_EQ("no-store", fields["Cache-Control"]) << kind.what;
        EXPECT_EQ("same-origin", fields["Referrer-Policy"]) << kind.what;
        std::smatch nonce;
        const std::string& policy = fields["Content-Security-Policy"];
        ASSERT_TRUE(std::regex_search(policy, nonce, std::regex("script-src 'nonce-([A-Z]{16})'"))) << policy;
        EXPECT_NE(std::string::npos, policy.find("frame-ancestors 'none'")) << kind.what;
        if (answer.contentType.rfind("text/html", 0) == 0 && !answer.body.empty()) {
            EXPECT_NE(std::string::npos, answer.body.find("<script nonce=\"" + nonce[1].str() + "\">"))
                << kind.what;
            EXPECT_NE(std::string::npos, answer.body.find("<style nonce=\"" + nonce[1].str() + "\">"))
                << kind.what;
        }
    }
    EXPECT_NE(Answer("").fields, Answer("").fields) << "each answer has a nonce of its own";
    EXPECT_EQ("image/png", Answer("", "http://admin.tollwick/images/logo.png").contentType);
    EXPECT_EQ(404, Answer("", "http://admin.tollwick/images/none.png").status);
}

TEST_F(AdminTest, APasswordAsksForTheLoginAndOneSessionAtATime) {
    SetAccount("secret1", "2", "Paris");
    EXPECT_TRUE(IsLoginPage(Page("ObjectName=HelpPage&Action=Get")));
    EXPECT_TRUE(IsLoginPage(Page("ObjectName=HelpPage&Action=Get&_SessionID_=ABCDEFGHIJKLMNOP")));
    EXPECT_NE(std::string::npos,
              Page("ObjectName=ForgotPassword&Action=Get").find("In what city were you born?"));

    const std::string refused = Page("ObjectName=LoginPage&Action=SaveEdit&Login=wexor&Password=wrong");
    EXPECT_TRUE(IsLoginPage(refused));
    EXPECT_NE(std::string::npos, refused.find("role=\"alert\">Bad Login or Password</div>"));
    EXPECT_NE(std::string::npos, refused.find("value=\"wexor\""));

    const std::string first = Page("ObjectName=LoginPage&Action=SaveEdit&Login=+wexor+&Password=secret1");
    const std::string session = SessionOf(first);
    EXPECT_TRUE(std::regex_match(session, std::regex("[A-Z]{16}"))) << session;
    EXPECT_NE(std::string::npos, first.find("<h1>Welcome to Tollwick</h1>"));
    EXPECT_NE(std::string::npos,
              Page("ObjectName=HelpPage&Action=Get&_SessionID_=" + session).find("<h1>Help</h1>"));

    const std::string second =
        SessionOf(Page("ObjectName=LoginPage&Action=SaveEdit&Login=wexor&Password=secret1"));
    EXPECT_NE(session, second);
    EXPECT_TRUE(IsLoginPage(Page("ObjectName=HelpPage&Action=Get&_SessionID_=" + session)));
    EXPECT_FALSE(IsLoginPage(Page("ObjectName=HelpPage&Action=Get&_SessionID_=" + second)));
}

// A child may guess: each address gets five tries in a quarter of an hour, then waits that long, even with
// the right password, while the parents' computer signs in as before.
TEST_F(AdminTest, GuessingIsLockedOutPerAddressAndSessionsEnd) {
    auto now = std::chrono::steady_clock::now();
    plugin->SetClock([&] { return now; });
    const std::string audit = "admin-audit-" + std::to_string(::getpid());
    plugin->StartAudit(audit);
    SetAccount("secret1", "2", "Paris");
    const std::string wrong = "ObjectName=LoginPage&Action=SaveEdit&Login=wexor&Password=wrong";
    const std::string right = "ObjectName=LoginPage&Action=SaveEdit&Login=wexor&Password=secret1";
    const std::string child = "192.168.1.10";
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ("Bad Login or Password", ErrorsOf(Answer(wrong, root_url, child).body)) << i;
    EXPECT_EQ(
        "Bad Answer",
        ErrorsOf(
            Answer("ObjectName=ForgotPassword&Action=SaveEdit&SecurityAnswer=Rome", root_url, child).body));
    for (int i = 0; i < 16; ++i)
        Answer(wrong, root_url, child);
    const SiteAnswer locked = Answer(right, root_url, child);
    EXPECT_EQ(429, locked.status);
    EXPECT_EQ("Too many attempts. Try again in 15 minutes.", ErrorsOf(locked.body));
    EXPECT_NE(locked.fields.end(), std::find(locked.fields.begin(), locked.fields.end(),
                                             std::pair<std::string, std::string>("Retry-After", "900")));
    EXPECT_EQ(
        429,
        Answer("ObjectName=ForgotPassword&Action=SaveEdit&SecurityAnswer=Paris", root_url, child).status);
    const std::string parents = SessionOf(Page(right, root_url, "192.168.1.2"));
    EXPECT_TRUE(std::regex_match(parents, std::regex("[A-Z]{16}"))) << "another address signs in";
    now += std::chrono::minutes(15);
    EXPECT_EQ(200, Answer(right, root_url, child).status) << "the lock-out is over";

    // A session ends after 30 minutes without a request, and at "Log out".
    const std::string session = SessionOf(Page(right));
    const std::string help = "ObjectName=HelpPage&Action=Get&_SessionID_=" + session;
    now += std::chrono::minutes(29);
    EXPECT_FALSE(IsLoginPage(Page(help)));
    now += std::chrono::minutes(29);
    EXPECT_FALSE(IsLoginPage(Page(help))) << "each request starts the idle time anew";
    now += std::chrono::minutes(31);
    EXPECT_TRUE(IsLoginPage(Page(help))) << "an idle session has ended";
    EXPECT_TRUE(IsLoginPage(Page(help))) << "and stays ended";
    const std::string next = SessionOf(Page(right));
    EXPECT_NE(std::string::npos, Page("ObjectName=HelpPage&Action=Get&_SessionID_=" + next).find("Log out"));
    Page("ObjectName=ClientGroup&Action=Delete&DeleteID=99&_SessionID_=" + next);
    Page("ObjectName=ClientGroup&Action=Pause&ClientGroupID=99&Minutes=15&_SessionID_=" + next);
    EXPECT_TRUE(IsLoginPage(Page("ObjectName=Logout&Action=Get&_SessionID_=" + next)));
    EXPECT_TRUE(IsLoginPage(Page("ObjectName=HelpPage&Action=Get&_SessionID_=" + next)));

    // The audit trail has every event, by address, and never a password or an answer.
    const fs::path trail = fs::path("log") / audit / "log.txt";
    std::string logged;
    for (int i = 0; i < 500 && logged.find("\tlogout\t") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        logged = PolicyFolder::Read(trail.string());
    }
    fs::remove_all(fs::path("log") / audit);
    for (const std::string& event :
         {child + "\tfailed_login\tLoginPage\tSaveEdit", child + "\tfailed_answer\tForgotPassword",
          child + "\tlock-out", std::string("192.168.1.2\tlogin\tLoginPage"),
          std::string("change\tClientGroup\tDelete\t99\t"), std::string("change\tClientGroup\tPause\t99\t"),
          std::string("\tlogout\tLogout")})
        EXPECT_NE(std::string::npos, logged.find(event)) << event << "\n" << logged;
    for (const char* secret : {"secret1", "wrong", "Paris", "Rome"})
        EXPECT_EQ(std::string::npos, logged.find(secret)) << secret;
}

TEST(LoginBrake, ForgetsTheAddressHeardFromLongestAgoPastItsBound) {
    LoginBrake brake(2, std::chrono::minutes(15), 2);
    const auto now = std::chrono::steady_clock::now();
    EXPECT_FALSE(brake.Failed("a", now));
    EXPECT_TRUE(brake.Failed("a", now + std::chrono::minutes(14))) << "the second failure within the window";
    EXPECT_FALSE(brake.Failed("b", now));
    EXPECT_FALSE(brake.Failed("c", now + std::chrono::minutes(20))) << "a failure outside the window";
    EXPECT_EQ(std::chrono::minutes(0), brake.Wait("a", now + std::chrono::minutes(15))) << "a was forgotten";
    EXPECT_FALSE(brake.Failed("b", now + std::chrono::minutes(16)))
        << "b's first failure has left the window";
}

TEST_F(AdminTest, TheSecurityAnswerClearsThePassword) {
    SetAccount("secret1", "2", "Paris");
    const std::string wrong = Page("ObjectName=ForgotPassword&Action=SaveEdit&SecurityAnswer=Rome");
    EXPECT_TRUE(IsLoginPage(wrong));
    EXPECT_NE(std::string::npos, wrong.find("role=\"alert\">Bad Answer</div>"));
    const std::string right = Page("ObjectName=ForgotPassword&Action=SaveEdit&SecurityAnswer=+Paris+");
    EXPECT_NE(std::string::npos, right.find("<h1>Welcome to Tollwick</h1>"));
    std::unique_ptr<tav::DataModel::Settings> settings;
    model->GetSettings(settings);
    EXPECT_TRUE(settings->GetPassword().IsEmpty());
    EXPECT_NE(std::string::npos, Page("ObjectName=HelpPage&Action=Get").find("<h1>Help</h1>"));

    // With no answer stored, no answer is right, and the page says where the password can be reset.
    SetAccount("secret1", "", "");
    EXPECT_NE(std::string::npos,
              Page("ObjectName=ForgotPassword&Action=Get").find("only on the filter machine itself"));
    for (const char* answer : {"", "&SecurityAnswer=", "&SecurityAnswer=+", "&SecurityAnswer=Paris"}) {
        const std::string refused = Page(std::string("ObjectName=ForgotPassword&Action=SaveEdit") + answer);
        EXPECT_NE(std::string::npos, refused.find("role=\"alert\">Bad Answer</div>")) << answer;
    }
    model->GetSettings(settings);
    EXPECT_TRUE(settings->GetPassword().Matches("secret1"));
}

TEST_F(AdminTest, PagesAreFilledInTheirOrder) {
    PolicyFolder::Write((site / "pages/templates/HomePage.tpl.html").string(),
                        "<p>[%TPL_ROOT_URL%|%TPL_GROUP_ID%|%SESSION_ID%|%TPL_MODULE_NAME%]</p>");
    ASSERT_TRUE(plugin->GetModule("HomePage")->LoadTemplates(site.string()).IsOK());
    EXPECT_NE(std::string::npos, Page("ClientGroupID=7").find("<p>[%TPL_ROOT_URL%|7||%TPL_MODULE_NAME%]</p>"))
        << "the root URL and the module name are filled before the content comes; the group and the session "
           "after";
    EXPECT_NE(std::string::npos, Page("ClientGroupID=0&_SessionID_=X").find("<p>[%TPL_ROOT_URL%||X|"));
}

TEST_F(AdminTest, ValuesFromRequestsAreShownAsText) {
    SetAccount("secret1", "", "");
    const std::string page =
        Page("ObjectName=LoginPage&Action=Get&Login=%22%3E%3Cscript%3Ealert(1)%3C/script%3E");
    EXPECT_EQ(std::string::npos, page.find("<script>alert"));
    EXPECT_NE(std::string::npos, page.find("value=\"&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;\""));
    const std::string open = Page("ObjectName=LoginPage&Action=Get&_SessionID_=%22%3E%3Cb%3E");
    EXPECT_EQ(std::string::npos, open.find("\"><b>"));
    EXPECT_NE(std::string::npos, open.find("data-module=\"LoginPage\""));
}

TEST_F(AdminTest, OnlyFilesInsideTheImagesFolderAreServed) {
    fs::create_symlink(fs::path(folder.PolicyPath()), site / "images/policy.png");
    const std::string logo = PolicyFolder::Read((site / "images/logo.png").string());
    ASSERT_FALSE(logo.empty());
    const struct {
        const char* path;
        bool served;
    } cases[] = {
        {"images/logo.png", true},
        {"deep/er/images/logo.png", true},
        {"images/../../zun_data.xml", false},
        {"images/..%2f..%2fzun_data.xml", false},
        {"images/policy.png", false},
        {"images/missing.png", false},
        {"images/", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.served ? logo : "", Page("", std::string("http://admin.tollwick/") + c.path)) << c.path;
}

TEST_F(AdminTest, TheGroupMenuListsEveryGroupByNameAsText) {
    auto group = model->CreateClientGroup();
    group->SetName("<b>Aardvarks</b>");
    ASSERT_TRUE(model->SaveClientGroup(*group).IsOK());
    const std::string menu = plugin->NavigationMenu(false);
    std::vector<std::string> names;
    const std::regex button("<button class=\"group\">([^<]*)</button>");
    for (auto at = std::sregex_iterator(menu.begin(), menu.end(), button); at != std::sregex_iterator(); ++at)
        names.push_back((*at)[1].str());
    EXPECT_EQ((std::vector<std::string>{"* guests *", "* restricted users *", "* unrestricted users *",
                                        "&lt;b&gt;Aardvarks&lt;/b&gt;"}),
              names)
        << menu;
    EXPECT_EQ(std::string::npos, menu.find("All Groups"));
    EXPECT_NE(std::string::npos, plugin->NavigationMenu(true).find("All Groups"));
    EXPECT_NE(std::string::npos,
              Page("ObjectName=TimeTable&Action=Get").find("<button class=\"group\">* guests *</button>"))
        << "the pages of one group show the menu";
}

TEST_F(AdminTest, CheckBoxesAndTheGroupOfAPage) {
    FormFields fields;
    fields.Decode("IsBlocked=0&IsTimeTableEnabled=+&ClientGroupID=3");
    EXPECT_TRUE(IsChecked(fields, "IsBlocked")) << "any text that is not blank is on";
    EXPECT_FALSE(IsChecked(fields, "IsTimeTableEnabled"));
    EXPECT_FALSE(IsChecked(fields, "IsTrafficLimitsEnabled"));
    EXPECT_EQ("checked", Checked(true));
    EXPECT_EQ("", Checked(false));

    std::unique_ptr<tav::DataModel::ClientGroup> group;
    ASSERT_TRUE(GetGroupContext(*model, fields, group).IsOK());
    std::string text = "%TPL_GROUP_ID%:%TPL_GROUP_NAME%";
    FillGroup(text, *group);
    EXPECT_EQ("3:* restricted users *", text);
    EXPECT_TRUE(RequireGroup(fields).IsOK());

    FormFields none;
    EXPECT_TRUE(GetGroupContext(*model, none, group).IsOK()) << "no group named: the first one";
    EXPECT_EQ("Empty Client Group", RequireGroup(none).GetMessage());
    FormFields unknown;
    unknown.Set("ClientGroupID", "99");
    EXPECT_FALSE(GetGroupContext(*model, unknown, group).IsOK());
    EXPECT_EQ(nullptr, group);
}

TEST_F(AdminTest, ThePasswordPageChecksEverythingInOrder) {
    SetAccount("secret1", "2", "Paris");
    const std::string base = "ObjectName=ChangePassword&Action=SaveEdit&_SessionID_=";
    const std::string session =
        SessionOf(Page("ObjectName=LoginPage&Action=SaveEdit&Login=wexor&Password=secret1"));
    const struct {
        const char* form;
        const char* errors;
    } cases[] = {
        {"OldPassword=wrong&Password=12345&PasswordConfirm=12345&SecurityQuestionID=2&SecurityAnswer=x",
         "Wrong Old Password<br>New Password must be 6 or more symbols length"},
        {"OldPassword=secret1&Password=longer1&PasswordConfirm=longer2&SecurityQuestionID=0&SecurityAnswer=",
         "Password Confirmation is not equal New Password<br>Select the Security Question please<br>Fill the "
         "Security Answer field please"},
        {"OldPassword=secret1&SecurityQuestionID=3", "Fill the Security Answer field please"},
    };
    for (const auto& c : cases) {
        const std::string page = Page(base + session + "&" + c.form);
        EXPECT_EQ(c.errors, ErrorsOf(page)) << c.form;
    }
    const std::string refused = Page(base + session +
                                     "&OldPassword=secret1&Password=1234567&PasswordConfirm=1&"
                                     "SecurityQuestionID=4&SecurityAnswer=Volvo");
    EXPECT_NE(std::string::npos, refused.find("<option value=\"4\" selected>"))
        << "the form shows the choice";
    EXPECT_EQ(std::string::npos, refused.find("Volvo")) << "a secret never comes back";
    std::unique_ptr<tav::DataModel::Settings> settings;
    model->GetSettings(settings);
    EXPECT_TRUE(settings->GetPassword().Matches("secret1")) << "nothing is stored after a failed check";
    EXPECT_TRUE(settings->GetSecurityAnswer().Matches("Paris"));

    const std::string saved = Page(base + session +
                                   "&OldPassword=secret1&Password=newpass1&PasswordConfirm=newpass1&"
                                   "SecurityQuestionID=1&SecurityAnswer=Rex");
    EXPECT_NE(std::string::npos, saved.find("<h1>Settings</h1>"));
    model->GetSettings(settings);
    EXPECT_TRUE(settings->GetPassword().Matches("newpass1"));
    EXPECT_EQ(std::string::npos,
              Page("ObjectName=ChangePassword&Action=Get&_SessionID_=" + session).find("Rex"))
        << "the stored answer is never shown";
    EXPECT_FALSE(IsLoginPage(Page("ObjectName=HelpPage&Action=Get&_SessionID_=" + session)))
        << "the session stays valid with the new password";
    Page(base + session + "&OldPassword=newpass1");
    model->GetSettings(settings);
    EXPECT_TRUE(settings->GetPassword().IsEmpty()) << "changing nothing stores an empty password";
    EXPECT_FALSE(IsLoginPage(Page("ObjectName=HelpPage&Action=Get")));
}

TEST_F(AdminTest, FiltrationIsSwitchedOffFromTheSettingsPage) {
    const std::string off =
        Page("ObjectName=SiteSettings&Action=SaveEdit&IsFiltrationOff=1&AdminEmail=a%40b.example");
    EXPECT_NE(std::string::npos, off.find("name=\"IsFiltrationOff\" value=\"1\" checked>")) << off;
    std::unique_ptr<tav::DataModel::Settings> settings;
    model->GetSettings(settings);
    EXPECT_FALSE(settings->GetIsFiltrationOn());
    EXPECT_EQ("a@b.example", settings->GetAdminEmail());
    EXPECT_NE(std::string::npos,
              PolicyFolder::Read(folder.PolicyPath()).find("<isfiltrationon>0</isfiltrationon>"))
        << "the change is in the policy file at once";
    Page("ObjectName=SiteSettings&Action=SaveEdit&AdminEmail=a%40b.example");
    model->GetSettings(settings);
    EXPECT_TRUE(settings->GetIsFiltrationOn());
}

} // namespace
