// Hours of ordinary use: zunservice filters a browser-like mix of answers from a local nginx for a home
// policy at half the rate it reaches, while the administrator edits and saves the policy on its site every
// second.
//
// First wrk measures the proxy's rate for 1 KB answers over 50 connections (5 s). Then 3 threads of 16
// keep-alive connections each ask at half that rate, on a fixed schedule, for 1 KB pages, 5 KB images and
// style sheets (99 in 100) and 200 KB photos and a 1 MB script (1 in 100), each to be answered with 200 and
// the whole body; meanwhile, every second, the administrator signed in on the site adds a blocked site to
// the group of this machine or removes it again, and the policy file is saved. Prints a line a minute: the
// service's resident memory and open descriptors (medians of the minute's samples, one a second), the
// requests done, the errors (failed requests and edits), the latency p99 of the minute and the edits saved;
// then a summary.
//
// Fails (exit 1) when a request or an edit fails, or when the resident memory or the descriptors of a minute
// after the second exceed those of the second by more than 10 %.
//
//   soak [--minutes N]     default 60, at least 3; needs nginx, wrk and curl: apt-get install nginx wrk curl
#include "admin_editor.hpp"
#include "home_proxy.hpp"
#include "paced_load.hpp"
#include "processes.hpp"
#include "wrk.hpp"

#include <support/temp_folder.hpp>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

using bench::start;
using bench::stop;

const char* const kPassword = "soak-admin-secret";
const char* const kGroup = "3"; // the restricted users, the group of this machine in the home policy

// An answer of the origin: its file, its size and how many of every 400 requests ask for it.
struct answer_file {
    const char* name;
    std::size_t size;
    int share;
};

const answer_file kAnswers[] = {
    {"page.html", 1024, 120},     {"image.png", 5 * 1024, 160},  {"style.css", 5 * 1024, 116},
    {"photo.jpg", 200 * 1024, 3}, {"script.js", 1024 * 1024, 1},
};
const int kRound = 400;

// Writes the answers to `root`; the page is HTML, which the content check reads through.
void write_answers(const fs::path& root) {
    fs::create_directories(root);
    for (const answer_file& file : kAnswers) {
        std::string body(file.size, 'a');
        if (fs::path(file.name).extension() == ".html") {
            const std::string head = "<!DOCTYPE html><html><head><title>Soak</title></head><body><p>";
            const std::string tail = "</p></body></html>\n";
            body.replace(0, head.size(), head);
            body.replace(body.size() - tail.size(), tail.size(), tail);
        }
        std::ofstream(root / file.name, std::ios::binary) << body;
    }
}

// The requests of one round of the schedule, each answer's share spread evenly over the round (smooth
// weighted round robin), so that every minute of the run asks for the same mix.
std::vector<bench::load_target> round_of_requests(const std::string& origin) {
    std::vector<int> credit(std::size(kAnswers), 0);
    std::vector<bench::load_target> round;
    for (int n = 0; n < kRound; ++n) {
        std::size_t pick = 0;
        for (std::size_t i = 0; i < credit.size(); ++i) {
            credit[i] += kAnswers[i].share;
            if (credit[i] > credit[pick])
                pick = i;
        }
        credit[pick] -= kRound;
        round.push_back({origin + "/" + kAnswers[pick].name, kAnswers[pick].size});
    }
    return round;
}

// The resident memory of a process in MB, from /proc/PID/status; -1 when it cannot be read.
double resident_mb(pid_t process) {
    std::ifstream status("/proc/" + std::to_string(process) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024;
    return -1;
}

// The open descriptors of a process; -1 when they cannot be listed.
int descriptors(pid_t process) {
    std::error_code failed;
    fs::directory_iterator fds("/proc/" + std::to_string(process) + "/fd", failed);
    if (failed)
        return -1;
    int count = 0;
    for (; fds != fs::directory_iterator(); fds.increment(failed))
        ++count;
    return count;
}

template <class T> T median(std::vector<T> values) {
    if (values.empty())
        return T(-1);
    std::nth_element(values.begin(), values.begin() + static_cast<long>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

double p99(std::vector<double>& latencies) {
    if (latencies.empty())
        return -1;
    const auto at = latencies.begin() + static_cast<long>(latencies.size() * 99 / 100);
    std::nth_element(latencies.begin(), at, latencies.end());
    return *at;
}

struct minute {
    double resident_mb = 0;
    int descriptors = 0;
    long requests = 0;
    long errors = 0;
    double p99_ms = 0;
    long edits = 0;
};

// Why minute `number` has grown past minute 2 by more than 10 %, or "".
std::string growth(const minute& reference, const minute& later, std::size_t number) {
    std::string why;
    char line[200];
    if (later.resident_mb > reference.resident_mb * 1.10) {
        std::snprintf(line, sizeof line,
                      "resident memory grew from %.1f MB at minute 2 to %.1f MB at minute %zu\n",
                      reference.resident_mb, later.resident_mb, number);
        why += line;
    }
    if (later.descriptors > reference.descriptors * 1.10) {
        std::snprintf(line, sizeof line, "open descriptors grew from %d at minute 2 to %d at minute %zu\n",
                      reference.descriptors, later.descriptors, number);
        why += line;
    }
    return why;
}

// Whether the process is still running; one that has ended is reaped.
bool running(pid_t process) {
    return ::waitpid(process, nullptr, WNOHANG) == 0;
}

// What a run saw.
struct run {
    std::vector<minute> minutes;
    long requests = 0; // done in all
    long requests_failed = 0;
    long edits_failed = 0;
    std::string request_failure; // the first of each
    std::string edit_failure;
    bool died = false; // zunservice ended before the run did
};

// Counts what the load did since the last look and writes its failures to `failures`, marked with `when`.
bench::load_tally tally_load(bench::paced_load& load, run& seen, const std::string& when,
                             std::ostream& failures) {
    bench::load_tally done = load.take();
    seen.requests += done.done;
    seen.requests_failed += done.failed;
    for (const std::string& failure : done.failures)
        failures << when << " request: " << failure << '\n';
    if (seen.request_failure.empty() && !done.failures.empty())
        seen.request_failure = done.failures.front();
    return done;
}

// Runs the load for `count` minutes with an edit of the policy every second, and prints a line a minute.
run soak(bench::paced_load& load, bench::admin_editor& admin, pid_t service, int count,
         std::ostream& failures) {
    run seen;
    minute now;
    std::vector<double> rss_samples;
    std::vector<int> fd_samples;
    const auto begin = std::chrono::steady_clock::now();
    load.start();
    for (int second = 1; second <= count * 60 && !seen.died; ++second) {
        std::this_thread::sleep_until(begin + std::chrono::seconds(second));
        if (const std::string failed = admin.edit(); failed.empty()) {
            ++now.edits;
        } else {
            ++now.errors;
            ++seen.edits_failed;
            if (seen.edit_failure.empty())
                seen.edit_failure = failed;
            failures << second << " edit: " << failed << '\n';
        }
        rss_samples.push_back(resident_mb(service));
        fd_samples.push_back(descriptors(service));
        seen.died = !running(service);
        if (second % 60 != 0 && !seen.died)
            continue;
        bench::load_tally done = tally_load(load, seen, std::to_string(second), failures);
        now.resident_mb = median(rss_samples);
        now.descriptors = median(fd_samples);
        now.requests = done.done;
        now.errors += done.failed;
        now.p99_ms = p99(done.latencies_ms);
        std::printf("%6zu %10.1f %11d %10ld %7ld %8.2f %6ld\n", seen.minutes.size() + 1, now.resident_mb,
                    now.descriptors, now.requests, now.errors, now.p99_ms, now.edits);
        std::fflush(stdout);
        seen.minutes.push_back(now);
        now = minute();
        rss_samples.clear();
        fd_samples.clear();
    }
    // The requests due before the end are still answered, and then counted.
    load.finish(std::chrono::seconds(10));
    tally_load(load, seen, "end", failures);
    return seen;
}

// Prints the summary of the run; returns why it fails, or "".
std::string verdict(const run& seen) {
    long edits = 0;
    double worst_p99 = 0;
    for (const minute& m : seen.minutes) {
        edits += m.edits;
        worst_p99 = std::max(worst_p99, m.p99_ms);
    }
    std::printf(
        "\nin all: %ld requests, %ld failed; %ld edits saved, %ld failed; p99 at most %.2f ms in a minute\n",
        seen.requests, seen.requests_failed, edits, seen.edits_failed, worst_p99);
    std::string why;
    if (seen.died)
        why += "zunservice ended during the run\n";
    if (seen.requests_failed > 0)
        why += std::to_string(seen.requests_failed) + " requests failed, the first: " + seen.request_failure +
               "\n";
    if (seen.edits_failed > 0)
        why += std::to_string(seen.edits_failed) + " edits failed, the first: " + seen.edit_failure + "\n";
    if (seen.minutes.size() < 2)
        return why;
    const minute& reference = seen.minutes[1];
    const minute& last = seen.minutes.back();
    std::printf("minute 2: %.1f MB resident, %d descriptors; minute %zu: %.1f MB (%+.1f %%), %d (%+.1f %%)\n",
                reference.resident_mb, reference.descriptors, seen.minutes.size(), last.resident_mb,
                100 * (last.resident_mb / reference.resident_mb - 1), last.descriptors,
                100.0 * last.descriptors / reference.descriptors - 100);
    std::string grown;
    for (std::size_t m = 2; m < seen.minutes.size() && grown.empty(); ++m)
        grown = growth(reference, seen.minutes[m], m + 1);
    return why + grown;
}

} // namespace

int main(int argc, char** argv) {
    int minutes = 60;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::string(argv[i]) == "--minutes")
            minutes = std::atoi(argv[i + 1]);
    if (minutes < 3) {
        std::cerr << "usage: soak [--minutes N]   N at least 3 (default 60)\n";
        return 2;
    }
    if (std::system(
            "command -v nginx >/dev/null && command -v wrk >/dev/null && command -v curl >/dev/null") != 0) {
        std::cerr << "soak needs nginx, wrk and curl: apt-get install nginx wrk curl\n";
        return 2;
    }
    support::temp_folder scratch("soak");
    const fs::path& work = scratch.path();
    ::chmod(work.c_str(), 0755); // nginx's worker reads the answers as a user of its own
    write_answers(work / "www");
    std::ofstream(work / "hosts") << "127.0.0.1 site.example\n";
    const int nginx_port = bench::free_port();
    const std::string origin = "http://site.example:" + std::to_string(nginx_port);
    bench::write_nginx_config(work, nginx_port, work / "www",
                              "  types {\n    text/html html;\n    text/css css;\n    image/png png;\n"
                              "    image/jpeg jpg;\n    application/javascript js;\n  }\n");
    const fs::path folder = work / "tollwick";
    bench::write_home_config(SAMPLE_CFG, folder);
    if (std::system((std::string(TOLLWICK_POLICY) + " --config " + (folder / "cfg").string() + " password " +
                     kPassword + " >/dev/null")
                        .c_str()) != 0) {
        std::cerr << "soak: the administrator password could not be set; see " << work << '\n';
        scratch.keep();
        return 2;
    }
    const int proxy_port = bench::free_port();
    const pid_t nginx = start(bench::nginx_command(work), work / "nginx.out");
    const pid_t service =
        start(bench::proxy_command(ZUNSERVICE, folder, proxy_port, work / "hosts"), work / "zunservice.out");
    const std::string proxy = "127.0.0.1:" + std::to_string(proxy_port);
    bench::admin_editor admin(proxy_port, kPassword, kGroup, folder / "cfg/zun_data.xml");
    std::string signed_in = "not tried";
    if (!bench::answers(nginx_port, "/page.html") ||
        !bench::answers(proxy_port, origin + "/page.html", proxy) || !(signed_in = admin.sign_in()).empty()) {
        std::cerr << "soak: a server did not start or the administrator could not sign in (" << signed_in
                  << "); see " << work << '\n';
        stop(service);
        stop(nginx);
        scratch.keep();
        return 2;
    }

    const bench::wrk_figures full = bench::wrk_through(work, proxy_port, origin + "/page.html", 5);
    std::printf("zunservice: %.0f requests/s for a 1 KB page over 50 connections (wrk, 5 s, %ld failed)\n",
                full.rate, full.failed);
    if (full.rate <= 0 || full.failed > 0) {
        std::printf("FAIL: wrk's requests through the proxy failed; see %s\n", work.c_str());
        stop(service);
        stop(nginx);
        scratch.keep();
        return 1;
    }
    const double rate = full.rate / 2;
    std::printf(
        "soak: %d minutes at %.0f requests/s (99 %% of 1 and 5 KB, 1 %% of 200 KB and 1 MB) over 3 x 16 "
        "connections, and an edit of the policy saved every second\n\n",
        minutes, rate);
    std::printf("%6s %10s %11s %10s %7s %8s %6s\n", "minute", "RSS MB", "descriptors", "requests", "errors",
                "p99 ms", "edits");
    std::fflush(stdout);

    bench::paced_load load(proxy_port, round_of_requests(origin), rate, 3, 16);
    std::ofstream failures(work / "failures.txt"); // each failure, by the second of the run it was seen in
    const run seen = soak(load, admin, service, minutes, failures);
    failures.close();
    if (!seen.died)
        stop(service);
    stop(nginx);
    const std::string why = verdict(seen);
    if (!why.empty()) {
        std::printf("FAIL: %sthe failures (up to ten a minute for the requests) are in %s/failures.txt, the "
                    "service's files beside it\n",
                    why.c_str(), work.c_str());
        scratch.keep();
        return 1;
    }
    std::printf("PASS\n");
    return 0;
}
