// Requests per second for a small image of the administration site over keep-alive connections, from the
// service (zunservice, one event loop thread) and from nginx (one worker) serving the same file, measured
// with wrk in the same run, at 1 and 50 connections. Fails (exit 1) when the service reaches less than half
// of nginx's rate at 50 connections.
//
//   http_bench [--seconds S]        needs nginx and wrk: apt-get install nginx wrk
#include "processes.hpp"

#include <support/temp_folder.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using bench::answers;
using bench::free_port;
using bench::start;
using bench::stop;

// wrk's requests per second for the URL, or -1.
double rate(int port, int connections, double seconds) {
    const std::string command = "wrk -t1 -c" + std::to_string(connections) + " -d" +
                                std::to_string(static_cast<int>(seconds)) +
                                "s http://127.0.0.1:" + std::to_string(port) + "/images/logo.png 2>&1";
    FILE* output = ::popen(command.c_str(), "r");
    if (output == nullptr)
        return -1;
    double found = -1;
    char line[512];
    while (std::fgets(line, sizeof line, output) != nullptr)
        std::sscanf(line, "Requests/sec: %lf", &found);
    ::pclose(output);
    return found;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 5;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::string(argv[i]) == "--seconds")
            seconds = std::atof(argv[i + 1]);
    if (std::system(
            "command -v nginx >/dev/null && command -v wrk >/dev/null && command -v curl >/dev/null") != 0) {
        std::cerr << "http_bench needs nginx, wrk and curl: apt-get install nginx wrk curl\n";
        return 2;
    }
    support::temp_folder folder("http-bench");
    const fs::path& work = folder.path();
    fs::copy(SAMPLE_CFG, work / "cfg", fs::copy_options::recursive);
    const fs::path site = work / "cfg/Administration/site";

    const int nginx_port = free_port();
    std::ofstream(work / "nginx.conf")
        << "worker_processes 1;\ndaemon off;\npid " << (work / "nginx.pid").string() << ";\nerror_log "
        << (work / "nginx-error.log").string()
        << ";\nevents { worker_connections 1024; }\nhttp {\n  access_log "
        << (work / "nginx-access.log").string() << ";\n  server {\n    listen 127.0.0.1:" << nginx_port
        << ";\n    root " << site.string() << ";\n  }\n}\n";
    const pid_t nginx =
        start({"nginx", "-c", (work / "nginx.conf").string(), "-p", work.string()}, work / "nginx.out");
    const int service_port = free_port();
    const pid_t service = start({ZUNSERVICE, "-C", work.string(), "--threads", "1", "--listen",
                                 "127.0.0.1:" + std::to_string(service_port)},
                                work / "zunservice.out");
    int status = 0;
    if (!answers(nginx_port, "/images/logo.png") || !answers(service_port, "/images/logo.png")) {
        std::cerr << "http_bench: a server did not start; see " << work << '\n';
        status = 2;
    } else {
        std::printf("%-12s %14s %14s %8s\n", "connections", "nginx req/s", "service req/s", "ratio");
        for (int connections : {1, 50}) {
            const double baseline = rate(nginx_port, connections, seconds);
            const double measured = rate(service_port, connections, seconds);
            const double ratio = baseline > 0 ? measured / baseline : 0;
            std::printf("%-12d %14.0f %14.0f %8.2f\n", connections, baseline, measured, ratio);
            if (connections == 50 && ratio < 0.5) {
                std::printf("FAIL: below half of nginx at 50 connections\n");
                status = 1;
            }
        }
    }
    stop(service);
    stop(nginx);
    if (status == 2)
        folder.keep();
    return status;
}
