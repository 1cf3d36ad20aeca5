#include "host/platform/PlatformDatabase.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>

#include "host/platform/HostPlatform.h"
#include "host/platform/PlatformStatement.h"

namespace {

// Byte lengths are checked on the BLOB form: SQLite's length() of a TEXT
// counts characters.
const char kSchema[] = R"sql(
CREATE TABLE IF NOT EXISTS nodes (
    number INTEGER PRIMARY KEY CHECK (number BETWEEN -32768 AND 32767),
    name   TEXT NOT NULL UNIQUE CHECK (length(CAST(name AS BLOB)) BETWEEN 1 AND 31),
    type   TEXT CHECK (type IS NULL OR length(CAST(type AS BLOB)) <= 63)
);
CREATE TABLE IF NOT EXISTS users (
    id      INTEGER PRIMARY KEY,
    node    INTEGER NOT NULL CHECK (node BETWEEN -32768 AND 32767),
    mailbox TEXT NOT NULL DEFAULT '' CHECK (length(CAST(mailbox AS BLOB)) <= 31),
    name    TEXT NOT NULL CHECK (length(CAST(name AS BLOB)) BETWEEN 1 AND 511)
);
CREATE UNIQUE INDEX IF NOT EXISTS users_by_mailbox ON users (node, mailbox) WHERE mailbox <> '';
CREATE INDEX IF NOT EXISTS users_by_name ON users (name);
CREATE TABLE IF NOT EXISTS addresses (
    node    INTEGER NOT NULL,
    address TEXT NOT NULL CHECK (length(CAST(address AS BLOB)) BETWEEN 1 AND 511),
    user    INTEGER NOT NULL REFERENCES users (id),
    PRIMARY KEY (node, address)
);
CREATE TABLE IF NOT EXISTS items (
    item  INTEGER PRIMARY KEY,
    stamp INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE IF NOT EXISTS attributes (
    item  INTEGER NOT NULL REFERENCES items (item),
    attr  INTEGER NOT NULL,
    value TEXT NOT NULL CHECK (length(CAST(value AS BLOB)) BETWEEN 1 AND 511),
    PRIMARY KEY (item, attr)
);
)sql";

String& lastErrorText() {
    static thread_local String text;
    return text;
}

bool fail(const String& what) {
    lastErrorText() = what;
    return false;
}

bool fail(const PlatformConnection& connection) {
    return fail(connection.db() ? sqlite3_errmsg(connection.db()) : "can't open the database");
}

}  // namespace

const Path PlatformDatabase::path("/vm/db/platform.sqlite");

bool PlatformDatabase::create() {
    String file = HostPlatform::hostPath(path);
    if (!HostPlatform::makeParentDirectories(file))
        return fail("can't make the directory of " + path.text());
    sqlite3* db = nullptr;
    int rc =
        sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, 5000);
        char* message = nullptr;
        rc = sqlite3_exec(db, kSchema, nullptr, nullptr, &message);
        if (rc != SQLITE_OK) lastErrorText() = message ? message : sqlite3_errstr(rc);
        sqlite3_free(message);
    } else {
        lastErrorText() = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    }
    sqlite3_close(db);
    return rc == SQLITE_OK;
}

namespace {

// Runs one statement that changes the database.
template <class Bind>
bool change(const char* sql, Bind bind) {
    PlatformConnection connection(true);
    if (!connection.ok()) return fail(connection);
    PlatformStatement statement(connection, sql);
    if (!statement.ok()) return fail(connection);
    bind(statement);
    return statement.done() || fail(connection);
}

}  // namespace

bool PlatformDatabase::addNode(short number, const String& name,
                               const std::optional<String>& type) {
    return change("INSERT INTO nodes (number, name, type) VALUES (?, ?, ?)",
                  [&](PlatformStatement& s) {
                      s.bind(1, number).bind(2, name);
                      type ? s.bind(3, *type) : s.bindNull(3);
                  });
}

bool PlatformDatabase::addUser(long id, short node, const String& mailbox, const String& name) {
    return change(
        "INSERT INTO users (id, node, mailbox, name) VALUES (?, ?, ?, ?)",
        [&](PlatformStatement& s) { s.bind(1, id).bind(2, node).bind(3, mailbox).bind(4, name); });
}

bool PlatformDatabase::addAddress(short node, const String& address, long user) {
    return change("INSERT INTO addresses (node, address, user) VALUES (?, ?, ?)",
                  [&](PlatformStatement& s) { s.bind(1, node).bind(2, address).bind(3, user); });
}

bool PlatformDatabase::addItem(long item) {
    return change("INSERT INTO items (item) VALUES (?)",
                  [&](PlatformStatement& s) { s.bind(1, item); });
}

bool PlatformDatabase::setAttribute(long item, short attr, const String& value) {
    return change("INSERT OR REPLACE INTO attributes (item, attr, value) VALUES (?, ?, ?)",
                  [&](PlatformStatement& s) { s.bind(1, item).bind(2, attr).bind(3, value); });
}

long PlatformDatabase::stamp(long item) {
    PlatformConnection connection(false);
    PlatformStatement statement(connection, "SELECT stamp FROM items WHERE item = ?");
    statement.bind(1, item);
    return statement.row() ? static_cast<long>(statement.integer(0)) : -1;
}

long PlatformDatabase::count(const String& table) {
    static const char* const kTables[] = {"nodes", "users", "addresses", "items", "attributes"};
    for (const char* known : kTables) {
        if (table != known) continue;
        PlatformConnection connection(false);
        PlatformStatement statement(connection, ("SELECT count(*) FROM " + table).c_str());
        return statement.row() ? static_cast<long>(statement.integer(0)) : -1;
    }
    return -1;
}

const String& PlatformDatabase::lastError() {
    return lastErrorText();
}
