#pragma once

// What the benchmark programs share: free ports, child processes, measuring in a child of its own and
// waiting until a server answers.

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <type_traits>
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

// Runs work in a fresh child process, so that its memory figures are its own, and returns the plain
// value it hands back through a pipe. Throws when the child fails.
template <class Result, class Work> Result in_child(Work work) {
    static_assert(std::is_trivially_copyable_v<Result>);
    int ends[2];
    if (::pipe(ends) != 0)
        throw std::runtime_error("cannot create a pipe");
    std::cout.flush();
    const pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error("cannot fork");
    if (child == 0) {
        ::close(ends[0]);
        int status = 1;
        try {
            const Result result = work();
            if (::write(ends[1], &result, sizeof result) == static_cast<ssize_t>(sizeof result))
                status = 0;
        } catch (const std::exception& e) {
            std::cerr << "error: " << e.what() << '\n';
        }
        std::cout.flush();
        ::_exit(status);
    }
    ::close(ends[1]);
    Result result{};
    const ssize_t got = ::read(ends[0], &result, sizeof result);
    ::close(ends[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (got != static_cast<ssize_t>(sizeof result) || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("a measuring process failed");
    return result;
}

} // namespace bench
