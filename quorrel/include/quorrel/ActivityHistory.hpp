#pragma once

// tav::ActivityHistory - reads the history that ActivityLog writes, for the Activity page, its export and
// the policy command.
//
// Days are local calendar days written "YYYY-MM-DD"; a range takes both ends. A scope narrows every query
// to one group (by the group's ID at the time of the event) or one client (by IP address); an empty scope
// takes everything. Clients and groups are named by the caller, from the policy as it is now: the history
// keeps only addresses and group IDs, so a renamed computer keeps its history.
//
// Opens the file read-only; a missing file reads as an empty history. A file that cannot be read makes
// IsOpen false and every query empty, with the reason in GetError. One instance is for one thread.

#include <quorrel/ActivityLog.hpp>
#include <quorrel/export.hpp>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

struct sqlite3;

namespace tav {

class SqlStatement;

class QUORREL_EXPORT ActivityHistory {
public:
    struct Scope {
        std::string group;  // a group's ID, or empty
        std::string client; // a client's IP, or empty
    };
    // A client's use on one day, in one group.
    struct DayUse {
        std::string day;
        std::string client;
        std::string group;
        std::int64_t minutes = 0;
        std::int64_t bytes = 0;
    };
    // A site's use over a range of days.
    struct SiteUse {
        std::string site;
        std::int64_t minutes = 0;
        std::int64_t bytes = 0;
    };
    // A client's use of a site on one day: a record of the export.
    struct DaySiteUse {
        std::string day;
        std::string client;
        std::string group;
        std::string site;
        std::int64_t minutes = 0;
        std::int64_t bytes = 0;
    };
    // The records as they were logged.
    using Refusal = ActivityLog::Refusal;
    using AdminEvent = ActivityLog::AdminEvent;
    enum class Order { ByMinutes, ByBytes };

    explicit ActivityHistory(const std::string& path);
    ~ActivityHistory();
    ActivityHistory(const ActivityHistory&) = delete;
    ActivityHistory& operator=(const ActivityHistory&) = delete;

    bool IsOpen() const;
    const std::string& GetError() const { return m_error; }

    // Each client's use per day and group, by day, then client.
    std::vector<DayUse> DailyUse(const std::string& firstDay, const std::string& lastDay, const Scope& scope);
    // The sites used most in the range, at most `limit`, the largest first.
    std::vector<SiteUse> TopSites(const std::string& firstDay, const std::string& lastDay, const Scope& scope,
                                  Order order, std::size_t limit);
    // Every client's use of every site, by day, client and site.
    std::vector<DaySiteUse> SiteUseByDay(const std::string& firstDay, const std::string& lastDay,
                                         const Scope& scope);
    // The refusals of the range, newest first, at most `limit`.
    std::vector<Refusal> Refusals(const std::string& firstDay, const std::string& lastDay, const Scope& scope,
                                  std::size_t limit);
    // The administration's events of the range, newest first, at most `limit`; the scope is not applied.
    std::vector<AdminEvent> AdminEvents(const std::string& firstDay, const std::string& lastDay,
                                        std::size_t limit);

    // The local day of a moment, "YYYY-MM-DD", and the day `days` before or after it.
    static std::string DayOf(std::time_t time);
    static std::string DayBefore(std::time_t time, int days);

private:
    // A query of the tables of schema version `since` or later over the range and scope, bound as ?1 to ?4,
    // with the limit as ?5; empty when the file has no such tables.
    SqlStatement Prepare(const std::string& sql, int since, const std::string& firstDay,
                         const std::string& lastDay, const Scope& scope, std::size_t limit);
    // Steps to the next row; false at the end, and on a failure, which closes the file.
    bool Next(SqlStatement& query);
    void Fail(const std::string& error);

    sqlite3* m_db = nullptr;
    std::int64_t m_version = 0;
    std::string m_error;
};

} // namespace tav
