#include <gtest/gtest.h>
#include <lmdb.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "host/platform/FaultInjector.h"
#include "host/platform/LmdbReadTransaction.h"
#include "platform/BTreeIndex.h"
#include "tests/testing/FullDisk.h"
#include "tests/testing/PlatformFixture.h"

namespace {

const Path kIndex = "/vm/db/subscribers";

class BTreeIndexTest : public PlatformFixture {
  protected:
    int create() { return creat_index(kIndex, 5, BTREE_READ_WRITE, 0775); }
    static int write(int fd, const String& key, const String& data) {
        return writerec(fd, key.size(), key.data(), data.size(), data.data());
    }
    // The record through reade with a large buffer, or "<rc>" when there is none.
    static String read(int fd, const String& key) {
        char buffer[256];
        unsigned long length = 0;
        int rc = reade(fd, key.size(), key.data(), sizeof buffer, &length, buffer);
        return rc == BTREE_OK ? String(buffer, length) : "<" + std::to_string(rc) + ">";
    }
    // The exit status of body run in a forked child, or -1 when it did not exit.
    static int inChild(const std::function<int()>& body) {
        pid_t child = fork();
        if (child == 0) _exit(body());
        int status = -1;
        bool exited = child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status);
        return exited ? WEXITSTATUS(status) : -1;
    }
};

// A missing index is IndexContractTest's.
TEST_F(BTreeIndexTest, OpenRefusesFilesThatAreNotIndexesAndLeavesThemAlone) {
    for (const char* bytes : {"", "not an index, just text\n"}) {
        writeFile("/vm/db/other", bytes);
        errno = 0;
        EXPECT_EQ(zrbopen("/vm/db/other", BTREE_READ, 0), -1) << '"' << bytes << '"';
        EXPECT_EQ(errno, EINVAL);
        EXPECT_EQ(readFile("/vm/db/other"), bytes) << "the file is left alone";
    }
}

// The keys of one database of an LMDB file (nullptr: the main one), as "k=v "
// pairs; a named database's entry in the main one reads "k=(db) ".
String rawKeys(const String& file, const char* database) {
    MDB_env* env = nullptr;
    MDB_txn* txn = nullptr;
    MDB_dbi dbi = 0;
    MDB_cursor* cursor = nullptr;
    String keys;
    mdb_env_create(&env);
    mdb_env_set_maxdbs(env, 2);
    if (mdb_env_open(env, file.c_str(), MDB_NOSUBDIR | MDB_RDONLY, 0) == 0 &&
        mdb_txn_begin(env, nullptr, MDB_RDONLY, &txn) == 0 &&
        mdb_dbi_open(txn, database, 0, &dbi) == 0 && mdb_cursor_open(txn, dbi, &cursor) == 0) {
        MDB_val k, v;
        for (int op = MDB_FIRST; mdb_cursor_get(cursor, &k, &v, MDB_cursor_op(op)) == 0;
             op = MDB_NEXT) {
            String key(static_cast<char*>(k.mv_data), k.mv_size);
            bool named = database == nullptr &&
                         (key == "meta" || key == "records" || key == "vm-index-meta");
            keys += key + "=" +
                    (named ? "(db)" : String(static_cast<char*>(v.mv_data), v.mv_size)) + " ";
        }
        mdb_cursor_close(cursor);
    }
    if (txn) mdb_txn_abort(txn);
    mdb_env_close(env);
    return keys;
}

TEST_F(BTreeIndexTest, RecordsLiveInTheMainDatabaseAndEarlierFilesKeepTheirs) {
    int fd = create();
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "1001", "new"), BTREE_OK);
    EXPECT_EQ(rawKeys(hostPath(kIndex), nullptr), "1001=new vm-index-meta=(db) ");
    // A process opening the file afresh takes a record keyed "records" for one.
    ASSERT_EQ(write(fd, "records", "r"), BTREE_OK);
    auto freshRead = [] { return read(zrbopen(kIndex, BTREE_READ, 0), "records") == "r" ? 0 : 1; };
    EXPECT_EQ(inChild(freshRead), 0);

    // An index made with the records in a named database beside "meta".
    const String earlier = hostPath("/vm/db/earlier");
    MDB_env* env = nullptr;
    MDB_txn* txn = nullptr;
    MDB_dbi meta, records;
    mdb_env_create(&env);
    mdb_env_set_maxdbs(env, 2);
    ASSERT_EQ(mdb_env_open(env, earlier.c_str(), MDB_NOSUBDIR, 0664), 0);
    ASSERT_EQ(mdb_txn_begin(env, nullptr, 0, &txn), 0);
    ASSERT_EQ(mdb_dbi_open(txn, "meta", MDB_CREATE, &meta), 0);
    ASSERT_EQ(mdb_dbi_open(txn, "records", MDB_CREATE, &records), 0);
    MDB_val k{4, const_cast<char*>("1001")}, v{3, const_cast<char*>("old")};
    ASSERT_EQ(mdb_put(txn, records, &k, &v, 0), 0);
    ASSERT_EQ(mdb_txn_commit(txn), 0);
    mdb_env_close(env);

    int old = zrbopen("/vm/db/earlier", BTREE_READ_WRITE, 0);
    ASSERT_GE(old, 0);
    EXPECT_EQ(read(old, "1001"), "old");
    EXPECT_EQ(write(old, "1002", "two"), BTREE_OK);
    EXPECT_EQ(write(old, "vm-index-meta", "any"), BTREE_OK) << "no key is kept back there";
    EXPECT_EQ(rawKeys(earlier, nullptr), "meta=(db) records=(db) ");
    EXPECT_EQ(rawKeys(earlier, "records"), "1001=old 1002=two vm-index-meta=any ");
}

// The outcome of the calls on a full disk, as text for one comparison.
String fullDiskOutcome(const std::function<int()>& call) {
    errno = 0;
    int fd = call();
    return std::to_string(fd < 0 ? fd : 0) + "/" + std::strerror(fd < 0 ? errno : 0);
}

TEST_F(BTreeIndexTest, FullDiskRefusesANewIndexInWordsAndLeavesNothingBehind) {
    FullDisk::Outcome outcome = FullDisk::run("/vm/db", [&] {
        String report = "read " + fullDiskOutcome([] { return zrbopen(kIndex, BTREE_READ, 0); });
        report += ", create " + fullDiskOutcome([&] { return create(); });
        report += traces->contains(1, kIndex.text()) ? ", traced" : ", not traced";
        for (const String& name : listDirectory("/vm/db"))
            if (name != ".filler") report += ", left " + name;
        return report;
    });
    if (!outcome.skipped.empty()) GTEST_SKIP() << outcome.skipped;
    EXPECT_EQ(outcome.signal, 0) << strsignal(outcome.signal);
    EXPECT_EQ(outcome.report,
              "read -1/No such file or directory, create -1/No space left on device, traced");
}

// Binary keys and records, deletes and missing records are in
// IndexContractTest; these are the buffer handling and the keys kept back.
TEST_F(BTreeIndexTest, RecordCallsAnswerWithContentsLengthsAndCodes) {
    enum Op { Write, Reade, Dvalp };
    struct Step {
        Op op;
        String key;
        String data;  // written, or expected back
        unsigned long buffer;
        int rc;
        unsigned long length;  // whole length a read reports
    };
    const std::vector<Step> steps = {
        {Reade, "1001", "", 16, BTREE_NO_RECORD, 0},
        {Write, "1001", "hello world", 0, BTREE_OK, 0},
        {Reade, "1001", "hello world", 16, BTREE_OK, 11},
        {Reade, "1001", "hel", 3, BTREE_OK, 11},
        {Write, "1001", "bye", 0, BTREE_OK, 0},
        {Reade, "1001", "bye", 16, BTREE_OK, 3},
        {Reade, "", "", 16, BTREE_BAD_ARGUMENT, 0},
        {Write, String(512, 'k'), "x", 0, BTREE_BAD_ARGUMENT, 0},
        // A key named like a database of an earlier index's file is a record
        // like any, but for the one that marks the file as an index.
        {Write, "meta", "m", 0, BTREE_OK, 0},
        {Dvalp, "meta", "m", 0, BTREE_OK, 1},
        {Write, "vm-index-meta", "x", 0, BTREE_BAD_ARGUMENT, 0},
        {Dvalp, "vm-index-meta", "", 0, BTREE_BAD_ARGUMENT, 0},
    };
    int fd = create();
    ASSERT_GE(fd, 0);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        SCOPED_TRACE("step " + std::to_string(i));
        const char* key = s.key.empty() ? nullptr : s.key.data();
        unsigned long length = 99;
        if (s.op == Write) {
            EXPECT_EQ(writerec(fd, s.key.size(), key, s.data.size(), s.data.data()), s.rc);
        } else if (s.op == Reade) {
            String buffer(16, '#');
            EXPECT_EQ(reade(fd, s.key.size(), key, s.buffer, &length, buffer.data()), s.rc);
            if (s.rc == BTREE_BAD_ARGUMENT) continue;
            EXPECT_EQ(length, s.length);
            EXPECT_EQ(buffer.substr(0, s.data.size()), s.data);
            EXPECT_EQ(buffer.substr(s.data.size()), String(16 - s.data.size(), '#'))
                << "nothing written past the buffer";
        } else {
            char* data = nullptr;
            EXPECT_EQ(reade_dvalp(fd, s.key.size(), key, &length, &data), s.rc);
            EXPECT_EQ(length, s.length);
            if (s.rc == BTREE_OK) {
                EXPECT_EQ(String(data, length), s.data);
            }
        }
    }
}

TEST_F(BTreeIndexTest, ProcessesAndThreadsWriteAtOnceAndSeeEachOthersRecords) {
    int fd = create();
    ASSERT_EQ(write(fd, "parent", "before fork"), BTREE_OK);
    // A read before the fork: the child must not reuse what it left behind.
    ASSERT_EQ(read(fd, "parent"), "before fork");
    constexpr int kRecords = 20;
    pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        // The inherited descriptor and a fresh one, while the parent writes too.
        int status = read(fd, "parent") == "before fork" ? 0 : 1;
        int other = zrbopen(kIndex, BTREE_READ_WRITE, 0);
        for (int i = 0; i < kRecords; ++i)
            if (write(i % 2 ? fd : other, "c" + std::to_string(i), "child") != BTREE_OK) status = 2;
        _exit(status);
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([fd, t] {
            for (int i = 0; i < kRecords; ++i) {
                String key = "t" + std::to_string(t) + "." + std::to_string(i);
                EXPECT_EQ(write(fd, key, key), BTREE_OK);
                EXPECT_EQ(read(fd, key), key);
            }
        });
    for (std::thread& thread : threads) thread.join();
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    for (int i = 0; i < kRecords; ++i) EXPECT_EQ(read(fd, "c" + std::to_string(i)), "child");
}

// A reading thread keeps a reader slot in the lock file between reads, and a
// process that dies keeps it too: LMDB has 126. Readers that died one after
// another must not lock the index's later readers out.
TEST_F(BTreeIndexTest, SlotsOfDeadReadersAreTakenBack) {
    int fd = create();
    ASSERT_EQ(write(fd, "1001", "kept"), BTREE_OK);
    ASSERT_EQ(read(fd, "1001"), "kept");
    int failed = 0;
    // Another key than the parent's last read, which would be served without
    // a transaction; the child's _exit runs no thread-exit cleanup.
    for (int i = 0; i < 140; ++i)
        failed += inChild([fd] { return read(fd, "1002") == "<2>" ? 0 : 1; }) != 0;
    EXPECT_EQ(failed, 0);
    std::thread([&] { EXPECT_EQ(read(fd, "1002"), "<2>"); }).join();
}

// A reader table that dead processes fill after this process opened the
// file (so that no open clears it) must not stop this process's new readers.
TEST_F(BTreeIndexTest, ATableFilledByTheDeadAfterTheOpenIsClearedForANewReader) {
    const String file = root_ + "/readers.mdb";
    auto open = [&](MDB_env** env) {
        return mdb_env_create(env) == 0 && mdb_env_set_maxreaders(*env, 4) == 0 &&
               mdb_env_open(*env, file.c_str(), MDB_NOSUBDIR, 0600) == 0;
    };
    MDB_env* env = nullptr;
    ASSERT_TRUE(open(&env));
    auto deadReader = [&] {
        MDB_env* own = nullptr;
        MDB_txn* txn = nullptr;
        return open(&own) && mdb_txn_begin(own, nullptr, MDB_RDONLY, &txn) == 0 ? 0 : 1;
    };
    for (int i = 0; i < 4; ++i) ASSERT_EQ(inChild(deadReader), 0) << "child " << i;
    std::thread([&] {
        LmdbReadTransaction read(env);
        EXPECT_EQ(read.rc(), 0) << mdb_strerror(read.rc());
    }).join();
    mdb_env_close(env);
}

// A number that another thread closed and that went to another index must
// not let this thread's second read of a key pass off the first file's
// record: both files have made as many commits, so LMDB alone cannot tell.
TEST_F(BTreeIndexTest, ANumberGivenToAnotherIndexIsNotTheOneReadThrough) {
    int fd = create();
    ASSERT_EQ(write(fd, "1001", "first file"), BTREE_OK);
    ASSERT_EQ(read(fd, "1001"), "first file");
    std::thread([&] {
        EXPECT_EQ(close_index(fd), BTREE_OK);
        EXPECT_EQ(creat_index("/vm/db/other", 5, BTREE_READ_WRITE, 0775), fd);
        EXPECT_EQ(write(fd, "1001", "other file"), BTREE_OK);
    }).join();
    EXPECT_EQ(read(fd, "1001"), "other file");
}

TEST_F(BTreeIndexTest, NoRoomOrFailedWriteLeavesTheRecordAsItWas) {
    int fd = create();
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "1001", "old"), BTREE_OK);
    FaultInjector::add(FaultOp::Write, ENOSPC, "/vm/db/");
    EXPECT_EQ(write(fd, "1001", "new"), BTREE_FULL);
    FaultInjector::add(FaultOp::Write, EIO, "/vm/db/");
    EXPECT_EQ(deleterec(fd, 4, "1001"), BTREE_IO_ERROR);
    // Read once first: a second read of the same record still meets the fault.
    EXPECT_EQ(read(fd, "1001"), "old");
    FaultInjector::add(FaultOp::Read, EIO, "/vm/db/");
    EXPECT_EQ(read(fd, "1001"), "<5>");
    EXPECT_EQ(read(fd, "1001"), "old");
}

}  // namespace
