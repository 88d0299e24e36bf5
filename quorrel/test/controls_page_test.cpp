#include "AdminSite.hpp"
#include <support/FakeClock.hpp>

#include <quorrel/Client.hpp>
#include <quorrel/ClientGroup.hpp>
#include <quorrel/HTTPSProtocolSettings.hpp>

#include <string>

namespace {

using namespace admin_site;
using tav::DataModel;
using Https = DataModel::HTTPSProtocolSettings;

constexpr std::int64_t HOUR = 3600;
constexpr std::int64_t TUESDAY = FakeClock::TUESDAY;

// A clock whose local time is `before` seconds ahead of UTC until Tuesday 01:00 UTC, then `after`.
class ShiftingClock : public FakeClock {
public:
    ShiftingClock(std::int64_t before, std::int64_t after) : m_before(before), m_after(after) {}
    std::tm LocalTime(std::int64_t time) const override {
        return FakeClock::LocalTime(time + (time < TUESDAY + HOUR ? m_before : m_after));
    }

private:
    std::int64_t m_before, m_after;
};

// What a model holds of the sample's group 3 ("* restricted users *", 120 minutes a day).
std::int64_t PausedUntil(const DataModel& m) {
    return std::unique_ptr<DataModel::ClientGroup>(
               static_cast<DataModel::ClientGroup*>(m.GetClientGroup("3").GetObj()))
        ->GetPausedUntil();
}
std::int32_t Level(const DataModel& m, std::int32_t (Https::*get)() const) {
    std::unique_ptr<DataModel::ProtocolSettings> settings;
    m.GetProtocolSettings("3", DataModel::PST_HTTPS, settings);
    return (dynamic_cast<const Https&>(*settings).*get)();
}

bool Shows(const std::string& page, const std::string& text) {
    return page.find(text) != std::string::npos;
}

// The text of the first match of `pattern`'s group in the page, or "none".
std::string Find(const std::string& page, const std::string& pattern) {
    std::smatch found;
    return std::regex_search(page, found, std::regex(pattern)) ? found[1].str() : "none";
}

// How many times `text` occurs in the page.
std::size_t Count(const std::string& page, const std::string& text) {
    std::size_t count = 0;
    for (std::size_t at = page.find(text); at != std::string::npos; at = page.find(text, at + 1))
        ++count;
    return count;
}

// The sample policy on Tuesday at 17:00.
class ControlsPageTest : public AdminTest {
protected:
    void SetUp() override {
        AdminTest::SetUp();
        clock->SetTuesday(17, 0);
        model->SetClock(clock);
    }
    // Refusals leave the policy file as it was.
    void ExpectRefused(const std::string& request, const std::string& error) {
        const std::string before = folder.Policy();
        EXPECT_EQ(error, ErrorsOf(Page(request))) << request;
        EXPECT_EQ(before, folder.Policy()) << request;
    }

    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
};

TEST_F(ControlsPageTest, APauseEndsWhenAskedResumeEndsItAndTheHomePageListsIt) {
    const std::string pause = "ObjectName=ClientGroup&Action=Pause&ClientGroupID=3&Minutes=";
    const struct {
        const char* minutes;
        std::int64_t until;
        const char* message;
        const char* line; // of the group's page
    } pauses[] = {
        {"15", TUESDAY + 17 * HOUR + 900, "The group is paused until 17:15.", ">Paused until <strong>17:15"},
        {"tomorrow", TUESDAY + 24 * HOUR, "The group is paused until 00:00.", ">Paused until <strong>00:00"},
        {"0", 0, "The group is no longer paused.", "hidden>Paused until <strong>"},
        {"60", TUESDAY + 18 * HOUR, "The group is paused until 18:00.", ">Paused until <strong>18:00"},
    };
    for (const auto& p : pauses) {
        const std::string page = Page(pause + p.minutes);
        EXPECT_EQ(p.until, PausedUntil(*model)) << p.minutes;
        EXPECT_EQ(p.until, PausedUntil(*folder.Load())) << p.minutes << ": the policy file has it";
        EXPECT_EQ(p.message, MessagesOf(page)) << ErrorsOf(page);
        EXPECT_EQ(p.line, Find(page, "<p class=\"paused-until\" ([^/]*)</strong>"));
    }
    EXPECT_EQ("Paused until 18:00",
              Find(Page("ObjectName=ClientGroup&Action=GetList"), "class=\"state\">(P[^<]*)"));
    EXPECT_EQ("* restricted users *</strong> is paused until 18:00", Find(Page(""), "<strong>(.*18:00)"));
    const std::string home = Page(pause + "0&Back=Home");
    EXPECT_EQ("The group is no longer paused.", MessagesOf(home));
    EXPECT_TRUE(Shows(home, "<h1>Welcome to Tollwick</h1>") && !Shows(home, "Right now")) << "nothing holds";
    const auto kids = model->CreateClientGroup();
    kids->SetName("<i>Kids</i>");
    ASSERT_TRUE(model->SaveClientGroup(*kids).IsOK());
    Page("ObjectName=ClientGroup&Action=Pause&Minutes=15&ClientGroupID=" + kids->GetID());
    EXPECT_TRUE(Shows(Page(""), "<strong>&lt;i&gt;Kids&lt;/i&gt;</strong> is paused until 17:15"))
        << "as text";

    for (const char* bad : {"5", "", "-15", "15x", "Tomorrow"})
        ExpectRefused(pause + bad, "A pause is 15 or 60 minutes, until tomorrow, or 0 to resume");
    ExpectRefused("ObjectName=ClientGroup&Action=Pause&ClientGroupID=99&Minutes=15", "No such Group");

    // Until tomorrow is the next local midnight also on the days the clocks change (at 02:00 local time).
    const struct {
        std::int64_t before, after, midnight;
    } shifts[] = {{HOUR, 2 * HOUR, 22 * HOUR}, {2 * HOUR, HOUR, 23 * HOUR}};
    for (const auto& s : shifts) {
        model->SetClock(std::make_shared<ShiftingClock>(s.before, s.after));
        EXPECT_EQ("The group is paused until 00:00.", MessagesOf(Page(pause + "tomorrow")));
        EXPECT_EQ(TUESDAY + s.midnight, PausedUntil(*model)) << s.before << " to " << s.after;
    }
}

TEST_F(ControlsPageTest, SafeSearchLevelsAreStoredAndTheCurrentOneIsMarked) {
    const std::string set = "ObjectName=ClientGroup&Action=SafeSearch&ClientGroupID=3&What=";
    const struct {
        const char* what;
        const char* level;
        const char* message;
        std::int32_t search, youtube;
    } choices[] = {
        {"search", "2", "Safe search is now strict.", 2, 0},
        {"youtube", "1", "YouTube restricted mode is now moderate.", 2, 1},
        {"search", "0", "Safe search is now off.", 0, 1},
    };
    for (const auto& c : choices) {
        const std::string page = Page(set + c.what + "&Level=" + c.level);
        EXPECT_EQ(c.message, MessagesOf(page)) << ErrorsOf(page);
        const auto stored = folder.Load();
        for (const DataModel* m : {model.get(), stored.get()}) {
            EXPECT_EQ(c.search, Level(*m, &Https::GetSafeSearch)) << c.message;
            EXPECT_EQ(c.youtube, Level(*m, &Https::GetYouTubeRestrict)) << c.message;
        }
        const std::string row = Find(page, std::string("(name=\"What\" value=\"") + c.what + "\"[^\\n]*)");
        EXPECT_EQ(c.level, Find(row, "value=\"(\\d)\" class=\"level current\" aria-pressed=\"true\""));
        EXPECT_EQ(1u, Count(row, "aria-pressed=\"true\"")) << "one of the three marked";
    }
    for (const char* bad : {"3", "-1", "", "1x", "01"})
        ExpectRefused(set + "search&Level=" + bad, "The level is 0 (off), 1 (moderate) or 2 (strict)");
    ExpectRefused(set + "bing&Level=1", "Choose safe search (search) or YouTube restricted mode (youtube)");
    ExpectRefused("ObjectName=ClientGroup&Action=SafeSearch&ClientGroupID=99&What=search&Level=1",
                  "No such Group");
}

TEST_F(ControlsPageTest, ExtraTimeAddsUpForTodayAndThePagesShowWhatIsLeft) {
    for (int tick = 0; tick <= 4; ++tick, clock->Advance(270))
        model->TickClientTime("192.168.1.10"); // 18 minutes of the 120
    const std::string give = "ObjectName=Client&Action=ExtraTime&ClientGroupID=3&ID=192.168.1.10&Minutes=";
    EXPECT_EQ("kids (192.168.1.10) has 30 extra minutes today: 132 min left today.",
              MessagesOf(Page(give + "30")));
    const std::string list = Page(give + "30");
    EXPECT_EQ("kids (192.168.1.10) has 60 extra minutes today: 162 min left today.", MessagesOf(list));
    EXPECT_TRUE(Shows(list, "<span>162 min left today</span> <span class=\"extra-today\">+60 today</span>"));
    EXPECT_TRUE(Shows(list, "<span class=\"group-name\">* restricted users *<")) << "the same list again";
    const auto stored = folder.Load();
    const std::unique_ptr<DataModel::Client> kids(
        static_cast<DataModel::Client*>(stored->GetClient("192.168.1.10").GetObj()));
    EXPECT_EQ(60, kids->GetExtraMinutes()) << "the policy file has it";
    EXPECT_TRUE(
        Shows(Page(""), "<strong>kids (192.168.1.10)</strong> has extra time: +60 today, 162 min left"));

    const std::string form = Page("ObjectName=Client&Action=ExtraTime&ID=192.168.1.2&Minutes=15&Back=Form");
    EXPECT_EQ("parents (192.168.1.2) has 15 extra minutes today; its group has no time limit.",
              MessagesOf(form));
    EXPECT_TRUE(Shows(form, "<h1>Computer</h1>")) << "the computer's form again";

    for (const char* bad : {"45", "", "-30", "1440"})
        ExpectRefused(give + bad, "Extra time is given in 15, 30 or 60 minutes");
    ExpectRefused("ObjectName=Client&Action=ExtraTime&ID=10.9.9.9&Minutes=15", "No such Client");
    clock->Advance(24 * HOUR);
    EXPECT_TRUE(Shows(Page("ObjectName=Client&Action=GetList&ClientGroupID=3"),
                      "<span>120 min left today</span> <span class=\"extra-today\"></span>"))
        << "extra time holds for its day only";
}

} // namespace
