#pragma once

#include <quorrel/DataModel.hpp>

#include <iosfwd>
#include <string>
#include <vector>

// The policy check command: asks the policy of a configuration folder about one request, shows
// the URL test report of a group, lists the model, sets the administrator password, or prints the activity
// history. Run() returns the
// process exit status: 0 allowed or done, 1 refused, 2 a usage or configuration error.
class PolicyCommand {
public:
    PolicyCommand(std::string defaultConfig, std::ostream& out, std::ostream& err);

    int Run(const std::vector<std::string>& args);

private:
    int Usage(int status);
    // Loads the policy of the configuration folder; false, said on the error stream, when it does not load.
    bool Load(tav::DataModel& model);
    int Activity(const std::vector<std::string>& args);
    int SetPassword(tav::DataModel& model, const std::string& password);

    std::string m_config;
    std::ostream& m_out;
    std::ostream& m_err;
};
