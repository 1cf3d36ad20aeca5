#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/ChangeJournal.h"

// One journal record as the host sees it: a save (or a feature switched)
// with who did it and every property change it made.
struct JournalEntry {
    std::uint64_t seq = 0;
    std::int64_t timeUs = 0;  // UTC, microseconds since the epoch
    std::string actor;
    std::uint16_t box = 0;
    std::string program;
    std::int64_t pid = 0;
    std::string host;             // the host name of the saving process
    std::uint16_t senderBox = 0;  // the box a remote save came from; 0: none
    std::string kind;
    std::string target;
    std::uint64_t after = 0;  // the digest of the stored form the save wrote
    std::vector<JournalChange> changes;
};

// Which records a reader wants. Empty strings and absent times match all.
struct JournalQuery {
    std::string kind;
    std::string target;
    std::string name;  // only the changes of this property name
    std::string actor;
    std::optional<std::int64_t> sinceUs;  // inclusive
    std::optional<std::int64_t> untilUs;  // exclusive
    std::uint64_t afterSeq = 0;           // only records with a larger number
    std::size_t limit = 50;               // property changes at most; 0: all
    bool oldestFirst = false;
};

// Where the stand-in keeps the change journal: SQLite under the platform
// root ("/vm/db/journal.sqlite"), or the etcd cluster when $VM_INDEX keeps
// the index there, so that every host sees one history. A process uses one
// store, chosen on its first journal call ($VM_JOURNAL=off: none, and
// journal_enabled() is false).
//
// Calls return 0 or an errno value (ENOENT: no such record) with the reason
// in words in `error` where they take one. Pending records are never
// returned by query() or entry(). Safe to call from several threads; each
// call blocks until the store answered, at most the store's deadline.
class JournalStore {
  public:
    virtual ~JournalStore();

    // Stores entry (its seq ignored) as pending and answers its number.
    virtual int begin(const JournalEntry& entry, std::uint64_t& seq) = 0;
    // Makes a pending record part of the history (keep) or drops it.
    virtual int end(std::uint64_t seq, bool keep) = 0;
    // The target's pending records (changes left out).
    virtual int pending(const std::string& kind, const std::string& target,
                        std::vector<JournalEntry>& out) = 0;
    // Records matching query, newest first unless asked otherwise; a record
    // is cut to the changes that fit the limit.
    virtual int query(const JournalQuery& query, std::vector<JournalEntry>& out,
                      std::string& error) = 0;
    virtual int entry(std::uint64_t seq, JournalEntry& out, std::string& error) = 0;
    // Removes the records older than beforeUs; how many in removed.
    virtual int prune(std::int64_t beforeUs, long& removed, std::string& error) = 0;
    // The number of the newest record, 0 when there is none.
    virtual int lastSeq(std::uint64_t& seq, std::string& error) = 0;
    // Blocks until a record after seq may have been committed, or about
    // timeoutMs passed, without spinning. May return early.
    virtual void waitForChange(std::uint64_t seq, int timeoutMs) = 0;

    // This process's store; null with the reason in error when there is
    // none ($VM_JOURNAL=off) or it cannot be opened.
    static JournalStore* current(std::string& error);
    // Whether $VM_JOURNAL is "off" (read at every call).
    static bool disabled();
    // Chooses again at the next call (after the root or $VM_INDEX changed).
    static void chooseAgain();
    // The retention in days from $VM_JOURNAL_KEEP_DAYS (default 365).
    static int keepDays();
};
