#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "host/platform/FrameJoiningVfs.h"
#include "tests/testing/PlatformFixture.h"

namespace {

class FrameJoiningVfsTest : public PlatformFixture {
  protected:
    static std::string one(sqlite3* db, const char* sql) {
        sqlite3_stmt* statement = nullptr;
        std::string text;
        if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        sqlite3_finalize(statement);
        return text;
    }
};

// Frames written through the joining VFS are read back by the default one
// as SQLite wrote them: the WAL is left behind unchecked (no checkpoint on
// close), so the reader recovers it from the frame headers and their
// checksums; a header written to the wrong place, or not at all, loses the
// transactions from there on. Pages from the smallest size to the largest,
// rows larger than a page among them.
TEST_F(FrameJoiningVfsTest, TheDefaultVfsRecoversEveryFrameItWrote) {
    ASSERT_NE(FrameJoiningVfs::name(), nullptr);
    for (int page : {512, 1024, 4096, 65536}) {
        SCOPED_TRACE("page size " + std::to_string(page));
        const std::string file = hostPath("/joined" + std::to_string(page) + ".sqlite");
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                                  FrameJoiningVfs::name()),
                  SQLITE_OK);
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        std::string setUp = "PRAGMA page_size=" + std::to_string(page) +
                            "; PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                            "CREATE TABLE t(k INTEGER PRIMARY KEY, v BLOB);";
        ASSERT_EQ(sqlite3_exec(db, setUp.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        for (int k = 1; k <= 60; ++k) {
            std::string insert = "INSERT INTO t VALUES(" + std::to_string(k) + ", randomblob(" +
                                 std::to_string(k * 97 % 3000) + "))";
            ASSERT_EQ(sqlite3_exec(db, insert.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        }
        const std::string expected = one(db, "SELECT count(*) || ' ' || sum(length(v)) FROM t");
        ASSERT_EQ(expected.substr(0, 3), "60 ");
        ASSERT_EQ(sqlite3_close(db), SQLITE_OK);
        // Without the shared index the reader must rebuild it from the WAL.
        ASSERT_EQ(::unlink((file + "-shm").c_str()), 0);

        struct stat wal;
        ASSERT_EQ(::stat((file + "-wal").c_str(), &wal), 0);
        EXPECT_EQ((wal.st_size - 32) % (24 + page), 0) << wal.st_size;
        ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        EXPECT_EQ(one(db, "SELECT count(*) || ' ' || sum(length(v)) FROM t"), expected);
        EXPECT_EQ(one(db, "PRAGMA integrity_check"), "ok");
        sqlite3_close(db);
    }
}

}  // namespace
