#pragma once

// tav::ActivityStore - the database file of the activity history, for its one writer.
//
// Makes or migrates the schema (versioned by PRAGMA user_version), writes a batch of day totals and events
// in one transaction, and removes old days. A damaged file, or one that is no database, is moved aside to
// PATH.damaged-YYYYMMDDTHHMMSS with its -wal and -shm, and a new one started, also when it is found
// overwritten while open; a new one is started too when the file open was removed or replaced by another
// program (its device, inode and header are checked before each write). Any other failure leaves the
// store paused with a reason until a later write succeeds; the connection is closed then and opened again
// by the next write. Used by one thread.

#include "SqlStatement.hpp"

#include <quorrel/ActivityHistory.hpp>
#include <quorrel/ActivityLog.hpp>

#include <cstdint>
#include <string>
#include <vector>

struct sqlite3;

namespace tav {

class ActivityStore {
public:
    // Totals to add to a client's day in a group, in all (site empty) or for one site.
    using DayTotal = ActivityHistory::DaySiteUse;
    template <class Event> struct DayEvent {
        std::string day;
        Event event;
    };
    struct Batch {
        std::vector<DayTotal> clientDays;
        std::vector<DayTotal> siteDays;
        std::vector<DayEvent<ActivityLog::Refusal>> refusals;
        std::vector<DayEvent<ActivityLog::AdminEvent>> adminEvents;
        // Rows of the days before this one are removed; empty to keep them.
        std::string removeBefore;
    };

    // The schema version this program writes.
    static const int VERSION = 2;

    explicit ActivityStore(std::string path);
    ~ActivityStore();
    ActivityStore(const ActivityStore&) = delete;
    ActivityStore& operator=(const ActivityStore&) = delete;

    // Writes the batch, opening the database first when needed; false when it was not written.
    bool Write(const Batch& batch);

    bool IsPaused() const { return !m_reason.empty(); }
    const std::string& GetReason() const { return m_reason; }
    // The last damaged file moved aside, or empty.
    const std::string& GetNotice() const { return m_notice; }

private:
    // These return SQLite's result codes and keep the first error's message in m_error.
    int Open();
    int Check();
    int Migrate(int version);
    int WriteRows(const Batch& batch);
    int WriteTotals(SqlStatement& statement, const std::vector<DayTotal>& totals);
    int Execute(const char* sql);
    int Note(int result);
    void Rollback();
    // Pauses with the reason of a failed write and closes the connection.
    void Failed(int result);
    void Close();
    bool MoveAside();
    // Whether the path still names the file the connection has open, with a database's header.
    enum class FileState { sound, lost, damaged };
    FileState Examine() const;

    const std::string m_path;
    sqlite3* m_db = nullptr;
    // The file the connection has open.
    std::uint64_t m_device = 0;
    std::uint64_t m_inode = 0;
    // The file passed PRAGMA quick_check when this store first opened it; opening it again after a failed
    // write does not check it again.
    bool m_checked = false;
    SqlStatement m_begin;
    SqlStatement m_commit;
    SqlStatement m_addClientDay;
    SqlStatement m_addSiteDay;
    SqlStatement m_addRefusal;
    SqlStatement m_addAdminEvent;
    std::string m_error;
    std::string m_reason;
    std::string m_notice;
};

} // namespace tav
