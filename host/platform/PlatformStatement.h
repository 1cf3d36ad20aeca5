#pragma once

#include <cstddef>

#include "host/platform/PlatformConnection.h"
#include "platform/String.h"

struct sqlite3;
struct sqlite3_stmt;

// One prepared statement, finalized by the destructor.
class PlatformStatement {
  public:
    PlatformStatement(const PlatformConnection& connection, const char* sql);
    // On any open connection (not prepared when db is null).
    PlatformStatement(sqlite3* db, const char* sql);
    // Uses a statement kept prepared by its owner: the destructor only
    // resets it and clears its bindings.
    explicit PlatformStatement(sqlite3_stmt* kept);
    ~PlatformStatement();
    PlatformStatement(const PlatformStatement&) = delete;
    PlatformStatement& operator=(const PlatformStatement&) = delete;

    bool ok() const { return statement_ != nullptr; }
    PlatformStatement& bind(int index, long long value);
    PlatformStatement& bind(int index, const char* text, std::size_t length);
    PlatformStatement& bind(int index, const String& text) {
        return bind(index, text.data(), text.size());
    }
    PlatformStatement& bindNull(int index);
    // Steps once: true when a row came (SQLITE_ROW).
    bool row();
    // Runs to completion: true on SQLITE_DONE.
    bool done();
    // Makes the statement ready to run again, its bindings kept; true.
    bool reset();
    // SQLite's code of the last step (SQLITE_MISUSE when not prepared).
    int result() const { return result_; }
    long long integer(int column) const;
    // The column's bytes (empty for NULL), and whether it is NULL.
    String text(int column) const;
    bool null(int column) const;

  private:
    sqlite3_stmt* statement_ = nullptr;
    bool owned_ = true;
    int result_ = 0;
};
