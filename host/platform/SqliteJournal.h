#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "host/platform/JournalStore.h"
#include "platform/Path.h"

struct sqlite3;
struct sqlite3_stmt;

// The journal in one SQLite database at SqliteJournal::path under the
// platform root, in WAL mode: one transaction per record step, committed
// without an fsync of its own (synchronous=NORMAL), so a killed process loses
// nothing it committed and a power cut at most the last moments. The file is
// made 0660 (it holds secret values too) with its folder by the first record
// written; reads of a journal never written find nothing and make nothing.
//
// One connection per process, reopened when the platform root changes or in
// a child after fork; calls are serialized by a mutex. Busy waits for other
// writers up to 5 s. The first record written on each connection also drops up
// to 500 records older than keepDays(). Schema in docs/journal.md.
class SqliteJournal : public JournalStore {
  public:
    static const Path path;

    // The store; null with the reason in error only for a bad setting (the
    // database itself is opened at the first call).
    static std::unique_ptr<JournalStore> open(std::string& error);
    ~SqliteJournal() override;

    int begin(const JournalEntry& entry, std::uint64_t& seq) override;
    int end(std::uint64_t seq, bool keep) override;
    int pending(const std::string& kind, const std::string& target,
                std::vector<JournalEntry>& out) override;
    int query(const JournalQuery& query, std::vector<JournalEntry>& out,
              std::string& error) override;
    int entry(std::uint64_t seq, JournalEntry& out, std::string& error) override;
    int prune(std::int64_t beforeUs, long& removed, std::string& error) override;
    int lastSeq(std::uint64_t& seq, std::string& error) override;
    void waitForChange(std::uint64_t seq, int timeoutMs) override;

  private:
    SqliteJournal() = default;
    // The open database of the current root (made when missing), or null
    // with errno-like code and words; the mutex must be held.
    sqlite3* connection(int& code, std::string& error);
    // Whether the current root has no journal file: reads then find nothing
    // instead of making one. The mutex must be held.
    bool neverWritten() const;
    // Whether db_ is this process's open database of the current root.
    bool connected() const;
    int failure(int sqliteCode, std::string* error);
    // The statement of the save path, prepared once per connection (null
    // when it cannot be prepared); the mutex must be held.
    sqlite3_stmt* kept(const char* sql);
    void close();
    void applyRetention(std::int64_t nowUs);
    // WAL mode, pragmas and schema on a fresh connection; SQLite's code.
    int setUp();
    // Moves the pending saves of a journal made by an older version to the
    // pending table, once; false when SQLite refuses.
    bool moveOldPending();
    int select(const JournalQuery& query, std::uint64_t onlySeq, std::vector<JournalEntry>& out,
               std::string& error);

    std::mutex mutex_;
    sqlite3* db_ = nullptr;
    std::string file_;
    std::string root_;  // the platform root file_ was found under
    std::map<const char*, sqlite3_stmt*> kept_;
    pid_t pid_ = 0;
    bool retentionApplied_ = false;
};
