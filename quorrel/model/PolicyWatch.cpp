#include <quorrel/PolicyWatch.hpp>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <thread>

namespace tav {

namespace {

const auto CHECK_PERIOD = std::chrono::seconds(1);

std::string MarkerOf(const std::string& policyPath) {
    return policyPath + ".inuse";
}

} // namespace

PolicyWatch::PolicyWatch(DataModel& model, std::function<void(const std::string&)> say)
    : m_model(model), m_say(std::move(say)) {}

PolicyWatch::~PolicyWatch() {
    m_ticks.reset();
    if (m_marker >= 0)
        ::close(m_marker);
}

bool PolicyWatch::Start(std::string& error) {
    const std::string marker = MarkerOf(m_model.GetTunesPath());
    m_marker = ::open(marker.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_marker < 0 || ::flock(m_marker, LOCK_SH) != 0) {
        error = "cannot lock " + marker + ": " + std::strerror(errno);
        return false;
    }
    Mark();
    m_ticks = std::make_unique<periodic>(CHECK_PERIOD, [this] { Check(); });
    return true;
}

void PolicyWatch::Check() {
    const Ret read = m_model.ReloadIfChanged();
    const std::string problem = read.IsOK() ? std::string() : read.GetMessage();
    if (!problem.empty() && problem != m_problem)
        m_say("the policy file was changed by another program and cannot be read; the policy stays as it "
              "was: " +
              problem);
    m_problem = problem;
    Mark();
}

void PolicyWatch::Mark() {
    const std::string version = m_model.GetTunesVersion();
    if (version == m_marked)
        return;
    const std::string line = version + "\n";
    if (::ftruncate(m_marker, 0) == 0 &&
        ::pwrite(m_marker, line.data(), line.size(), 0) == static_cast<ssize_t>(line.size()))
        m_marked = version;
}

PolicyWatch::Taken PolicyWatch::ServiceTook(const std::string& policyPath, const std::string& version,
                                            std::chrono::milliseconds wait) {
    const std::string marker = MarkerOf(policyPath);
    const int fd = ::open(marker.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Taken::noService;
    // A service holds the file locked while it runs.
    const bool running = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    if (!running)
        return Taken::noService;
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
        std::ifstream file(marker);
        std::string marked;
        std::getline(file, marked);
        if (marked == version)
            return Taken::taken;
        if (std::chrono::steady_clock::now() >= until)
            return Taken::notYet;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

} // namespace tav
