// Requests per second and latency through forward proxies on this machine, all run in the same pass: a local
// nginx (one worker) serves 1 KB and 100 KB answers, and wrk drives them over 50 keep-alive connections
// through Debian's squid as a plain proxy, squid with squidGuard and a blocklist, and zunservice (one event
// loop thread) filtering with a home policy and the same blocked sites in its URL database. Prints each
// proxy's rate, latency p50 and p99, and its ratio to plain squid; checks first that both filters refuse a
// blocked site.
//
// Then CONNECT tunnels to an origin inside this program, through plain squid and zunservice with its check
// of the TLS handshake on and off (--proxy.opaque_ports): new tunnels per second over 50 connections, each
// sending a ClientHello from curl and reading a 100-byte answer before it closes, and MB/s through 4 tunnels
// streaming from the origin. Meanwhile the proxies are kept on one core and this program on another, and
// they take turns in rounds of about a quarter of a second. Prints the figures (medians of the rounds),
// Tollwick's ratio to squid and the ratio of the check on to off; checks first that a tunnel works through
// each.
//
// zunservice runs once more without its activity history (--activity.keep_days 0), in three turns with the
// one that keeps it, and once more with two event loop threads, for the plain requests. Prints the size of
// the history's database per million requests recorded. Fails (exit 1) when zunservice with its history
// relays less than 0.95 times what it does without at 1 KB answers.
//
// zunservice's figures with two event loop threads: Fails (exit 1) when, at 1 KB
// answers, zunservice on two threads filters less than 1.5 times what it does on one, or less than 1.5 times
// what plain squid relays, or answers with a p99 longer than squid's; when it carries fewer tunnels or tunnel
// bytes per second than squid, or its handshake check costs more than 10 % of either figure (check on below
// 0.90 x check off).
//
//   proxy_bench [--seconds S] [--sites N]
//   needs: apt-get install nginx wrk curl squid squidguard (run as root: squid takes its own user)
#include "home_proxy.hpp"
#include "processes.hpp"
#include "wrk.hpp"

#include <support/temp_folder.hpp>

#include <netinet/in.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

using bench::answers;
using bench::free_port;
using bench::read_file;
using bench::start;
using bench::stop;

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

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

// Sends a short message on a nonblocking socket whose send buffer is still empty, so that it goes whole.
bool send_whole(int s, const std::string& message) {
    return ::send(s, message.data(), message.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(message.size());
}

// What came through the tunnels of one run, a second (while it runs: in all).
struct tunnel_load {
    double tunnels = 0; // short tunnels completed
    double bytes = 0;   // bytes received by the clients
    long failed = 0;    // tunnels that failed
    std::string seen;   // what the last failed one saw
};

// Tunnels through a proxy and their far end, driven by one epoll loop on the calling thread: clients open
// CONNECT tunnels to site.example on the ports of this loop's origins and send the ClientHello through.
// The short origin answers 100 bytes and waits for the end, the streaming one sends 64 KiB blocks until its
// peer ends. A client of a short tunnel closes it once the 100 bytes have come and opens the next.
class tunnel_bench {
public:
    explicit tunnel_bench(std::string hello) : hello_(std::move(hello)) {
        for (const role listener : {role::streaming_listener, role::short_listener}) {
            const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            sockaddr_in address = loopback(0);
            socklen_t length = sizeof address;
            if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                ::listen(s, 1024) != 0 ||
                ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0)
                throw std::runtime_error("the tunnels' origin cannot listen");
            add(s, listener, EPOLLIN);
            const std::string target = "site.example:" + std::to_string(ntohs(address.sin_port));
            requests_.push_back("CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n");
            ports_ += (ports_.empty() ? "" : ",") + std::to_string(ntohs(address.sin_port));
        }
    }
    tunnel_bench(const tunnel_bench&) = delete;
    tunnel_bench& operator=(const tunnel_bench&) = delete;
    ~tunnel_bench() {
        for (std::size_t s = 0; s < peers_.size(); ++s)
            if (peers_[s].is != role::none)
                ::close(static_cast<int>(s));
        ::close(epoll_);
    }

    // The origin's ports, separated by commas.
    const std::string& ports() const { return ports_; }

    // `connections` short or streaming tunnels at a time through the proxy on `proxy_port`; counted over
    // `seconds` after `warmup` seconds.
    tunnel_load run(int proxy_port, bool streaming, int connections, double warmup, double seconds) {
        proxy_port_ = proxy_port;
        streaming_ = streaming;
        tunnel_load first;
        for (int i = 0; i < connections; ++i)
            open_client();
        using clock = std::chrono::steady_clock;
        const auto in = [](double seconds) {
            return std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(seconds));
        };
        const clock::time_point measure_from = clock::now() + in(warmup);
        clock::time_point begin;
        bool measuring = false;
        epoll_event events[256];
        for (auto now = clock::now(); now < measure_from + in(seconds); now = clock::now()) {
            if (!measuring && now >= measure_from) {
                measuring = true;
                first = counted_;
                begin = now;
            }
            const int ready = ::epoll_wait(epoll_, events, 256, 10);
            for (int i = 0; i < ready; ++i)
                on_event(events[i].data.fd, events[i].events);
        }
        const std::chrono::duration<double> taken = clock::now() - begin;
        for (std::size_t s = 0; s < peers_.size(); ++s)
            if (peers_[s].is == role::client)
                remove(static_cast<int>(s));
        tunnel_load found = counted_;
        found.tunnels = (found.tunnels - first.tunnels) / taken.count();
        found.bytes = (found.bytes - first.bytes) / taken.count();
        counted_ = {};
        return found;
    }

private:
    enum class role { none, short_listener, streaming_listener, client, origin };
    enum class stage { connecting, answer_head, tunnel, hello, answered, streaming };
    struct peer {
        role is = role::none;
        stage at = stage::connecting;
        std::string text; // the proxy's answer head, or the ClientHello, so far
        std::size_t received = 0;
        bool streaming = false;
    };

    void add(int s, role is, std::uint32_t events, stage at = stage::connecting, bool streaming = false) {
        if (peers_.size() <= static_cast<std::size_t>(s))
            peers_.resize(static_cast<std::size_t>(s) + 1);
        peers_[static_cast<std::size_t>(s)] = {is, at, std::string(), 0, streaming};
        epoll_event event{};
        event.events = events;
        event.data.fd = s;
        ::epoll_ctl(epoll_, EPOLL_CTL_ADD, s, &event);
    }

    void watch(int s, std::uint32_t events) {
        epoll_event event{};
        event.events = events;
        event.data.fd = s;
        ::epoll_ctl(epoll_, EPOLL_CTL_MOD, s, &event);
    }

    void remove(int s) {
        peers_[static_cast<std::size_t>(s)].is = role::none;
        ::close(s); // leaves the epoll set too
    }

    void open_client() {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const sockaddr_in proxy = loopback(proxy_port_);
        if (::connect(s, reinterpret_cast<const sockaddr*>(&proxy), sizeof proxy) != 0 &&
            errno != EINPROGRESS) {
            ::close(s);
            ++counted_.failed;
            counted_.seen = "no connection to the proxy";
            return;
        }
        add(s, role::client, EPOLLOUT);
    }

    void on_event(int s, std::uint32_t events) {
        peer& p = peers_[static_cast<std::size_t>(s)];
        if (p.is == role::short_listener || p.is == role::streaming_listener) {
            const bool streaming = p.is == role::streaming_listener; // add() may move the peers
            for (int origin; (origin = ::accept4(s, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;)
                add(origin, role::origin, EPOLLIN, stage::hello, streaming);
        } else if (p.is == role::client) {
            on_client(s, p);
        } else if (p.is == role::origin) {
            on_origin(s, p, events);
        }
    }

    void client_failed(int s, const std::string& seen) {
        remove(s);
        ++counted_.failed;
        counted_.seen = seen;
        open_client();
    }

    void on_client(int s, peer& p) {
        if (p.at == stage::connecting) {
            int error = 0;
            socklen_t length = sizeof error;
            if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0 ||
                !send_whole(s, requests_[streaming_ ? 0 : 1]))
                return client_failed(s, "no connection to the proxy");
            p.at = stage::answer_head;
            return watch(s, EPOLLIN);
        }
        const ssize_t got = ::recv(s, buffer_.data(), buffer_.size(), 0);
        if (got < 0 && errno == EAGAIN)
            return;
        if (got <= 0)
            return client_failed(s, p.at == stage::answer_head ? "the proxy answered: " + p.text
                                                               : "the tunnel ended early");
        if (p.at == stage::answer_head) {
            // Nothing may follow the head: the origin says nothing before the ClientHello.
            p.text.append(buffer_.data(), static_cast<std::size_t>(got));
            const std::size_t end = p.text.find("\r\n\r\n");
            if (end == std::string::npos && p.text.size() < 4096)
                return;
            if (end == std::string::npos || end + 4 != p.text.size() ||
                p.text.compare(0, 7, "HTTP/1.") != 0 || p.text.compare(8, 5, " 200 ") != 0 ||
                !send_whole(s, hello_))
                return client_failed(s, "the proxy answered: " + p.text);
            p.at = stage::tunnel;
            return;
        }
        counted_.bytes += static_cast<double>(got);
        p.received += static_cast<std::size_t>(got);
        if (!streaming_ && p.received >= 100) {
            ++counted_.tunnels;
            remove(s);
            open_client();
        }
    }

    void on_origin(int s, peer& p, std::uint32_t events) {
        if ((events & (EPOLLIN | EPOLLERR | EPOLLHUP)) != 0) {
            const ssize_t got = ::recv(s, buffer_.data(), buffer_.size(), 0);
            if (got == 0 || (got < 0 && errno != EAGAIN))
                return remove(s);
            if (got > 0 && p.at == stage::hello) {
                p.text.append(buffer_.data(), static_cast<std::size_t>(got));
                const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(p.text[i]); };
                if (p.text.size() < 5 || p.text.size() < 5 + (std::size_t{byte(3)} << 8 | byte(4)))
                    return;
                p.at = p.streaming ? stage::streaming : stage::answered;
                if (p.streaming)
                    watch(s, EPOLLIN | EPOLLOUT);
                else if (!send_whole(s, answer_))
                    return remove(s);
            }
        }
        if ((events & EPOLLOUT) != 0 && p.at == stage::streaming &&
            ::send(s, block_.data(), block_.size(), MSG_NOSIGNAL) < 0 && errno != EAGAIN)
            remove(s);
    }

    const std::string hello_;
    const std::string answer_ = std::string(100, 'o'); // of the short origin
    const int epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    std::vector<peer> peers_; // by descriptor
    std::string ports_;
    std::vector<std::string> requests_; // a CONNECT to the streaming origin, then one to the short one
    int proxy_port_ = 0;
    bool streaming_ = false;
    tunnel_load counted_;
    std::vector<char> buffer_ = std::vector<char>(256 * 1024);
    const std::vector<char> block_ = std::vector<char>(64 * 1024, 's');
};

struct tunnel_figures {
    double tunnels = 0;   // short tunnels a second
    double megabytes = 0; // MB a second through the streaming tunnels
    long failed = 0;
};

// Short tunnels over 50 connections, then 4 streaming tunnels, through the proxy, `seconds` each after
// 50 ms to warm up.
tunnel_figures measure_tunnels(tunnel_bench& bench, int proxy_port, double seconds) {
    const tunnel_load short_ones = bench.run(proxy_port, false, 50, 0.05, seconds);
    const tunnel_load streaming = bench.run(proxy_port, true, 4, 0.05, seconds);
    return {short_ones.tunnels, streaming.bytes / 1e6, short_ones.failed + streaming.failed};
}

struct proxy {
    const char* name;
    int port;
    pid_t process;
};

// Keeps the threads of a process (0: the calling thread) on one core.
void pin(pid_t process, int core) {
    cpu_set_t cores;
    CPU_ZERO(&cores);
    CPU_SET(core, &cores);
    std::error_code missing;
    if (process == 0)
        ::sched_setaffinity(0, sizeof cores, &cores);
    else
        for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(process) + "/task", missing))
            ::sched_setaffinity(std::stoi(task.path().filename()), sizeof cores, &cores);
}

// The tunnel section: one tunnel through each proxy first, then the figures of squid, Tollwick and Tollwick
// with the handshake check off (in that order), with the ratios; false when a tunnel fails or a floor is
// missed.
bool tunnels_pass(const std::vector<proxy>& proxies, tunnel_bench& bench, double seconds) {
    // Left to the scheduler, the proxy and this loop share the two cores differently from one moment to the
    // next; each on a core of its own, they give steadier figures.
    pin(0, 0);
    for (const proxy& p : proxies)
        pin(p.process, 1);
    for (const proxy& p : proxies)
        for (const bool streaming : {false, true}) {
            const tunnel_load check = bench.run(p.port, streaming, 1, 0, 0.2);
            if (check.failed > 0 || (streaming ? check.bytes : check.tunnels) <= 0) {
                std::printf("FAIL: no %s tunnel through %s: %s\n", streaming ? "streaming" : "short", p.name,
                            check.seen.empty() ? "nothing came through" : check.seen.c_str());
                return false;
            }
        }
    // The machine's speed drifts by a fifth over seconds and now and then a round stalls: so the proxies take
    // turns in rounds of about a quarter of a second, in a rotating order (the closed connections that one
    // leaves in TIME_WAIT slow down the next a little), each figure is the median of a proxy's rounds, and
    // each ratio the median of the ratios within the rounds.
    const int rounds = std::max(1, static_cast<int>(std::lround(seconds / 0.25)));
    std::printf(
        "\nCONNECT tunnels to site.example: 50 connections each sending a ClientHello and reading 100 "
        "bytes, and 4 tunnels streaming 64 KiB writes, %.0f s each in turns of %.2f s\n\n",
        seconds, seconds / rounds);
    std::vector<std::vector<tunnel_figures>> measured(proxies.size());
    for (int round = 0; round < rounds; ++round)
        for (std::size_t turn = 0; turn < proxies.size(); ++turn) {
            const std::size_t i = (static_cast<std::size_t>(round) + turn) % proxies.size();
            measured[i].push_back(measure_tunnels(bench, proxies[i].port, seconds / rounds));
        }
    // The median over the rounds of a figure of proxy `of`, or of its ratio to that of proxy `to`.
    const auto median = [&](double tunnel_figures::*figure, std::size_t of, int to = -1) {
        std::vector<double> values;
        for (std::size_t round = 0; round < measured[of].size(); ++round)
            values.push_back(
                measured[of][round].*figure /
                (to < 0 ? 1 : std::max(measured[static_cast<std::size_t>(to)][round].*figure, 1e-9)));
        std::sort(values.begin(), values.end());
        return (values[values.size() / 2] + values[(values.size() - 1) / 2]) / 2;
    };
    const auto tunnels = &tunnel_figures::tunnels;
    const auto megabytes = &tunnel_figures::megabytes;
    std::printf("%-20s %10s %8s %9s %8s %9s\n", "proxy", "tunnels/s", "ratio", "MB/s", "ratio", "failed");
    for (std::size_t i = 0; i < proxies.size(); ++i) {
        long failed = 0;
        for (const tunnel_figures& round : measured[i])
            failed += round.failed;
        std::printf("%-20s %10.0f %8.2f %9.1f %8.2f %9ld\n", proxies[i].name, median(tunnels, i),
                    median(tunnels, i, 0), median(megabytes, i), median(megabytes, i, 0), failed);
    }
    const double vs_squid[] = {median(tunnels, 1, 0), median(megabytes, 1, 0)};
    const double check[] = {median(tunnels, 1, 2), median(megabytes, 1, 2)};
    std::printf("Tollwick / squid: %.2f tunnels/s, %.2f MB/s; handshake check on / off: %.2f tunnels/s, %.2f "
                "MB/s\n",
                vs_squid[0], vs_squid[1], check[0], check[1]);
    bool pass = true;
    if (vs_squid[0] < 1.0 || vs_squid[1] < 1.0) {
        std::printf("FAIL: Tollwick carries fewer tunnels or tunnel bytes per second than plain squid\n");
        pass = false;
    }
    if (check[0] < 0.9 || check[1] < 0.9) {
        std::printf(
            "FAIL: the handshake check costs more than 10 %% of the tunnels or tunnel bytes per second\n");
        pass = false;
    }
    return pass;
}

} // namespace

// The floors of the plain requests at 1 KB answers, with the figures; false when one is missed.
bool requests_pass(const bench::wrk_figures& squid, const bench::wrk_figures& one,
                   const bench::wrk_figures& two) {
    const double threads = one.rate > 0 ? two.rate / one.rate : 0;
    const double over_squid = squid.rate > 0 ? two.rate / squid.rate : 0;
    std::printf(
        "\nTollwick at 1 KB: 2 threads / 1 thread %.2f (floor 1.5), 2 threads / squid %.2f (floor 1.5), "
        "p99 %.2f ms against squid's %.2f ms\n",
        threads, over_squid, two.p99_ms, squid.p99_ms);
    const bool met = threads >= 1.5 && over_squid >= 1.5 && two.p99_ms <= squid.p99_ms;
    if (!met)
        std::printf("FAIL: Tollwick missed a floor of the requests at 1 KB\n");
    return met;
}

// The floor of the activity history at 1 KB answers, and the size of its database per million requests; false
// when the floor is missed.
bool history_pass(double ratio, const fs::path& folder, double requests) {
    std::uintmax_t bytes = 0;
    for (const char* file : {"activity.db", "activity.db-wal"}) {
        std::error_code error;
        const std::uintmax_t size = fs::file_size(folder / file, error);
        bytes += error ? 0 : size;
    }
    std::printf(
        "\nTollwick at 1 KB: history on / off %.2f (floor 0.95); the history's database: %.0f bytes for "
        "%.0f requests, %.1f MB a million\n",
        ratio, static_cast<double>(bytes), requests,
        requests > 0 ? static_cast<double>(bytes) / requests : 0.0);
    if (ratio >= 0.95)
        return true;
    std::printf("FAIL: Tollwick relays less than 0.95 times as much with its history on\n");
    return false;
}

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
    const std::string hello = read_file(CLIENT_HELLO); // a TLS ClientHello record from curl for site.example
    if (hello.size() < 5) {
        std::cerr << "proxy_bench: cannot read " << CLIENT_HELLO << '\n';
        return 2;
    }
    support::temp_folder folder("proxy-bench");
    const fs::path& work = folder.path();
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
    bench::write_home_config(SAMPLE_CFG, work / "tollwick");
    if (std::system(
            ("squidGuard -c " + (work / "squidGuard.conf").string() + " -C all >/dev/null 2>&1").c_str()) !=
            0 ||
        std::system((std::string(TOLLWICK_URLDB) + " " + (work / "sites.txt").string() + " " +
                     (work / "tollwick/cfg/URLFilterDB.bin").string() + " >/dev/null")
                        .c_str()) != 0 ||
        std::system(("chmod -R a+rwX " + work.string()).c_str()) != 0) {
        std::cerr << "proxy_bench: the blocked sites could not be built; see " << work << '\n';
        folder.keep();
        return 2;
    }

    bench::write_nginx_config(work, nginx_port, work / "www");
    const int squid_port = free_port();
    const int guarded_port = free_port();
    const int tollwick_port = free_port();
    const int opaque_port = free_port();
    const int two_threads_port = free_port();
    const int quiet_port = free_port();
    tunnel_bench bench(hello);
    fs::copy(work / "tollwick", work / "tollwick-opaque", fs::copy_options::recursive);
    fs::copy(work / "tollwick", work / "tollwick-two", fs::copy_options::recursive);
    fs::copy(work / "tollwick", work / "tollwick-quiet", fs::copy_options::recursive);
    const auto tollwick = [&](const std::string& name, int port, const std::vector<std::string>& options,
                              const char* threads = "1") {
        std::vector<std::string> command =
            bench::proxy_command(ZUNSERVICE, work / name, port, work / "hosts");
        command.insert(command.end(), {"--threads", threads, "--proxy.connect_ports", bench.ports()});
        command.insert(command.end(), options.begin(), options.end());
        return start(command, work / (name + ".out"));
    };
    squid_config(work / "squid.conf", work, "squid", squid_port, "");
    squid_config(work / "guarded.conf", work, "guarded", guarded_port,
                 "url_rewrite_program /usr/bin/squidGuard -c " + (work / "squidGuard.conf").string() +
                     "\nurl_rewrite_children 4 startup=4 idle=1\n");
    const std::vector<pid_t> servers = {
        start(bench::nginx_command(work), work / "nginx.out"),
        start({"squid", "-N", "-f", (work / "squid.conf").string()}, work / "squid.out"),
        start({"squid", "-N", "-f", (work / "guarded.conf").string()}, work / "guarded.out"),
        tollwick("tollwick", tollwick_port, {}),
        tollwick("tollwick-opaque", opaque_port, {"--proxy.opaque_ports", bench.ports()}),
        tollwick("tollwick-two", two_threads_port, {}, "2"),
        tollwick("tollwick-quiet", quiet_port, {"--activity.keep_days", "0"})};
    const proxy proxies[] = {{"squid", squid_port, servers[1]},
                             {"squid + squidGuard", guarded_port, servers[2]},
                             {"Tollwick", tollwick_port, servers[3]},
                             {"Tollwick, 2 threads", two_threads_port, servers[5]}};
    const proxy opaque = {"Tollwick, check off", opaque_port, servers[4]};

    int status = 0;
    bench::wrk_figures small[std::size(proxies)];
    double recorded = 0; // requests through the proxy with its history on
    double history = 0;  // its rate with the history on / off
    bool ready = answers(nginx_port, "/1k");
    for (const proxy& p : {proxies[0], proxies[1], proxies[2], proxies[3], opaque,
                           proxy{"Tollwick, no history", quiet_port, servers[6]}})
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
            for (std::size_t i = 0; i < std::size(proxies); ++i) {
                const bench::wrk_figures f =
                    bench::wrk_through(work, proxies[i].port, origin + "/" + size, seconds);
                if (i == 0)
                    squid_rate = f.rate;
                if (std::string(size) == "1k")
                    small[i] = f;
                if (i == 2)
                    recorded += f.rate * seconds;
                std::printf("%-8s %-20s %10.0f %9.2f %9.2f %9ld %8.2f\n", size, proxies[i].name, f.rate,
                            f.p50_ms, f.p99_ms, f.failed, squid_rate > 0 ? f.rate / squid_rate : 0);
            }
        }
        if (!requests_pass(small[0], small[2], small[3]))
            status = 1;
        // With the history and without, in turns, so that whatever else the machine does falls on both alike.
        double on = 0;
        double off = 0;
        for (int round = 0; round < 3; ++round) {
            on += bench::wrk_through(work, tollwick_port, origin + "/1k", seconds).rate;
            off += bench::wrk_through(work, quiet_port, origin + "/1k", seconds).rate;
        }
        recorded += on * seconds;
        history = off > 0 ? on / off : 0;
        if (!tunnels_pass({proxies[0], proxies[2], opaque}, bench, seconds))
            status = 1;
    }
    for (const pid_t server : servers)
        stop(server);
    // The history is all written once its service has stopped.
    if (status != 2 && !history_pass(history, work / "tollwick/log", recorded))
        status = 1;
    if (status == 2)
        folder.keep();
    return status;
}
