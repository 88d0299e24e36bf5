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
