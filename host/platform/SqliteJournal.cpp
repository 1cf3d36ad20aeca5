#include "host/platform/SqliteJournal.h"

#include <fcntl.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/platform/FrameJoiningVfs.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/PlatformStatement.h"
#include "host/platform/ProcessId.h"

const Path SqliteJournal::path("/vm/db/journal.sqlite");

namespace {

const char kSchema[] = R"(
CREATE TABLE IF NOT EXISTS saves(
  seq INTEGER PRIMARY KEY AUTOINCREMENT, time_us INTEGER NOT NULL, actor TEXT NOT NULL,
  box INTEGER NOT NULL, program TEXT NOT NULL, pid INTEGER NOT NULL, host TEXT NOT NULL,
  sender_box INTEGER NOT NULL, kind TEXT NOT NULL, target BLOB NOT NULL,
  after INTEGER NOT NULL, pending INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS saves_target ON saves(kind, target, seq);
CREATE TABLE IF NOT EXISTS pending(
  seq INTEGER PRIMARY KEY REFERENCES saves(seq) ON DELETE CASCADE);
CREATE TABLE IF NOT EXISTS changes(
  seq INTEGER NOT NULL REFERENCES saves(seq) ON DELETE CASCADE, ord INTEGER NOT NULL,
  name BLOB NOT NULL, idx INTEGER NOT NULL, op TEXT NOT NULL,
  old_value BLOB, new_value BLOB, old_attributes BLOB, new_attributes BLOB,
  PRIMARY KEY(seq, ord)) WITHOUT ROWID;
)";

// Journals made before the pending table marked pending saves in a column
// and an index of their own: their pending saves move to the table once.
// They also indexed changes by name, which every save paid for and only a
// history of one name across all sets used; that scan is now a filter.
const char kMoveOldPending[] = R"(
INSERT OR IGNORE INTO pending(seq) SELECT seq FROM saves WHERE pending = 1;
UPDATE saves SET pending = 0 WHERE pending = 1;
DROP INDEX IF EXISTS saves_pending;
DROP INDEX IF EXISTS changes_name;
PRAGMA user_version = 2;
)";

// Records still pending are left out of the history.
#define SETTLED(seq) seq " NOT IN (SELECT seq FROM pending)"

const char kColumns[] =
    "SELECT s.seq, s.time_us, s.actor, s.box, s.program, s.pid, s.host, s.sender_box, s.kind, "
    "s.target, s.after, c.name, c.idx, c.op, c.old_value, c.new_value, c.old_attributes, "
    "c.new_attributes FROM saves s JOIN changes c ON c.seq = s.seq WHERE " SETTLED("s.seq");

int errnoOf(int code) {
    switch (code & 0xff) {
        case SQLITE_FULL:
            return ENOSPC;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return EBUSY;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return EACCES;
        case SQLITE_CANTOPEN:
            return ENOENT;
        case SQLITE_NOMEM:
            return ENOMEM;
        default:
            return EIO;
    }
}

bool exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Sets the record's fields from the first eleven columns.
void readSave(const PlatformStatement& row, JournalEntry& entry) {
    entry.seq = static_cast<std::uint64_t>(row.integer(0));
    entry.timeUs = row.integer(1);
    entry.actor = row.text(2);
    entry.box = static_cast<std::uint16_t>(row.integer(3));
    entry.program = row.text(4);
    entry.pid = row.integer(5);
    entry.host = row.text(6);
    entry.senderBox = static_cast<std::uint16_t>(row.integer(7));
    entry.kind = row.text(8);
    entry.target = row.text(9);
    entry.after = static_cast<std::uint64_t>(row.integer(10));
}

JournalChange readChange(const PlatformStatement& row) {
    JournalChange change;
    change.name = row.text(11);
    change.index = static_cast<std::uint32_t>(row.integer(12));
    String op = row.text(13);
    change.op = op.empty() ? JournalChange::CHANGED : static_cast<JournalChange::Op>(op[0]);
    change.oldValue = row.text(14);
    change.newValue = row.text(15);
    change.oldAttributes = row.text(16);
    change.newAttributes = row.text(17);
    return change;
}

void bindSide(PlatformStatement& insert, int column, bool present, const String& value,
              const String& attributes) {
    if (present) {
        insert.bind(column, value).bind(column + 2, attributes);
    } else {
        insert.bindNull(column).bindNull(column + 2);
    }
}

}  // namespace

std::unique_ptr<JournalStore> SqliteJournal::open(std::string&) {
    return std::unique_ptr<JournalStore>(new SqliteJournal());
}

SqliteJournal::~SqliteJournal() {
    close();
}

void SqliteJournal::close() {
    // A connection inherited through fork is never used, nor closed: its
    // locks belong to the parent.
    if (pid_ == ProcessId::current()) {
        for (auto& [sql, statement] : kept_) sqlite3_finalize(statement);
        sqlite3_close(db_);
    }
    kept_.clear();
    db_ = nullptr;
}

sqlite3_stmt* SqliteJournal::kept(const char* sql) {
    sqlite3_stmt*& statement = kept_[sql];
    if (statement == nullptr)
        sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    return statement;
}

int SqliteJournal::failure(int sqliteCode, std::string* error) {
    if (error != nullptr)
        *error = std::string("the journal ") + file_ + ": " +
                 (db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(sqliteCode));
    return errnoOf(sqliteCode);
}

// Switching a new database to WAL needs it to itself, and SQLite answers
// "busy" at once rather than waiting when another process is doing the
// same: the first processes to use a new journal try again for a while.
// A checkpoint syncs the WAL and the database file; at 16,000 pages (16 MB
// of WAL) rather than SQLite's 1,000, a save shares in far fewer syncs. Small
// pages suit records of a few hundred bytes: a save's WAL frames are copied
// and checksummed whole, so 1 KB pages cost a quarter of 4 KB ones (a new
// journal only: an existing one keeps its page size).
int SqliteJournal::setUp() {
    int rc = SQLITE_BUSY;
    for (int attempt = 0; attempt < 500; ++attempt) {
        rc = exec(db_, "PRAGMA page_size = 1024") && exec(db_, "PRAGMA journal_mode = WAL") &&
                     exec(db_, "PRAGMA synchronous = NORMAL") &&
                     exec(db_, "PRAGMA wal_autocheckpoint = 16000") &&
                     exec(db_, "PRAGMA foreign_keys = ON") && exec(db_, kSchema) && moveOldPending()
                 ? SQLITE_OK
                 : sqlite3_errcode(db_);
        if ((rc & 0xff) != SQLITE_BUSY && (rc & 0xff) != SQLITE_LOCKED) break;
        ::poll(nullptr, 0, 10);
    }
    return rc;
}

bool SqliteJournal::moveOldPending() {
    PlatformStatement version(db_, "PRAGMA user_version");
    if (!version.row()) return false;
    if (version.integer(0) >= 2) return true;
    version.reset();
    if (!exec(db_, "BEGIN IMMEDIATE")) return false;
    if (exec(db_, kMoveOldPending) && exec(db_, "COMMIT")) return true;
    exec(db_, "ROLLBACK");
    return false;
}

sqlite3* SqliteJournal::connection(int& code, std::string& error) {
    // Resolving the path inside the root reads every link on the way: once
    // per root is enough, as the open connection keeps its file anyway.
    if (connected()) return db_;
    close();
    String file = HostPlatform::hostPath(path);
    file_ = file;
    root_ = HostPlatform::root();
    retentionApplied_ = false;
    pid_ = ProcessId::current();
    int fd = -1;
    if (HostPlatform::makeParentDirectories(file))
        fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0660);
    if (fd < 0) {
        code = errno;
        error = "the journal " + file + ": " + std::strerror(code);
        return nullptr;
    }
    ::close(fd);
    int rc = sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                             FrameJoiningVfs::name());
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db_, 5000);
        rc = setUp();
    }
    if (rc != SQLITE_OK) {
        code = failure(rc, &error);
        close();
        file_.clear();
        return nullptr;
    }
    return db_;
}

bool SqliteJournal::connected() const {
    return db_ != nullptr && root_ == HostPlatform::root() && pid_ == ProcessId::current();
}

bool SqliteJournal::neverWritten() const {
    if (connected()) return false;
    struct stat st;
    return ::lstat(HostPlatform::hostPath(path).c_str(), &st) != 0 && errno == ENOENT;
}

int SqliteJournal::begin(const JournalEntry& entry, std::uint64_t& seq) {
    std::lock_guard lock(mutex_);
    int code = 0;
    std::string error;
    sqlite3* db = connection(code, error);
    if (db == nullptr) return code;
    if (!retentionApplied_) applyRetention(entry.timeUs);
    // Kept statements: a save should not parse the same SQL every time.
    if (!PlatformStatement(kept("BEGIN IMMEDIATE")).done())
        return failure(sqlite3_errcode(db), nullptr);
    PlatformStatement save(
        kept("INSERT INTO saves(time_us, actor, box, program, pid, host, "
             "sender_box, kind, target, after, pending) "
             "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, 0)"));
    save.bind(1, entry.timeUs).bind(2, entry.actor).bind(3, entry.box).bind(4, entry.program);
    save.bind(5, entry.pid).bind(6, entry.host).bind(7, entry.senderBox).bind(8, entry.kind);
    save.bind(9, entry.target).bind(10, static_cast<long long>(entry.after));
    bool ok = save.done();
    seq = static_cast<std::uint64_t>(sqlite3_last_insert_rowid(db));
    if (ok) {
        PlatformStatement mark(kept("INSERT INTO pending(seq) VALUES(?1)"));
        ok = mark.bind(1, static_cast<long long>(seq)).done();
    }
    PlatformStatement change(
        kept("INSERT INTO changes(seq, ord, name, idx, op, old_value, new_value, "
             "old_attributes, new_attributes) "
             "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)"));
    long long ord = 0;
    for (const JournalChange& c : entry.changes) {
        if (!ok) break;
        change.bind(1, static_cast<long long>(seq)).bind(2, ord++).bind(3, c.name);
        change.bind(4, c.index).bind(5, String(1, static_cast<char>(c.op)));
        bindSide(change, 6, c.op != JournalChange::ADDED, c.oldValue, c.oldAttributes);
        bindSide(change, 7, c.op != JournalChange::REMOVED, c.newValue, c.newAttributes);
        ok = change.done() && change.reset();
    }
    int rc = ok ? SQLITE_OK : sqlite3_errcode(db);
    if (ok && !PlatformStatement(kept("COMMIT")).done()) rc = sqlite3_errcode(db);
    if (rc == SQLITE_OK) return 0;
    int result = failure(rc, nullptr);
    exec(db, "ROLLBACK");
    return result;
}

// The oldest records go a batch at a time, once per process, so that no
// save waits for a long delete and a journal that is written keeps to its
// retention without anyone running prune.
void SqliteJournal::applyRetention(std::int64_t nowUs) {
    retentionApplied_ = true;
    PlatformStatement drop(db_,
                           "DELETE FROM saves WHERE seq IN (SELECT seq FROM saves WHERE " SETTLED(
                               "seq") " ORDER BY seq LIMIT 500) AND time_us < ?1");
    drop.bind(1, nowUs - static_cast<std::int64_t>(keepDays()) * 86400 * 1000000);
    drop.done();
}

int SqliteJournal::end(std::uint64_t seq, bool keep) {
    std::lock_guard lock(mutex_);
    int code = 0;
    std::string error;
    sqlite3* db = connection(code, error);
    if (db == nullptr) return code;
    // Committing rewrites only the small pending table's page; dropping
    // takes the record's changes along (the keys cascade).
    PlatformStatement step(
        kept(keep ? "DELETE FROM pending WHERE seq = ?1"
                  : "DELETE FROM saves WHERE seq = ?1 AND seq IN (SELECT seq FROM pending)"));
    step.bind(1, static_cast<long long>(seq));
    return step.done() ? 0 : failure(step.result(), nullptr);
}

int SqliteJournal::pending(const std::string& kind, const std::string& target,
                           std::vector<JournalEntry>& out) {
    std::lock_guard lock(mutex_);
    if (neverWritten()) return 0;
    int code = 0;
    std::string error;
    sqlite3* db = connection(code, error);
    if (db == nullptr) return code;
    PlatformStatement select(
        kept("SELECT s.seq, time_us, actor, box, program, pid, host, sender_box, "
             "kind, target, after FROM pending p CROSS JOIN saves s ON s.seq = p.seq "
             "WHERE kind = ?1 AND target = ?2 ORDER BY s.seq"));
    select.bind(1, kind).bind(2, target);
    while (select.row()) readSave(select, out.emplace_back());
    return select.result() == SQLITE_DONE ? 0 : failure(select.result(), nullptr);
}

int SqliteJournal::select(const JournalQuery& query, std::uint64_t onlySeq,
                          std::vector<JournalEntry>& out, std::string& error) {
    std::lock_guard lock(mutex_);
    if (neverWritten()) return 0;
    int code = 0;
    sqlite3* db = connection(code, error);
    if (db == nullptr) return code;
    std::string sql = kColumns;
    if (onlySeq != 0) sql += " AND s.seq = ?1";
    if (!query.kind.empty()) sql += " AND s.kind = ?2";
    if (!query.target.empty()) sql += " AND s.target = ?3";
    if (!query.name.empty()) sql += " AND c.name = ?4";
    if (!query.actor.empty()) sql += " AND s.actor = ?5";
    if (query.sinceUs) sql += " AND s.time_us >= ?6";
    if (query.untilUs) sql += " AND s.time_us < ?7";
    if (query.afterSeq != 0) sql += " AND s.seq > ?8";
    sql += query.oldestFirst ? " ORDER BY s.seq, c.ord" : " ORDER BY s.seq DESC, c.ord";
    if (query.limit != 0) sql += " LIMIT ?9";
    PlatformStatement rows(db, sql.c_str());
    rows.bind(1, static_cast<long long>(onlySeq)).bind(2, query.kind).bind(3, query.target);
    rows.bind(4, query.name).bind(5, query.actor).bind(6, query.sinceUs.value_or(0));
    rows.bind(7, query.untilUs.value_or(0)).bind(8, static_cast<long long>(query.afterSeq));
    rows.bind(9, static_cast<long long>(query.limit));
    while (rows.row()) {
        if (out.empty() || out.back().seq != static_cast<std::uint64_t>(rows.integer(0)))
            readSave(rows, out.emplace_back());
        out.back().changes.push_back(readChange(rows));
    }
    return rows.result() == SQLITE_DONE ? 0 : failure(rows.result(), &error);
}

int SqliteJournal::query(const JournalQuery& query, std::vector<JournalEntry>& out,
                         std::string& error) {
    return select(query, 0, out, error);
}

int SqliteJournal::entry(std::uint64_t seq, JournalEntry& out, std::string& error) {
    std::vector<JournalEntry> found;
    JournalQuery all;
    all.limit = 0;
    int rc = select(all, seq, found, error);
    if (rc != 0) return rc;
    if (found.empty()) {
        error = "no journal record " + std::to_string(seq);
        return ENOENT;
    }
    out = std::move(found.front());
    return 0;
}

int SqliteJournal::prune(std::int64_t beforeUs, long& removed, std::string& error) {
    std::lock_guard lock(mutex_);
    removed = 0;
    if (neverWritten()) return 0;
    int code = 0;
    sqlite3* db = connection(code, error);
    if (db == nullptr) return code;
    PlatformStatement drop(db, "DELETE FROM saves WHERE time_us < ?1 AND " SETTLED("seq"));
    drop.bind(1, beforeUs);
    if (!drop.done()) return failure(drop.result(), &error);
    removed = sqlite3_changes(db);
    return 0;
}

int SqliteJournal::lastSeq(std::uint64_t& seq, std::string& error) {
    std::lock_guard lock(mutex_);
    seq = 0;
    if (neverWritten()) return 0;
    int code = 0;
    sqlite3* db = connection(code, error);
    if (db == nullptr) return code;
    // Walks back from the newest number, so it stops at once.
    PlatformStatement newest(
        db, "SELECT seq FROM saves WHERE " SETTLED("seq") " ORDER BY seq DESC LIMIT 1");
    seq = newest.row() ? static_cast<std::uint64_t>(newest.integer(0)) : 0;
    if (newest.result() != SQLITE_ROW && newest.result() != SQLITE_DONE)
        return failure(newest.result(), &error);
    return 0;
}

// Every commit writes the WAL file: a change of it is the only wake-up.
void SqliteJournal::waitForChange(std::uint64_t, int timeoutMs) {
    String wal = HostPlatform::hostPath(path) + "-wal";
    int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd < 0 || inotify_add_watch(fd, wal.c_str(), IN_MODIFY) < 0) {
        if (fd >= 0) ::close(fd);
        ::poll(nullptr, 0, timeoutMs);
        return;
    }
    struct pollfd wait = {fd, POLLIN, 0};
    ::poll(&wait, 1, timeoutMs);
    ::close(fd);
}
