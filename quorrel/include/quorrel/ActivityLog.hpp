#pragma once

// tav::ActivityLog - records what the computers did, for the parents' history, in an SQLite database.
//
// The proxy and the administration site hand it events: a client's use of a site (bytes at a moment), a
// refused request or tunnel, and the administration's own events. Record never blocks on the database:
// it puts the event in a bounded queue, and one writer thread of the log's own writes what has come
// once a second, in one transaction. When the queue is full, the event is dropped and counted.
//
// The writer keeps, per client and local day, the minutes with use and the bytes, in all and per site
// (the registrable domain of the host, e.g. example.co.uk: see SiteNames); a minute counts once for a
// client, and once for each site used in it. Refusals and administration events are kept one by one.
// Days older than the retention are removed once a day and when the log starts.
//
// When the database cannot be written (a full disk, a folder that cannot be written), the events are
// dropped and counted, the status says "history paused" with the reason, and each later batch tries
// again. A file that is damaged or is no SQLite database is moved aside (to PATH.damaged-YYYYMMDDTHHMMSS)
// and a new one started; the status keeps a notice of it. Nothing of this reaches the callers as an
// error: filtering goes on whatever the history does.
//
// Thread-safe: Record, Flush and GetStatus may be called from any thread. The history is read through
// ActivityHistory on the same file, which WAL mode lets read while the writer writes.

#include <quorrel/export.hpp>

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

namespace tav {

class ActivityLog {
public:
    struct Options {
        // The database file; its folder is made when missing.
        std::string path = "log/activity.db";
        // Days kept, today included; older ones are removed.
        int keepDays = 90;
        // Events waiting for the writer at most; more are dropped.
        std::size_t queueLimit = 65536;
        // The public suffix list that names sites; without it a site is the host's last two labels.
        std::string suffixList = "/usr/share/publicsuffix/public_suffix_list.dat";
        // The time of the clean-up of old days; events carry their own time.
        std::function<std::time_t()> now = [] { return std::time(nullptr); };
    };

    // A client's use: bytes moved to or from a host at a moment.
    struct Use {
        std::time_t time = 0;
        std::string client; // the computer's IP address
        std::string group;  // its group's ID, empty for a computer the policy does not know
        std::string host;
        std::uint64_t bytes = 0;
    };
    // A refused request or tunnel.
    struct Refusal {
        std::time_t time = 0;
        std::string client;
        std::string group;
        std::string protocol; // "http" or "https"
        std::string host;
        std::string path; // http only; empty for a tunnel
        std::string reason;
    };
    // One event of the administration's audit trail.
    struct AdminEvent {
        std::time_t time = 0;
        std::string client; // the address the administrator used
        std::string event;  // "login", "change", ...
        std::string page;
        std::string action;
        std::string object;
        std::string outcome;
    };

    struct Status {
        bool paused = false;
        std::string reason;        // why the history is paused
        std::uint64_t dropped = 0; // events not recorded since the log started
        std::string notice;        // a damaged file moved aside, or empty
    };

    // Starts the writer, which opens (or makes, or migrates) the database.
    QUORREL_EXPORT explicit ActivityLog(Options options);
    // Writes what is queued, then stops the writer.
    QUORREL_EXPORT ~ActivityLog();
    ActivityLog(const ActivityLog&) = delete;
    ActivityLog& operator=(const ActivityLog&) = delete;

    QUORREL_EXPORT void Record(Use use);
    QUORREL_EXPORT void Record(Refusal refusal);
    QUORREL_EXPORT void Record(AdminEvent event);
    // Writes what has been queued so far and returns once it is written (or dropped); for tests and the end.
    QUORREL_EXPORT void Flush();

    QUORREL_EXPORT Status GetStatus() const;
    const std::string& GetPath() const { return m_options.path; }
    int GetKeepDays() const { return m_options.keepDays; }

private:
    class Writer;
    using Event = std::variant<Use, Refusal, AdminEvent>;

    void Push(Event event);
    void Run();

    const Options m_options;
    std::unique_ptr<Writer> m_writer;
    mutable std::mutex m_queueMutex;
    std::condition_variable m_wake;
    std::condition_variable m_written;
    std::vector<Event> m_queue;
    // The writer's last word and every event dropped, under m_queueMutex.
    Status m_status;
    std::uint64_t m_flushAsked = 0;
    std::uint64_t m_flushDone = 0;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace tav
