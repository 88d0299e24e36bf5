#pragma once

// The service host: runs the service modules of the filtering service in one process.
//
// run() takes the command line
//   zunservice [-C DIR] [--threads N] [--config FILE] [module options...]
// changes to DIR (which holds cfg/), makes the proactor and runs its event loop on N threads (default: the
// number of cores), loads the modules that FILE (default cfg/zunservice.conf) names, in ACE's service
// configurator syntax, each with the module options of the command line added to its own arguments (so
// they win over its configuration file), prints "listening on HOST:PORT" for the first module that tells
// one, and waits for wait_for_stop to return. Then it removes the modules in the reverse order, ends the
// event loop and returns 0. A failure is said on the error stream and gives 1 (2 for a bad command line).

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace tav {

class service_host {
public:
    service_host(std::ostream& out, std::ostream& err);

    int run(const std::vector<std::string>& arguments, const std::function<void()>& wait_for_stop);

private:
    // Loads the modules of the configuration file; false when one fails.
    bool load_modules(const std::string& file, const std::vector<std::string>& module_options);
    // The address a loaded module listens on, or empty.
    std::string listening() const;

    std::ostream& out_;
    std::ostream& err_;
    std::vector<std::string> names_;
};

// The directive with the module options added to its argument string.
std::string with_module_options(const std::string& directive, const std::vector<std::string>& module_options);

} // namespace tav
