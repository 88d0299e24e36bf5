#pragma once

// What the benchmark programs share: free ports, child processes and waiting until a server answers.

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace bench {

// A port that was free a moment ago on 127.0.0.1.
inline int free_port() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        address.sin_port = 0;
    ::close(s);
    return ntohs(address.sin_port);
}

// A child process running the program with its arguments; its output goes to `log`.
inline pid_t start(const std::vector<std::string>& command, const std::filesystem::path& log) {
    const pid_t child = ::fork();
    if (child == 0) {
        std::freopen(log.c_str(), "w", stdout);
        std::freopen(log.c_str(), "a", stderr);
        std::vector<char*> argv;
        argv.reserve(command.size() + 1);
        for (const std::string& word : command)
            argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        std::_Exit(127);
    }
    return child;
}

inline void stop(pid_t child) {
    ::kill(child, SIGTERM);
    ::waitpid(child, nullptr, 0);
}

// Whether something answers HTTP on the port, tried for up to ten seconds.
inline bool answers(int port, const std::string& path, const std::string& proxy = "") {
    const std::string probe =
        "curl -s -o /dev/null --max-time 1 " + (proxy.empty() ? "" : "-x " + proxy + " ") +
        (path.rfind("http", 0) == 0 ? path : "http://127.0.0.1:" + std::to_string(port) + path);
    for (int i = 0; i < 50; ++i) {
        if (std::system(probe.c_str()) == 0)
            return true;
        ::usleep(200000);
    }
    return false;
}

} // namespace bench
