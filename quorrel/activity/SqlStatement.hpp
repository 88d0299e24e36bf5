#pragma once

// tav::SqlStatement - one prepared SQLite statement, finalized with the object.
//
// Values are bound by position and copied by SQLite, so the caller's strings may go at once. The calls
// return SQLite's result codes; a statement that failed to prepare fails every step with the same code, and
// an empty one (made by default) has no rows.

#include <cstdint>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace tav {

class SqlStatement {
public:
    SqlStatement() = default;
    SqlStatement(sqlite3* db, const char* sql);
    ~SqlStatement();
    SqlStatement(SqlStatement&& other) noexcept;
    SqlStatement& operator=(SqlStatement&& other) noexcept;
    SqlStatement(const SqlStatement&) = delete;
    SqlStatement& operator=(const SqlStatement&) = delete;

    // SQLITE_OK when the statement is ready.
    int GetPrepared() const { return m_prepared; }

    void Bind(int index, const std::string& text);
    void Bind(int index, std::int64_t value);
    // SQLITE_ROW while there are rows, then SQLITE_DONE, or an error code.
    int Step();
    // Steps to the end and resets for the next use; SQLITE_OK or the error code.
    int Run();
    void Reset();

    std::string Text(int column) const;
    std::int64_t Int(int column) const;

private:
    sqlite3_stmt* m_statement = nullptr;
    int m_prepared = 0;
};

} // namespace tav
