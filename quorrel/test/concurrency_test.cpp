#include "PolicyFolder.hpp"

#include <gtest/gtest.h>

#include <quorrel/HTTPProtocolSettings.hpp>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <mutex>
#include <poll.h>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using tav::DataModel;

namespace {

tav::uri Url(const std::string& text) {
    tav::uri parsed;
    parsed.parse_absolute(text.data(), text.data() + text.size());
    return parsed;
}

const std::string POLICY =
    "<tavdata><clientgroups><clientgroup><id>4</id><name>Kids</name>"
    "<trafficlimitsenabled>1</trafficlimitsenabled><timelimitsenabled>1</timelimitsenabled>"
    "<protocolssettings><httpprotocolsettings><isblockedsitesenabled>1</isblockedsitesenabled>"
    "<blockedurlwordsenabled>1</blockedurlwordsenabled></httpprotocolsettings>"
    "</protocolssettings></clientgroup></clientgroups><clients>"
    "<client><ip>10.0.0.1</ip><groupid>4</groupid></client>"
    "<client><ip>10.0.0.2</ip><groupid>4</groupid></client></clients>"
    "<settings><isfiltrationon>1</isfiltrationon></settings></tavdata>";

// POLICY with enough default words that its file outgrows the smallest pipe.
std::string LargePolicy() {
    std::string words;
    for (int i = 1; i <= 300; ++i)
        words += "<blockedurlword><id>" + std::to_string(i) + "</id><word>word" + std::to_string(i) +
                 "</word><categoriesmask>1</categoriesmask></blockedurlword>";
    std::string policy = POLICY;
    return policy.insert(policy.find("<settings>"),
                         "<defaultblockedurlwords>" + words + "</defaultblockedurlwords>");
}

std::string AdminEmail(const DataModel& model) {
    std::unique_ptr<DataModel::Settings> settings;
    model.GetSettings(settings);
    return settings->GetAdminEmail();
}

// Creates, changes and deletes groups, clients, sites and words through the model's operations.
void Edit(DataModel& model, int round) {
    auto group = model.CreateClientGroup();
    group->SetName("Group " + std::to_string(round));
    model.SaveClientGroup(*group);

    auto client = model.CreateClient();
    client->SetIP("10.1.0." + std::to_string(round % 200));
    client->SetGroupID(group->GetID());
    model.SaveClient(*client);

    auto site = model.CreateCustomerSite(round % 2 == 0);
    site->SetUrl("http://site" + std::to_string(round % 7) + ".example/");
    model.SaveCustomerSite("4", *site);
    std::unique_ptr<DataModel::CustomerSite> listed;
    if (model.GetCustomerSite("4", std::to_string(round % 5 + 1), listed).IsOK()) {
        listed->SetUrl(listed->GetUrlText() + "moved/");
        model.SaveCustomerSite("4", *listed);
    }
    auto word = model.CreateBlockedUrlWord();
    word->SetWord("word" + std::to_string(round % 5));
    word->SetCategoriesMask(1);
    model.SaveBlockedUrlWord("4", DataModel::PST_HTTP, *word);

    std::unique_ptr<DataModel::ProtocolSettings> settings;
    model.GetProtocolSettings("4", DataModel::PST_HTTP, settings);
    settings->SetCanAccessByIP(round % 3 == 0);
    model.SaveProtocolSettings("4", *settings);
    model.SetBlockedCategories("4", {std::to_string(round % 16 + 1)});

    model.DeleteClients({client->GetIP()});
    model.DeleteClientGroups({group->GetID()});
    if (round % 10 == 0) {
        model.DeleteCustomerSites("4", true, {"1", "2", "3"});
        model.DeleteBlockedUrlWords("4", DataModel::PST_HTTP, {"1", "2"});
        model.SaveTunes();
    }
}

} // namespace

TEST(Concurrency, DecisionsAndTicksRunBesideEditing) {
    const PolicyFolder folder(POLICY);
    const auto model = folder.Load();
    const tav::uri requests[] = {Url("http://site3.example/page"), Url("http://a.example/word2"),
                                 Url("http://192.168.0.1/"), Url("https://site4.example/")};
    std::atomic<bool> stop(false);
    std::atomic<long> decisions(0);

    std::vector<std::thread> proxies;
    for (int t = 0; t < 4; ++t)
        proxies.emplace_back([&, t] {
            const std::string ip = t % 2 ? "10.0.0.1" : "10.0.0.2";
            while (!stop) {
                std::string message;
                model->IsAllowed(ip, requests[decisions % 4],
                                 decisions % 2 ? tav::PROTO_HTTP : tav::PROTO_HTTPS, message);
                model->TickClientTime(ip);
                model->TickClientTraffic(ip, 1500);
                model->IsContentTypeAllowed(ip, "text/html");
                model->IsInapContentWordsAllowed(ip, "some page text");
                model->IsAllowedCategoryForClientGroup("4", "3");
                model->GetInfo("4", requests[t]);
                ++decisions;
            }
        });
    // Saves copy the policy, then write it out while edits and decisions go on.
    proxies.emplace_back([&] {
        while (!stop)
            model->SaveTunes();
    });
    // Edits go on until both sides have done enough to overlap, however fast this machine is; the time limit
    // only ends a run that no longer makes progress.
    int rounds = 0;
    for (const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
         (rounds < 30 || decisions.load() < 300) && std::chrono::steady_clock::now() < give_up;)
        Edit(*model, ++rounds);
    stop = true;
    for (std::thread& proxy : proxies)
        proxy.join();

    EXPECT_GE(rounds, 30);
    EXPECT_GE(decisions.load(), 300) << "decisions made while " << rounds << " rounds of edits ran";
    std::vector<DataModel::ClientGroup*> groups;
    model->GetClientGroups(groups);
    EXPECT_EQ(groups.size(), 1u) << "every group the editor made was deleted again";
    EXPECT_TRUE(folder.Load() != nullptr);
}

// Decisions on four threads, beside ticks, saves and edits that are undone because their save fails, each
// see one whole policy: trusted-only mode and the blocked list are switched together, and a decision that saw
// one switched without the other would refuse x.example as a blocked site, which no policy here does.
TEST(Concurrency, EveryDecisionSeesOneWholePolicy) {
    const PolicyFolder folder(
        "<tavdata><clientgroups><clientgroup><id>4</id><name>Kids</name><protocolssettings>"
        "<httpprotocolsettings><customersites><customersite><id>1</id><uri>http://x.example/</"
        "uri><isblocked>1"
        "</isblocked></customersite><customersite><id>2</id><uri>http://y.example/</uri><isblocked>0</"
        "isblocked>"
        "</customersite></customersites></httpprotocolsettings></protocolssettings></clientgroup></"
        "clientgroups>"
        "<clients><client><ip>10.0.0.1</ip><groupid>4</groupid></client></clients>"
        "<settings><isfiltrationon>1</isfiltrationon></settings></tavdata>");
    const auto model = folder.Load();
    const auto policy = [&model](bool trustedOnly) {
        std::unique_ptr<DataModel::ProtocolSettings> settings;
        model->GetProtocolSettings("4", DataModel::PST_HTTP, settings);
        auto& http = dynamic_cast<DataModel::HTTPProtocolSettings&>(*settings);
        http.SetIsBlockedSitesEnabled(trustedOnly);
        http.SetIsTrustedSitesEnabled(trustedOnly);
        http.SetIsTrustedSitesFixed(trustedOnly);
        return settings;
    };
    ASSERT_TRUE(std::filesystem::create_directory(folder.PolicyPath() + ".new")) << "every save fails";
    const tav::uri blockedOnce = Url("http://x.example/");
    std::atomic<bool> stop(false);
    std::atomic<long> decisions(0);
    std::mutex seenMutex;
    std::set<std::string> seen;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            std::set<std::string> answers;
            while (!stop) {
                std::string message;
                answers.insert(model->IsAllowed("10.0.0.1", blockedOnce, tav::PROTO_HTTP, message) ? "allowed"
                                                                                                   : message);
                model->TickClientTime("10.0.0.1");
                model->TickClientTraffic("10.0.0.1", 100);
                ++decisions;
            }
            const std::lock_guard<std::mutex> lock(seenMutex);
            seen.insert(answers.begin(), answers.end());
        });
    threads.emplace_back([&] {
        while (!stop)
            model->SaveTunes();
    });
    int rounds = 0;
    for (const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
         (rounds < 200 || decisions.load() < 1000) && std::chrono::steady_clock::now() < give_up; ++rounds) {
        model->SaveProtocolSettings("4", *policy(rounds % 2 == 0));
        model->EditAndSave([&] { return model->SaveProtocolSettings("4", *policy(rounds % 2 != 0)); });
    }
    stop = true;
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_GE(decisions.load(), 1000);
    for (const std::string& answer : seen)
        EXPECT_TRUE(answer == "allowed" || answer == "You can access Customer Trusted Sites only") << answer;
}

TEST(Concurrency, ADecisionDoesNotWaitForASaveThatIsWriting) {
    const PolicyFolder folder(LargePolicy());
    const auto model = folder.Load();
    const std::string before = folder.Policy();
    // The save writes into a pipe that is not read, so it stays in the middle of writing the file.
    const std::string temporary = folder.PolicyPath() + ".new";
    ASSERT_EQ(::mkfifo(temporary.c_str(), 0600), 0);
    const int pipe = ::open(temporary.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(pipe, 0);
    const int capacity = ::fcntl(pipe, F_SETPIPE_SZ, 4096);
    ASSERT_GT(capacity, 0);
    ASSERT_GT(before.size(), static_cast<std::size_t>(capacity));

    auto save = std::async(std::launch::async, [&model] { return model->SaveTunes(); });
    pollfd written{pipe, POLLIN, 0};
    ASSERT_EQ(::poll(&written, 1, 30000), 1) << "the save began to write";
    auto decision = std::async(std::launch::async, [&model] {
        std::string message;
        return model->IsAllowed("10.0.0.1", Url("http://site1.example/"), tav::PROTO_HTTP, message);
    });
    const bool decided = decision.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    const bool saving = save.wait_for(std::chrono::seconds(0)) == std::future_status::timeout;

    // Read to its end, the pipe lets the save go on; a pipe cannot be synced, so the save fails.
    ::fcntl(pipe, F_SETFL, 0);
    char buffer[4096];
    while (::read(pipe, buffer, sizeof buffer) > 0) {
    }
    ::close(pipe);
    EXPECT_TRUE(decided) << "the decision waited for the save's writing";
    EXPECT_TRUE(saving);
    const tav::Ret saved = save.get();
    EXPECT_FALSE(saved.IsOK());
    EXPECT_EQ(saved.GetMessage().rfind("Can not save the policy to " + folder.PolicyPath() + ": ", 0), 0u);
    EXPECT_EQ(folder.Policy(), before);
    EXPECT_TRUE(model->SaveTunes().IsOK()) << "the pipe was removed";
}

TEST(Concurrency, SavesAtOnceLeaveTheNewestPolicyInTheFile) {
    const PolicyFolder folder(POLICY);
    const auto model = folder.Load();
    std::vector<std::thread> administrators;
    administrators.reserve(4);
    for (int t = 0; t < 4; ++t)
        administrators.emplace_back([&model, t] {
            for (int round = 0; round < 25; ++round) {
                std::unique_ptr<DataModel::Settings> settings;
                model->GetSettings(settings);
                settings->SetAdminEmail(std::to_string(t) + "." + std::to_string(round) + "@home.example");
                model->SaveSettings(*settings);
                EXPECT_TRUE(model->SaveTunes().IsOK());
            }
        });
    for (std::thread& administrator : administrators)
        administrator.join();
    EXPECT_EQ(AdminEmail(*folder.Load()), AdminEmail(*model));
}

// Another program rewrites the policy file while decisions and the administrator's edits go on: each reload
// publishes whole, so a decision sees either policy, and no edit writes over a rewrite it has not read.
TEST(Concurrency, APolicyReadAgainWhileDecisionsAndEditsGoOn) {
    const PolicyFolder folder(POLICY);
    const auto model = folder.Load();
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        while (!done) {
            std::string message;
            model->IsAllowed("10.0.0.1", Url("http://site1.example/"), tav::PROTO_HTTP, message);
        }
    });
    threads.emplace_back([&] {
        for (int round = 0; !done; ++round) {
            std::unique_ptr<DataModel::Settings> settings;
            model->GetSettings(settings);
            settings->SetAdminEmail("round" + std::to_string(round) + "@home.example");
            model->EditAndSave([&] { return model->SaveSettings(*settings); });
        }
    });
    for (int round = 0; round < 20; ++round) {
        const auto other = folder.Load();
        const auto rewrite = [&] {
            auto site = other->CreateCustomerSite(true);
            site->SetUrl("http://rewrite" + std::to_string(round) + ".example/");
            return other->SaveCustomerSite("4", *site);
        };
        // A save refused because the file changed after its edit read it is tried again, as a person would.
        for (int attempt = 0; attempt < 100 && !other->EditAndSave(rewrite).IsOK(); ++attempt) {
        }
        model->ReloadIfChanged();
    }
    done = true;
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_TRUE(model->ReloadIfChanged().IsOK());
    EXPECT_NE(folder.Policy().find("rewrite19.example"), std::string::npos) << "the last rewrite is kept";
}
