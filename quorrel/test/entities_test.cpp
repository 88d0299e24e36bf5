#include <quorrel/DataModel.hpp>

#include <gtest/gtest.h>

#include <stdexcept>

using tav::DataModel;
using tav::EMPTY_VALUE;
using tav::Ret;
using Messages = std::vector<std::string>;

namespace {

template <class T> boost::shared_ptr<T> Shared(T* entity) {
    return boost::shared_ptr<T>(entity);
}

boost::shared_ptr<DataModel::BlockedUrlWord> Word(const std::string& id, const std::string& word) {
    auto entity = Shared(new DataModel::BlockedUrlWord(nullptr));
    entity->SetID(id);
    entity->SetWord(word);
    entity->SetCategoriesMask(1);
    return entity;
}

DataModel::ClientGroup ValidGroup() {
    DataModel::ClientGroup group(nullptr);
    group.SetID("4");
    group.SetName("Kids");
    return group;
}

} // namespace

TEST(ClientGroup, NewGroupHasTheDefaults) {
    const DataModel::ClientGroup group(nullptr);
    EXPECT_EQ(group.GetTimeTable(), std::string(336, '1'));
    EXPECT_FALSE(group.GetIsTimeTableEnabled());
    EXPECT_FALSE(group.GetIsTimeLimitsEnabled());
    EXPECT_FALSE(group.GetIsTrafficLimitsEnabled());
    EXPECT_EQ(group.GetBlockedCategoriesMask(), 0u);
    for (unsigned day = 0; day < DataModel::ClientGroup::DAYS; ++day) {
        EXPECT_EQ(group.GetTimeLimit(day), 0);
        EXPECT_EQ(group.GetTrafficLimit(day), 100);
    }

    const auto& all = group.GetProtocolsSettings().GetAll();
    ASSERT_EQ(all.size(), 5u);
    int expectedType = DataModel::PST_HTTP;
    for (const auto& [type, settings] : all) {
        EXPECT_EQ(type, expectedType++);
        EXPECT_EQ(settings->GetType(), type);
        EXPECT_TRUE(settings->GetIsNetworkEnabled());
        EXPECT_TRUE(settings->GetIsFiltrationEnabled());
        EXPECT_FALSE(settings->GetCanAccessByIP());
        EXPECT_EQ(settings->GetOwner(), nullptr);
        EXPECT_TRUE(settings->Validate(false).IsOK());
    }
    EXPECT_FALSE(group.GetProtocolSettings(static_cast<DataModel::ProtocolSettingsType>(0)));

    const auto http = boost::dynamic_pointer_cast<DataModel::HTTPProtocolSettings>(
        group.GetProtocolSettings(DataModel::PST_HTTP));
    ASSERT_TRUE(http);
    EXPECT_TRUE(http->GetIsInnerTrustedDBEnabled());
    EXPECT_TRUE(http->GetIsInnerBlockedDBEnabled());
    EXPECT_FALSE(http->GetIsTrustedSitesEnabled() || http->GetIsBlockedSitesEnabled() ||
                 http->GetIsTrustedSitesFixed() || http->GetIsBlockedUrlWordsEnabled() ||
                 http->GetIsContentFiltrationEnabled() || http->GetIsInapContentWordsEnabled() ||
                 http->GetIsContentTypesEnabled());
    EXPECT_EQ(http->GetSeverityLevel(), 1);
    const auto https = boost::dynamic_pointer_cast<DataModel::HTTPSProtocolSettings>(
        group.GetProtocolSettings(DataModel::PST_HTTPS));
    ASSERT_TRUE(https);
    EXPECT_FALSE(https->GetIsBlockedUrlWordsEnabled());
    EXPECT_TRUE(https->GetWords().empty());
}

TEST(ClientGroup, DayIndexAboveSixThrows) {
    DataModel::ClientGroup group(nullptr);
    EXPECT_THROW(group.GetTimeLimit(7), std::out_of_range);
    EXPECT_THROW(group.SetTrafficLimit(7, 1), std::out_of_range);
    try {
        group.GetTrafficLimit(100);
        FAIL();
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "iWeekDayIdx parameter value must be from the 0 to the 6 inclusive");
    }
}

TEST(ClientGroup, ValidationReportsEveryProblemInOrder) {
    EXPECT_TRUE(ValidGroup().Validate(false).IsOK());
    EXPECT_EQ(ValidGroup().Validate(false).GetMessages(), Messages{});

    DataModel::ClientGroup group(nullptr);
    group.SetTimeTable("");
    group.SetTimeLimit(1, 1441);
    group.SetTimeLimit(0, EMPTY_VALUE);
    group.SetTimeLimit(2, -1);
    group.SetTimeLimit(3, 1440);
    group.SetTrafficLimit(6, -1);
    group.SetTrafficLimit(5, EMPTY_VALUE);
    const Ret ret = group.Validate(false);
    EXPECT_EQ(ret.GetCode(), Ret::ERR);
    EXPECT_EQ(ret.GetMessages(),
              (Messages{"Empty ID", "Empty Name", "Empty TimeTable", "Empty time limit value for Sun",
                        "The time limit value for Mon must be between the 0 and 1440",
                        "The time limit value for Tue must be between the 0 and 1440",
                        "The traffic limit value for Sat must be bigger or equals 0"}));

    group.SetTimeTable(std::string(335, '1'));
    EXPECT_EQ(group.Validate(true).GetMessages()[1], "Invalid TimeTable length");
    EXPECT_EQ(group.Validate(true).GetMessages()[0], "Empty Name");
}

TEST(ClientGroup, EmptyCheckOfIdAndNameIsZeroLength) {
    DataModel::ClientGroup group = ValidGroup();
    group.SetID(" ");
    group.SetName(" ");
    EXPECT_TRUE(group.Validate(false).IsOK());
}

TEST(ClientGroup, CopiesShareTheirProtocolSettings) {
    DataModel::ClientGroup group = ValidGroup();
    DataModel::ClientGroup copy(group);
    EXPECT_EQ(copy.GetProtocolSettings(DataModel::PST_FTP), group.GetProtocolSettings(DataModel::PST_FTP));
    copy.GetProtocolSettings(DataModel::PST_MAIL)->SetIsNetworkEnabled(false);
    EXPECT_FALSE(group.GetProtocolSettings(DataModel::PST_MAIL)->GetIsNetworkEnabled());

    DataModel::ClientGroup assigned(nullptr);
    assigned = group;
    EXPECT_EQ(assigned.GetProtocolSettings(DataModel::PST_HTTP),
              group.GetProtocolSettings(DataModel::PST_HTTP));
    EXPECT_EQ(assigned.GetName(), "Kids");
}

TEST(ClientGroup, AssigningSettingsCopiesByType) {
    DataModel::ClientGroup group = ValidGroup();
    const auto stored = group.GetProtocolSettings(DataModel::PST_HTTP);

    DataModel::HTTPProtocolSettings http(
        *boost::dynamic_pointer_cast<DataModel::HTTPProtocolSettings>(stored));
    DataModel::BlockedUrlWords words{Word("1", "casino")};
    http.SetWords(words);
    http.SetIsContentTypesEnabled(true);
    http.SetSeverityLevel(static_cast<DataModel::SeverityLevels>(3));
    http.SetCanAccessByIP(true);
    group.AssignProtocolSettings(http);

    const auto& result =
        dynamic_cast<const DataModel::HTTPProtocolSettings&>(*group.GetProtocolSettings(DataModel::PST_HTTP));
    EXPECT_EQ(group.GetProtocolSettings(DataModel::PST_HTTP), stored) << "the group keeps its own object";
    EXPECT_TRUE(result.GetIsContentTypesEnabled());
    EXPECT_EQ(result.GetSeverityLevel(), 3);
    EXPECT_TRUE(result.GetCanAccessByIP());
    ASSERT_EQ(result.GetWords().size(), 1u);
    EXPECT_EQ(*result.GetWords().begin(), *words.begin()) << "entries are shared, not copied";

    DataModel::FTPProtocolSettings ftp;
    ftp.SetIsFiltrationEnabled(false);
    group.AssignProtocolSettings(ftp);
    EXPECT_FALSE(group.GetProtocolSettings(DataModel::PST_FTP)->GetIsFiltrationEnabled());
    EXPECT_TRUE(group.GetProtocolSettings(DataModel::PST_SOCKS)->GetIsFiltrationEnabled());
}

TEST(Client, ValidationOrderAndGroupRules) {
    DataModel::Client client(nullptr);
    EXPECT_EQ(client.Validate(false).GetMessages(), (Messages{"Empty ID", "Empty IP", "Empty Group"}));
    EXPECT_EQ(client.Validate(true).GetMessages(), (Messages{"Empty IP", "Empty Group"}));

    client.SetID("10.0.0.1");
    client.SetIP("10.0.0");
    client.SetGroupID("0");
    EXPECT_EQ(client.Validate(false).GetMessages(), (Messages{"Bad IP", "Empty Group"}));

    client.SetIP("10.0.0.1");
    client.SetGroupID("5");
    EXPECT_EQ(client.GetGroupPtr(), nullptr);
    EXPECT_EQ(client.Validate(false).GetMessages(), Messages{"Can not find the Client Group with ID = 5"});
    EXPECT_EQ(client.GetDailyWorkedTime(), 0);
    EXPECT_EQ(client.GetDailyWorkedTrafficLastUpdate(), 0);
}

TEST(CustomerSite, KeyIsTheFlattenedUrlAndValidationStopsAtTheFirstProblem) {
    DataModel::CustomerSite site(nullptr, true);
    EXPECT_TRUE(site.GetIsBlocked());
    EXPECT_TRUE(site.SetUrl("HTTP://Example.COM"));
    EXPECT_EQ(site.GetUrlText(), "HTTP://Example.COM");
    EXPECT_EQ(site.GetKey(), "http://example.com/");
    EXPECT_EQ(site.Validate(false).GetMessages(), Messages{"Empty ID"});
    EXPECT_EQ(site.Validate(true).GetMessages(), Messages{""});
    EXPECT_TRUE(site.Validate(true).IsOK());

    site.SetID("1");
    EXPECT_FALSE(site.SetUrl("http://host:port/"));
    EXPECT_EQ(site.GetUrlText(), "http://host:port/");
    EXPECT_EQ(site.Validate(false).GetMessages(), Messages{"Bad Url"});

    EXPECT_TRUE(site.SetUrl("http:///path"));
    EXPECT_EQ(site.Validate(false).GetMessages(), Messages{"Empty Host"});
    EXPECT_TRUE(site.SetUrl("example.com"));
    EXPECT_EQ(site.Validate(false).GetMessage(), "Empty Host");
}

TEST(ListEntities, ValidationMessagesInOrder) {
    DataModel::BlockedUrlWord word(nullptr);
    EXPECT_EQ(word.GetCategoriesMask(), 0);
    EXPECT_EQ(word.Validate(false).GetMessages(),
              (Messages{"Empty ID", "Empty Word", "At least one Category must be selected"}));
    word.SetWord(" \t");
    word.SetCategoriesMask(0x20);
    EXPECT_EQ(word.Validate(true).GetMessages(), Messages{"Empty Word"});

    DataModel::InapContentWord inap(nullptr);
    EXPECT_EQ(inap.Validate(false).GetMessages(), (Messages{"Empty ID", "Empty Word"}));

    DataModel::ContentType type(nullptr);
    EXPECT_EQ(type.GetAction(), DataModel::PassingThrough);
    type.SetAction(static_cast<DataModel::ContentTypeAction>(3));
    EXPECT_EQ(type.Validate(false).GetMessages(), (Messages{"Empty ID", "Empty Type", "Not valid Action"}));
    type.SetAction(DataModel::Filtering);
    type.SetType("video/");
    EXPECT_TRUE(type.Validate(true).IsOK());

    DataModel::SecurityQuestion question(nullptr);
    EXPECT_EQ(question.Validate(false).GetMessages(), (Messages{"Empty ID", "Empty Question"}));
}

TEST(Settings, DefaultsAndAnswerNeededOnlyWithAQuestion) {
    DataModel::Settings settings(nullptr);
    EXPECT_FALSE(settings.GetIsFiltrationOn());
    EXPECT_TRUE(settings.GetIsRunAtStartup());
    EXPECT_EQ(settings.GetSecurityQuestionID(), "");
    EXPECT_TRUE(settings.Validate(false).IsOK());

    auto question = Shared(new DataModel::SecurityQuestion(nullptr));
    question->SetID("2");
    settings.SetSecurityQuestion(question);
    settings.SetSecurityAnswer(" ");
    EXPECT_EQ(settings.GetSecurityQuestionID(), "2");
    EXPECT_EQ(settings.Validate(false).GetMessages(), Messages{"Empty Security Answer"});

    DataModel::Settings copy(settings);
    EXPECT_EQ(copy.GetSecurityQuestion(), question);
    settings.SetSecurityQuestionID("2");
    EXPECT_EQ(settings.GetSecurityQuestion(), nullptr) << "no model to look the question up in";
}

TEST(Sets, KeyedByTextCaseSensitively) {
    DataModel::BlockedUrlWords words;
    EXPECT_TRUE(words.insert(Word("1", "Poker")).second);
    EXPECT_TRUE(words.insert(Word("1", "poker")).second);
    EXPECT_FALSE(words.insert(Word("2", "poker")).second);
    EXPECT_EQ(words.size(), 2u);
    EXPECT_EQ((*words.begin())->GetWord(), "Poker");

    DataModel::CustomerSites sites;
    for (const char* id : {"1", "2"}) {
        auto site = Shared(new DataModel::CustomerSite(nullptr, false));
        site->SetID(id);
        site->SetUrl("http://Example.com");
        sites.insert(site);
    }
    EXPECT_EQ(sites.size(), 1u);
}

TEST(Category, FifteenConstantsWithValidation) {
    const DataModel::Category* all[] = {
        &DataModel::CAT_VIOLENCE,       &DataModel::CAT_HATE_SPEECH,   &DataModel::CAT_WEB_CHAT,
        &DataModel::CAT_PORNOGRAPHY,    &DataModel::CAT_OBSCENE,       &DataModel::CAT_GAMBLING,
        &DataModel::CAT_MATURE_CONTENT, &DataModel::CAT_DRUGS,         &DataModel::CAT_HACKING_AND_SPYWARE,
        &DataModel::CAT_WEAPONS,        &DataModel::CAT_SEX_EDUCATION, &DataModel::CAT_WEB_EMAIL,
        &DataModel::CAT_BOMB_MAKING,    &DataModel::CAT_ALCOHOL,       &DataModel::CAT_TOBACCO};
    const char* ids[] = {"1", "2", "3", "4", "5", "6", "7", "8", "10", "11", "12", "13", "14", "15", "16"};
    for (std::size_t i = 0; i < 15; ++i) {
        EXPECT_EQ(all[i]->GetID(), ids[i]);
        EXPECT_TRUE(all[i]->Validate(false).IsOK());
    }
    EXPECT_EQ(DataModel::CAT_WEB_EMAIL.GetName(), "Web E-Mail");
    EXPECT_EQ(DataModel::CAT_HACKING_AND_SPYWARE.GetName(), "Hacking And Spyware");

    EXPECT_EQ(DataModel::Category("", "").Validate(true).GetMessages(), Messages{"Empty ID"});
    EXPECT_EQ(DataModel::Category(" ", "").Validate(false).GetMessages(), Messages{"Empty Name"});
}
