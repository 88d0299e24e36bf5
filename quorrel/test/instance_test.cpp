#include "PolicyFolder.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using tav::DataModel;

namespace {

// The service's model lives for the whole process, so each case runs in a child of its own
// whose working directory holds a cfg/ folder copied from the sample.
template <class Body> int InServiceFolder(bool withPolicy, Body body) {
    const PolicyFolder folder;
    std::filesystem::copy(SAMPLE_CFG, folder.Root() + "/cfg", std::filesystem::copy_options::recursive);
    if (!withPolicy)
        std::filesystem::remove(folder.Root() + "/cfg/zun_data.xml");
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(::chdir(folder.Root().c_str()) == 0 ? body() : 99);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(Instance, ThreadsStartingTogetherShareOneModel) {
    EXPECT_EQ(InServiceFolder(true,
                              [] {
                                  DataModel* seen[4] = {};
                                  std::vector<std::thread> threads;
                                  for (DataModel*& model : seen)
                                      threads.emplace_back([&model] { model = DataModel::GetInstance(); });
                                  for (std::thread& thread : threads)
                                      thread.join();
                                  for (DataModel* model : seen)
                                      if (!model || model != seen[0] || model != DataModel::m_pInstance)
                                          return 1;
                                  return 0;
                              }),
              0);
}

TEST(Instance, AFailedLoadThrowsOnceAndKeepsThePartialModel) {
    EXPECT_EQ(InServiceFolder(false,
                              [] {
                                  try {
                                      DataModel::GetInstance();
                                      return 1;
                                  } catch (const std::runtime_error& e) {
                                      if (std::string(e.what()) != "Fail to initialize DataModel")
                                          return 2;
                                  }
                                  DataModel* partial = DataModel::m_pInstance;
                                  return partial && DataModel::GetInstance() == partial ? 0 : 3;
                              }),
              0);
}
