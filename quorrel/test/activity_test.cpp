#include "../activity/SiteNames.hpp"
#include "ChildProcess.hpp"
#include "log_folder.hpp"

#include <quorrel/ActivityHistory.hpp>
#include <quorrel/ActivityLog.hpp>

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <poll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using tav::ActivityHistory;
using tav::ActivityLog;
using Lines = std::vector<std::string>;
using Use = ActivityLog::Use;

namespace {

const std::string SUFFIX_LIST = "/usr/share/publicsuffix/public_suffix_list.dat";

// A local time, built as the log's days are, so that the cases hold in any time zone.
std::time_t Local(int day, int hour, int minute, int second = 0) {
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 5;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

ActivityLog::Refusal Refusal(std::time_t time, const std::string& client, const std::string& group,
                             const std::string& host, const std::string& path = "/") {
    return {time, client, group, "http", host, path, "blocked site"};
}

std::string Line(const ActivityHistory::DayUse& row) {
    return row.day.substr(8) + " " + row.client + " " + row.group + " " + std::to_string(row.minutes) + " " +
           std::to_string(row.bytes);
}
std::string Line(const ActivityHistory::DaySiteUse& row) {
    return row.day.substr(8) + " " + row.client + " " + row.site + " " + std::to_string(row.minutes) + " " +
           std::to_string(row.bytes);
}
std::string Line(const ActivityHistory::SiteUse& row) {
    return row.site;
}
std::string Line(const ActivityHistory::Refusal& row) {
    return row.host;
}

template <class Row> Lines Show(const std::vector<Row>& rows) {
    Lines lines;
    for (const Row& row : rows)
        lines.push_back(Line(row));
    return lines;
}

// Runs SQL on a file: the first column of the last row it returns, or its error.
std::string Ask(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    std::string answer;
    char* error = nullptr;
    const auto take = [](void* answer, int, char** values, char**) {
        *static_cast<std::string*>(answer) = values[0] != nullptr ? values[0] : "";
        return 0;
    };
    if (sqlite3_exec(db, sql.c_str(), take, &answer, &error) != SQLITE_OK)
        answer = error != nullptr ? error : sqlite3_errmsg(db);
    sqlite3_free(error);
    sqlite3_close(db);
    return answer;
}

class Activity : public log_folder_test {
protected:
    std::string Path() const { return (root_ / "history" / "activity.db").string(); }
    ActivityLog::Options Options(std::size_t queueLimit = 65536) {
        ActivityLog::Options options;
        options.path = Path();
        options.keepDays = 3;
        options.queueLimit = queueLimit;
        options.now = [this] { return now_.load(); };
        return options;
    }
    // Records the events and waits for them to be written.
    template <class... Event> void Write(const Event&... events) {
        ActivityLog log(Options());
        (log.Record(events), ...);
    }
    // Records refusals that the log cannot write, then a use of 2 bytes once `mend` has run: the history
    // pauses with a reason that begins with `reason`, and goes on. 0, or what went wrong, printed.
    int PausesUntilMended(ActivityLog& log, const std::string& reason,
                          const std::function<void()>& mend) const {
        for (int i = 0; i < 50; ++i)
            log.Record(Refusal(nine_, "c1", "", "a.com", std::string(2000, 'p')));
        log.Flush();
        const auto paused = log.GetStatus();
        std::cerr << "paused: " << paused.reason << ", dropped " << paused.dropped << "\n";
        if (!paused.paused || paused.reason.rfind(reason, 0) != 0 || paused.dropped != 50)
            return 1;
        mend();
        log.Record(Use{nine_, "c1", "", "a.com", 2});
        log.Flush();
        return log.GetStatus().paused ? 2 : 0;
    }
    std::int64_t WrittenBytes() {
        return std::stoll(Ask(Path(), "SELECT coalesce(sum(bytes), 0) FROM use_days"));
    }

    // The times the cases use while a log runs: mktime, which the writer's thread would race in the C library
    // under ThreadSanitizer, runs before.
    const std::time_t nine_ = Local(10, 9, 0);
    std::atomic<std::time_t> now_{Local(10, 12, 0)};
    const std::string DAY = "2026-06-10";
};

} // namespace

TEST(SiteNames, NameTheRegistrableDomain) {
    const struct {
        std::string list, host, site;
    } cases[] = {
        {SUFFIX_LIST, "www.example.co.uk", "example.co.uk"},
        {SUFFIX_LIST, "a.b.example.com", "example.com"},
        {SUFFIX_LIST, "WWW.Example.COM.", "example.com"},
        {SUFFIX_LIST, "co.uk", "co.uk"},
        {SUFFIX_LIST, "192.168.1.5", "192.168.1.5"},
        {SUFFIX_LIST, "[2001:db8::1]", "2001:db8::1"},
        {SUFFIX_LIST, "localhost", "localhost"},
        {"/no/such/list.dat", "www.example.co.uk", "co.uk"},
        {"/no/such/list.dat", "a.b.example.com", "example.com"},
        {"/no/such/list.dat", "192.168.1.5", "192.168.1.5"},
        {"/no/such/list.dat", "localhost", "localhost"},
    };
    for (const auto& c : cases) {
        const tav::SiteNames names(c.list);
        EXPECT_EQ(names.HasList(), c.list == SUFFIX_LIST);
        EXPECT_EQ(names.SiteOf(c.host), c.site) << c.host << " with " << c.list;
    }
}

TEST_F(Activity, AMinuteCountsOncePerClientAndPerSite) {
    const struct {
        std::time_t time;
        std::string client, host;
        std::uint64_t bytes;
    } uses[] = {
        {Local(10, 23, 58, 10), "c1", "www.example.com", 100},
        {Local(10, 23, 58, 50), "c1", "a.example.com", 10},
        {Local(10, 23, 58, 55), "c1", "news.org", 1},
        {Local(10, 23, 59, 30), "c1", "example.com", 1},
        {Local(10, 23, 59, 40), "c2", "news.org", 5},
        {Local(11, 0, 0, 30), "c1", "example.com", 1},
    };
    {
        ActivityLog log(Options());
        for (const auto& use : uses) {
            log.Record(Use{use.time, use.client, "kids", use.host, use.bytes});
            if (&use == &uses[1])
                log.Flush(); // the minute goes on in the next batch
        }
    }
    ActivityHistory history(Path());
    EXPECT_EQ(Show(history.DailyUse(DAY, "2026-06-11", {})),
              (Lines{"10 c1 kids 2 112", "10 c2 kids 1 5", "11 c1 kids 1 1"}));
    EXPECT_EQ(Show(history.SiteUseByDay(DAY, "2026-06-11", {})),
              (Lines{"10 c1 example.com 2 111", "10 c1 news.org 1 1", "10 c2 news.org 1 5",
                     "11 c1 example.com 1 1"}));
    EXPECT_EQ(Show(history.DailyUse("2026-06-11", "2026-06-11", {})), Lines{"11 c1 kids 1 1"});
}

TEST_F(Activity, AScopeTakesAGroupOrAClient) {
    // c1 moves from the kids to the teens.
    Write(Use{Local(10, 10, 0), "c1", "kids", "example.com", 100},
          Use{Local(10, 10, 1), "c1", "kids", "example.com", 100},
          Use{Local(10, 10, 5), "c1", "teens", "news.org", 50},
          Use{Local(10, 10, 6), "c1", "teens", "news.org", 50},
          Use{Local(10, 10, 0), "c2", "teens", "video.net", 1000},
          Refusal(Local(10, 10, 2), "c1", "kids", "bad.com"),
          Refusal(Local(10, 10, 3), "c2", "teens", "worse.com"));
    const struct {
        ActivityHistory::Scope scope;
        Lines days, sites, refusals;
    } cases[] = {
        {{},
         {"10 c1 kids 2 200", "10 c1 teens 2 100", "10 c2 teens 1 1000"},
         {"example.com", "news.org", "video.net"},
         {"worse.com", "bad.com"}},
        {{"teens", ""},
         {"10 c1 teens 2 100", "10 c2 teens 1 1000"},
         {"news.org", "video.net"},
         {"worse.com"}},
        {{"kids", ""}, {"10 c1 kids 2 200"}, {"example.com"}, {"bad.com"}},
        {{"", "c2"}, {"10 c2 teens 1 1000"}, {"video.net"}, {"worse.com"}},
        {{"teens", "c1"}, {"10 c1 teens 2 100"}, {"news.org"}, {}},
    };
    ActivityHistory history(Path());
    for (const auto& c : cases) {
        SCOPED_TRACE("group " + c.scope.group + ", client " + c.scope.client);
        EXPECT_EQ(Show(history.DailyUse(DAY, DAY, c.scope)), c.days);
        EXPECT_EQ(Show(history.TopSites(DAY, DAY, c.scope, ActivityHistory::Order::ByMinutes, 10)), c.sites);
        EXPECT_EQ(Show(history.Refusals(DAY, DAY, c.scope, 10)), c.refusals);
    }
}

TEST_F(Activity, TopSitesComeInOrderUpToTheLimit) {
    Write(Use{Local(10, 9, 0), "c1", "", "a.com", 10}, Use{Local(10, 9, 1), "c1", "", "a.com", 10},
          Use{Local(10, 9, 2), "c1", "", "a.com", 10}, Use{Local(10, 9, 0), "c1", "", "b.com", 5000},
          Use{Local(10, 9, 0), "c1", "", "d.com", 5}, Use{Local(10, 9, 1), "c1", "", "d.com", 5},
          Use{Local(10, 9, 0), "c2", "", "c.com", 5}, Use{Local(10, 9, 1), "c2", "", "c.com", 5},
          Use{Local(9, 9, 0), "c1", "", "old.com", 99999});
    using Order = ActivityHistory::Order;
    const struct {
        Order order;
        std::size_t limit;
        Lines sites;
    } cases[] = {
        {Order::ByMinutes, 10, {"a.com", "c.com", "d.com", "b.com"}},
        {Order::ByMinutes, 2, {"a.com", "c.com"}},
        {Order::ByBytes, 10, {"b.com", "a.com", "c.com", "d.com"}},
        {Order::ByBytes, 1, {"b.com"}},
        {Order::ByBytes, 0, {}},
    };
    ActivityHistory history(Path());
    for (const auto& c : cases)
        EXPECT_EQ(Show(history.TopSites(DAY, DAY, {}, c.order, c.limit)), c.sites) << c.limit;
}

TEST_F(Activity, RefusalsAndAdministrationComeNewestFirst) {
    Write(Refusal(Local(10, 8, 3), "c1", "", "r3"), Refusal(Local(10, 8, 1), "c1", "", "r1"),
          Refusal(Local(10, 8, 5), "c1", "", "r5"), Refusal(Local(10, 8, 2), "c1", "", "r2"),
          Refusal(Local(11, 8, 0), "c1", "", "tomorrow"),
          ActivityLog::AdminEvent{Local(10, 9, 0), "c9", "login", "Login", "", "", "ok"},
          ActivityLog::AdminEvent{Local(10, 9, 5), "c9", "change", "Clients", "add", "c1", "ok"});
    ActivityHistory history(Path());
    for (const auto& [limit, hosts] :
         {std::pair<std::size_t, Lines>{10, {"r5", "r3", "r2", "r1"}}, {2, {"r5", "r3"}}})
        EXPECT_EQ(Show(history.Refusals(DAY, DAY, {}, limit)), hosts);
    const auto events = history.AdminEvents(DAY, DAY, 1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].event + " " + events[0].object, "change c1");
}

TEST_F(Activity, OldDaysGoWhenTheDayChangesAndAtTheStart) {
    std::vector<std::time_t> times;
    for (int day = 6; day <= 10; ++day)
        times.push_back(Local(day, 9, 0));
    const std::time_t nextDay = Local(11, 0, 0, 5);
    {
        ActivityLog log(Options());
        for (const std::time_t time : times) {
            log.Record(Use{time, "c1", "", "a.com", 1});
            log.Record(Refusal(time, "c1", "", "a.com"));
            log.Record(ActivityLog::AdminEvent{time, "c9", "login", "", "", "", "ok"});
        }
    }
    const auto days = [this] {
        ActivityHistory history(Path());
        Lines seen;
        for (const auto& row : history.DailyUse("2026-01-01", "2026-12-31", {}))
            seen.push_back(row.day.substr(8) + "/" +
                           std::to_string(history.Refusals(row.day, row.day, {}, 9).size()) + "/" +
                           std::to_string(history.AdminEvents(row.day, row.day, 9).size()));
        return seen;
    };
    // The log above cleaned the old days before it wrote: all are there.
    EXPECT_EQ(days(), (Lines{"06/1/1", "07/1/1", "08/1/1", "09/1/1", "10/1/1"}));
    ActivityLog log(Options());
    log.Flush();
    EXPECT_EQ(days(), (Lines{"08/1/1", "09/1/1", "10/1/1"}));
    now_ = nextDay;
    log.Flush();
    EXPECT_EQ(days(), (Lines{"09/1/1", "10/1/1"}));
}

TEST_F(Activity, AFullQueueDropsAndCountsTheRest) {
    const std::uint64_t recorded = 5000;
    ActivityLog log(Options(8));
    // Each on a site of its own: uses of one site in one minute would be added up as they are queued.
    for (std::uint64_t i = 0; i < recorded; ++i)
        log.Record(Use{nine_, "c1", "", "site" + std::to_string(i) + ".com", 1});
    log.Flush();
    const auto dropped = log.GetStatus().dropped;
    EXPECT_GT(dropped, 0u);
    EXPECT_EQ(static_cast<std::uint64_t>(WrittenBytes()) + dropped, recorded);
}

TEST_F(Activity, ADamagedFileIsMovedAsideAndANewOneStarted) {
    const struct {
        std::string name;
        std::function<void()> damage;
    } cases[] = {
        {"no database", [this] { std::ofstream(Path()) << std::string(5000, 'x'); }},
        {"a truncated database",
         [this] {
             {
                 ActivityLog log(Options());
                 for (int i = 0; i < 3000; ++i)
                     log.Record(Use{nine_, "c1", "", "site" + std::to_string(i) + ".com", 1});
             }
             std::filesystem::resize_file(Path(), std::filesystem::file_size(Path()) / 2);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(root_ / "history");
        std::filesystem::create_directories(root_ / "history");
        c.damage();
        const std::string damaged = read(Path());
        EXPECT_FALSE(ActivityHistory(Path()).IsOpen());
        EXPECT_NE(ActivityHistory(Path()).GetError(), "");
        ActivityLog log(Options());
        log.Record(Use{nine_, "c1", "", "a.com", 7});
        log.Flush();
        const auto status = log.GetStatus();
        const std::string said = "The history file was damaged and was moved to ";
        const std::string moved = status.notice.substr(said.size(), status.notice.find(';') - said.size());
        EXPECT_EQ(status.notice, said + moved + "; a new one was started.");
        EXPECT_EQ(moved.substr(0, Path().size() + 9), Path() + ".damaged-");
        EXPECT_EQ(moved.size(), Path().size() + 9 + 15) << moved;
        EXPECT_EQ(read(moved), damaged);
        EXPECT_FALSE(status.paused) << status.reason;
        EXPECT_EQ(WrittenBytes(), 7);
    }
}

// A file removed, replaced or damaged while the log has it open: the rows that follow go to a new file at
// once, where the readers find them, and the notice says so.
TEST_F(Activity, AFileLostWhileInUseIsStartedAgainAtOnce) {
    const struct {
        std::string name;
        std::function<void()> lose;
        std::string notice;
    } cases[] = {
        {"removed", [this] { std::filesystem::remove(Path()); }, "The history file was removed or replaced"},
        {"replaced",
         [this] {
             std::filesystem::copy_file(Path(), Path() + ".copy");
             std::filesystem::rename(Path() + ".copy", Path());
         },
         "The history file was removed or replaced"},
        {"overwritten",
         [this] { std::ofstream(Path(), std::ios::in | std::ios::out) << std::string(4096, 'x'); },
         "The history file was damaged and was moved to "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(root_ / "history");
        ActivityLog log(Options());
        log.Record(Use{nine_, "c1", "", "a.com", 3});
        log.Flush();
        c.lose();
        log.Record(Use{nine_, "c1", "", "b.com", 7});
        log.Flush();
        const auto status = log.GetStatus();
        EXPECT_EQ(status.notice.rfind(c.notice, 0), 0u) << status.notice;
        EXPECT_FALSE(status.paused) << status.reason;
        EXPECT_EQ(Ask(Path(), "SELECT bytes FROM site_days WHERE site = 'b.com'"), "7");
    }
}

TEST_F(Activity, AFolderThatCannotBeWrittenPausesTheHistoryUntilItCanBe) {
    // The folder belongs to the user the child becomes, who may then open it again.
    const auto folder = root_ / "locked";
    std::filesystem::create_directories(folder);
    ::chmod(root_.c_str(), 0755);
    ::chmod(folder.c_str(), 0555);
    if (::geteuid() == 0 && ::chown(folder.c_str(), 65534, 65534) != 0)
        GTEST_SKIP() << "the folder cannot be given to nobody";
    auto options = Options();
    options.path = (folder / "activity.db").string();
    const int cannotDropRights = 100;
    const int status = InChild([&] {
        if (::geteuid() == 0 && ::setuid(65534) != 0)
            return cannotDropRights;
        ActivityLog log(options);
        return PausesUntilMended(log, "the folder cannot be written: " + folder.string() + ": ",
                                 [&] { ::chmod(folder.c_str(), 0755); });
    });
    if (status == cannotDropRights)
        GTEST_SKIP() << "running as the superuser, who may not give up the right to write anywhere";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Ask(options.path, "SELECT sum(bytes) || ' ' || (SELECT count(*) FROM refusals) FROM use_days"),
              "2 0");
}

TEST_F(Activity, AFullDiskPausesTheHistoryUntilThereIsRoom) {
    const int status = InChild([this] {
        std::signal(SIGXFSZ, SIG_IGN);
        ActivityLog log(Options());
        log.Record(Use{nine_, "c1", "", "a.com", 1});
        log.Flush();
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit small{32768, limit.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &small);
        return PausesUntilMended(log, "the disk ", [&] { ::setrlimit(RLIMIT_FSIZE, &limit); });
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Ask(Path(), "SELECT sum(bytes) || ' ' || (SELECT count(*) FROM refusals) FROM use_days"),
              "3 0");
}

TEST_F(Activity, AnOlderFileIsMigratedAndANewerOneLeftAlone) {
    std::filesystem::create_directories(root_ / "history");
    EXPECT_EQ(Ask(Path(),
                  "CREATE TABLE use_days(day TEXT, client TEXT, grp TEXT, minutes INTEGER, bytes INTEGER,"
                  " PRIMARY KEY(day, client, grp)) WITHOUT ROWID;"
                  "CREATE TABLE site_days(day, client, grp, site, minutes, bytes,"
                  " PRIMARY KEY(day, client, grp, site)) WITHOUT ROWID;"
                  "CREATE TABLE refusals(time INTEGER, day TEXT, client, grp, protocol, host, path, reason);"
                  "INSERT INTO use_days VALUES('2026-06-09', 'c1', '', 3, 300); PRAGMA user_version = 1;"),
              "");
    Write(Use{nine_, "c1", "", "a.com", 1}, ActivityLog::AdminEvent{nine_, "c9", "login", "", "", "", "ok"});
    EXPECT_EQ(Ask(Path(), "PRAGMA user_version"), "2");
    ActivityHistory history(Path());
    EXPECT_EQ(Show(history.DailyUse("2026-06-09", DAY, {})), (Lines{"09 c1  3 300", "10 c1  1 1"}));
    EXPECT_EQ(history.AdminEvents(DAY, DAY, 9).size(), 1u);

    EXPECT_EQ(Ask(Path(), "PRAGMA user_version = 3"), "");
    const std::string newer = read(Path());
    ActivityLog log(Options());
    log.Record(Use{nine_ + 60, "c1", "", "a.com", 1});
    log.Flush();
    EXPECT_EQ(log.GetStatus().reason, "the history was written by a newer version of Tollwick");
    EXPECT_EQ(log.GetStatus().dropped, 1u);
    EXPECT_EQ(read(Path()), newer);
    ActivityHistory later(Path());
    EXPECT_EQ(Show(later.DailyUse(DAY, DAY, {})), Lines{"10 c1  1 1"});
}

TEST_F(Activity, AMissingFileIsAnEmptyHistory) {
    ActivityHistory history(Path());
    EXPECT_TRUE(history.IsOpen());
    EXPECT_TRUE(history.DailyUse(DAY, DAY, {}).empty());
    EXPECT_FALSE(std::filesystem::exists(Path()));
}

TEST_F(Activity, AKillDuringABurstKeepsEveryFlushedEvent) {
    int reports[2];
    ASSERT_EQ(::pipe(reports), 0);
    // How many the child has recorded, in memory that the parent shares.
    void* shared = ::mmap(nullptr, sizeof(std::atomic<std::uint64_t>), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    auto* recorded = new (shared) std::atomic<std::uint64_t>(0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(reports[0]);
        ActivityLog log(Options());
        for (std::uint64_t n = 1; n <= 10000000; ++n) {
            log.Record(Use{nine_ + static_cast<std::time_t>(n / 1000), "10.0.0." + std::to_string(n % 30),
                           "kids", "site" + std::to_string(n % 2000) + ".com", 1});
            recorded->store(n);
            if (n % 5000 == 0) {
                log.Flush();
                if (::write(reports[1], &n, sizeof n) != sizeof n)
                    ::_exit(1);
            }
        }
        ::_exit(0);
    }
    ::close(reports[1]);
    const int wanted = 10;
    int seen = 0;
    std::uint64_t flushed = 0;
    pollfd ready{reports[0], POLLIN, 0};
    while (seen < wanted && ::poll(&ready, 1, 30000) == 1 &&
           ::read(reports[0], &flushed, sizeof flushed) == sizeof flushed)
        ++seen;
    // The kill comes in the middle of a burst, halfway to the next flush.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (recorded->load() < flushed + 2500 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    for (std::uint64_t last = 0; ::read(reports[0], &last, sizeof last) == sizeof last;)
        flushed = last;
    ::close(reports[0]);
    ASSERT_EQ(seen, wanted) << "flushes reported before the wait ended";
    EXPECT_EQ(Ask(Path(), "PRAGMA integrity_check"), "ok");
    const auto written = static_cast<std::uint64_t>(WrittenBytes());
    EXPECT_GE(written, flushed);
    EXPECT_LE(written, recorded->load());
    std::cout << "recorded " << recorded->load() << ", flushed " << flushed << ", written " << written
              << "; lost with the process: " << recorded->load() - written << "\n";
    ::munmap(recorded, sizeof(std::atomic<std::uint64_t>));
}
