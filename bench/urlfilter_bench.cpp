// urlfilter_bench - how the URL category database scales with its number of sites.
//
//     urlfilter_bench [--sizes N,N,...]        (default 100000,1000000)
//
// For each size it builds a synthetic database with URLGraphBuilder, writes the archive to a
// temporary file, loads it with URLFilter::Load and times lookups on pre-parsed requests, half of
// them hits and half misses. Baselines run beside it: reading the archive into memory without
// parsing it, a pass that reads every number of the archive with std::from_chars and builds nothing, the
// same requests against a hash set of the listed hosts, and, when Debian's
// squidguard is installed (apt-get install squidguard), squidGuard over the same hosts in its own
// database. Each size builds in
// one fresh child process and loads in another, so that every memory figure is that process's own.
//
// Exits non-zero when a step fails or when the 1,000,000-site database misses a floor: loading in
// at most 1.5 times the from_chars pass, at most 400 bytes of memory a site once loaded, at least half the
// hash set's lookups a second, and building in under 1 GiB.

#include "processes.hpp"
#include "random.hpp"

#include <quorrel/URLFilter.hpp>
#include <quorrel/URLGraphBuilder.hpp>
#include <support/temp_folder.hpp>
#include <tav/uri.hpp>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_set>
#include <vector>

namespace {

using bench::Random;
using tav::urlfilter::URLFilter;
using tav::urlfilter::URLGraphBuilder;
typedef std::chrono::steady_clock Clock;

const std::vector<std::size_t> kDefaultSizes = {100000, 1000000};
const std::size_t kFloorSize = 1000000;
const double kFloorLoadRatio = 1.5;
const double kFloorBytesPerSite = 400;
const double kFloorLookupRatio = 0.5;
const double kFloorBuildBytes = 1024.0 * 1024 * 1024;
const std::size_t kRequests = 100000;   // half hits, half misses
const double kMinLookupSeconds = 1;     // each lookup measurement repeats the requests this long
const std::uint64_t kSeed = 0x746f6c6c; // the same sites on every run

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// User and system time of this process so far: unlike the clock, not stretched by other programs.
double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Site {
    std::string host;
    std::string path; // empty for a whole-host entry
    bool blocked = false;
    std::uint32_t categories = 0;
};

std::uint32_t RandomCategories(Random& random) {
    static const std::uint32_t kIds[] = {1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 14, 15, 16};
    std::uint32_t mask = 0;
    for (auto count = 1 + random.Below(3); count > 0; --count)
        mask |= 1U << (kIds[random.Below(std::size(kIds))] - 1);
    return mask;
}

// Sites such as "k3j9x.example-<n>.test", every tenth a sub-domain of the site before it; four in
// ten are one path of their host, four in five blocked with one to three categories.
std::vector<Site> MakeSites(std::size_t count) {
    Random random(kSeed);
    std::vector<Site> sites(count);
    for (std::size_t n = 0; n < count; ++n) {
        Site& site = sites[n];
        const bool nested = n % 10 == 9;
        site.host =
            random.Label(5) + "." + (nested ? sites[n - 1].host : "example-" + std::to_string(n) + ".test");
        if (random.Below(10) < 4) {
            site.path = "/" + random.Label(4 + random.Below(3));
            if (random.Below(2) == 0)
                site.path += "/" + random.Label(6);
        }
        site.blocked = random.Below(5) != 0;
        site.categories = site.blocked ? RandomCategories(random) : 0;
    }
    return sites;
}

tav::uri Parse(const std::string& text) {
    tav::uri request;
    if (!request.parse_absolute(text.data(), text.data() + text.size()))
        throw std::runtime_error("cannot parse " + text);
    return request;
}

struct Request {
    tav::uri uri;
    const Site* site = nullptr; // the site it hits; none for a miss
};

// Alternately a hit, the site itself or a sub-domain of it on a page its entry covers, and a
// miss, a host of the same shape that is not listed.
std::vector<Request> MakeRequests(const std::vector<Site>& sites, std::size_t count) {
    static const char* const kSubdomains[] = {"", "www.", "cdn."};
    Random random(kSeed + 1);
    std::vector<Request> requests(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::string text;
        if (i % 2 == 0) {
            const Site& site = sites[random.Below(sites.size())];
            const std::string page = "/" + random.Label(3) + ".html";
            text = "http://" + std::string(kSubdomains[random.Below(std::size(kSubdomains))]) + site.host +
                   (site.path.empty() ? "/" + random.Label(5) + page : site.path + page);
            requests[i].site = &site;
        } else {
            text = "http://" + random.Label(5) + ".example-" + std::to_string(sites.size() + i) + ".test/";
        }
        requests[i].uri = Parse(text);
    }
    return requests;
}

// The naive alternative: a hash set of the listed hosts, asked for the request's host and then
// each parent domain. It knows nothing of paths.
class HostSet {
public:
    explicit HostSet(const std::vector<Site>& sites) {
        m_hosts.reserve(sites.size());
        for (const Site& site : sites)
            m_hosts.insert(site.host);
    }

    bool Covers(std::string_view host) const {
        for (;;) {
            if (m_hosts.count(host) != 0)
                return true;
            const auto dot = host.find('.');
            if (dot == std::string_view::npos)
                return false;
            host.remove_prefix(dot + 1);
        }
    }

private:
    std::unordered_set<std::string_view> m_hosts; // views of the sites' hosts
};

// Runs found() over every request, pass after pass, for at least kMinLookupSeconds; lookups a
// second. Every pass must find exactly the hits.
template <class Found> double LookupsPerSecond(const std::vector<Request>& requests, Found found) {
    const std::size_t hits = (requests.size() + 1) / 2;
    std::size_t done = 0;
    const auto start = Clock::now();
    do {
        std::size_t count = 0;
        for (const Request& request : requests)
            count += found(request.uri) ? 1 : 0;
        if (count != hits)
            throw std::runtime_error("a lookup pass found " + std::to_string(count) + " of " +
                                     std::to_string(hits) + " hits");
        done += requests.size();
    } while (SecondsSince(start) < kMinLookupSeconds);
    return static_cast<double>(done) / SecondsSince(start);
}

// Whether every hit finds its own site's entry and no miss finds anything.
void CheckLookups(const URLFilter& filter, const std::vector<Request>& requests) {
    for (const Request& request : requests) {
        const auto result = filter.Lookup(request.uri);
        const bool right = request.site == nullptr
                               ? !result.found
                               : result.found && result.blocked == request.site->blocked &&
                                     result.categories == request.site->categories;
        if (!right)
            throw std::runtime_error("wrong lookup result for a request to " + request.uri.host());
    }
}

// A field of /proc/self/status such as "VmRSS" or "VmHWM", in bytes.
double StatusBytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, field.size() + 1, field + ":") == 0)
            return std::stod(line.substr(field.size() + 1)) * 1024;
    }
    throw std::runtime_error("no " + field + " in /proc/self/status");
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(0, std::ios::end);
    std::string text(static_cast<std::size_t>(in.tellg()), '\0');
    in.seekg(0);
    if (!in.read(text.data(), static_cast<std::streamsize>(text.size())))
        throw std::runtime_error("cannot read " + path);
    return text;
}

struct BuildFigures {
    double archiveBytes = 0;
    double buildSeconds = 0; // adding the sites, building the graph and writing it
    double peakBytes = 0;
};

BuildFigures BuildArchive(std::size_t size, const std::string& path) {
    const std::vector<Site> sites = MakeSites(size);
    BuildFigures figures;
    const auto start = Clock::now();
    URLGraphBuilder builder;
    for (const Site& site : sites)
        builder.Add(site.host, site.path, site.blocked, site.categories);
    std::ofstream out(path, std::ios::binary);
    builder.Write(out);
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path);
    figures.buildSeconds = SecondsSince(start);
    figures.peakBytes = StatusBytes("VmHWM");
    figures.archiveBytes = static_cast<double>(std::filesystem::file_size(path));
    return figures;
}

struct LoadFigures {
    double loadSeconds = 0;
    double loadCpuSeconds = 0;
    double readSeconds = 0;    // reading the archive into memory, unparsed
    double numbersSeconds = 0; // reading it and every number in it, building nothing
    double peakGrowth = 0;     // of the resident set while loading
    double residentGrowth = 0;
    double trieLookups = 0; // a second
    double hashLookups = 0;
};

// Reads every blank-separated number of the text with std::from_chars; their sum, so that none is skipped.
std::uint64_t NumbersIn(const std::string& text) {
    std::uint64_t sum = 0;
    const char* at = text.data();
    const char* const end = at + text.size();
    while (at < end) {
        while (at < end && (*at == ' ' || *at == '\n'))
            ++at;
        const char* token = at;
        while (at < end && *at != ' ' && *at != '\n')
            ++at;
        std::uint64_t number = 0;
        if (std::from_chars(token, at, number).ec == std::errc())
            sum += number;
    }
    return sum;
}

LoadFigures LoadArchive(std::size_t size, const std::string& path) {
    LoadFigures figures;
    const double before = StatusBytes("VmRSS");
    const double cpu = CpuSeconds();
    auto start = Clock::now();
    URLFilter filter;
    filter.Load(path);
    figures.loadSeconds = SecondsSince(start);
    figures.loadCpuSeconds = CpuSeconds() - cpu;
    figures.peakGrowth = StatusBytes("VmHWM") - before;
    figures.residentGrowth = StatusBytes("VmRSS") - before;

    start = Clock::now();
    const std::string text = ReadFile(path);
    figures.readSeconds = SecondsSince(start);
    start = Clock::now();
    const std::uint64_t sum = NumbersIn(ReadFile(path));
    figures.numbersSeconds = SecondsSince(start);
    if (sum == 0 && !text.empty())
        throw std::runtime_error("the archive " + path + " holds no numbers");

    const std::vector<Site> sites = MakeSites(size);
    const std::vector<Request> requests = MakeRequests(sites, kRequests);
    CheckLookups(filter, requests);
    figures.trieLookups =
        LookupsPerSecond(requests, [&](const tav::uri& request) { return filter.Lookup(request).found; });
    const HostSet hosts(sites);
    figures.hashLookups =
        LookupsPerSecond(requests, [&](const tav::uri& request) { return hosts.Covers(request.host()); });
    return figures;
}

// A temporary file for one archive, removed with the object.
class TempFile {
public:
    TempFile() {
        const char* dir = std::getenv("TMPDIR");
        std::string name =
            std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/urlfilter_bench.XXXXXX";
        const int fd = mkstemp(name.data());
        if (fd < 0)
            throw std::runtime_error("cannot create a temporary file in " + name);
        close(fd);
        m_path = name;
    }
    ~TempFile() { std::remove(m_path.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// Lookups a second of Debian's squidGuard over the same hosts in its own database, as the URL
// rewriter that squid runs: one request a line on its input, one answer a line on its output. The
// time of a run without requests, opening the database, is taken off. 0 when squidGuard is missing.
double SquidGuardLookups(std::size_t size) {
    if (std::system("command -v squidGuard >/dev/null") != 0)
        return 0;
    support::temp_folder scratch("urlfilter-bench");
    const std::filesystem::path& work = scratch.path();
    std::filesystem::create_directories(work / "db/listed");
    const std::vector<Site> sites = MakeSites(size);
    {
        std::ofstream domains(work / "db/listed/domains");
        for (const Site& site : sites)
            domains << site.host << '\n';
        std::ofstream(work / "squidGuard.conf")
            << "dbhome " << (work / "db").string() << "\nlogdir " << work.string()
            << "\ndest listed {\n    domainlist listed/domains\n}\n"
            << "acl {\n    default {\n        pass !listed all\n        redirect http://blocked.invalid/\n   "
               " }\n}\n";
        std::ofstream requests(work / "requests");
        for (int pass = 0; pass < 2; ++pass) {
            for (const Request& request : MakeRequests(sites, kRequests)) {
                std::string url;
                request.uri.flatten(url, tav::uri::all_bits);
                requests << url << " 10.0.0.1/- - GET\n";
            }
        }
        std::ofstream(work / "none");
    }
    const std::string run = "squidGuard -c " + (work / "squidGuard.conf").string() + " <" + work.string();
    const auto timed = [&](const char* input) {
        const auto start = Clock::now();
        if (std::system((run + "/" + input + " >/dev/null 2>&1").c_str()) != 0)
            throw std::runtime_error("squidGuard failed; see " + work.string());
        return SecondsSince(start);
    };
    if (std::system(
            ("squidGuard -c " + (work / "squidGuard.conf").string() + " -C all >/dev/null 2>&1").c_str()) !=
        0) {
        scratch.keep();
        throw std::runtime_error("squidGuard could not build its database; see " + work.string());
    }
    const double opening = timed("none");
    const double lookups = 2.0 * kRequests / std::max(timed("requests") - opening, 1e-6);
    return lookups;
}

struct Result {
    std::size_t size = 0;
    BuildFigures build;
    LoadFigures load;
    double squidGuardLookups = 0; // a second; 0 when squidGuard is not installed
};

Result Measure(std::size_t size) {
    const TempFile archive;
    Result result;
    result.size = size;
    result.build = bench::in_child<BuildFigures>([&] { return BuildArchive(size, archive.Path()); });
    result.load = bench::in_child<LoadFigures>([&] { return LoadArchive(size, archive.Path()); });
    result.squidGuardLookups = SquidGuardLookups(size);
    return result;
}

// "1000,10000": positive numbers below a billion.
std::vector<std::size_t> ParseSizes(const std::string& text) {
    std::vector<std::size_t> sizes;
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        const bool digits = !item.empty() && item.find_first_not_of("0123456789") == std::string::npos;
        const unsigned long long size = digits && item.size() < 10 ? std::stoull(item) : 0;
        if (size == 0)
            throw std::invalid_argument("bad size '" + item + "'");
        sizes.push_back(size);
    }
    if (sizes.empty())
        throw std::invalid_argument("no sizes");
    return sizes;
}

// 1234567 as "1,234,567".
std::string Grouped(double value) {
    std::string digits = std::to_string(std::llround(value));
    for (auto at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, ",");
    return digits;
}

std::string Fixed(double value, int decimals) {
    std::ostringstream out;
    out << std::fixed << std::setprecision(decimals) << value;
    return out.str();
}

std::string MiB(double bytes) {
    return Fixed(bytes / (1024 * 1024), 1);
}

void PrintRow(const std::vector<Result>& results, const std::string& name,
              std::string (*cell)(const Result&)) {
    std::cout << std::left << std::setw(36) << name << std::right;
    for (const Result& result : results)
        std::cout << std::setw(16) << cell(result);
    std::cout << '\n';
}

void PrintTable(const std::vector<Result>& results) {
    PrintRow(results, "sites", [](const Result& r) { return Grouped(static_cast<double>(r.size)); });
    PrintRow(results, "archive size (bytes)", [](const Result& r) { return Grouped(r.build.archiveBytes); });
    PrintRow(results, "build + write (s)", [](const Result& r) { return Fixed(r.build.buildSeconds, 3); });
    PrintRow(results, "builder peak resident (MiB)", [](const Result& r) { return MiB(r.build.peakBytes); });
    PrintRow(results, "plain file read, baseline (s)",
             [](const Result& r) { return Fixed(r.load.readSeconds, 3); });
    PrintRow(results, "every number by from_chars, baseline (s)",
             [](const Result& r) { return Fixed(r.load.numbersSeconds, 3); });
    PrintRow(results, "URLFilter::Load (s)", [](const Result& r) { return Fixed(r.load.loadSeconds, 3); });
    PrintRow(results, "URLFilter::Load, CPU time (s)",
             [](const Result& r) { return Fixed(r.load.loadCpuSeconds, 3); });
    PrintRow(results, "load / plain read",
             [](const Result& r) { return Fixed(r.load.loadSeconds / r.load.readSeconds, 1) + "x"; });
    PrintRow(results, "load / from_chars pass",
             [](const Result& r) { return Fixed(r.load.loadSeconds / r.load.numbersSeconds, 2) + "x"; });
    PrintRow(results, "load peak resident growth (MiB)",
             [](const Result& r) { return MiB(r.load.peakGrowth); });
    PrintRow(results, "resident growth after load (MiB)",
             [](const Result& r) { return MiB(r.load.residentGrowth); });
    PrintRow(results, "resident bytes a site after load",
             [](const Result& r) { return Fixed(r.load.residentGrowth / static_cast<double>(r.size), 0); });
    PrintRow(results, "trie lookups/s", [](const Result& r) { return Grouped(r.load.trieLookups); });
    PrintRow(results, "hash-set lookups/s, baseline",
             [](const Result& r) { return Grouped(r.load.hashLookups); });
    PrintRow(results, "trie / hash-set",
             [](const Result& r) { return Fixed(r.load.trieLookups / r.load.hashLookups, 2) + "x"; });
    PrintRow(results, "squidGuard lookups/s, its database", [](const Result& r) {
        return r.squidGuardLookups > 0 ? Grouped(r.squidGuardLookups) : std::string("not installed");
    });
    PrintRow(results, "trie / squidGuard", [](const Result& r) {
        return r.squidGuardLookups > 0 ? Fixed(r.load.trieLookups / r.squidGuardLookups, 2) + "x"
                                       : std::string("-");
    });
}

// Prints each floor of the 1,000,000-site database with the figure measured; whether all are met.
bool MeetsFloors(const Result& r) {
    const double sites = static_cast<double>(r.size);
    const struct {
        const char* what;
        double figure;
        bool met;
        std::string floor;
    } floors[] = {
        {"load / from_chars pass", r.load.loadSeconds / r.load.numbersSeconds,
         r.load.loadSeconds <= kFloorLoadRatio * r.load.numbersSeconds,
         "at most " + Fixed(kFloorLoadRatio, 1)},
        {"bytes a site once loaded", r.load.residentGrowth / sites,
         r.load.residentGrowth <= kFloorBytesPerSite * sites, "at most " + Fixed(kFloorBytesPerSite, 0)},
        {"lookups / hash set's", r.load.trieLookups / r.load.hashLookups,
         r.load.trieLookups >= kFloorLookupRatio * r.load.hashLookups,
         "at least " + Fixed(kFloorLookupRatio, 1)},
        {"builder peak resident (MiB)", r.build.peakBytes / (1024 * 1024),
         r.build.peakBytes < kFloorBuildBytes, "under " + MiB(kFloorBuildBytes)},
    };
    bool all = true;
    for (const auto& floor : floors) {
        std::cout << "1,000,000 sites, " << floor.what << ": " << Fixed(floor.figure, 2) << ", floor "
                  << floor.floor << ": " << (floor.met ? "met" : "NOT MET") << '\n';
        all = all && floor.met;
    }
    return all;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::size_t> sizes = kDefaultSizes;
    std::vector<Result> results;
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        if (args.size() == 2 && args[0] == "--sizes") {
            sizes = ParseSizes(args[1]);
        } else if (!args.empty()) {
            std::cerr << "usage: urlfilter_bench [--sizes N,N,...]\n";
            return 2;
        }
        for (std::size_t size : sizes) {
            std::cout << "measuring " << Grouped(static_cast<double>(size)) << " sites..." << std::endl;
            results.push_back(Measure(size));
        }
    } catch (const std::exception& e) {
        std::cerr << "urlfilter_bench: " << e.what() << '\n';
        return 1;
    }

    std::cout << '\n'
              << "Lookups: " << kRequests / 2 << " hits (a site or a sub-domain, on a page it covers) and "
              << kRequests / 2 << " misses, pre-parsed, one thread.\n"
              << "The hash-set baseline checks the host and its parent domains, without paths.\n\n";
    PrintTable(results);

    std::cout << '\n';
    for (const Result& result : results) {
        if (result.size == kFloorSize)
            return MeetsFloors(result) ? 0 : 1;
    }
    std::cout << "1,000,000 sites: not measured in this run, no floor checked\n";
    return 0;
}
