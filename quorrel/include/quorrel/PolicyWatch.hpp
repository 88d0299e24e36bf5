#pragma once

// tav::PolicyWatch - keeps the service's model on its policy file while another program (the policy
// command) may write it.
//
// Once a second the watch has the model read the file again when it changed (DataModel::ReloadIfChanged),
// and records in PATH.inuse beside the policy file which version of it the model holds. The service holds
// that file locked (shared) while the watch runs, so the command can tell whether a service runs on the
// policy and whether it has taken the command's change (ServiceTook). A file that cannot be read is said once
// through `say`; the model keeps the policy it has.
//
// The watch runs on a thread of its own (tav::periodic), which the destructor stops.

#include <quorrel/DataModel.hpp>
#include <quorrel/export.hpp>
#include <tav/periodic.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace tav {

class QUORREL_EXPORT PolicyWatch {
public:
    PolicyWatch(DataModel& model, std::function<void(const std::string&)> say);
    ~PolicyWatch();
    PolicyWatch(const PolicyWatch&) = delete;
    PolicyWatch& operator=(const PolicyWatch&) = delete;

    // Locks and writes PATH.inuse and starts the thread; false with the reason.
    [[nodiscard]] bool Start(std::string& error);

    enum class Taken { noService, taken, notYet };
    // For another program that has written `version` of the policy file at `policyPath`: whether a service
    // runs on it, and then whether it has read that version within `wait`.
    static Taken ServiceTook(const std::string& policyPath, const std::string& version,
                             std::chrono::milliseconds wait);

private:
    // Has the model read the file again when it changed, and marks the version it holds.
    void Check();
    // Writes the model's version of the file into PATH.inuse when it changed.
    void Mark();

    DataModel& m_model;
    const std::function<void(const std::string&)> m_say;
    int m_marker = -1;
    std::string m_marked;
    std::string m_problem;
    std::unique_ptr<periodic> m_ticks;
};

} // namespace tav
