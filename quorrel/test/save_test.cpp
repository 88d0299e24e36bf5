#include "ChildProcess.hpp"
#include "PolicyFolder.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using tav::DataModel;
using tav::Ret;

namespace {

// A policy large enough that writing it takes a while.
std::string LargePolicy() {
    std::string words;
    for (int i = 1; i <= 3000; ++i)
        words += "<blockedurlword><id>" + std::to_string(i) + "</id><word>word" + std::to_string(i) +
                 "</word><categoriesmask>20</categoriesmask></blockedurlword>";
    return "<tavdata><defaultblockedurlwords>" + words + "</defaultblockedurlwords></tavdata>";
}

// The saved policy that every save below writes again.
struct SavedFolder {
    PolicyFolder folder{LargePolicy()};
    std::string saved;
    SavedFolder() {
        EXPECT_TRUE(folder.Load()->SaveTunes().IsOK());
        saved = folder.Policy();
    }
    void ExpectIntact() const {
        EXPECT_EQ(folder.Policy(), saved);
        folder.Load();
    }
};

} // namespace

TEST(SafeSave, AFullDiskLeavesThePreviousFile) {
    const SavedFolder state;
    auto model = state.folder.Load();
    const int status = InChild([&model] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const Ret saved = model->SaveTunes();
        return !saved.IsOK() && saved.GetMessage().rfind("Can not save the policy to ", 0) == 0 ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    state.ExpectIntact();
}

TEST(SafeSave, AReadOnlyFolderLeavesThePreviousFile) {
    const SavedFolder state;
    auto model = state.folder.Load();
    ::chmod(state.folder.Root().c_str(), 0555);
    const int cannotDropRights = 3;
    const int status = InChild([&model] {
        // The superuser may write anywhere; give up the rights of one first.
        if (::geteuid() == 0 && ::setuid(65534) != 0)
            return cannotDropRights;
        return model->SaveTunes().IsOK() ? 1 : 0;
    });
    if (status == cannotDropRights)
        GTEST_SKIP() << "running as the superuser, who may not give up the right to write anywhere";
    EXPECT_EQ(status, 0);
    state.ExpectIntact();
}

TEST(SafeSave, AKilledSaveLeavesACompleteFile) {
    const SavedFolder state;
    auto model = state.folder.Load();
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        const pid_t child = ::fork();
        if (child == 0)
            while (true)
                model->SaveTunes();
        ::usleep(std::uniform_int_distribution<useconds_t>(1000, 40000)(random));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        state.ExpectIntact();
    }
}

// A change that another program (the policy command) writes is read before the next edit, which keeps it,
// and today's counts go on; a file that no longer reads is never written over.
TEST(SafeSave, AChangeByAnotherProgramIsReadBeforeTheNextEdit) {
    const PolicyFolder folder("<tavdata><clientgroups><clientgroup><id>4</id><name>Kids</name></clientgroup>"
                              "</clientgroups><clients><client><ip>10.0.0.4</ip><groupid>4</groupid></client>"
                              "</clients><settings><isfiltrationon>1</isfiltrationon></settings></tavdata>");
    const auto service = folder.Load();
    service->TickClientTraffic("10.0.0.4", 5000);
    {
        const auto command = folder.Load();
        std::unique_ptr<DataModel::Settings> settings;
        command->GetSettings(settings);
        settings->SetPassword("kitchen-table-7");
        ASSERT_TRUE(command->SaveSettings(*settings).IsOK());
        ASSERT_TRUE(command->SaveTunes().IsOK());
    }
    const std::string before = service->GetTunesVersion();
    ASSERT_TRUE(service->ReloadIfChanged().IsOK());
    EXPECT_NE(service->GetTunesVersion(), before);
    std::unique_ptr<DataModel::ClientGroup> kids(
        static_cast<DataModel::ClientGroup*>(service->GetClientGroup("4").GetObj()));
    kids->SetName("Children");
    ASSERT_TRUE(service->EditAndSave([&] { return service->SaveClientGroup(*kids); }).IsOK());
    std::unique_ptr<DataModel::Settings> read;
    folder.Load()->GetSettings(read);
    EXPECT_TRUE(read->GetPassword().Matches("kitchen-table-7"));
    EXPECT_NE(folder.Policy().find("<name>Children</name>"), std::string::npos);
    std::unique_ptr<DataModel::Client> client(
        static_cast<DataModel::Client*>(service->GetClient("10.0.0.4").GetObj()));
    EXPECT_EQ(client->GetDailyWorkedTraffic(service->GetClock()), 5000);

    PolicyFolder::Write(folder.PolicyPath(), "<tavdata");
    kids->SetName("Kids");
    const Ret refused = service->EditAndSave([&] { return service->SaveClientGroup(*kids); });
    EXPECT_EQ(
        refused.GetMessage().rfind("The policy file was changed by another program and cannot be read: ", 0),
        0u)
        << refused.GetMessage();
    EXPECT_EQ(folder.Policy(), "<tavdata");
    service->GetSettings(read);
    EXPECT_TRUE(read->GetPassword().Matches("kitchen-table-7")) << "the policy read last stays";
}
