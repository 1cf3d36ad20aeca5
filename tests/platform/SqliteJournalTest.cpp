#include <gtest/gtest.h>
#include <sqlite3.h>

#include "host/platform/HostPlatform.h"
#include "host/platform/SqliteJournal.h"
#include "tests/testing/PlatformFixture.h"

namespace {

// A journal as the first version wrote it: pending saves marked in a column
// with an index of their own, changes indexed by name.
const char kOldJournal[] = R"(
PRAGMA journal_mode = WAL;
CREATE TABLE saves(
  seq INTEGER PRIMARY KEY AUTOINCREMENT, time_us INTEGER NOT NULL, actor TEXT NOT NULL,
  box INTEGER NOT NULL, program TEXT NOT NULL, pid INTEGER NOT NULL, host TEXT NOT NULL,
  sender_box INTEGER NOT NULL, kind TEXT NOT NULL, target BLOB NOT NULL,
  after INTEGER NOT NULL, pending INTEGER NOT NULL);
CREATE INDEX saves_target ON saves(kind, target, seq);
CREATE INDEX saves_pending ON saves(kind, target) WHERE pending = 1;
CREATE TABLE changes(
  seq INTEGER NOT NULL REFERENCES saves(seq) ON DELETE CASCADE, ord INTEGER NOT NULL,
  name BLOB NOT NULL, idx INTEGER NOT NULL, op TEXT NOT NULL,
  old_value BLOB, new_value BLOB, old_attributes BLOB, new_attributes BLOB,
  PRIMARY KEY(seq, ord)) WITHOUT ROWID;
CREATE INDEX changes_name ON changes(name, seq);
INSERT INTO saves VALUES(1, 10, 'ann', 1, 'vmcfg', 7, 'h', 0, 'FileProperties', '/a', 11, 0);
INSERT INTO saves VALUES(2, 20, 'bob', 1, 'vmcfg', 8, 'h', 0, 'FileProperties', '/a', 22, 1);
INSERT INTO changes VALUES(1, 0, 'x', 1, 'a', NULL, 'one', NULL, 'R1');
INSERT INTO changes VALUES(2, 0, 'x', 1, 'c', 'one', 'two', 'R1', 'R1');
)";

class SqliteJournalTest : public PlatformFixture {};

std::string seqs(JournalStore& store) {
    std::vector<JournalEntry> found;
    std::string error, text;
    JournalQuery all;
    all.oldestFirst = true;
    EXPECT_EQ(store.query(all, found, error), 0) << error;
    for (const JournalEntry& e : found) text += std::to_string(e.seq) + e.actor + " ";
    return text;
}

// An upgrade keeps the history and what was pending, and the journal goes on
// numbering and recording after it.
TEST_F(SqliteJournalTest, AJournalOfTheFirstVersionIsReadPendingSavesIncluded) {
    const std::string file = HostPlatform::hostPath(SqliteJournal::path);
    ASSERT_TRUE(HostPlatform::makeParentDirectories(file));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, kOldJournal, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    std::string error;
    auto store = SqliteJournal::open(error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(seqs(*store), "1ann ");
    std::vector<JournalEntry> pending;
    ASSERT_EQ(store->pending("FileProperties", "/a", pending), 0);
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].seq, 2u);
    EXPECT_EQ(pending[0].after, 22u);

    ASSERT_EQ(store->end(2, true), 0);
    JournalEntry next{0, 30, "cy", 1, "vmcfg", 9, "h", 0, "FileProperties", "/a", 33, {}};
    next.changes.push_back({JournalChange::REMOVED, "x", 1, "two", "", "R1", ""});
    std::uint64_t seq = 0;
    ASSERT_EQ(store->begin(next, seq), 0);
    EXPECT_EQ(seq, 3u);
    pending.clear();
    ASSERT_EQ(store->pending("FileProperties", "/a", pending), 0);
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(store->end(seq, true), 0);
    EXPECT_EQ(seqs(*store), "1ann 2bob 3cy ");

    JournalQuery byName;
    byName.name = "x";
    byName.limit = 2;
    std::vector<JournalEntry> found;
    ASSERT_EQ(store->query(byName, found, error), 0) << error;
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].seq, 3u);
}

}  // namespace
