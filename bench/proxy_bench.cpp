// Requests per second and latency through forward proxies on this machine, all run in the same pass: a local
// nginx (one worker) serves 1 KB and 100 KB answers, and wrk drives them over 50 keep-alive connections
// through Debian's squid as a plain proxy, squid with squidGuard and a blocklist, and zunservice (one event
// loop thread) filtering with a home policy and the same blocked sites in its URL database. Prints each
// proxy's rate, latency p50 and p99, and its ratio to plain squid; checks first that both filters refuse a
// blocked site. Fails (exit 1) when zunservice filters fewer 1 KB requests per second than plain squid
// relays.
//
//   proxy_bench [--seconds S] [--sites N]
//   needs: apt-get install nginx wrk curl squid squidguard (run as root: squid takes its own user)
#include "processes.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using bench::answers;
using bench::free_port;
using bench::start;
using bench::stop;

struct figures {
    double rate = -1;
    double p50_ms = -1;
    double p99_ms = -1;
    long failed = 0;
};

double milliseconds(double value, const std::string& unit) {
    if (unit == "us")
        return value / 1000;
    if (unit == "s")
        return value * 1000;
    return value;
}

// wrk through the proxy on `proxy_port`, asking for `url` over 50 connections.
figures measure(const fs::path& work, int proxy_port, const std::string& url, double seconds) {
    const fs::path script = work / "request.lua";
    std::ofstream(script) << "request = function() return wrk.format(\"GET\", \"" << url << "\") end\n";
    const std::string command = "wrk -t1 -c50 --latency -d" + std::to_string(static_cast<int>(seconds)) +
                                "s -s " + script.string() +
                                " http://127.0.0.1:" + std::to_string(proxy_port) + "/ 2>&1";
    figures found;
    FILE* output = ::popen(command.c_str(), "r");
    if (output == nullptr)
        return found;
    char line[512];
    while (std::fgets(line, sizeof line, output) != nullptr) {
        double value = 0;
        char unit[8] = "";
        long count = 0;
        if (std::sscanf(line, "Requests/sec: %lf", &value) == 1)
            found.rate = value;
        else if (std::sscanf(line, " 50%% %lf%7s", &value, unit) == 2)
            found.p50_ms = milliseconds(value, unit);
        else if (std::sscanf(line, " 99%% %lf%7s", &value, unit) == 2)
            found.p99_ms = milliseconds(value, unit);
        else if (std::sscanf(line, " Non-2xx or 3xx responses: %ld", &count) == 1)
            found.failed += count;
        else if (std::sscanf(line, " Socket errors: connect %ld", &count) == 1)
            found.failed += count;
    }
    ::pclose(output);
    return found;
}

// The status that the proxy answers for the URL, as curl reports it.
std::string status_through(int proxy_port, const std::string& url) {
    const std::string command =
        "curl -s -o /dev/null -w '%{http_code}' --max-time 5 -x 127.0.0.1:" + std::to_string(proxy_port) +
        " " + url;
    FILE* output = ::popen(command.c_str(), "r");
    char code[16] = "";
    if (output != nullptr) {
        if (std::fgets(code, sizeof code, output) == nullptr)
            code[0] = '\0';
        ::pclose(output);
    }
    return code;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void squid_config(const fs::path& file, const fs::path& work, const std::string& name, int port,
                  const std::string& extra) {
    std::ofstream(file) << "http_port 127.0.0.1:" << port << "\nhttp_access allow all\ncache deny all\n"
                        << "cache_mem 8 MB\npid_filename " << (work / (name + ".pid")).string()
                        << "\naccess_log stdio:" << (work / (name + "-access.log")).string() << "\ncache_log "
                        << (work / (name + "-cache.log")).string() << "\ncache_store_log none\ncoredump_dir "
                        << work.string() << "\nhosts_file " << (work / "hosts").string()
                        << "\ndns_nameservers 127.0.0.1\nshutdown_lifetime 0 seconds\n"
                        << extra;
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 5;
    int sites = 100000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--seconds")
            seconds = std::atof(argv[i + 1]);
        else if (std::string(argv[i]) == "--sites")
            sites = std::atoi(argv[i + 1]);
    }
    if (std::system("{ command -v nginx && command -v wrk && command -v curl && command -v squid && "
                    "command -v squidGuard; } >/dev/null") != 0) {
        std::cerr << "proxy_bench needs nginx, wrk, curl, squid and squidGuard: "
                     "apt-get install nginx wrk curl squid squidguard\n";
        return 2;
    }
    char name[] = "/tmp/tollwick-proxy-bench-XXXXXX";
    const fs::path work = ::mkdtemp(name);
    ::chmod(work.c_str(), 0777); // squid and squidGuard run as their own user

    // The answers, the names, and the blocked sites in each filter's own form.
    fs::create_directories(work / "www");
    std::ofstream(work / "www/1k") << std::string(1024, 'a');
    std::ofstream(work / "www/100k") << std::string(100 * 1024, 'b');
    std::ofstream(work / "hosts") << "127.0.0.1 site.example\n";
    fs::create_directories(work / "sgdb/blocked");
    fs::create_directories(work / "sglog");
    {
        std::ofstream domains(work / "sgdb/blocked/domains");
        std::ofstream list(work / "sites.txt");
        for (int i = 0; i < sites; ++i) {
            domains << "blocked-" << i << ".example\n";
            list << "blocked blocked-" << i << ".example 6\n";
        }
    }
    const int nginx_port = free_port();
    const std::string origin = "http://site.example:" + std::to_string(nginx_port);
    std::ofstream(work / "squidGuard.conf")
        << "dbhome " << (work / "sgdb").string() << "\nlogdir " << (work / "sglog").string()
        << "\ndest blocked {\n    domainlist blocked/domains\n}\nacl {\n    default {\n"
        << "        pass !blocked all\n        redirect http://127.0.0.1:" << nginx_port
        << "/blocked\n    }\n}\n";
    fs::create_directories(work / "tollwick");
    fs::copy(SAMPLE_CFG, work / "tollwick/cfg", fs::copy_options::recursive);
    const fs::path policy = work / "tollwick/cfg/zun_data.xml";
    std::string home = replaced(read_file(policy), "<id>192.168.1.10</id><ip>192.168.1.10</ip>",
                                "<id>127.0.0.1</id><ip>127.0.0.1</ip>");
    for (const char* rule : {"istimetableenabled", "timelimitsenabled", "trafficlimitsenabled"})
        home = replaced(home, std::string("<") + rule + ">1<", std::string("<") + rule + ">0<");
    std::ofstream(policy) << home;
    if (std::system(
            ("squidGuard -c " + (work / "squidGuard.conf").string() + " -C all >/dev/null 2>&1").c_str()) !=
            0 ||
        std::system((std::string(TOLLWICK_URLDB) + " " + (work / "sites.txt").string() + " " +
                     (work / "tollwick/cfg/URLFilterDB.bin").string() + " >/dev/null")
                        .c_str()) != 0 ||
        std::system(("chmod -R a+rwX " + work.string()).c_str()) != 0) {
        std::cerr << "proxy_bench: the blocked sites could not be built; see " << work << '\n';
        return 2;
    }

    std::ofstream(work / "nginx.conf")
        << "worker_processes 1;\ndaemon off;\npid " << (work / "nginx.pid").string() << ";\nerror_log "
        << (work / "nginx-error.log").string()
        << ";\nevents { worker_connections 4096; }\nhttp {\n  access_log off;\n"
        << "  keepalive_requests 1000000;\n  server {\n    listen 127.0.0.1:" << nginx_port << ";\n    root "
        << (work / "www").string() << ";\n  }\n}\n";
    const int squid_port = free_port();
    const int guarded_port = free_port();
    const int tollwick_port = free_port();
    squid_config(work / "squid.conf", work, "squid", squid_port, "");
    squid_config(work / "guarded.conf", work, "guarded", guarded_port,
                 "url_rewrite_program /usr/bin/squidGuard -c " + (work / "squidGuard.conf").string() +
                     "\nurl_rewrite_children 4 startup=4 idle=1\n");
    const std::vector<pid_t> servers = {
        start({"nginx", "-c", (work / "nginx.conf").string(), "-p", work.string()}, work / "nginx.out"),
        start({"squid", "-N", "-f", (work / "squid.conf").string()}, work / "squid.out"),
        start({"squid", "-N", "-f", (work / "guarded.conf").string()}, work / "guarded.out"),
        start({ZUNSERVICE, "-C", (work / "tollwick").string(), "--threads", "1", "--listen",
               "127.0.0.1:" + std::to_string(tollwick_port), "--proxy.hosts_file", (work / "hosts").string()},
              work / "zunservice.out")};
    const struct {
        const char* name;
        int port;
    } proxies[] = {{"squid", squid_port}, {"squid + squidGuard", guarded_port}, {"Tollwick", tollwick_port}};

    int status = 0;
    bool ready = answers(nginx_port, "/1k");
    for (const auto& p : proxies)
        ready = ready && answers(p.port, origin + "/1k", "127.0.0.1:" + std::to_string(p.port));
    if (!ready) {
        std::cerr << "proxy_bench: a server did not start; see " << work << '\n';
        status = 2;
    } else {
        const std::string blocked = "http://blocked-" + std::to_string(sites / 2) + ".example/";
        std::printf("a blocked site through squid + squidGuard: %s, through Tollwick: %s\n",
                    status_through(guarded_port, blocked).c_str(),
                    status_through(tollwick_port, blocked).c_str());
        std::printf("%d blocked sites, 50 connections, %.0f s each\n\n", sites, seconds);
        std::printf("%-8s %-20s %10s %9s %9s %9s %8s\n", "answer", "proxy", "req/s", "p50 ms", "p99 ms",
                    "failed", "ratio");
        for (const char* size : {"1k", "100k"}) {
            double squid_rate = 0;
            for (const auto& p : proxies) {
                const figures f = measure(work, p.port, origin + "/" + size, seconds);
                if (p.port == squid_port)
                    squid_rate = f.rate;
                const double ratio = squid_rate > 0 ? f.rate / squid_rate : 0;
                std::printf("%-8s %-20s %10.0f %9.2f %9.2f %9ld %8.2f\n", size, p.name, f.rate, f.p50_ms,
                            f.p99_ms, f.failed, ratio);
                if (p.port == tollwick_port && std::string(size) == "1k" && ratio < 1.0) {
                    std::printf(
                        "FAIL: Tollwick filters fewer 1 KB requests per second than plain squid relays\n");
                    status = 1;
                }
            }
        }
    }
    for (const pid_t server : servers)
        stop(server);
    if (status != 2)
        fs::remove_all(work);
    return status;
}
