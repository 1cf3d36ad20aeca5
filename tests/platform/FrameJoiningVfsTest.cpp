#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

#include "host/platform/FrameJoiningVfs.h"
#include "tests/testing/PlatformFixture.h"

namespace {

// A VFS made the default before the joining one is first asked for, so that
// the joining VFS writes through it: it counts the writes its WAL files get,
// by size, and hands them on to the real default VFS.
struct WriteCounter {
    static inline sqlite3_vfs* real = nullptr;
    static inline sqlite3_vfs vfs{};
    static inline std::map<const sqlite3_io_methods*, sqlite3_io_methods> counting;
    static inline std::map<const sqlite3_io_methods*, const sqlite3_io_methods*> original;
    static inline std::map<int, int> walWrites;  // bytes of a write -> writes

    static int write(sqlite3_file* file, const void* bytes, int n, sqlite3_int64 at) {
        ++walWrites[n];
        return original[file->pMethods]->xWrite(file, bytes, n, at);
    }
    static int open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* out) {
        int rc = real->xOpen(real, name, file, flags, out);
        if ((flags & SQLITE_OPEN_WAL) == 0 || file->pMethods == nullptr) return rc;
        auto [copy, made] = counting.try_emplace(file->pMethods, *file->pMethods);
        if (made) {
            copy->second.xWrite = write;
            original[&copy->second] = file->pMethods;
        }
        file->pMethods = &copy->second;
        return rc;
    }
    static bool install() {
        real = sqlite3_vfs_find(nullptr);
        vfs = *real;
        vfs.zName = "vm-write-counter";
        vfs.xOpen = open;
        return sqlite3_vfs_register(&vfs, 1) == SQLITE_OK;
    }
};

// The first column of the first row the statement answers, or "".
std::string one(sqlite3* db, const char* sql) {
    sqlite3_stmt* statement = nullptr;
    std::string text;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    sqlite3_finalize(statement);
    return text;
}

const char kRowsAndBytes[] = "SELECT count(*) || ' ' || sum(length(v)) FROM t";

class FrameJoiningVfsTest : public PlatformFixture {};

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
        const std::string expected = one(db, kRowsAndBytes);
        ASSERT_EQ(expected.substr(0, 3), "60 ");
        ASSERT_EQ(sqlite3_close(db), SQLITE_OK);
        // Without the shared index the reader must rebuild it from the WAL.
        ASSERT_EQ(::unlink((file + "-shm").c_str()), 0);

        struct stat wal;
        ASSERT_EQ(::stat((file + "-wal").c_str(), &wal), 0);
        EXPECT_EQ((wal.st_size - 32) % (24 + page), 0) << wal.st_size;
        ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
        EXPECT_EQ(one(db, kRowsAndBytes), expected);
        EXPECT_EQ(one(db, "PRAGMA integrity_check"), "ok");
        sqlite3_close(db);
    }
}

// SQLite's allocator with one refusal: the room to join a 4096-byte page
// with its header, while `refuseJoin` is set.
struct ShortMemory {
    static inline sqlite3_mem_methods real{};
    static inline bool refuseJoin = false;

    static void* allocate(int n) {
        return refuseJoin && n == 24 + 4096 ? nullptr : real.xMalloc(n);
    }
    static void* reallocate(void* p, int n) {
        return refuseJoin && n == 24 + 4096 ? nullptr : real.xRealloc(p, n);
    }
    static bool install() {
        if (sqlite3_shutdown() != SQLITE_OK ||
            sqlite3_config(SQLITE_CONFIG_GETMALLOC, &real) != SQLITE_OK)
            return false;
        sqlite3_mem_methods mine = real;
        mine.xMalloc = allocate;
        mine.xRealloc = reallocate;
        return sqlite3_config(SQLITE_CONFIG_MALLOC, &mine) == SQLITE_OK &&
               sqlite3_initialize() == SQLITE_OK;
    }
};

// Writes a table through the joining VFS over the write counter (false when
// the joining VFS was set up earlier in this process, over another default)
// and answers what the default VFS reads back from it.
std::string writeCounted(const std::string& file) {
    if (sqlite3_vfs_find("vm-frame-joining") != nullptr || !WriteCounter::install() ||
        FrameJoiningVfs::name() == nullptr)
        return "no counter";
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        FrameJoiningVfs::name()) != SQLITE_OK)
        return "no database";
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    const char* setUp =
        "PRAGMA page_size=4096; PRAGMA journal_mode=WAL; CREATE TABLE t(v BLOB);"
        "INSERT INTO t VALUES(randomblob(100)); INSERT INTO t VALUES(randomblob(9000));";
    int rc = sqlite3_exec(db, setUp, nullptr, nullptr, nullptr);
    sqlite3_close(db);
    if (rc != SQLITE_OK) return "write failed: " + std::to_string(rc);
    ShortMemory::refuseJoin = false;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, "vm-write-counter");
    std::string text = one(db, kRowsAndBytes);
    sqlite3_close(db);
    return text;
}

// Each WAL frame reaches the default VFS as one write of its header and page
// together: none of SQLite's 24-byte header writes gets through on its own.
// Like the next, this case needs a process of its own (the joining VFS
// writes through the default of its first use), as ctest gives it: run
// after another case, it is skipped.
TEST_F(FrameJoiningVfsTest, EachFrameIsOneWrite) {
    const std::string read = writeCounted(hostPath("/counted.sqlite"));
    if (read == "no counter") GTEST_SKIP() << "the joining VFS was set up earlier in this process";
    EXPECT_EQ(read, "2 9100");
    auto& writes = WriteCounter::walWrites;
    EXPECT_EQ(writes[24], 0);
    EXPECT_EQ(writes[4096], 0);
    EXPECT_GE(writes[24 + 4096], 5);
}

// When the room to join a header and its page cannot be had, the two go out
// as SQLite wrote them, and the save goes through whole.
TEST_F(FrameJoiningVfsTest, WhenMemoryIsShortAFrameGoesOutAsSqliteWroteIt) {
    if (sqlite3_vfs_find("vm-frame-joining") != nullptr)
        GTEST_SKIP() << "the joining VFS was set up earlier in this process";
    ASSERT_TRUE(ShortMemory::install());
    ShortMemory::refuseJoin = true;
    EXPECT_EQ(writeCounted(hostPath("/short.sqlite")), "2 9100");
    auto& writes = WriteCounter::walWrites;
    EXPECT_EQ(writes[24 + 4096], 0);
    EXPECT_GE(writes[24], 5);
    EXPECT_EQ(writes[24], writes[4096]);
}

}  // namespace
