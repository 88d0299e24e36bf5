#include <quorrel/ActivityHistory.hpp>

#include "SqlStatement.hpp"

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <limits>

namespace tav {

namespace {

const int BUSY_TIMEOUT_MS = 2000;

// The range and the scope, as every query of the clients' use takes them.
std::string InRange(const char* select, const char* rest) {
    return std::string(select) +
           " WHERE day BETWEEN ?1 AND ?2 AND (?3 = '' OR grp = ?3) AND (?4 = '' OR client = ?4) " + rest;
}

std::string Format(const std::tm& date) {
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d", &date);
    return text;
}

} // namespace

ActivityHistory::ActivityHistory(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        if (error)
            m_error = "the history cannot be read: " + error.message();
        return;
    }
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK) {
        Fail(m_db != nullptr ? sqlite3_errmsg(m_db) : "out of memory");
        return;
    }
    sqlite3_busy_timeout(m_db, BUSY_TIMEOUT_MS);
    // A file that is no database fails here; a damaged one fails the query that reaches the damage.
    SqlStatement version(m_db, "PRAGMA user_version");
    if (Next(version))
        m_version = version.Int(0);
}

ActivityHistory::~ActivityHistory() {
    sqlite3_close_v2(m_db);
}

bool ActivityHistory::IsOpen() const {
    return m_error.empty();
}

std::vector<ActivityHistory::DayUse>
ActivityHistory::DailyUse(const std::string& firstDay, const std::string& lastDay, const Scope& scope) {
    std::vector<DayUse> rows;
    SqlStatement query =
        Prepare(InRange("SELECT day, client, grp, minutes, bytes FROM use_days", "ORDER BY day, client, grp"),
                1, firstDay, lastDay, scope, 0);
    while (Next(query))
        rows.push_back({query.Text(0), query.Text(1), query.Text(2), query.Int(3), query.Int(4)});
    return rows;
}

std::vector<ActivityHistory::SiteUse> ActivityHistory::TopSites(const std::string& firstDay,
                                                                const std::string& lastDay,
                                                                const Scope& scope, Order order,
                                                                std::size_t limit) {
    std::vector<SiteUse> rows;
    SqlStatement query =
        Prepare(InRange("SELECT site, sum(minutes) AS m, sum(bytes) AS b FROM site_days",
                        order == Order::ByMinutes ? "GROUP BY site ORDER BY m DESC, b DESC, site LIMIT ?5"
                                                  : "GROUP BY site ORDER BY b DESC, m DESC, site LIMIT ?5"),
                1, firstDay, lastDay, scope, limit);
    while (Next(query))
        rows.push_back({query.Text(0), query.Int(1), query.Int(2)});
    return rows;
}

std::vector<ActivityHistory::DaySiteUse>
ActivityHistory::SiteUseByDay(const std::string& firstDay, const std::string& lastDay, const Scope& scope) {
    std::vector<DaySiteUse> rows;
    SqlStatement query = Prepare(InRange("SELECT day, client, grp, site, minutes, bytes FROM site_days",
                                         "ORDER BY day, client, site, grp"),
                                 1, firstDay, lastDay, scope, 0);
    while (Next(query))
        rows.push_back(
            {query.Text(0), query.Text(1), query.Text(2), query.Text(3), query.Int(4), query.Int(5)});
    return rows;
}

std::vector<ActivityHistory::Refusal> ActivityHistory::Refusals(const std::string& firstDay,
                                                                const std::string& lastDay,
                                                                const Scope& scope, std::size_t limit) {
    std::vector<Refusal> rows;
    SqlStatement query =
        Prepare(InRange("SELECT time, client, grp, protocol, host, path, reason FROM refusals",
                        "ORDER BY time DESC, rowid DESC LIMIT ?5"),
                1, firstDay, lastDay, scope, limit);
    while (Next(query))
        rows.push_back({static_cast<std::time_t>(query.Int(0)), query.Text(1), query.Text(2), query.Text(3),
                        query.Text(4), query.Text(5), query.Text(6)});
    return rows;
}

std::vector<ActivityHistory::AdminEvent>
ActivityHistory::AdminEvents(const std::string& firstDay, const std::string& lastDay, std::size_t limit) {
    std::vector<AdminEvent> rows;
    SqlStatement query =
        Prepare("SELECT time, client, event, page, action, object, outcome FROM admin_events "
                "WHERE day BETWEEN ?1 AND ?2 ORDER BY time DESC, rowid DESC LIMIT ?5",
                2, firstDay, lastDay, Scope(), limit);
    while (Next(query))
        rows.push_back({static_cast<std::time_t>(query.Int(0)), query.Text(1), query.Text(2), query.Text(3),
                        query.Text(4), query.Text(5), query.Text(6)});
    return rows;
}

std::string ActivityHistory::DayOf(std::time_t time) {
    std::tm local{};
    localtime_r(&time, &local);
    return Format(local);
}

std::string ActivityHistory::DayBefore(std::time_t time, int days) {
    std::tm local{};
    localtime_r(&time, &local);
    // Counts the days on the calendar alone, in UTC, where no day is shorter or longer than the others.
    std::tm date{};
    date.tm_year = local.tm_year;
    date.tm_mon = local.tm_mon;
    date.tm_mday = local.tm_mday - days;
    date.tm_hour = 12;
    const std::time_t moved = timegm(&date);
    gmtime_r(&moved, &date);
    return Format(date);
}

SqlStatement ActivityHistory::Prepare(const std::string& sql, int since, const std::string& firstDay,
                                      const std::string& lastDay, const Scope& scope, std::size_t limit) {
    if (m_db == nullptr || m_version < since)
        return SqlStatement();
    SqlStatement query(m_db, sql.c_str());
    query.Bind(1, firstDay);
    query.Bind(2, lastDay);
    query.Bind(3, scope.group);
    query.Bind(4, scope.client);
    query.Bind(5, static_cast<std::int64_t>(std::min<std::size_t>(
                      limit, static_cast<std::size_t>(std::numeric_limits<std::int64_t>::max()))));
    return query;
}

bool ActivityHistory::Next(SqlStatement& query) {
    if (m_db == nullptr)
        return false;
    const int result = query.Step();
    if (result == SQLITE_ROW)
        return true;
    if (result != SQLITE_DONE)
        Fail(sqlite3_errmsg(m_db));
    return false;
}

void ActivityHistory::Fail(const std::string& error) {
    m_error = "the history cannot be read: " + error;
    sqlite3_close_v2(m_db);
    m_db = nullptr;
}

} // namespace tav
