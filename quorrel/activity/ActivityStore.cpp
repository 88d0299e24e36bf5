#include "ActivityStore.hpp"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <utility>

namespace tav {

namespace {

// The steps from each schema version to the next, the first from an empty file.
const char* const SCHEMA_STEPS[] = {
    "CREATE TABLE use_days(day TEXT, client TEXT, grp TEXT, minutes INTEGER, bytes INTEGER,"
    " PRIMARY KEY(day, client, grp)) WITHOUT ROWID;"
    "CREATE TABLE site_days(day TEXT, client TEXT, grp TEXT, site TEXT, minutes INTEGER, bytes INTEGER,"
    " PRIMARY KEY(day, client, grp, site)) WITHOUT ROWID;"
    "CREATE TABLE refusals(time INTEGER, day TEXT, client TEXT, grp TEXT, protocol TEXT, host TEXT, path "
    "TEXT,"
    " reason TEXT);"
    "CREATE INDEX refusals_day ON refusals(day);",
    "CREATE TABLE admin_events(time INTEGER, day TEXT, client TEXT, event TEXT, page TEXT, action TEXT,"
    " object TEXT, outcome TEXT);"
    "CREATE INDEX admin_events_day ON admin_events(day);",
};
static_assert(sizeof SCHEMA_STEPS / sizeof SCHEMA_STEPS[0] == ActivityStore::VERSION);

const char* const REMOVALS[] = {
    "DELETE FROM use_days WHERE day < ?1",
    "DELETE FROM site_days WHERE day < ?1",
    "DELETE FROM refusals WHERE day < ?1",
    "DELETE FROM admin_events WHERE day < ?1",
};

// Open's result for a file of a later schema than this program's.
const int NEWER_FILE = -1;

const int BUSY_TIMEOUT_MS = 5000;

// The local time in `format`, for strftime; the moved file's name by default.
std::string Stamp(std::time_t time, const char* format = "%Y%m%dT%H%M%S") {
    std::tm local{};
    localtime_r(&time, &local);
    char text[32];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

} // namespace

ActivityStore::ActivityStore(std::string path) : m_path(std::move(path)) {}

ActivityStore::~ActivityStore() {
    Close();
}

bool ActivityStore::Write(const Batch& batch) {
    // A file removed or replaced under the open connection would take the rows where no reader finds them,
    // and one overwritten would lose them at the next start.
    switch (m_db != nullptr ? Examine() : FileState::sound) {
    case FileState::sound:
        break;
    case FileState::lost:
        Close();
        m_checked = false;
        m_notice = "The history file was removed or replaced by another program; a new one was started at " +
                   Stamp(std::time(nullptr), "%Y-%m-%d %H:%M") + ".";
        break;
    case FileState::damaged:
        MoveAside();
        break;
    }
    for (bool firstTry = true;; firstTry = false) {
        m_error.clear();
        int result = m_db == nullptr ? Open() : SQLITE_OK;
        if (result == SQLITE_OK)
            result = WriteRows(batch);
        if (result == SQLITE_OK) {
            m_reason.clear();
            return true;
        }
        const int kind = result & 0xff;
        // A damaged file is moved aside once, and the batch goes to the new file.
        if ((kind == SQLITE_CORRUPT || kind == SQLITE_NOTADB) && firstTry && MoveAside())
            continue;
        Failed(result);
        return false;
    }
}

int ActivityStore::Open() {
    const std::filesystem::path folder = std::filesystem::path(m_path).parent_path();
    std::error_code error;
    if (!folder.empty())
        std::filesystem::create_directories(folder, error);
    if (error) {
        m_error = error.message();
        return SQLITE_CANTOPEN;
    }
    int result = Note(sqlite3_open_v2(
        m_path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr));
    if (result != SQLITE_OK)
        return result;
    if (sqlite3_db_readonly(m_db, "main") == 1)
        return Note(SQLITE_READONLY);
    sqlite3_busy_timeout(m_db, BUSY_TIMEOUT_MS);
    SqlStatement readVersion(m_db, "PRAGMA user_version");
    result = Note(readVersion.Step());
    if (result != SQLITE_ROW)
        return result;
    const std::int64_t version = readVersion.Int(0);
    readVersion = SqlStatement();
    // A later program's file is left as it is: not even its journal mode changes.
    if (version > VERSION)
        return NEWER_FILE;
    if (!m_checked) {
        result = Check();
        if (result != SQLITE_OK)
            return result;
        m_checked = true;
    }
    result = Execute("PRAGMA journal_mode=WAL");
    if (result == SQLITE_OK)
        result = Execute("PRAGMA synchronous=NORMAL");
    if (result == SQLITE_OK && version < VERSION)
        result = Migrate(static_cast<int>(version));
    if (result != SQLITE_OK)
        return result;
    struct stat file {};
    if (::stat(m_path.c_str(), &file) != 0) {
        m_error = std::strerror(errno);
        return SQLITE_CANTOPEN;
    }
    m_device = file.st_dev;
    m_inode = file.st_ino;
    m_begin = SqlStatement(m_db, "BEGIN IMMEDIATE");
    m_commit = SqlStatement(m_db, "COMMIT");
    // The totals of a day in all leave the site's parameter, ?4, unused, so that both take the same binding.
    m_addClientDay =
        SqlStatement(m_db, "INSERT INTO use_days(day, client, grp, minutes, bytes) VALUES(?1, ?2, ?3, "
                           "?5, ?6) ON CONFLICT DO UPDATE SET minutes = minutes + excluded.minutes, "
                           "bytes = bytes + excluded.bytes");
    m_addSiteDay =
        SqlStatement(m_db, "INSERT INTO site_days(day, client, grp, site, minutes, bytes) VALUES(?1, ?2, "
                           "?3, ?4, ?5, ?6) ON CONFLICT DO UPDATE SET minutes = minutes + "
                           "excluded.minutes, bytes = bytes + excluded.bytes");
    m_addRefusal =
        SqlStatement(m_db, "INSERT INTO refusals(time, day, client, grp, protocol, host, path, reason) "
                           "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    m_addAdminEvent =
        SqlStatement(m_db, "INSERT INTO admin_events(time, day, client, event, page, action, object, "
                           "outcome) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    for (const SqlStatement* statement :
         {&m_begin, &m_commit, &m_addClientDay, &m_addSiteDay, &m_addRefusal, &m_addAdminEvent})
        if (statement->GetPrepared() != SQLITE_OK)
            return Note(statement->GetPrepared());
    return SQLITE_OK;
}

ActivityStore::FileState ActivityStore::Examine() const {
    struct stat file {};
    if (::stat(m_path.c_str(), &file) != 0 || file.st_dev != m_device || file.st_ino != m_inode)
        return FileState::lost;
    static const char header[] = "SQLite format 3";
    char first[sizeof header] = "";
    std::ifstream(m_path, std::ios::binary).read(first, sizeof first);
    return std::memcmp(first, header, sizeof header) == 0 ? FileState::sound : FileState::damaged;
}

int ActivityStore::Check() {
    SqlStatement check(m_db, "PRAGMA quick_check");
    const int result = Note(check.Step());
    if (result != SQLITE_ROW)
        return result;
    if (check.Text(0) != "ok") {
        m_error = check.Text(0);
        return SQLITE_CORRUPT;
    }
    return SQLITE_OK;
}

int ActivityStore::Migrate(int version) {
    int result = Execute("BEGIN IMMEDIATE");
    for (int step = version; step < VERSION && result == SQLITE_OK; ++step)
        result = Execute(SCHEMA_STEPS[step]);
    if (result == SQLITE_OK)
        result = Execute(("PRAGMA user_version = " + std::to_string(VERSION)).c_str());
    if (result == SQLITE_OK)
        result = Execute("COMMIT");
    if (result != SQLITE_OK)
        Rollback();
    return result;
}

int ActivityStore::WriteRows(const Batch& batch) {
    if (batch.clientDays.empty() && batch.siteDays.empty() && batch.refusals.empty() &&
        batch.adminEvents.empty() && batch.removeBefore.empty())
        return SQLITE_OK;
    int result = Note(m_begin.Run());
    // The old days go before the batch comes in, so that its rows stay, even those of an old day.
    for (const char* removal : REMOVALS) {
        if (result != SQLITE_OK || batch.removeBefore.empty())
            break;
        SqlStatement remove(m_db, removal);
        remove.Bind(1, batch.removeBefore);
        result = Note(remove.Run());
    }
    if (result == SQLITE_OK)
        result = WriteTotals(m_addClientDay, batch.clientDays);
    if (result == SQLITE_OK)
        result = WriteTotals(m_addSiteDay, batch.siteDays);
    for (std::size_t i = 0; i < batch.refusals.size() && result == SQLITE_OK; ++i) {
        const auto& [day, refusal] = batch.refusals[i];
        m_addRefusal.Bind(1, static_cast<std::int64_t>(refusal.time));
        m_addRefusal.Bind(2, day);
        m_addRefusal.Bind(3, refusal.client);
        m_addRefusal.Bind(4, refusal.group);
        m_addRefusal.Bind(5, refusal.protocol);
        m_addRefusal.Bind(6, refusal.host);
        m_addRefusal.Bind(7, refusal.path);
        m_addRefusal.Bind(8, refusal.reason);
        result = Note(m_addRefusal.Run());
    }
    for (std::size_t i = 0; i < batch.adminEvents.size() && result == SQLITE_OK; ++i) {
        const auto& [day, event] = batch.adminEvents[i];
        m_addAdminEvent.Bind(1, static_cast<std::int64_t>(event.time));
        m_addAdminEvent.Bind(2, day);
        m_addAdminEvent.Bind(3, event.client);
        m_addAdminEvent.Bind(4, event.event);
        m_addAdminEvent.Bind(5, event.page);
        m_addAdminEvent.Bind(6, event.action);
        m_addAdminEvent.Bind(7, event.object);
        m_addAdminEvent.Bind(8, event.outcome);
        result = Note(m_addAdminEvent.Run());
    }
    if (result == SQLITE_OK)
        result = Note(m_commit.Run());
    if (result != SQLITE_OK)
        Rollback();
    return result;
}

int ActivityStore::WriteTotals(SqlStatement& statement, const std::vector<DayTotal>& totals) {
    int result = SQLITE_OK;
    for (std::size_t i = 0; i < totals.size() && result == SQLITE_OK; ++i) {
        statement.Bind(1, totals[i].day);
        statement.Bind(2, totals[i].client);
        statement.Bind(3, totals[i].group);
        statement.Bind(4, totals[i].site);
        statement.Bind(5, totals[i].minutes);
        statement.Bind(6, totals[i].bytes);
        result = Note(statement.Run());
    }
    return result;
}

int ActivityStore::Execute(const char* sql) {
    return Note(sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr));
}

int ActivityStore::Note(int result) {
    if (result != SQLITE_OK && result != SQLITE_ROW && result != SQLITE_DONE && m_error.empty())
        m_error = m_db != nullptr && sqlite3_errcode(m_db) != SQLITE_OK ? sqlite3_errmsg(m_db)
                                                                        : sqlite3_errstr(result);
    return result;
}

void ActivityStore::Rollback() {
    if (m_db != nullptr && sqlite3_get_autocommit(m_db) == 0)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

void ActivityStore::Failed(int result) {
    const std::string folder = std::filesystem::path(m_path).parent_path().string();
    switch (result == NEWER_FILE ? NEWER_FILE : result & 0xff) {
    case NEWER_FILE:
        m_reason = "the history was written by a newer version of Tollwick";
        break;
    case SQLITE_FULL:
        m_reason = "the disk is full";
        break;
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
        m_reason = "the folder cannot be written: " + (folder.empty() ? "." : folder) + ": " + m_error;
        break;
    case SQLITE_IOERR:
        m_reason = "the disk cannot be written: " + m_error;
        break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        m_reason = "the history file is damaged: " + m_error;
        break;
    default:
        m_reason = "the history cannot be written: " + m_error;
    }
    Close();
}

void ActivityStore::Close() {
    m_begin = SqlStatement();
    m_commit = SqlStatement();
    // The totals of a day in all leave the site's parameter, ?4, unused, so that both take the same binding.
    m_addClientDay = SqlStatement();
    m_addSiteDay = SqlStatement();
    m_addRefusal = SqlStatement();
    m_addAdminEvent = SqlStatement();
    sqlite3_close_v2(m_db);
    m_db = nullptr;
}

bool ActivityStore::MoveAside() {
    Close();
    const std::string stamped = m_path + ".damaged-" + Stamp(std::time(nullptr));
    std::string target = stamped;
    std::error_code error;
    for (int n = 2; std::filesystem::exists(target, error); ++n)
        target = stamped + "-" + std::to_string(n);
    std::filesystem::rename(m_path, target, error);
    if (error) {
        m_error = "it cannot be moved aside: " + error.message();
        return false;
    }
    for (const char* companion : {"-wal", "-shm"})
        std::filesystem::rename(m_path + companion, target + companion, error);
    m_checked = false;
    m_notice = "The history file was damaged and was moved to " + target + "; a new one was started.";
    return true;
}

} // namespace tav
