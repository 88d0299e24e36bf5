#include "AdminSite.hpp"
#include <support/FakeClock.hpp>

#include <quorrel/ActivityLog.hpp>
#include <quorrel/CustomerSite.hpp>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace admin_site;
using tav::ActivityLog;
using tav::DataModel;

constexpr std::int64_t MIB = 1048576;

// A week of a small family, written through the history's own writer: the children's computer
// (192.168.1.10, group 3) and the parents' (192.168.1.2, group 2), a computer the policy does not know and
// one whose group has been deleted since.
class ActivityPageTest : public AdminTest {
protected:
    void SetUp() override {
        // The history names days by the local time of the process; the fake clock's is UTC.
        if (const char* zone = std::getenv("TZ"))
            zoneBefore = zone;
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        AdminTest::SetUp();
        clock->SetTuesday(13, 0);
        model->SetClock(clock);
    }
    void TearDown() override {
        plugin->SetActivityLog(nullptr);
        log.reset();
        AdminTest::TearDown();
        if (zoneBefore)
            ::setenv("TZ", zoneBefore->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

    void StartLog() {
        ActivityLog::Options options;
        options.path = folder.Root() + "/activity.db";
        options.suffixList = folder.Root() + "/no-suffix-list"; // a site is then the last two labels
        options.now = [this] { return static_cast<std::time_t>(clock->Now()); };
        log = std::make_unique<ActivityLog>(options);
        plugin->SetActivityLog(log.get());
    }
    static std::time_t Tuesday(int hour, int minute) {
        return FakeClock::TUESDAY + hour * 3600 + minute * 60;
    }
    // One use a minute for `minutes` minutes from `start`, each of `bytes`.
    void Use(const std::string& client, const std::string& group, const std::string& host, std::time_t start,
             int minutes, std::int64_t bytes) {
        for (int minute = 0; minute < minutes; ++minute)
            log->Record(ActivityLog::Use{start + minute * 60, client, group, host,
                                         static_cast<std::uint64_t>(bytes)});
    }
    void Refuse(std::time_t time, const std::string& client, const std::string& group,
                const std::string& host, const std::string& path, const std::string& reason) {
        log->Record(
            ActivityLog::Refusal{time, client, group, path.empty() ? "https" : "http", host, path, reason});
    }
    void RecordWeek() {
        StartLog();
        Use("192.168.1.10", "3", "www.games.example", Tuesday(12, 0), 30, 100000);
        Use("192.168.1.10", "3", "cdn.video.example", Tuesday(12, 30), 5, 2 * MIB);
        Use("192.168.1.10", "3", "school.example", Tuesday(12, 0) - 86400, 45, MIB / 45);
        Use("192.168.1.2", "2", "news.example", Tuesday(11, 0), 12, MIB / 12);
        Use("10.0.0.99", "", "x.example", Tuesday(11, 0), 3, 1000);
        Use("10.0.0.7", "9", "old.example", Tuesday(10, 0), 2, 1000);
        Use("192.168.1.10", "3", "long.ago.example", Tuesday(12, 0) - 8 * 86400, 50, MIB);
        Refuse(Tuesday(12, 40), "192.168.1.10", "3", "casino.example", "/spin?a=1",
               "Site is blocked by Customer Blocked Sites List");
        Refuse(Tuesday(12, 45), "192.168.1.2", "2", "ads.example", "/banner", "Word in address");
        Refuse(Tuesday(12, 50), "192.168.1.10", "3", "<b>evil.example", "", "blocked, \"really\" <script>");
        Refuse(Tuesday(12, 55), "10.0.0.99", "", "stranger.example", "/%SESSION_ID%", "Unknown computer");
        log->Flush();
    }

    bool Shows(const std::string& page, const std::string& text) const {
        return page.find(text) != std::string::npos;
    }
    // The chart of each computer, by its caption's name.
    static std::map<std::string, std::string> Charts(const std::string& page) {
        std::map<std::string, std::string> charts;
        const std::regex figure(
            "<figure class=\"activity-chart\">\\s*<figcaption>([^<]*?) <span[\\s\\S]*?</figure>");
        for (auto at = std::sregex_iterator(page.begin(), page.end(), figure); at != std::sregex_iterator();
             ++at)
            charts[(*at)[1].str()] = (*at)[0].str();
        return charts;
    }
    // The texts of the cells of a table's body rows, one line per row joined with "|".
    static std::vector<std::string> Rows(const std::string& page, const std::string& table) {
        const std::size_t from = page.find("<table class=\"list\" id=\"" + table + "\">");
        const std::size_t to = page.find("</table>", from);
        const std::string body = page.substr(from, to - from);
        std::vector<std::string> rows;
        const std::regex row("<tr><td[\\s\\S]*?</tr>");
        for (auto at = std::sregex_iterator(body.begin(), body.end(), row); at != std::sregex_iterator();
             ++at)
            rows.push_back(
                std::regex_replace(std::regex_replace((*at)[0].str(), std::regex("</td><td[^>]*>"), "|"),
                                   std::regex("<form[\\s\\S]*?</form>|<[^>]*>|\n"), ""));
        return rows;
    }
    // The sites of a table of the sites used most, in their order.
    static std::vector<std::string> TopSites(const std::string& page, const std::string& title) {
        const std::size_t from = page.find("<h3>" + title + "</h3>");
        const std::string table = page.substr(from, page.find("</table>", from) - from);
        std::vector<std::string> sites;
        const std::regex site("<td class=\"uri\">([^<]*)</td>");
        for (auto at = std::sregex_iterator(table.begin(), table.end(), site); at != std::sregex_iterator();
             ++at)
            sites.push_back((*at)[1].str());
        return sites;
    }
    std::vector<DataModel::CustomerSite*> Trusted(const std::string& group) const {
        std::vector<DataModel::CustomerSite*> sites;
        model->GetCustomerSites(group, false, sites);
        return sites;
    }

    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::unique_ptr<ActivityLog> log;
    std::optional<std::string> zoneBefore;
};

TEST_F(ActivityPageTest, TheWeekShowsMinutesMegabytesTopSitesAndRefusalsNewestFirst) {
    RecordWeek();
    const std::string page = Page("ObjectName=Activity&Action=Get");
    EXPECT_EQ("", ErrorsOf(page));

    const auto charts = Charts(page);
    ASSERT_EQ(4u, charts.size()) << page;
    const std::string& kids = charts.at("192.168.1.10");
    for (const char* label :
         {">35</text>", ">12.9</text>", ">45</text>", ">1.0</text>", ">Tue 1</text>", ">Wed 25</text>"})
        EXPECT_TRUE(Shows(kids, label)) << label << "\n" << kids;
    EXPECT_FALSE(Shows(kids, ">50</text>")) << "a day before the week is left out";
    EXPECT_TRUE(Shows(charts.at("10.0.0.7"), "<span class=\"hint\">9</span>")) << "a deleted group by its ID";
    EXPECT_TRUE(Shows(charts.at("10.0.0.7"), ">&lt;0.1</text>")) << "a little use is not shown as none";
    EXPECT_TRUE(Shows(kids, "<span class=\"hint\">* restricted users *</span>"));

    const struct {
        const char* title;
        std::vector<std::string> sites;
    } tops[] = {
        {"Today, by time", {"games.example", "news.example", "video.example", "x.example", "old.example"}},
        {"Today, by traffic", {"video.example", "games.example", "news.example", "x.example", "old.example"}},
        {"Last 7 days, by time",
         {"school.example", "games.example", "news.example", "video.example", "x.example", "old.example"}},
    };
    for (const auto& top : tops)
        EXPECT_EQ(top.sites, TopSites(page, top.title)) << top.title;

    EXPECT_EQ(
        (std::vector<std::string>{
            "Tue 12:55|10.0.0.99|stranger.example|/&#37;SESSION_ID%|Unknown computer|",
            "Tue 12:50|192.168.1.10|&lt;b&gt;evil.example||blocked, &quot;really&quot; &lt;script&gt;|",
            "Tue 12:45|192.168.1.2|ads.example|/banner|Word in address|",
            "Tue 12:40|192.168.1.10|casino.example|/spin?a=1|Site is blocked by Customer Blocked Sites List|",
        }),
        Rows(page, "activity-refusals"));
    EXPECT_FALSE(Shows(page, "<b>evil")) << "hosts and reasons are text";
    std::size_t buttons = 0;
    for (std::size_t at = page.find(">Trust this site<"); at != std::string::npos;
         at = page.find(">Trust this site<", at + 1))
        ++buttons;
    EXPECT_EQ(3u, buttons) << "a button for each refusal of a computer in a group";

    Page("ObjectName=ClientGroup&Action=SaveNew&Name=Aardvarks");
    log->Flush();
    EXPECT_EQ((std::vector<std::string>{"Tue 13:00|127.0.0.1|change|ClientGroup|SaveNew||done"}),
              Rows(Page("ObjectName=Activity&Action=Get"), "activity-events"))
        << "the audit trail goes into the history";
}

TEST_F(ActivityPageTest, ANarrowedPageLeavesTheOthersOut) {
    RecordWeek();
    const struct {
        const char* id;
        const char* scope;
        const char* title;
        std::vector<std::string> computers;
        std::size_t refusals;
        const char* error;
    } cases[] = {
        {"3", "3", "* restricted users *", {"192.168.1.10"}, 2, ""},
        {"192.168.1.2", "192.168.1.2", "192.168.1.2", {"192.168.1.2"}, 1, ""},
        {"10.0.0.7",
         "",
         "All computers",
         {"10.0.0.7", "10.0.0.99", "192.168.1.10", "192.168.1.2"},
         4,
         "There is no group or computer 10.0.0.7: the page shows them all"},
    };
    for (const auto& c : cases) {
        const std::string page = Page(std::string("ObjectName=Activity&Action=Get&ID=") + c.id);
        std::vector<std::string> computers;
        for (const auto& chart : Charts(page))
            computers.push_back(chart.first);
        EXPECT_EQ(c.computers, computers) << c.id;
        EXPECT_EQ(c.refusals, Rows(page, "activity-refusals").size()) << c.id;
        EXPECT_TRUE(Shows(page, std::string("<span class=\"group-name\">") + c.title + "<")) << c.id;
        EXPECT_EQ(c.error, ErrorsOf(page)) << c.id;
        EXPECT_TRUE(Shows(page, std::string("name=\"ID\" value=\"") + c.scope + "\""))
            << c.id << ": the export takes the same computers";
    }
    EXPECT_FALSE(Shows(Page("ObjectName=Activity&Action=Get&ID=3"), "news.example"));
}

TEST_F(ActivityPageTest, TheExportIsTheWeekAsCsv) {
    RecordWeek();
    const SiteAnswer answer = Answer("ObjectName=Activity&Action=Export&ID=3");
    EXPECT_EQ("text/csv; charset=utf-8", answer.contentType);
    const std::map<std::string, std::string> fields(answer.fields.begin(), answer.fields.end());
    EXPECT_EQ("attachment; filename=\"activity.csv\"", fields.at("Content-Disposition"));
    EXPECT_EQ("record,day,time,computer,address,group,site,path,minutes,bytes,reason\r\n"
              "use,2026-11-30,,192.168.1.10,192.168.1.10,* restricted users *,school.example,,45,1048545,\r\n"
              "use,2026-12-01,,192.168.1.10,192.168.1.10,* restricted users *,games.example,,30,3000000,\r\n"
              "use,2026-12-01,,192.168.1.10,192.168.1.10,* restricted users *,video.example,,5,10485760,\r\n"
              "refused,2026-12-01,12:40:00,192.168.1.10,192.168.1.10,* restricted users *,casino.example,"
              "/spin?a=1,,,Site is blocked by Customer Blocked Sites List\r\n"
              "refused,2026-12-01,12:50:00,192.168.1.10,192.168.1.10,* restricted users *,<b>evil.example,,,,"
              "\"blocked, \"\"really\"\" <script>\"\r\n",
              answer.body);
    const std::string all = Answer("ObjectName=Activity&Action=Export").body;
    EXPECT_TRUE(Shows(all, ",stranger.example,/%SESSION_ID%,,,Unknown computer\r\n"))
        << "nothing of the file is taken for a placeholder";
    EXPECT_TRUE(Shows(all, ",10.0.0.7,10.0.0.7,9,old.example,"));

    // What a spreadsheet would run as a formula stays text.
    Refuse(Tuesday(12, 58), "10.0.0.99", "", "=1+2", "", "-x");
    log->Flush();
    EXPECT_TRUE(Shows(Answer("ObjectName=Activity&Action=Export").body, ",'=1+2,,,,'-x\r\n"));

    plugin->SetActivityLog(nullptr);
    EXPECT_EQ("record,day,time,computer,address,group,site,path,minutes,bytes,reason\r\n",
              Answer("ObjectName=Activity&Action=Export").body);
}

TEST_F(ActivityPageTest, TrustingARefusedSiteAddsItToTheGroup) {
    RecordWeek();
    const std::string before = folder.Policy();
    const std::size_t others = Trusted("2").size();
    const std::string page = Page("ObjectName=Activity&Action=SaveNew&ClientGroupID=3&Uri=casino.example");
    EXPECT_EQ(0u, MessagesOf(page).rfind("casino.example is now a trusted site of * restricted users *.", 0))
        << MessagesOf(page) << ErrorsOf(page);
    EXPECT_TRUE(Shows(page, "<span class=\"group-name\">* restricted users *<")) << "the group's activity";
    std::vector<std::string> trusted;
    for (const DataModel::CustomerSite* site : Trusted("3"))
        trusted.push_back(site->GetUrlText());
    EXPECT_EQ((std::vector<std::string>{"http://casino.example", "http://homework.example/"}), trusted)
        << "with the site the sample trusts";
    EXPECT_NE(before, folder.Policy()) << "the policy file has the site";
    EXPECT_EQ(others, Trusted("2").size()) << "no other group trusts it";

    EXPECT_EQ("Customer Site with the same URL already exists: http://casino.example/",
              ErrorsOf(Page("ObjectName=Activity&Action=SaveNew&ClientGroupID=3&Uri=casino.example")));
    EXPECT_EQ(
        "games.example is one of the blocked sites of * restricted users *: take it off that list on its "
        "Sites page to trust it",
        ErrorsOf(Page("ObjectName=Activity&Action=SaveNew&ClientGroupID=3&Uri=games.example")));
    EXPECT_EQ("Empty Client Group", ErrorsOf(Page("ObjectName=Activity&Action=SaveNew&Uri=casino.example")));
    log->Flush();
    const auto events = Rows(Page("ObjectName=Activity&Action=Get"), "activity-events");
    ASSERT_EQ(4u, events.size());
    EXPECT_EQ("Tue 13:00|127.0.0.1|change|Activity|SaveNew|3|done", events.back());
}

TEST_F(ActivityPageTest, TheHomePageSummarisesTodayAndEitherPageSaysWhenThereIsNoHistory) {
    RecordWeek();
    EXPECT_EQ((std::vector<std::string>{"* restricted users *|35|12.9|2", "* unrestricted users *|12|1.0|1",
                                        "9|2|&lt;0.1|0", "In no group|3|&lt;0.1|1"}),
              Rows(Page(""), "today-summary"));

    plugin->SetActivityLog(nullptr);
    for (const char* request : {"", "ObjectName=Activity&Action=Get"})
        EXPECT_TRUE(Shows(Page(request), "The history is off")) << request;
    EXPECT_FALSE(Shows(Page("ObjectName=Activity&Action=Get"), "id=\"activity-refusals\""));

    log.reset();
    clock->Advance(7 * 86400);
    StartLog();
    const std::string empty = Page("ObjectName=Activity&Action=Get");
    EXPECT_TRUE(Shows(empty, "Nothing recorded yet.")) << "a week later the week is empty";
    EXPECT_EQ((std::vector<std::string>{"Nothing refused."}), Rows(empty, "activity-refusals"));
    EXPECT_EQ((std::vector<std::string>{"Nothing recorded yet today."}), Rows(Page(""), "today-summary"));
}

} // namespace
