#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <new>
#include <nlohmann/json.hpp>
#include <string>

#include "host/platform/IndexBackend.h"
#include "platform/BTreeIndex.h"
#include "platform/FileSystem.h"
#include "properties/COSProperties.h"
#include "tests/properties/StoreTesting.h"
#include "tests/testing/EtcdCluster.h"
#include "tests/testing/VmcfgRunner.h"
#include "tests/testing/VmpropdProcess.h"

// The index service's contract, run once on LMDB files and once on an etcd
// cluster ($VM_INDEX chooses): what the module sees must not depend on it.

namespace {

constexpr long kRequestLimit = EtcdCluster::kSharedRequestLimit;
#if defined(__SANITIZE_ADDRESS__)
constexpr useconds_t kOvertakePauseUs = 3000;
#else
constexpr useconds_t kOvertakePauseUs = 300;
#endif
const Path kIndex = "/vm/db/subscribers";

class IndexContractTest : public VmcfgFixture, public ::testing::WithParamInterface<const char*> {
  protected:
    static void TearDownTestSuite() {
        unsetenv("VM_INDEX");
        IndexBackend::chooseAgain();
    }
    void SetUp() override {
        VmcfgFixture::SetUp();
        std::string url = "lmdb";
        if (etcd()) {
            if (!EtcdCluster::available())
                GTEST_SKIP() << EtcdCluster::kEtcd << " is missing: apt-get install etcd-server";
            std::string error;
            EtcdCluster* cluster = EtcdCluster::shared(error);
            ASSERT_NE(cluster, nullptr) << error;
            // A prefix of its own per case: nothing carries over.
            static int run = 0;
            url = "etcd://" + cluster->endpoint(0) + "," + cluster->endpoint(1) + "," +
                  cluster->endpoint(2) + "?prefix=/t/" + std::to_string(::getpid()) + "/" +
                  std::to_string(++run);
        }
        setenv("VM_INDEX", url.c_str(), 1);
        IndexBackend::chooseAgain();
        COSProperties::btreeFD = -1;
        Properties::myPBox = 333;
    }
    void TearDown() override {
        Properties::myPBox = 0;
        VmcfgFixture::TearDown();
    }
    bool etcd() const { return std::string(GetParam()) == "etcd"; }
    static int create() { return creat_index(kIndex, 5, BTREE_READ_WRITE, 0775); }
    static int write(int fd, const String& key, const String& data) {
        return writerec(fd, key.size(), key.data(), data.size(), data.data());
    }
    static int fenced(int fd, const String& key, const String& data) {
        return writerec_fenced(fd, key.size(), key.data(), data.size(), data.data());
    }
    // The record through reade_dvalp, or "<rc>" when there is none.
    static String read(int fd, const String& key) {
        unsigned long length = 0;
        char* data = nullptr;
        int rc = reade_dvalp(fd, key.size(), key.data(), &length, &data);
        return rc == BTREE_OK ? String(data, length) : "<" + std::to_string(rc) + ">";
    }
    // Runs body in `children` forked processes; each exits with body's status.
    static void inChildren(int children, const std::function<int(int)>& body) {
        std::vector<pid_t> pids;
        for (int i = 0; i < children; ++i) {
            pid_t pid = fork();
            if (pid == 0) _exit(body(i));
            pids.push_back(pid);
        }
        for (pid_t pid : pids) {
            int status = -1;
            ASSERT_EQ(waitpid(pid, &status, 0), pid);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
    }
};

TEST_P(IndexContractTest, DescriptorsShareTheIndexAndKeepTheirOwnRights) {
    errno = 0;
    EXPECT_EQ(zrbopen(kIndex, BTREE_READ, 0), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_TRUE(listDirectory("/vm/db").empty()) << "a failed open made something";
    int fd = create();
    ASSERT_GE(fd, 0);
    // Only LMDB keeps anything under the platform root.
    EXPECT_EQ(listDirectory("/vm/db").empty(), etcd());
    int reader = zrbopen(kIndex, BTREE_READ, 0);
    ASSERT_GE(reader, 0);
    ASSERT_NE(reader, fd);
    EXPECT_EQ(write(reader, "k", "v"), BTREE_READ_ONLY);
    EXPECT_EQ(deleterec(reader, 1, "k"), BTREE_READ_ONLY);
    EXPECT_EQ(write(fd, "k", "from writer"), BTREE_OK);
    EXPECT_GE(creat_index(kIndex, 4, BTREE_READ_WRITE, 0775), 0);
    EXPECT_EQ(close_index(fd), BTREE_OK);
    EXPECT_EQ(read(reader, "k"), "from writer");  // the index stays open for the reader
    EXPECT_EQ(invalidate_key(reader, 1, "k"), BTREE_OK);
    EXPECT_EQ(invalidate_key(reader, 0, "k"), BTREE_BAD_ARGUMENT);
    EXPECT_EQ(close_index(reader), BTREE_OK);
    for (int bad : {fd, reader, -1, 4096}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(read(bad, "k"), "<9>");
        char byte;
        unsigned long length = 0;
        EXPECT_EQ(reade(bad, 1, "k", 1, &length, &byte), BTREE_BAD_DESCRIPTOR);
        EXPECT_EQ(write(bad, "k", "x"), BTREE_BAD_DESCRIPTOR);
        EXPECT_EQ(close_index(bad), BTREE_BAD_DESCRIPTOR);
    }
}

TEST_P(IndexContractTest, RecordsKeepTheirBytesUnderAnyKeyAndDeletesAnswerTheResultCodes) {
    int fd = create();
    ASSERT_GE(fd, 0);
    const String record("17\x01V1\n\0tail", 11);
    const String keys[] = {String("\x2a\x00\x00\x00", 4),
                           String("\x00\xff\x10\x20\x00\x00\x00\x01", 8), String(511, '\xfe')};
    for (const String& key : keys) {
        SCOPED_TRACE(key.size());
        EXPECT_EQ(read(fd, key), "<2>");
        ASSERT_EQ(write(fd, key, "1old"), BTREE_OK);
        ASSERT_EQ(write(fd, key, record), BTREE_OK);
        EXPECT_EQ(read(fd, key), record);
        char prefix[2];
        unsigned long length = 0;
        ASSERT_EQ(reade(fd, key.size(), key.data(), sizeof prefix, &length, prefix), BTREE_OK);
        EXPECT_EQ(length, record.size());
        EXPECT_EQ(String(prefix, 2), "17");
        EXPECT_EQ(deleterec(fd, key.size(), key.data()), BTREE_OK);
        EXPECT_EQ(deleterec(fd, key.size(), key.data()), BTREE_NO_RECORD);
        EXPECT_EQ(reade(fd, key.size(), key.data(), sizeof prefix, &length, prefix),
                  BTREE_NO_RECORD);
        EXPECT_EQ(length, 0u);
    }
    EXPECT_EQ(write(fd, "", "x"), BTREE_BAD_ARGUMENT);
    EXPECT_EQ(write(fd, "k", ""), BTREE_OK);
    EXPECT_EQ(read(fd, "k"), "");
}

// A fenced write or delete leaves a record that another writer wrote or
// deleted since the read alone, and succeeds once read again.
TEST_P(IndexContractTest, AFencedChangeFailsWhenAnotherWriterCameBetween) {
    int fd = create();
    int other = zrbopen(kIndex, BTREE_READ_WRITE, 0);
    ASSERT_GE(other, 0);
    EXPECT_EQ(fenced(fd, "k", "1a"), BTREE_BAD_ARGUMENT);  // nothing read yet
    EXPECT_EQ(deleterec_fenced(fd, 1, "k"), BTREE_BAD_ARGUMENT);
    // The record as `bytes` says, nullptr: none.
    auto setTo = [&](const char* bytes) {
        if (bytes) return write(other, "k", bytes);
        int rc = deleterec(other, 1, "k");
        return rc == BTREE_NO_RECORD ? BTREE_OK : rc;
    };
    auto change = [&](bool remove, const char* bytes) {
        return remove ? deleterec_fenced(fd, 1, "k") : fenced(fd, "k", bytes);
    };
    struct Case {
        const char* before;   // when read; nullptr: no record
        const char* between;  // what the other writer leaves; nullptr: deleted
    } cases[] = {{nullptr, "1b"}, {"1b", "2c"}, {"2c", "2c"}, {"2c", nullptr}};
    for (bool remove : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(String(remove ? "delete after " : "write after ") +
                         (c.between ? c.between : "a delete"));
            ASSERT_EQ(setTo(c.before), BTREE_OK);
            EXPECT_EQ(read(fd, "k"), c.before ? c.before : "<2>");
            ASSERT_EQ(setTo(c.between), BTREE_OK);
            errno = 0;
            int rc = change(remove, "lost");
            // Same bytes written again still count on etcd (a new revision), not on LMDB.
            if (c.before && c.between && String(c.before) == c.between && !etcd()) {
                EXPECT_EQ(rc, BTREE_OK);
                continue;
            }
            EXPECT_EQ(rc, BTREE_IO_ERROR);
            EXPECT_EQ(errno, ESTALE);
            EXPECT_EQ(read(fd, "k"), c.between ? c.between : "<2>");
            EXPECT_EQ(change(remove, "3d"), remove && !c.between ? BTREE_NO_RECORD : BTREE_OK);
            EXPECT_EQ(change(remove, "4e"), BTREE_BAD_ARGUMENT);  // one change per read
            EXPECT_EQ(read(fd, "k"), remove ? "<2>" : "3d");
        }
    }
    EXPECT_TRUE(traces->contains(1, "changed since"));
}

TEST_P(IndexContractTest, ARecordOverTheMapOrRequestLimitIsFullAndTheOldOneStays) {
    if (!etcd()) setenv("VM_BTREE_MAPSIZE", "65536", 1);
    int fd = create();
    unsetenv("VM_BTREE_MAPSIZE");
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "k", "old"), BTREE_OK);
    // Just over etcd's own limit, and far over the transport's.
    for (long size : {kRequestLimit + 4096, 4L << 20})
        EXPECT_EQ(write(fd, "k", String(size, 'x')), BTREE_FULL) << size;
    EXPECT_EQ(read(fd, "k"), "old");
    EXPECT_TRUE(traces->contains(1, etcd() ? "request too large" : kIndex.text()));
}

// Two owner processes each make 150 saves of one class of service, every
// save read-modify-write of the record's counter through BTreeProperties,
// retried when overtaken: every save must show as one counter step.
TEST_P(IndexContractTest, TwoRacingOwnerProcessesLoseNoSave) {
    constexpr int kSaves = 150;
    FileSystem::makeDirectories("/VM/config");
    {
        COSProperties set(7UL);
        Property start = named("Start", "0");
        ASSERT_EQ(set.put(start, PropertyAttributes::Server), Properties::PUT_OK);
        ASSERT_TRUE(set.saveThem());
    }
    inChildren(2, [&](int child) {
        COSProperties set(7UL);
        for (int i = 0; i < kSaves; ++i) {
            String name = "Owner" + std::to_string(child);
            Property p = named(name, std::to_string(i));
            if (set.put(p, PropertyAttributes::Server) != Properties::PUT_OK) return 2;
            while (!set.saveThem())
                if (errno != ESTALE) return 1;
        }
        return 0;
    });
    COSProperties after(7UL);
    EXPECT_EQ(after.getStatus(), 1u + 2 * kSaves);
}

// vmcfg edits a class of service while another owner process keeps writing
// it (fenced, keeping what it read): an overtaken save must be redone on the
// newer record, by vmcfg on the owner box, by vmpropd for another box's
// vmcfg, so that every edit succeeds and none is lost.
TEST_P(IndexContractTest, AnEditAnotherOwnerOvertookIsRedone) {
    FileSystem::makeDirectories("/VM/config");
    ASSERT_EQ(run("--box 333 props put --cos 7 Start 0").status, 0);
    int fd = zrbopen(COSProperties::indexPath, BTREE_READ_WRITE, 0);
    ASSERT_GE(fd, 0);
    const String key("\x07\x00\x00\x00", 4);
    VmpropdProcess daemon;
    ASSERT_TRUE(daemon.start(root_, 333)) << readFile("/vmpropd.out");
    void* shared = mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    auto* writes = new (shared) std::atomic<int>(0);
    pid_t other = fork();
    if (other == 0) {
        for (;;) {
            String record = read(fd, key);
            std::size_t digits = record.find_first_not_of("0123456789");
            String next =
                std::to_string(std::stoul(record.substr(0, digits)) + 1) + record.substr(digits);
            if (fenced(fd, key, next) == BTREE_OK) ++*writes;
            // Often enough to overtake many of the saves, not all of them
            // (a sanitizer build saves several times slower).
            ::usleep(kOvertakePauseUs);
        }
    }
    constexpr int kEdits = 12;
    for (int i = 0; i < 2 * kEdits; ++i) {
        String box = i < kEdits ? "333" : "1";
        VmcfgRunner::Outcome outcome =
            run("--box " + box + " props put --cos 7 P" + std::to_string(i) + " v");
        EXPECT_EQ(outcome.status, 0) << outcome.err;
    }
    ::kill(other, SIGKILL);
    ::waitpid(other, nullptr, 0);
    std::cout << "writes by the other owner: " << writes->load() << std::endl;
    EXPECT_GT(writes->load(), 0);
    munmap(shared, sizeof(std::atomic<int>));
    String record = read(fd, key);
    for (int i = 0; i < 2 * kEdits; ++i)
        EXPECT_NE(record.find("P" + std::to_string(i)), String::npos) << i;
    EXPECT_EQ(daemon.stop(), 0);
    // vmpropd wrote overtaken hand-offs again rather than refusing them.
    String log = readFile("/vm/log/trace.log");
    EXPECT_EQ(log.find("vmpropd: refused"), String::npos) << log;
    EXPECT_NE(log.find("vmpropd: applied"), String::npos) << log;
}

TEST_P(IndexContractTest, StatusNamesTheBackendInUse) {
    ASSERT_TRUE(FileSystem::makeDirectories(Path("/VM/config")));  // vmcfg works on a platform root
    VmcfgRunner::Outcome outcome = run("--json index status");
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    nlohmann::json status = nlohmann::json::parse(outcome.out);
    EXPECT_EQ(status["backend"], GetParam());
    if (!etcd()) return;
    EXPECT_EQ(status["members"].size(), 3u);
    EXPECT_FALSE(status["leader"].get<std::string>().empty());
    EXPECT_GT(status["revision"].get<long>(), 0);
    EXPECT_GT(status["db_size"].get<long>(), 0);
    outcome = run("index status");
    EXPECT_NE(outcome.out.find("leader"), String::npos) << outcome.out;
}

TEST_F(VmcfgFixture, ABadIndexChoiceIsRefusedInWordsWithoutFallingBack) {
    setenv("VM_INDEX", "etcd:/127.0.0.1:2379", 1);
    IndexBackend::chooseAgain();
    errno = 0;
    EXPECT_EQ(creat_index(kIndex, 5, BTREE_READ_WRITE, 0775), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_TRUE(traces->contains(1, "VM_INDEX"));
    EXPECT_TRUE(listDirectory("/vm/db").empty());
    ASSERT_TRUE(FileSystem::makeDirectories(Path("/VM/config")));
    VmcfgRunner::Outcome outcome = run("index status");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("VM_INDEX"), String::npos) << outcome.err;
    // A set on an index that cannot be opened says why, not a stale errno
    // and a hint to run init.
    const std::pair<const char*, const char*> choices[] = {
        {"etcd:/127.0.0.1:2379", "VM_INDEX is"},
        {"etcd://127.0.0.1:1?timeout_ms=300", "could not connect"}};
    for (const auto& [choice, reason] : choices) {
        setenv("VM_INDEX", choice, 1);
        outcome = run("props show --cos 1");
        EXPECT_EQ(outcome.status, 1) << choice;
        EXPECT_NE(outcome.err.find(reason), String::npos) << outcome.err;
        EXPECT_EQ(outcome.err.find("init"), String::npos) << outcome.err;
    }
    unsetenv("VM_INDEX");
    IndexBackend::chooseAgain();
}

INSTANTIATE_TEST_SUITE_P(Backends, IndexContractTest, ::testing::Values("lmdb", "etcd"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
