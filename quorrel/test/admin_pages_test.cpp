#include "AdminSite.hpp"
#include <support/FakeClock.hpp>

#include <quorrel/Category.hpp>
#include <quorrel/Client.hpp>
#include <quorrel/ClientGroup.hpp>
#include <quorrel/CustomerSite.hpp>
#include <quorrel/HTTPProtocolSettings.hpp>

#include <set>
#include <string>
#include <vector>

namespace {

using namespace admin_site;
using tav::DataModel;

std::unique_ptr<DataModel::ClientGroup> GroupOf(const DataModel& model, const std::string& id) {
    const tav::Ret found = model.GetClientGroup(id);
    return std::unique_ptr<DataModel::ClientGroup>(static_cast<DataModel::ClientGroup*>(found.GetObj()));
}

std::unique_ptr<DataModel::ProtocolSettings> SettingsOf(const DataModel& model, const std::string& id,
                                                        DataModel::ProtocolSettingsType type) {
    std::unique_ptr<DataModel::ProtocolSettings> settings;
    model.GetProtocolSettings(id, type, settings);
    return settings;
}

const DataModel::HTTPProtocolSettings& AsHttp(const std::unique_ptr<DataModel::ProtocolSettings>& settings) {
    return dynamic_cast<const DataModel::HTTPProtocolSettings&>(*settings);
}

class AdminPagesTest : public AdminTest {
protected:
    bool Shows(const std::string& page, const std::string& text) const {
        return page.find(text) != std::string::npos;
    }
    std::unique_ptr<DataModel::ClientGroup> Group(const std::string& id) const { return GroupOf(*model, id); }
    std::unique_ptr<DataModel::ProtocolSettings> Http(const std::string& id) const {
        return SettingsOf(*model, id, DataModel::PST_HTTP);
    }
    std::string GroupNamed(const std::string& name) const {
        std::vector<DataModel::ClientGroup*> groups;
        model->GetClientGroups(groups);
        for (const DataModel::ClientGroup* group : groups)
            if (group->GetName() == name)
                return group->GetID();
        return "";
    }
    std::string Policy() const { return folder.Policy(); }
};

TEST_F(AdminPagesTest, ANewGroupBlocksThirteenCategoriesAndTheListIsSortedAsText) {
    const std::string list = Page("ObjectName=ClientGroup&Action=SaveNew&Name=+%3Cb%3EAardvarks%3C%2Fb%3E+");
    const std::string id = GroupNamed("<b>Aardvarks</b>");
    ASSERT_NE("", id) << ErrorsOf(list);
    std::vector<const DataModel::Category*> categories;
    model->GetCategories(categories);
    std::set<std::string> allowed;
    for (const DataModel::Category* category : categories)
        if (model->IsAllowedCategoryForClientGroup(id, category->GetID()))
            allowed.insert(category->GetID());
    EXPECT_EQ((std::set<std::string>{DataModel::CAT_WEB_CHAT.GetID(), DataModel::CAT_WEB_EMAIL.GetID()}),
              allowed);
    EXPECT_FALSE(Shows(list, "<b>Aardvarks")) << "names are shown as text";
    const std::size_t aardvarks = list.find("&lt;b&gt;Aardvarks");
    const std::size_t guests = list.find("* guests *");
    EXPECT_TRUE(aardvarks != std::string::npos && guests != std::string::npos && guests < aardvarks)
        << "sorted by name, byte-wise";
    EXPECT_TRUE(Shows(Policy(), "&lt;b&gt;Aardvarks&lt;/b&gt;")) << "the policy file has the group at once";

    EXPECT_EQ("Empty Name", ErrorsOf(Page("ObjectName=ClientGroup&Action=SaveNew&Name=+")));
    const std::string huge = Page("ObjectName=ClientGroup&Action=SaveNew&Name=" + std::string(10000, 'x'));
    EXPECT_EQ("The Name must be 100 characters or fewer", ErrorsOf(huge));
    EXPECT_EQ("", GroupNamed(std::string(10000, 'x')));
    EXPECT_TRUE(Shows(huge, std::string(10000, 'x'))) << "the form keeps what was typed";

    Page("ObjectName=ClientGroup&Action=SaveEdit&ClientGroupID=" + id + "&Name=Kids");
    EXPECT_EQ("Kids", Group(id)->GetName());
    EXPECT_EQ("No such Group", ErrorsOf(Page("ObjectName=ClientGroup&Action=GetEdit&ClientGroupID=x1")));
    EXPECT_EQ("No such Group",
              ErrorsOf(Page("ObjectName=ClientGroup&Action=SaveEdit&ClientGroupID=99&Name=a")));
    Page("ObjectName=ClientGroup&Action=Delete&DeleteID=" + id);
    EXPECT_EQ(nullptr, Group(id));
    EXPECT_FALSE(Shows(Policy(), "<name>Kids</name>"));
}

TEST_F(AdminPagesTest, ClientsShowTodaysUseAndKeepTheirLoginUnlessAsked) {
    auto clock = std::make_shared<FakeClock>();
    clock->SetTuesday(10, 0);
    model->SetClock(clock);
    model->TickClientTime("192.168.1.10");
    clock->Advance(119);
    model->TickClientTime("192.168.1.10");
    model->TickClientTraffic("192.168.1.10", 1048575);
    const std::string all = Page("ObjectName=Client&Action=GetList");
    EXPECT_TRUE(Shows(all, "All Groups"));
    EXPECT_TRUE(Shows(all, "1023 Kb"));
    EXPECT_TRUE(Shows(all, "192.168.1.2")) << "every client without a group";
    EXPECT_TRUE(Shows(all, "All Groups</button>")) << "the menu offers all groups";
    model->TickClientTraffic("192.168.1.10", 1);
    const std::string kids = Page("ObjectName=Client&Action=GetList&ClientGroupID=3");
    std::smatch use;
    ASSERT_TRUE(
        std::regex_search(kids, use, std::regex("<td class=\"num\">([^<]*)</td><td class=\"num\">([^<]*)<")));
    EXPECT_EQ("1", use[1].str()) << "119 seconds are one minute";
    EXPECT_EQ("1", use[2].str()) << "a mebibyte has no unit";
    EXPECT_TRUE(Shows(kids, "* restricted users *</span>")) << "the table is titled with the group";
    EXPECT_EQ("No such Group", ErrorsOf(Page("ObjectName=Client&Action=GetList&ClientGroupID=77")));

    Page("ObjectName=Client&Action=SaveEdit&ID=192.168.1.10&IP=192.168.1.10&ClientGroupID=2&Login=x&Password="
         "y");
    tav::Ret found = model->GetClient("192.168.1.10");
    std::unique_ptr<DataModel::Client> client(static_cast<DataModel::Client*>(found.GetObj()));
    EXPECT_EQ("2", client->GetGroupID()) << "moved to another group";
    EXPECT_EQ("kids", client->GetLogin()) << "the login changes only with the box ticked";
    Page("ObjectName=Client&Action=SaveEdit&ID=192.168.1.10&IP=192.168.1.10&ClientGroupID=2&Login=x&"
         "ChangeLoginInfo=1");
    found = model->GetClient("192.168.1.10");
    client.reset(static_cast<DataModel::Client*>(found.GetObj()));
    EXPECT_EQ("x", client->GetLogin());

    const struct {
        const char* ip;
        const char* group;
        const char* error;
    } refused[] = {
        {"192.168.1.+20", "3", "Bad IP"},
        {"192.168.001.20", "3", "Write the IP address as 4 numbers from 0 to 255 without leading zeros"},
        {"192.168.1.256", "3", "Write the IP address as 4 numbers from 0 to 255 without leading zeros"},
        {"", "3", "Empty IP"},
        {"192.168.1.20", "0", "Empty Group"},
        {"192.168.1.20", "99", "Can not find the Client Group with ID = 99"},
        {"192.168.1.2", "3", "The record with the same IP is exists."},
    };
    const std::string before = Policy();
    for (const auto& c : refused) {
        const std::string page =
            Page(std::string("ObjectName=Client&Action=SaveNew&IP=") + c.ip + "&ClientGroupID=" + c.group);
        EXPECT_EQ(c.error, ErrorsOf(page)) << c.ip;
        const std::string typed = std::regex_replace(c.ip, std::regex("\\+"), " ");
        EXPECT_TRUE(Shows(page, "value=\"" + typed + "\"")) << "the form keeps " << typed;
    }
    EXPECT_EQ(before, Policy()) << "nothing refused is stored";
}

TEST_F(AdminPagesTest, SwitchesFlipAndEveryToggleWritesThePolicy) {
    const struct {
        const char* object;
        const char* what;
        bool (*state)(const DataModel&);
    } switches[] = {
        {"HTTPSProtocolSettings", "Network",
         [](const DataModel& m) { return SettingsOf(m, "3", DataModel::PST_HTTPS)->GetIsNetworkEnabled(); }},
        {"HTTPProtocolSettings", "InnerTrustedDB",
         [](const DataModel& m) {
             return AsHttp(SettingsOf(m, "3", DataModel::PST_HTTP)).GetIsInnerTrustedDBEnabled();
         }},
        {"HTTPSBlockedUrlWords", "BlockedUrlWords",
         [](const DataModel& m) {
             return dynamic_cast<DataModel::BlockedUrlWordManager&>(*SettingsOf(m, "3", DataModel::PST_HTTPS))
                 .GetIsBlockedUrlWordsEnabled();
         }},
        {"Site", "FixTrustedSites",
         [](const DataModel& m) {
             return AsHttp(SettingsOf(m, "3", DataModel::PST_HTTP)).GetIsTrustedSitesFixed();
         }},
        {"ContentFiltration", "ContentTypes",
         [](const DataModel& m) {
             return AsHttp(SettingsOf(m, "3", DataModel::PST_HTTP)).GetIsContentTypesEnabled();
         }},
        {"GeneralProtocolSettings", "TimeLimits",
         [](const DataModel& m) { return GroupOf(m, "3")->GetIsTimeLimitsEnabled(); }},
    };
    for (const auto& s : switches) {
        const bool was = s.state(*model);
        const std::string toggle =
            std::string("ObjectName=") + s.object + "&Action=Toggle&ClientGroupID=3&ToggleWhat=";
        fs::remove(folder.PolicyPath());
        Page(toggle + s.what);
        EXPECT_NE(was, s.state(*model)) << s.object << " " << s.what;
        EXPECT_TRUE(fs::exists(folder.PolicyPath())) << "the toggle wrote the policy file";
        Page(toggle + "Nothing");
        EXPECT_NE(was, s.state(*model)) << "an unknown switch flips nothing";
        Page(toggle + s.what);
        EXPECT_EQ(was, s.state(*model));
    }
    EXPECT_EQ("No such Group",
              ErrorsOf(Page("ObjectName=FTPProtocolSettings&Action=Toggle&ToggleWhat=Network")));
    EXPECT_TRUE(Shows(Page("ObjectName=FTPProtocolSettings&Action=Get"), "* guests *"))
        << "without a group the page shows the first one";
    EXPECT_EQ("No such Group", ErrorsOf(Page("ObjectName=MailProtocolSettings&Action=Get&ClientGroupID=9")));
}

TEST_F(AdminPagesTest, AChangeThatCannotBeWrittenIsShownAsFailedAndUndone) {
    // A folder where the new file must be written makes every save fail, whoever runs the test.
    const std::string blocker = folder.PolicyPath() + ".new";
    ASSERT_TRUE(model->SaveTunes().IsOK());
    const std::string before = Policy();
    for (const char* change : {
             "ObjectName=ClientGroup&Action=SaveNew&Name=Aardvarks",
             "ObjectName=Client&Action=Delete&DeleteID=192.168.1.10",
             "ObjectName=HTTPSProtocolSettings&Action=Toggle&ClientGroupID=3&ToggleWhat=Network",
             "ObjectName=SiteSettings&Action=SaveEdit&IsFiltrationOff=1",
         }) {
        fs::create_directory(blocker);
        const std::string page = Page(change);
        EXPECT_EQ("The policy could not be saved: " + folder.PolicyPath() + ": Is a directory",
                  ErrorsOf(page))
            << change << ": " << ErrorsOf(page);
        EXPECT_FALSE(Shows(page, "Aardvarks")) << change << ": the page shows the policy as it is";
        EXPECT_EQ(before, Policy()) << change;
        fs::remove(blocker);
        ASSERT_TRUE(model->SaveTunes().IsOK());
        EXPECT_EQ(before, Policy()) << change << ": the model is as it was";
    }
    EXPECT_TRUE(Shows(Page("ObjectName=ClientGroup&Action=SaveNew&Name=Aardvarks"), "Aardvarks"));
    EXPECT_NE(before, Policy()) << "the same change is written once it can be";
}

TEST_F(AdminPagesTest, TheGeneralPageSummarisesTheTimeRules) {
    auto group = Group("1");
    std::string table(336, '1');
    for (std::size_t at = 48; at < 96; ++at)
        table[at] = at % 2 ? '1' : '0'; // Monday: only second halves
    for (std::size_t at = 96; at < 144; ++at)
        table[at] = at % 2 ? '0' : '1'; // Tuesday: only first halves
    group->SetTimeTable(table);
    group->SetTrafficLimit(0, 0);
    group->SetTrafficLimit(1, 5);
    group->SetTrafficLimit(2, tav::EMPTY_VALUE);
    group->SetTimeLimit(3, 90);
    ASSERT_TRUE(model->SaveClientGroup(*group).IsOK());
    const std::string page = Page("ObjectName=Filtering&Action=Get&ClientGroupID=1");
    EXPECT_TRUE(Shows(page, "Sun:100%, Mon:0%, Tue:100%, Wed:100%")) << page;
    EXPECT_TRUE(Shows(page, "Sun:blocked, Mon:5mb, Tue:unlimited, Wed:100mb"));
    EXPECT_TRUE(Shows(page, "Wed:90min"));
    EXPECT_TRUE(Shows(Page("ObjectName=GeneralProtocolSettings&Action=Get&ClientGroupID=1"), "Wed:90min"))
        << "both names show the same page";
}

TEST_F(AdminPagesTest, TheTimeTableAndTheLimitsAreSavedPerWeekday) {
    std::string table(336, '1');
    table.replace(0, 24, 24, '0'); // Sunday morning off
    const std::string saved =
        Page("ObjectName=TimeTable&Action=SaveEdit&ClientGroupID=1&IsTimeTableEnabled=1&TimeTable=" + table);
    EXPECT_EQ(table, Group("1")->GetTimeTable());
    EXPECT_TRUE(Group("1")->GetIsTimeTableEnabled());
    EXPECT_TRUE(Shows(saved, "Sun:50%, Mon:100%")) << "a save shows the general page";
    EXPECT_TRUE(Shows(Page("ObjectName=TimeTable&Action=Get&ClientGroupID=1"), "value=\"" + table + "\""));
    EXPECT_EQ("Invalid TimeTable length",
              ErrorsOf(Page("ObjectName=TimeTable&Action=SaveEdit&ClientGroupID=1&TimeTable=101")));
    EXPECT_EQ(table, Group("1")->GetTimeTable());
    EXPECT_EQ("Empty Client Group",
              ErrorsOf(Page("ObjectName=TimeTable&Action=SaveEdit&TimeTable=" + table)));

    Page("ObjectName=TimeLimits&Action=SaveEdit&ClientGroupID=1&IsTimeLimitsEnabled=1&TimeLimit_0=60&"
         "TimeLimit_1=0&TimeLimitEx_2=30&TimeLimit_3=1440&TimeLimit_4=5&TimeLimit_5=5&TimeLimit_6=5");
    auto group = Group("1");
    EXPECT_EQ((std::vector<int>{60, 0, 30, 1440, 5, 5, 5}),
              (std::vector<int>{group->GetTimeLimit(0), group->GetTimeLimit(1), group->GetTimeLimit(2),
                                group->GetTimeLimit(3), group->GetTimeLimit(4), group->GetTimeLimit(5),
                                group->GetTimeLimit(6)}));
    Page("ObjectName=TimeLimits&Action=SaveEdit&ClientGroupID=1&TimeLimit_0=7");
    EXPECT_FALSE(Group("1")->GetIsTimeLimitsEnabled());
    EXPECT_EQ(60, Group("1")->GetTimeLimit(0)) << "switched off, the limits stay";

    const struct {
        const char* form;
        const char* error;
    } refused[] = {
        {"TimeLimits&Action=SaveEdit&IsTimeLimitsEnabled=1&TimeLimit_2=1441",
         "The time limit value for Tue must be between the 0 and 1440"},
        {"TimeLimits&Action=SaveEdit&IsTimeLimitsEnabled=1&TimeLimit_2=-1",
         "The time limit value for Tue must be between the 0 and 1440"},
        {"TimeLimits&Action=SaveEdit&IsTimeLimitsEnabled=1&TimeLimit_2=ten",
         "The time limit value for Tue must be a whole number"},
        {"TrafficLimits&Action=SaveEdit&IsTrafficLimitsEnabled=1&TrafficLimit_6=-3",
         "The traffic limit value for Sat must be bigger or equals 0"},
        {"TrafficLimits&Action=SaveEdit&IsTrafficLimitsEnabled=1&TrafficLimit_6=99999999999",
         "The traffic limit value for Sat must be a whole number"},
    };
    const std::string before = Policy();
    for (const auto& c : refused) {
        const std::string page = Page(std::string("ObjectName=") + c.form +
                                      "&ClientGroupID=1&TimeLimitEx_0=1&"
                                      "TimeLimitEx_1=1&TimeLimitEx_2=1&TimeLimitEx_3=1&"
                                      "TimeLimitEx_4=1&TimeLimitEx_5=1&TimeLimitEx_6=1");
        EXPECT_EQ(c.error, ErrorsOf(page)) << c.form;
    }
    EXPECT_EQ(before, Policy());
    EXPECT_TRUE(Shows(Page("ObjectName=TimeLimits&Action=SaveEdit&ClientGroupID=1&IsTimeLimitsEnabled=1&"
                           "TimeLimit_2=1441"),
                      "value=\"1441\""))
        << "the page shows the submitted values";

    Page("ObjectName=TrafficLimits&Action=SaveEdit&ClientGroupID=1&IsTrafficLimitsEnabled=1&TrafficLimit_0=0&"
         "TrafficLimit_1=250");
    EXPECT_EQ(0, Group("1")->GetTrafficLimit(0));
    EXPECT_EQ(250, Group("1")->GetTrafficLimit(1));
    EXPECT_EQ(tav::EMPTY_VALUE, Group("1")->GetTrafficLimit(5)) << "a day not sent is unlimited";
}

TEST_F(AdminPagesTest, SitesAreStoredAsTypedAndTestedWithTheReport) {
    const std::string base = "ObjectName=Site&ClientGroupID=3&";
    const struct {
        const char* typed;
        const char* stored;
        const char* shown;
    } sites[] = {
        {"casino.example", "http://casino.example", "casino.example/"},
        {"https%3A%2F%2Fbank.example", "http://https://bank.example", nullptr}, // what the site keeps
        {"http%3A%2F%2Fgames.example%3A8080%2Fplay%2Fnow", "http://games.example:8080/play/now",
         "games.example:8080/play/now"},
    };
    for (const auto& s : sites) {
        const std::string page = Page(base + "Action=SaveNew&IsBlocked=1&Uri=" + s.typed);
        std::vector<DataModel::CustomerSite*> blocked;
        model->GetCustomerSites("3", true, blocked);
        bool found = false;
        for (const DataModel::CustomerSite* site : blocked)
            found = found || site->GetUrlText() == s.stored;
        EXPECT_TRUE(found) << s.typed << ": " << ErrorsOf(page);
        if (s.shown) {
            EXPECT_TRUE(Shows(page, std::string(">") + s.shown + "<")) << s.typed;
        }
    }
    const std::string before = Policy();
    EXPECT_EQ("Bad Url", ErrorsOf(Page(base + "Action=SaveNew&IsBlocked=1&Uri=a.example%3Aport")));
    EXPECT_EQ("Empty Host", ErrorsOf(Page(base + "Action=SaveNew&IsBlocked=0&Uri=")));
    EXPECT_EQ(before, Policy()) << "a site that is not an address is not stored";
    Page(base + "Action=Toggle&ToggleWhat=FixTrustedSites");
    const std::string fixed = Page(base + "Action=Get");
    EXPECT_TRUE(Shows(fixed, "Attantion: Fixed Mode."));
    EXPECT_TRUE(Shows(Page("ObjectName=HTTPProtocolSettings&Action=Get&ClientGroupID=3"),
                      "Sites in the list: 1 FIXED<"));

    const std::string report = Page(base + "Action=TestURI&Uri=games.example%2F");
    EXPECT_EQ(
        "Tested URL: http://games.example/<br>User Group: * restricted users *<br>Customer DB: tested URL is "
        " defined as Blocked<br>Inner DB: tested URL is  not defined<br>URL accessibility: Blocked",
        MessagesOf(report));
    EXPECT_EQ("URL (http://a.example:port) is incorrect.",
              ErrorsOf(Page(base + "Action=TestURI&Uri=a.example%3Aport")));
    EXPECT_EQ("Empty Client Group", ErrorsOf(Page("ObjectName=Site&Action=TestURI&Uri=a.example")));
}

TEST_F(AdminPagesTest, RuleListsShowTheirCategoriesAndRefuseEmptyRules) {
    const std::string base = "ObjectName=HTTPBlockedUrlWords&ClientGroupID=3&";
    std::string every;
    std::vector<const DataModel::Category*> categories;
    model->GetCategories(categories);
    for (const DataModel::Category* category : categories)
        every += "&BlockedUrlWord_" + category->GetID() + "=1";
    const std::string list = Page(base + "Action=SaveNew&Word=+roulette+" + every);
    std::smatch row;
    ASSERT_TRUE(std::regex_search(list, row, std::regex("roulette</td><td title=\"([^\"]*)\">([^<]*)<")))
        << list;
    const std::string full = row[1].str();
    const std::string shown = row[2].str();
    EXPECT_GT(full.size(), 50u);
    EXPECT_EQ(full.substr(0, 47) + "...", shown);
    EXPECT_EQ("Empty Word<br>At least one Category must be selected",
              ErrorsOf(Page(base + "Action=SaveNew&Word=+")));
    EXPECT_EQ("Empty Client Group", ErrorsOf(Page("ObjectName=HTTPBlockedUrlWords&Action=SaveNew&Word=a")));

    std::vector<boost::shared_ptr<DataModel::BlockedUrlWord>> https;
    model->GetBlockedUrlWords("3", DataModel::PST_HTTPS, https);
    for (const auto& word : https)
        EXPECT_NE("roulette", word->GetWord()) << "the HTTPS list is its own";

    Page("ObjectName=ContentTypes&ClientGroupID=3&Action=SaveNew&ContentType=+video%2Fmp4+&Description=Films&"
         "ContentTypeAction=1");
    EXPECT_TRUE(Shows(Page("ObjectName=ContentTypes&ClientGroupID=3&Action=GetList"), "Preventing"));
    EXPECT_EQ("Not valid Action", ErrorsOf(Page("ObjectName=ContentTypes&ClientGroupID=3&Action=SaveNew&"
                                                "ContentType=a%2Fb&ContentTypeAction=7")));

    Page("ObjectName=ContentFiltration&ClientGroupID=3&Action=SaveEdit&IsContentFiltrationEnabled=1&"
         "SeverityLevel=3");
    EXPECT_EQ(3, AsHttp(Http("3")).GetSeverityLevel());
    Page("ObjectName=ContentFiltration&ClientGroupID=3&Action=SaveEdit&SeverityLevel=5");
    EXPECT_FALSE(AsHttp(Http("3")).GetIsContentFiltrationEnabled());
    EXPECT_EQ(3, AsHttp(Http("3")).GetSeverityLevel()) << "switched off, the level stays";

    Page("ObjectName=BlockedCategory&ClientGroupID=3&Action=SaveEdit");
    for (const DataModel::Category* category : categories)
        EXPECT_TRUE(model->IsAllowedCategoryForClientGroup("3", category->GetID())) << category->GetName();
}

TEST_F(AdminPagesTest, TypedValuesNeverComeBackAsMarkupOrPlaceholders) {
    const std::string page =
        Page("ObjectName=Site&Action=Get&ClientGroupID=3&Uri=%3Cscript%3Ex%25SESSION_ID%25");
    EXPECT_FALSE(Shows(page, "<script>x"));
    EXPECT_TRUE(Shows(page, "&lt;script&gt;x&#37;SESSION_ID%")) << "a typed placeholder stays text";
    const std::string none = Page("ObjectName=TimeLimits&Action=Get&ClientGroupID=404");
    EXPECT_EQ("No such Group", ErrorsOf(none));
    EXPECT_FALSE(std::regex_search(none, std::regex("%[A-Z_0-9]+%")))
        << "an unknown group leaves no placeholder";
}

} // namespace
