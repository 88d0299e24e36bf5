#include "PolicyFolder.hpp"
#include <support/FakeClock.hpp>

#include <gtest/gtest.h>

#include <filesystem>

using tav::DataModel;
using tav::Ret;

namespace {

// Group 4 has client 10.0.0.4 and group 5 client 10.0.0.5; neither has a time rule.
const std::string POLICY = "<tavdata><clientgroups><clientgroup><id>4</id><name>Kids</name></clientgroup>"
                           "<clientgroup><id>5</id><name>Teens</name></clientgroup></clientgroups><clients>"
                           "<client><ip>10.0.0.4</ip><groupid>4</groupid></client><client><ip>10.0.0.5</"
                           "ip><groupid>5</groupid></client>"
                           "</clients><settings><isfiltrationon>1</isfiltrationon></settings></tavdata>";

const std::string ALLOWED = "allowed: -";
const std::string CLOSED = "refused: You are prohibited to access the internet at this time";
const std::string EXHAUSTED = "refused: You are exhaust your time limits";
const std::int64_t HOUR = 3600;
const std::int64_t NOON = FakeClock::TUESDAY + 12 * HOUR;

class Controls : public testing::Test {
protected:
    Controls() {
        model->SetClock(clock);
        clock->SetTuesday(12, 0);
    }

    // The verdict on a request of the client, and its message ("-" when none).
    std::string Decide(tav::PROTOS protocol = tav::PROTO_HTTP, const std::string& ip = "10.0.0.4") {
        const std::string text = "http://a.example/";
        tav::uri url;
        EXPECT_TRUE(url.parse_absolute(text.data(), text.data() + text.size()));
        const DataModel::Verdict verdict = model->Decide(ip, url, protocol);
        return std::string(verdict.IsAllowed() ? "allowed: " : "refused: ") +
               (verdict.GetMessage().empty() ? "-" : verdict.GetMessage());
    }

    std::unique_ptr<DataModel::ClientGroup> Group() {
        return std::unique_ptr<DataModel::ClientGroup>(
            static_cast<DataModel::ClientGroup*>(model->GetClientGroup("4").GetObj()));
    }
    template <class Change> void EditGroup(Change change) {
        const std::unique_ptr<DataModel::ClientGroup> group = Group();
        change(*group);
        ASSERT_TRUE(model->SaveClientGroup(*group).IsOK());
    }
    void CloseTimeTable() {
        EditGroup([](DataModel::ClientGroup& group) {
            group.SetTimeTable(std::string(DataModel::ClientGroup::TIME_TABLE_LENGTH, '0'));
            group.SetIsTimeTableEnabled(true);
        });
    }
    // An hour a day, of which the client has used `worked` seconds today.
    void LimitToAnHour(std::int32_t worked) {
        EditGroup([](DataModel::ClientGroup& group) {
            for (unsigned day = 0; day < DataModel::ClientGroup::DAYS; ++day)
                group.SetTimeLimit(day, 60);
            group.SetIsTimeLimitsEnabled(true);
        });
        auto client = Client();
        client->SetDailyWorkedTime(worked);
        client->SetDailyWorkedTimeLastUpdate(clock->Now());
        ASSERT_TRUE(model->SaveClient(*client).IsOK());
    }
    std::unique_ptr<DataModel::ProtocolSettings> Settings(DataModel::ProtocolSettingsType type) {
        std::unique_ptr<DataModel::ProtocolSettings> settings;
        EXPECT_TRUE(model->GetProtocolSettings("4", type, settings).IsOK());
        return settings;
    }
    std::unique_ptr<DataModel::Client> Client(const std::string& ip = "10.0.0.4") {
        return std::unique_ptr<DataModel::Client>(
            static_cast<DataModel::Client*>(model->GetClient(ip).GetObj()));
    }

    PolicyFolder folder{POLICY};
    std::unique_ptr<DataModel> model = folder.Load();
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
};

} // namespace

TEST_F(Controls, APauseRefusesEveryProtocolUntilItEnds) {
    auto https = Settings(DataModel::PST_HTTPS);
    https->SetIsFiltrationEnabled(false);
    ASSERT_TRUE(model->SaveProtocolSettings("4", *https).IsOK());
    ASSERT_TRUE(model->PauseClientGroup("4", FakeClock::TUESDAY + 18 * HOUR).IsOK());

    const std::string paused = "refused: Internet access is paused until 18:00";
    const struct {
        int hour, minute;
        tav::PROTOS protocol;
        const char* ip;
        std::string expected;
    } cases[] = {
        {17, 59, tav::PROTO_HTTP, "10.0.0.4", paused},
        {17, 59, tav::PROTO_HTTPS, "10.0.0.4", paused}, // its filtration is off
        {17, 59, tav::PROTO_POP3, "10.0.0.4", paused},
        {17, 59, tav::PROTO_HTTP, "10.0.0.5", ALLOWED}, // another group
        {18, 0, tav::PROTO_HTTP, "10.0.0.4", ALLOWED},
        {18, 0, tav::PROTO_HTTPS, "10.0.0.4", ALLOWED},
    };
    for (const auto& c : cases) {
        clock->SetTuesday(c.hour, c.minute);
        EXPECT_EQ(Decide(c.protocol, c.ip), c.expected) << c.hour << ":" << c.minute << " " << c.protocol;
    }

    // The network switch comes first, the time table after the pause.
    clock->SetTuesday(17, 59);
    CloseTimeTable();
    EXPECT_EQ(Decide(), paused);
    https->SetIsNetworkEnabled(false);
    ASSERT_TRUE(model->SaveProtocolSettings("4", *https).IsOK());
    EXPECT_EQ(Decide(tav::PROTO_HTTPS), "refused: You are prohibited to access the internet");

    // The end is local time, two digits each, even on another day.
    ASSERT_TRUE(model->PauseClientGroup("4", FakeClock::TUESDAY + 33 * HOUR + 5 * 60).IsOK());
    EXPECT_EQ(Decide(), "refused: Internet access is paused until 09:05");
    ASSERT_TRUE(model->PauseClientGroup("4", 0).IsOK());
    EXPECT_EQ(Decide(), CLOSED);

    EXPECT_EQ(model->PauseClientGroup("9", 0).GetMessage(), "No such Group");
    EXPECT_EQ(model->PauseClientGroup("4", -1).GetMessage(),
              "The paused until value must be bigger or equals 0");
    EXPECT_EQ(Group()->GetPausedUntil(), 0);
}

TEST_F(Controls, ExtraTimeOutsideTheTimeTableRunsFromWhenItIsGiven) {
    CloseTimeTable();
    EXPECT_EQ(Decide(), CLOSED);
    ASSERT_TRUE(model->GiveExtraMinutes("10.0.0.4", 20).IsOK());
    clock->SetTuesday(12, 10);
    ASSERT_TRUE(model->GiveExtraMinutes("10.0.0.4", 10).IsOK()) << "adds up from the first";
    EXPECT_EQ(Client()->GetExtraMinutes(), 30);
    EXPECT_EQ(Client()->GetExtraMinutesGiven(), NOON);

    const struct {
        int hour, minute, second;
        std::string expected;
    } cases[] = {
        {11, 59, 59, CLOSED}, {12, 0, 0, ALLOWED}, {12, 29, 59, ALLOWED},
        {12, 30, 0, CLOSED},  {13, 0, 0, CLOSED},
    };
    for (const auto& c : cases) {
        clock->SetTuesday(c.hour, c.minute, c.second);
        EXPECT_EQ(Decide(), c.expected) << c.hour << ":" << c.minute << ":" << c.second;
    }
}

TEST_F(Controls, ExtraTimeEndsAtMidnight) {
    CloseTimeTable();
    clock->SetTuesday(23, 50);
    ASSERT_TRUE(model->GiveExtraMinutes("10.0.0.4", 30).IsOK());
    const struct {
        int hour, minute, second;
        std::string expected;
        std::int32_t extra;
    } cases[] = {
        {23, 50, 0, ALLOWED, 30},
        {23, 59, 59, ALLOWED, 30},
        {24, 0, 0, CLOSED, 0},
        {24, 10, 0, CLOSED, 0},
    };
    for (const auto& c : cases) {
        clock->SetTuesday(c.hour, c.minute, c.second);
        EXPECT_EQ(Decide(), c.expected) << c.hour << ":" << c.minute << ":" << c.second;
        EXPECT_EQ(model->GetExtraMinutesToday(*Client()), c.extra) << c.hour << ":" << c.minute;
    }
}

TEST_F(Controls, ExtraTimeRaisesTodaysTimeLimit) {
    EXPECT_EQ(model->GetRemainingMinutesToday(*Client()), -1) << "no time limit";
    ASSERT_TRUE(model->GiveExtraMinutes("10.0.0.4", 10).IsOK());
    EXPECT_EQ(Decide(), ALLOWED);
    EXPECT_EQ(model->GetRemainingMinutesToday(*Client()), -1) << "extra minutes alone make no limit";

    const struct {
        std::int32_t worked;
        std::string expected;
        std::int32_t remaining;
    } cases[] = {
        {0, ALLOWED, 70},
        {3601, ALLOWED, 9},
        {4200, ALLOWED, 0},
        {4201, EXHAUSTED, 0},
    };
    for (const auto& c : cases) {
        LimitToAnHour(c.worked);
        EXPECT_EQ(Decide(), c.expected) << c.worked;
        EXPECT_EQ(model->GetRemainingMinutesToday(*Client()), c.remaining) << c.worked;
    }

    ASSERT_TRUE(model->GiveExtraMinutes("10.0.0.4", 2000).IsOK());
    EXPECT_EQ(model->GetExtraMinutesToday(*Client()), 1440) << "at most a day";
    EXPECT_EQ(model->GiveExtraMinutes("10.9.9.9", 5).GetMessage(), "No such Client");
}

TEST_F(Controls, ExtraMinutesGivenOnAnotherDayCountForNothing) {
    LimitToAnHour(3700);
    const struct {
        std::int64_t given;
        std::string expected;
        std::int32_t extra;
    } cases[] = {
        {FakeClock::TUESDAY - 1, EXHAUSTED, 0},
        {NOON - 365 * 24 * HOUR, EXHAUSTED, 0}, // the same day of the year before
        {0, EXHAUSTED, 0},
        {FakeClock::TUESDAY, ALLOWED, 30},
    };
    for (const auto& c : cases) {
        auto client = Client();
        client->SetExtraMinutes(30);
        client->SetExtraMinutesGiven(c.given);
        ASSERT_TRUE(model->SaveClient(*client).IsOK());
        EXPECT_EQ(Decide(), c.expected) << c.given;
        EXPECT_EQ(model->GetExtraMinutesToday(*client), c.extra) << c.given;
    }

    // Those of another day are replaced, not added to.
    auto client = Client();
    client->SetExtraMinutesGiven(FakeClock::TUESDAY - HOUR);
    ASSERT_TRUE(model->SaveClient(*client).IsOK());
    ASSERT_TRUE(model->GiveExtraMinutes("10.0.0.4", 10).IsOK());
    EXPECT_EQ(Client()->GetExtraMinutes(), 10);
    EXPECT_EQ(Client()->GetExtraMinutesGiven(), NOON);
}

TEST_F(Controls, EditsRefuseLevelsAndMinutesOutOfRange) {
    auto https = Settings(DataModel::PST_HTTPS);
    auto& levels = static_cast<DataModel::HTTPSProtocolSettings&>(*https);
    levels.SetSafeSearch(3);
    levels.SetYouTubeRestrict(2);
    EXPECT_EQ(model->SaveProtocolSettings("4", *https).GetMessages(),
              std::vector<std::string>{"The safe search value must be 0, 1 or 2"});
    EXPECT_EQ(
        static_cast<DataModel::HTTPSProtocolSettings&>(*Settings(DataModel::PST_HTTPS)).GetYouTubeRestrict(),
        0);
    levels.SetSafeSearch(1);
    ASSERT_TRUE(model->SaveProtocolSettings("4", *https).IsOK());
    tav::uri url;
    const std::string text = "https://a.example/";
    ASSERT_TRUE(url.parse_absolute(text.data(), text.data() + text.size()));
    const DataModel::Verdict verdict = model->Decide("10.0.0.4", url, tav::PROTO_HTTPS);
    EXPECT_EQ(verdict.GetSafeSearch(), 1);
    EXPECT_EQ(verdict.GetYouTubeRestrict(), 2);

    auto client = Client();
    client->SetExtraMinutes(2000);
    EXPECT_EQ(model->SaveClient(*client).GetMessages(),
              std::vector<std::string>{"The extra minutes value must be between the 0 and 1440"});
    EXPECT_EQ(model->GiveExtraMinutes("10.0.0.4", -5).GetMessages(),
              std::vector<std::string>{"The extra minutes value must be between the 0 and 1440"});
    EXPECT_EQ(Client()->GetExtraMinutes(), 0);
}

TEST_F(Controls, CopiesAndAFailedSaveKeepTheControls) {
    ASSERT_TRUE(model->PauseClientGroup("4", FakeClock::TUESDAY + 18 * HOUR).IsOK());
    ASSERT_TRUE(model->GiveExtraMinutes("10.0.0.4", 30).IsOK());
    auto https = Settings(DataModel::PST_HTTPS);
    static_cast<DataModel::HTTPSProtocolSettings&>(*https).SetSafeSearch(2);
    ASSERT_TRUE(model->SaveProtocolSettings("4", *https).IsOK());

    const std::unique_ptr<DataModel::ClientGroup> stored = Group();
    const std::unique_ptr<DataModel::ClientGroup> copy = stored->Copy();
    DataModel::ClientGroup assigned(nullptr);
    assigned.AssignProtocolSettings(*copy->GetProtocolSettings(DataModel::PST_HTTPS));
    for (const DataModel::ClientGroup* group : {stored.get(), copy.get(), &assigned}) {
        EXPECT_EQ(
            static_cast<DataModel::HTTPSProtocolSettings&>(*group->GetProtocolSettings(DataModel::PST_HTTPS))
                .GetSafeSearch(),
            2);
        EXPECT_EQ(group->GetPausedUntil(), group == &assigned ? 0 : FakeClock::TUESDAY + 18 * HOUR);
    }

    // The save cannot write its file, so the edit is undone and the controls are as they were.
    std::filesystem::create_directory(folder.PolicyPath() + ".new");
    const Ret saved = model->EditAndSave([this] {
        model->PauseClientGroup("4", 0);
        model->GiveExtraMinutes("10.0.0.4", 10);
        return Ret(Ret::OK, "");
    });
    EXPECT_EQ(saved.GetMessage().rfind("The policy could not be saved: ", 0), 0u) << saved.GetMessage();
    EXPECT_EQ(Decide(), "refused: Internet access is paused until 18:00");
    EXPECT_EQ(Client()->GetExtraMinutes(), 30);
    EXPECT_EQ(Client()->GetExtraMinutesGiven(), NOON);
}
