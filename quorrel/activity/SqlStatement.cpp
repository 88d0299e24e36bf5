#include "SqlStatement.hpp"

#include <sqlite3.h>

#include <utility>

namespace tav {

SqlStatement::SqlStatement(sqlite3* db, const char* sql)
    : m_prepared(sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_statement, nullptr)) {}

SqlStatement::~SqlStatement() {
    sqlite3_finalize(m_statement);
}

SqlStatement::SqlStatement(SqlStatement&& other) noexcept
    : m_statement(std::exchange(other.m_statement, nullptr)), m_prepared(other.m_prepared) {}

SqlStatement& SqlStatement::operator=(SqlStatement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(m_statement);
        m_statement = std::exchange(other.m_statement, nullptr);
        m_prepared = other.m_prepared;
    }
    return *this;
}

void SqlStatement::Bind(int index, const std::string& text) {
    sqlite3_bind_text(m_statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void SqlStatement::Bind(int index, std::int64_t value) {
    sqlite3_bind_int64(m_statement, index, value);
}

int SqlStatement::Step() {
    if (m_statement == nullptr)
        return m_prepared == SQLITE_OK ? SQLITE_DONE : m_prepared;
    return sqlite3_step(m_statement);
}

int SqlStatement::Run() {
    int result = Step();
    while (result == SQLITE_ROW)
        result = Step();
    Reset();
    return result == SQLITE_DONE ? SQLITE_OK : result;
}

void SqlStatement::Reset() {
    if (m_statement == nullptr)
        return;
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

std::string SqlStatement::Text(int column) const {
    const auto* text = sqlite3_column_text(m_statement, column);
    return text == nullptr ? std::string()
                           : std::string(reinterpret_cast<const char*>(text),
                                         static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)));
}

std::int64_t SqlStatement::Int(int column) const {
    return sqlite3_column_int64(m_statement, column);
}

} // namespace tav
