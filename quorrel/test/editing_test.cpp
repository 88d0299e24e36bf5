#include "PolicyFolder.hpp"

#include <gtest/gtest.h>

using tav::DataModel;
using tav::Ret;
using Ids = std::vector<std::string>;

namespace {

std::string Group(const std::string& id, const std::string& name) {
    return "<clientgroup><id>" + id + "</id><name>" + name + "</name></clientgroup>";
}

std::string Word(const std::string& id, const std::string& word) {
    return "<blockedurlword><id>" + id + "</id><word>" + word +
           "</word><categoriesmask>20</categoriesmask></blockedurlword>";
}

const std::string POLICY =
    "<tavdata><clientgroups>" + Group("1", "* guests *") + Group("2", "* unrestricted users *") +
    Group("3", "* restricted users *") + Group("10", "Kids") +
    "</clientgroups><clients><client><ip>10.0.0.1</ip><groupid>10</groupid></client></clients>"
    "<defaultblockedurlwords>" +
    Word("1", "casino") + Word("2", "poker") +
    "</defaultblockedurlwords>"
    "<defaultcontenttypes><contenttype><id>1</id><type>video/</type></contenttype></defaultcontenttypes>"
    "<securityquestions><securityquestion><id>1</id><question>Q</question></securityquestion></"
    "securityquestions>"
    "</tavdata>";

template <class T> std::unique_ptr<T> Take(const Ret& ret) {
    EXPECT_TRUE(ret.IsOK()) << ret.GetMessage();
    return std::unique_ptr<T>(static_cast<T*>(ret.GetObj()));
}

class Editing : public testing::Test {
protected:
    PolicyFolder folder{POLICY};
    std::unique_ptr<DataModel> model = folder.Load();

    std::unique_ptr<DataModel::ClientGroup> NewGroup(const std::string& name) {
        auto group = model->CreateClientGroup();
        group->SetName(name);
        return group;
    }
    std::vector<std::string> GroupIds() {
        std::vector<DataModel::ClientGroup*> groups;
        model->GetClientGroups(groups);
        std::vector<std::string> ids;
        for (auto* group : groups)
            ids.push_back(group->GetID());
        return ids;
    }
    std::vector<std::string> WordIds(const std::string& group, DataModel::ProtocolSettingsType type) {
        std::vector<boost::shared_ptr<DataModel::BlockedUrlWord>> words;
        EXPECT_TRUE(model->GetBlockedUrlWords(group, type, words).IsOK());
        std::vector<std::string> ids;
        for (const auto& word : words)
            ids.push_back(word->GetID() + ":" + word->GetWord());
        return ids;
    }
};

} // namespace

TEST_F(Editing, NewGroupsGetTheNextIdAndTheDefaultLists) {
    auto group = NewGroup("Teens");
    ASSERT_TRUE(model->SaveClientGroup(*group).IsOK());
    EXPECT_EQ(group->GetID(), "11") << "the caller sees the new ID";
    EXPECT_EQ(GroupIds(), (Ids{"1", "10", "11", "2", "3"}));
    EXPECT_EQ(WordIds("11", DataModel::PST_HTTP), (Ids{"1:casino", "2:poker"}));
    EXPECT_TRUE(WordIds("11", DataModel::PST_HTTPS).empty());
    std::vector<boost::shared_ptr<DataModel::ContentType>> types;
    model->GetContentTypes("11", types);
    ASSERT_EQ(types.size(), 1u);
    EXPECT_EQ(*types.begin(), *model->GetDefaultContentTypes().begin()) << "shared with the defaults";

    auto odd = NewGroup("Odd");
    odd->SetID("abc");
    EXPECT_EQ(model->SaveClientGroup(*odd).GetMessage(), "No such Group");
    EXPECT_TRUE(Take<DataModel::ClientGroup>(model->GetFirstClientGroup())->GetID() == "1");
}

TEST_F(Editing, ReservedGroupsAreProtected) {
    auto guests = NewGroup("* Guests *");
    EXPECT_EQ(model->SaveClientGroup(*guests).GetMessage(), "The '* Guests *' group name is reserved");
    EXPECT_EQ(guests->GetID(), "") << "a failed save leaves the caller's object alone";

    auto stored = Take<DataModel::ClientGroup>(model->GetClientGroup("1"));
    stored->SetName("Visitors");
    EXPECT_EQ(model->SaveClientGroup(*stored).GetMessage(), "The '* guests *' group name is reserved");
    stored->SetName("* guests *");
    stored->SetTimeLimit(2, 45);
    EXPECT_TRUE(model->SaveClientGroup(*stored).IsOK());
    EXPECT_EQ(Take<DataModel::ClientGroup>(model->GetClientGroup("1"))->GetTimeLimit(2), 45);

    auto kids = Take<DataModel::ClientGroup>(model->GetClientGroup("10"));
    kids->SetName("* RESTRICTED users *");
    EXPECT_EQ(model->SaveClientGroup(*kids).GetMessage(),
              "The '* RESTRICTED users *' group name is reserved");
    kids->SetName("");
    EXPECT_EQ(model->SaveClientGroup(*kids).GetMessage(), "Empty Name");
    EXPECT_TRUE(DataModel::IsReservedClientGroupName("* UNRESTRICTED USERS *"));
    EXPECT_FALSE(DataModel::IsReservedClientGroupName("*guests*"));
}

TEST_F(Editing, DeletingGroupsIsAllOrNothing) {
    auto teens = NewGroup("Teens");
    model->SaveClientGroup(*teens);
    EXPECT_EQ(model->DeleteClientGroups({"11", "2"}).GetMessage(),
              "Record can not be deleted because it is reserved.");
    EXPECT_EQ(model->DeleteClientGroups({"11", "10"}).GetMessage(),
              "Record can not be deleted because some Client(s) reference it.");
    EXPECT_EQ(GroupIds(), (Ids{"1", "10", "11", "2", "3"}));
    EXPECT_TRUE(model->DeleteClientGroups({"11", "404"}).IsOK());
    EXPECT_EQ(GroupIds(), (Ids{"1", "10", "2", "3"}));
    EXPECT_EQ(model->GetClientGroup("11").GetMessage(), "No such Group");
}

TEST_F(Editing, BlockedCategoriesIgnoreWhatNamesNoBit) {
    EXPECT_TRUE(model->SetBlockedCategories("10", {"1", "16", "40", "x", "0"}).IsOK());
    EXPECT_EQ(Take<DataModel::ClientGroup>(model->GetClientGroup("10"))->GetBlockedCategoriesMask(), 0x8001u);
    EXPECT_TRUE(model->SetBlockedCategories("10", {"32"}).IsOK());
    EXPECT_EQ(Take<DataModel::ClientGroup>(model->GetClientGroup("10"))->GetBlockedCategoriesMask(),
              0x80000000u);
    EXPECT_EQ(model->SetBlockedCategories("404", {"1"}).GetMessage(), "No such Group");
}

TEST_F(Editing, ClientsAreKeyedByTheirAddress) {
    auto client = model->CreateClient();
    client->SetIP("10.0.0.1");
    client->SetGroupID("10");
    EXPECT_EQ(model->SaveClient(*client).GetMessage(), "The record with the same IP is exists.");
    client->SetIP("10.0.0.2");
    ASSERT_TRUE(model->SaveClient(*client).IsOK());

    auto stored = Take<DataModel::Client>(model->GetClient("10.0.0.2"));
    ASSERT_NE(stored->GetGroupPtr(), nullptr);
    EXPECT_EQ(stored->GetGroupPtr()->GetID(), "10");
    stored->SetIP("10.0.0.1");
    EXPECT_EQ(model->SaveClient(*stored).GetMessage(), "The record with the same IP is exists.");
    stored->SetIP("10.0.0.3");
    stored->SetDailyWorkedTime(77);
    ASSERT_TRUE(model->SaveClient(*stored).IsOK());
    EXPECT_EQ(model->GetClient("10.0.0.2").GetMessage(), "No such Client");
    EXPECT_EQ(Take<DataModel::Client>(model->GetClient("10.0.0.3"))->GetDailyWorkedTime(), 77);

    client->SetGroupID("404");
    EXPECT_EQ(model->SaveClient(*client).GetMessage(), "Can not find the Client Group with ID = 404");

    std::vector<DataModel::Client*> clients;
    model->GetClients(" ", clients);
    EXPECT_EQ(clients.size(), 2u);
    clients.clear();
    model->GetClients("2", clients);
    EXPECT_TRUE(clients.empty());
    EXPECT_TRUE(model->DeleteClients({"10.0.0.3", "10.9.9.9"}).IsOK());
    model->GetClients("", clients);
    EXPECT_EQ(clients.size(), 1u);
}

TEST_F(Editing, WordsKeepUniqueTextAndTheirIds) {
    auto word = model->CreateBlockedUrlWord();
    word->SetWord("poker");
    word->SetCategoriesMask(0x20);
    ASSERT_TRUE(model->SaveBlockedUrlWord("10", DataModel::PST_HTTPS, *word).IsOK());
    EXPECT_EQ(model->SaveBlockedUrlWord("10", DataModel::PST_HTTPS, *word).GetMessage(),
              "The same word already added: poker");
    for (const char* text : {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k"}) {
        word->SetWord(text);
        model->SaveBlockedUrlWord("10", DataModel::PST_HTTPS, *word);
    }
    std::unique_ptr<DataModel::BlockedUrlWord> stored;
    ASSERT_TRUE(model->GetBlockedUrlWord("10", DataModel::PST_HTTPS, "1", stored).IsOK());
    EXPECT_TRUE(model->SaveBlockedUrlWord("10", DataModel::PST_HTTPS, *stored).IsOK())
        << "its own text again";
    stored->SetWord("Poker");
    ASSERT_TRUE(model->SaveBlockedUrlWord("10", DataModel::PST_HTTPS, *stored).IsOK());
    stored->SetID("99");
    EXPECT_EQ(model->SaveBlockedUrlWord("10", DataModel::PST_HTTPS, *stored).GetMessage(),
              "The same word already added: Poker");
    stored->SetWord("zzz");
    EXPECT_EQ(model->SaveBlockedUrlWord("10", DataModel::PST_HTTPS, *stored).GetMessage(),
              "Word not found: zzz");
    EXPECT_EQ(model->GetBlockedUrlWord("10", DataModel::PST_HTTPS, "99", stored).GetMessage(),
              "No such Word");
    EXPECT_EQ(stored, nullptr);

    EXPECT_TRUE(model->DeleteBlockedUrlWords("10", DataModel::PST_HTTPS, {"1", "12"}).IsOK());
    const Ids left = WordIds("10", DataModel::PST_HTTPS);
    EXPECT_EQ(left.size(), 10u);
    EXPECT_EQ(left.front(), "2:a");
    EXPECT_EQ(model->DeleteBlockedUrlWords("404", DataModel::PST_HTTP, {"1"}).GetMessage(), "No such Group");
}

TEST_F(Editing, SitesMoveBetweenTheListsByTheirFlag) {
    auto site = model->CreateCustomerSite(false);
    site->SetUrl("http://homework.example/");
    ASSERT_TRUE(model->SaveCustomerSite("10", *site).IsOK());
    auto twin = model->CreateCustomerSite(true);
    twin->SetUrl("HTTP://Homework.example");
    EXPECT_EQ(model->SaveCustomerSite("10", *twin).GetMessage(),
              "Customer Site with the same URL already exists: http://homework.example/");
    twin->SetUrl("http://");
    EXPECT_EQ(model->SaveCustomerSite("10", *twin).GetMessage(), "Empty Host");

    std::unique_ptr<DataModel::CustomerSite> stored;
    ASSERT_TRUE(model->GetCustomerSite("10", "1", stored).IsOK());
    stored->SetIsBlocked(true);
    ASSERT_TRUE(model->SaveCustomerSite("10", *stored).IsOK());
    std::vector<DataModel::CustomerSite*> blocked, trusted;
    model->GetCustomerSites("10", true, blocked);
    model->GetCustomerSites("10", false, trusted);
    ASSERT_EQ(blocked.size(), 1u);
    EXPECT_EQ(blocked[0]->GetID(), "1");
    EXPECT_TRUE(trusted.empty());
    EXPECT_TRUE(model->DeleteCustomerSites("10", false, {"1"}).IsOK());
    EXPECT_TRUE(model->GetCustomerSite("10", "1", stored).IsOK()) << "only the trusted list was cleaned";
    EXPECT_TRUE(model->DeleteCustomerSites("10", true, {"1"}).IsOK());
    EXPECT_EQ(model->GetCustomerSite("10", "1", stored).GetMessage(), "No such Site");
}

// The pages read these without the model lock: copies of the clients, the groups' names and the shared sites
// must list what the stored ones list, and stay as they were read when the policy changes.
TEST_F(Editing, ReadsForThePagesListWhatIsStored) {
    auto client = model->CreateClient();
    client->SetIP("10.0.0.9");
    client->SetGroupID("3");
    ASSERT_TRUE(model->SaveClient(*client).IsOK());
    auto site = model->CreateCustomerSite(true);
    site->SetUrl("http://games.example/");
    ASSERT_TRUE(model->SaveCustomerSite("10", *site).IsOK());

    for (const std::string group : {"", "10", "3", "2", "404"}) {
        std::vector<DataModel::Client*> stored;
        model->GetClients(group, stored);
        const std::vector<std::unique_ptr<DataModel::Client>> copies = model->CopyClients(group);
        ASSERT_EQ(copies.size(), stored.size()) << group;
        for (std::size_t i = 0; i < stored.size(); ++i) {
            EXPECT_NE(copies[i].get(), stored[i]);
            EXPECT_EQ(copies[i]->GetIP(), stored[i]->GetIP());
            EXPECT_EQ(copies[i]->GetGroupID(), stored[i]->GetGroupID());
        }
        for (const bool blocked : {true, false}) {
            std::vector<DataModel::CustomerSite*> raw;
            std::vector<boost::shared_ptr<DataModel::CustomerSite>> shared;
            EXPECT_EQ(model->GetCustomerSites(group, blocked, raw).GetMessage(),
                      model->GetCustomerSites(group, blocked, shared).GetMessage());
            ASSERT_EQ(shared.size(), raw.size()) << group;
            for (std::size_t i = 0; i < raw.size(); ++i)
                EXPECT_EQ(shared[i].get(), raw[i]);
        }
    }

    std::vector<DataModel::ClientGroup*> groups;
    model->GetClientGroups(groups);
    std::vector<std::pair<std::string, std::string>> names;
    for (const DataModel::ClientGroup* group : groups)
        names.emplace_back(group->GetID(), group->GetName());
    EXPECT_EQ(model->GetClientGroupNames(), names);

    std::vector<boost::shared_ptr<DataModel::CustomerSite>> before;
    model->GetCustomerSites("10", true, before);
    const std::vector<std::unique_ptr<DataModel::Client>> copies = model->CopyClients("3");
    std::unique_ptr<DataModel::CustomerSite> edited;
    ASSERT_TRUE(model->GetCustomerSite("10", before.at(0)->GetID(), edited).IsOK());
    edited->SetUrl("http://chess.example/");
    ASSERT_TRUE(model->SaveCustomerSite("10", *edited).IsOK());
    ASSERT_TRUE(model->DeleteClients({"10.0.0.9"}).IsOK());
    EXPECT_EQ(before.at(0)->GetUrlText(), "http://games.example/");
    EXPECT_EQ(copies.at(0)->GetIP(), "10.0.0.9");
}

TEST_F(Editing, SettingsAndProtocolSettingsAreCopies) {
    std::unique_ptr<DataModel::ProtocolSettings> settings;
    ASSERT_TRUE(model->GetProtocolSettings("10", DataModel::PST_MAIL, settings).IsOK());
    EXPECT_EQ(settings->GetType(), DataModel::PST_MAIL);
    settings->SetIsNetworkEnabled(false);
    std::unique_ptr<DataModel::ProtocolSettings> again;
    model->GetProtocolSettings("10", DataModel::PST_MAIL, again);
    EXPECT_TRUE(again->GetIsNetworkEnabled());
    ASSERT_TRUE(model->SaveProtocolSettings("10", *settings).IsOK());
    model->GetProtocolSettings("10", DataModel::PST_MAIL, again);
    EXPECT_FALSE(again->GetIsNetworkEnabled());
    EXPECT_EQ(
        model->GetProtocolSettings("10", static_cast<DataModel::ProtocolSettingsType>(9), again).GetMessage(),
        "Unknown Protocol Settings Type");
    EXPECT_EQ(model->GetProtocolSettings("404", DataModel::PST_HTTP, again).GetMessage(),
              "No such Client Group");

    std::unique_ptr<DataModel::Settings> admin;
    model->GetSettings(admin);
    admin->SetSecurityQuestionID("1");
    EXPECT_EQ(model->SaveSettings(*admin).GetMessage(), "Empty Security Answer");
    admin->SetSecurityAnswer("Rex");
    admin->SetPassword("\xcf\xe0\xf0\xee\xeb\xfc");
    ASSERT_TRUE(model->SaveSettings(*admin).IsOK());
    ASSERT_TRUE(model->SaveTunes().IsOK());
    std::unique_ptr<DataModel::Settings> reloaded;
    folder.Load()->GetSettings(reloaded);
    EXPECT_TRUE(reloaded->GetPassword().Matches("\xcf\xe0\xf0\xee\xeb\xfc"));
    EXPECT_TRUE(reloaded->GetSecurityAnswer().Matches("Rex"));
    EXPECT_EQ(reloaded->GetSecurityQuestionID(), "1");

    std::vector<const DataModel::Category*> categories;
    model->GetCategories(categories);
    ASSERT_EQ(categories.size(), 15u);
    EXPECT_EQ(categories[1]->GetID(), "10");
    EXPECT_EQ(model->GetSecurityQuestion("1")->GetQuestion(), "Q");
    EXPECT_EQ(model->GetSecurityQuestion("2"), nullptr);
}
