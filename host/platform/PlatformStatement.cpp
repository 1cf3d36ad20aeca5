#include "host/platform/PlatformStatement.h"

#include <sqlite3.h>

PlatformStatement::PlatformStatement(const PlatformConnection& connection, const char* sql) {
    if (connection.ok()) sqlite3_prepare_v2(connection.db(), sql, -1, &statement_, nullptr);
}

PlatformStatement::PlatformStatement(sqlite3* db, const char* sql) {
    if (db != nullptr) sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr);
}

PlatformStatement::PlatformStatement(sqlite3_stmt* kept) : statement_(kept), owned_(false) {}

PlatformStatement::~PlatformStatement() {
    if (owned_) {
        sqlite3_finalize(statement_);
    } else if (statement_ != nullptr) {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
}

PlatformStatement& PlatformStatement::bind(int index, long long value) {
    if (statement_) sqlite3_bind_int64(statement_, index, value);
    return *this;
}

PlatformStatement& PlatformStatement::bind(int index, const char* text, std::size_t length) {
    if (statement_)
        sqlite3_bind_text64(statement_, index, text, length, SQLITE_TRANSIENT, SQLITE_UTF8);
    return *this;
}

PlatformStatement& PlatformStatement::bindNull(int index) {
    if (statement_) sqlite3_bind_null(statement_, index);
    return *this;
}

bool PlatformStatement::row() {
    result_ = statement_ ? sqlite3_step(statement_) : SQLITE_MISUSE;
    return result_ == SQLITE_ROW;
}

bool PlatformStatement::done() {
    result_ = statement_ ? sqlite3_step(statement_) : SQLITE_MISUSE;
    return result_ == SQLITE_DONE;
}

bool PlatformStatement::reset() {
    if (statement_) sqlite3_reset(statement_);
    return true;
}

long long PlatformStatement::integer(int column) const {
    return sqlite3_column_int64(statement_, column);
}

String PlatformStatement::text(int column) const {
    const void* bytes = sqlite3_column_blob(statement_, column);
    int length = sqlite3_column_bytes(statement_, column);
    return bytes ? String(static_cast<const char*>(bytes), static_cast<std::size_t>(length))
                 : String();
}

bool PlatformStatement::null(int column) const {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}
