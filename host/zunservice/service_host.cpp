#include "service_host.hpp"

#include <tav/aio_cmd.hpp>

#include <ace/Proactor.h>
#include <ace/Service_Config.h>
#include <ace/Service_Object.h>
#include <ace/Service_Repository.h>
#include <ace/Service_Types.h>

#include <boost/program_options.hpp>

#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <thread>

namespace tav {

namespace po = boost::program_options;

namespace {

// The folder of the running program, where the service modules are.
std::string program_folder() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    std::string folder(path, static_cast<std::size_t>(n));
    return folder.substr(0, folder.rfind('/'));
}

// Each connection takes a descriptor: allow as many as the system lets this process have.
void allow_descriptors() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// The directive with its module library named by its path when the library is found in one of the folders:
// the dynamic loader looks only where it was told at the start of the process.
std::string with_module_path(const std::string& directive, const std::vector<std::string>& folders) {
    const auto star = directive.find("* ");
    const auto colon = star == std::string::npos ? std::string::npos : directive.find(':', star);
    if (directive.compare(0, 7, "dynamic") != 0 || colon == std::string::npos)
        return directive;
    const auto start = directive.find_first_not_of(' ', star + 1);
    const std::string name = directive.substr(start, colon - start);
    if (name.find('/') != std::string::npos)
        return directive;
    for (const std::string& folder : folders) {
        std::string path = folder + "/lib";
        path += name + ".so";
        if (::access(path.c_str(), R_OK) == 0)
            return directive.substr(0, start) + path + directive.substr(colon);
    }
    return directive;
}

// A word as ACE's argument splitter reads it inside a double-quoted string.
std::string quoted(const std::string& word) {
    return word.find_first_of(" \t'") == std::string::npos ? word : "'" + word + "'";
}

} // namespace

std::string with_module_options(const std::string& directive,
                                const std::vector<std::string>& module_options) {
    if (module_options.empty() || directive.compare(0, 7, "dynamic") != 0)
        return directive;
    std::string added;
    for (const std::string& option : module_options)
        added += " " + quoted(option);
    const auto close = directive.rfind('"');
    const auto open =
        close == std::string::npos || close == 0 ? std::string::npos : directive.rfind('"', close - 1);
    if (open == std::string::npos)
        return directive + " \"" + added.substr(1) + "\"";
    return directive.substr(0, close) + added + directive.substr(close);
}

service_host::service_host(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

int service_host::run(const std::vector<std::string>& arguments, const std::function<void()>& wait_for_stop) {
    std::string folder;
    std::string config;
    unsigned threads = 0;
    std::vector<std::string> module_options;
    try {
        po::options_description own("zunservice options");
        own.add_options()("directory,C", po::value<std::string>(&folder),
                          "working directory, which holds cfg/")(
            "threads", po::value<unsigned>(&threads)->default_value(std::thread::hardware_concurrency()),
            "event loop threads")("config",
                                  po::value<std::string>(&config)->default_value("cfg/zunservice.conf"),
                                  "service configuration file");
        po::variables_map values;
        const po::parsed_options parsed =
            po::command_line_parser(arguments).options(own).allow_unregistered().run();
        po::store(parsed, values);
        po::notify(values);
        module_options = po::collect_unrecognized(parsed.options, po::include_positional);
    } catch (const po::error& e) {
        err_ << "zunservice: " << e.what() << std::endl;
        return 2;
    }
    if (!folder.empty() && ::chdir(folder.c_str()) != 0) {
        err_ << "zunservice: cannot work in " << folder << std::endl;
        return 1;
    }
    allow_descriptors();

    const unsigned loop_threads = threads == 0 ? 1 : threads;
    std::unique_ptr<ACE_Proactor> proactor(make_proactor(loop_threads));
    if (proactor == nullptr) {
        err_ << "zunservice: cannot make the proactor" << std::endl;
        return 1;
    }
    ACE_Proactor::instance(proactor.get());
    std::vector<std::thread> loops;
    for (unsigned i = 0; i < loop_threads; ++i)
        loops.emplace_back([&proactor] { proactor->proactor_run_event_loop(); });

    int status = 0;
    ACE_Service_Config::open(ACE_TEXT("zunservice"), ACE_DEFAULT_LOGGER_KEY, true, true, true);
    if (load_modules(config, module_options)) {
        const std::string address = listening();
        if (!address.empty())
            out_ << address << std::endl;
        wait_for_stop();
    } else {
        status = 1;
    }
    ACE_Service_Config::fini_svcs();
    ACE_Service_Config::close();
    proactor->proactor_end_event_loop();
    for (std::thread& t : loops)
        t.join();
    // What the loop threads left queued (the cancelled accepts of the listener, say) is delivered here, so
    // that no result is dropped with what it holds.
    ACE_Time_Value no_wait(0);
    while (proactor->handle_events(no_wait) > 0)
        no_wait = ACE_Time_Value(0);
    ACE_Proactor::instance(static_cast<ACE_Proactor*>(nullptr));
    return status;
}

bool service_host::load_modules(const std::string& file, const std::vector<std::string>& module_options) {
    std::ifstream directives(file);
    if (!directives) {
        err_ << "zunservice: cannot read " << file << std::endl;
        return false;
    }
    int loaded = 0;
    for (std::string line; std::getline(directives, line);) {
        const auto first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;
        // The modules are looked for beside the program, and in the library folder of an installed one.
        const std::string directive =
            with_module_path(with_module_options(line.substr(first), module_options),
                             {program_folder(), program_folder() + "/../lib"});
        if (ACE_Service_Config::process_directive(ACE_TEXT_CHAR_TO_TCHAR(directive.c_str())) != 0) {
            err_ << "zunservice: cannot start the module of " << file << ": " << line << std::endl;
            return false;
        }
        std::istringstream words(directive);
        std::string kind;
        std::string name;
        words >> kind >> name;
        names_.push_back(name);
        ++loaded;
    }
    if (loaded == 0) {
        err_ << "zunservice: " << file << " names no module" << std::endl;
        return false;
    }
    return true;
}

std::string service_host::listening() const {
    for (const std::string& name : names_) {
        const ACE_Service_Type* type = nullptr;
        if (ACE_Service_Repository::instance()->find(ACE_TEXT_CHAR_TO_TCHAR(name.c_str()), &type) != 0 ||
            type == nullptr)
            continue;
        const auto* object = static_cast<const ACE_Service_Object*>(type->type()->object());
        ACE_TCHAR* text = nullptr;
        if (object == nullptr || object->info(&text) <= 0 || text == nullptr)
            continue;
        std::string info = ACE_TEXT_ALWAYS_CHAR(text);
        delete[] text;
        if (info.compare(0, 13, "listening on ") == 0)
            return info;
    }
    return std::string();
}

} // namespace tav
