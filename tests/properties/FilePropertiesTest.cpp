#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>

#include "host/platform/FaultInjector.h"
#include "platform/FileSystem.h"
#include "properties/FileProperties.h"
#include "properties/LockedFile.h"
#include "tests/properties/StoreTesting.h"
#include "tests/testing/PlatformFixture.h"

namespace {

using A = PropertyAttributes;
const Path kFile = "/VM/config/props";

// Runs body in a child process and returns its pid; the child exits 0 when
// body returns true.
template <class Body>
pid_t child(Body body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body() ? 0 : 1);
    return pid;
}

int exitStatus(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Takes a write lock on the file in another process (POSIX locks only
// exclude other processes) and runs then() there holding it; returns the
// child's pid once the lock is held (or the child has given up).
template <class Then>
pid_t lockElsewhere(const String& hostFile, Then then) {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    pid_t pid = child([&] {
        int fd = ::open(hostFile.c_str(), O_RDWR);
        struct flock region {};
        region.l_type = F_WRLCK;
        if (fd < 0 || fcntl(fd, F_SETLKW, &region) != 0) return false;
        (void)!write(ready[1], "x", 1);
        return then();
    });
    ::close(ready[1]);
    char c;
    (void)!read(ready[0], &c, 1);
    ::close(ready[0]);
    return pid;
}

class FilePropertiesTest : public PlatformFixture {
  protected:
    void SetUp() override {
        PlatformFixture::SetUp();
        FileSystem::makeDirectories("/VM/config");
    }
    // A set of n properties saved at kFile.
    void saveMany(int n) {
        FileProperties set(kFile);
        for (int i = 0; i < n; ++i)
            putValue(set, "name" + std::to_string(i), "value " + std::to_string(i));
        ASSERT_TRUE(set.saveThem());
    }
};

TEST_F(FilePropertiesTest, MissingFileIsAnEmptyBoundSetAndEmptySaveRemovesTheFile) {
    FileProperties set(kFile);
    EXPECT_EQ(set.count(), 0u);
    EXPECT_TRUE(set.underlierKnown());
    EXPECT_EQ(set.estimateLength(), -1);

    putValue(set, "Greeting", "hello");
    ASSERT_TRUE(set.saveThem());
    EXPECT_EQ(readFile(kFile), streamOf(set));
    EXPECT_EQ(modeOf(kFile), 0664u);
    EXPECT_EQ(set.estimateLength(), static_cast<std::int32_t>(streamOf(set).size()));

    FileProperties reread(kFile);
    EXPECT_EQ(streamOf(reread), streamOf(set));
    reread.empty();
    ASSERT_TRUE(reread.saveThem());
    EXPECT_FALSE(FileSystem::exists(kFile));
    EXPECT_EQ(reread.estimateLength(), -1);
    EXPECT_EQ(listDirectory("/VM/config"), std::vector<String>{});
}

TEST_F(FilePropertiesTest, UnderlierChangedFollowsTheFilesModificationTime) {
    saveMany(2);
    setMtime(kFile, 1000000);
    FileProperties set(kFile);
    EXPECT_FALSE(set.underlierChanged());
    EXPECT_EQ(set.getStatus(), 1000000u);
    setMtime(kFile, 1000001);
    EXPECT_TRUE(set.underlierChanged());
    ASSERT_TRUE(set.obtain(true));
    EXPECT_FALSE(set.underlierChanged());
    FileSystem::unlink(kFile);
    EXPECT_TRUE(set.underlierChanged());
}

// The defaults file is read again only when it was touched, and a missing one
// is not opened again until it appears: makeKnowns runs on every set's load.
TEST_F(FilePropertiesTest, MakeKnownsRereadsOnlyATouchedDefaultsFile) {
    const Symbol tableName("Table entry");
    const Properties::knownEntry table[] = {{&tableName, 0, true, false}};
    Properties::knownInfo info{nullptr, table, 1, 0};
    const Path defaults = "/VM/config/defaults";
    Property marker = named("In memory only", "x");

    // Missing file: only the table, the file opened once, the set rebuilt
    // when it was changed.
    FaultInjector::add(FaultOp::Open, ENOENT, "/defaults", 0, -1);
    for (int i = 0; i < 3; ++i) FileProperties::makeKnowns(info, defaults);
    EXPECT_EQ(FaultInjector::injected(), 1);
    FaultInjector::clear();
    ASSERT_NE(info.knowns, nullptr);
    info.knowns->put(marker, A::Server);
    FileProperties::makeKnowns(info, defaults);
    EXPECT_EQ(info.knowns->count(), 1u);

    // Existing file: its entries replace and add; unchanged, it is not reread.
    {
        FileProperties file(defaults);
        putValue(file, "Table entry", "from file");
        putValue(file, "File entry", "y");
        ASSERT_TRUE(file.saveThem());
    }
    setMtime(defaults, 2000000);
    FileProperties::makeKnowns(info, defaults);
    EXPECT_EQ(valueAt(*info.knowns, "Table entry"), "from file");
    EXPECT_EQ(info.knowns->count(), 2u);
    EXPECT_FALSE(info.knowns->isModified());
    info.knowns->put(marker, A::Server);
    FileProperties::makeKnowns(info, defaults);
    EXPECT_EQ(info.knowns->count(), 3u);
    setMtime(defaults, 2000001);
    FileProperties::makeKnowns(info, defaults);
    EXPECT_EQ(info.knowns->count(), 2u);
    // The file goes: back to the table alone.
    ASSERT_EQ(FileSystem::unlink(defaults), 0);
    FileProperties::makeKnowns(info, defaults);
    EXPECT_EQ(valueAt(*info.knowns, "Table entry"), "");
    EXPECT_EQ(valueAt(*info.knowns, "File entry"), "<none>");
    delete info.knowns;
}

TEST_F(FilePropertiesTest, TheStoredTextIsTheStreamForEveryCountAndVersion) {
    // The headers' digits vary with the count and the version; a set saved
    // again after it shrank or grew past its last text writes its own bytes.
    FileProperties set(kFile);
    struct Case {
        int count;
        unsigned long version;
    };
    for (Case c : {Case{1, 2}, Case{9, 2}, Case{10, 2}, Case{100, 2}, Case{2000, 2}, Case{3, 2},
                   Case{1000, 7}, Case{2, ~0UL}}) {
        set.empty();
        set.set_version(c.version);
        for (int i = 0; i < c.count; ++i)
            putValue(set, "name" + std::to_string(i), "value " + std::to_string(i));
        ASSERT_TRUE(set.saveThem());
        EXPECT_EQ(readFile(kFile), streamOf(set)) << c.count << " " << c.version;
    }
}

TEST_F(FilePropertiesTest, SaveGoesThroughALinkToItsTargetAndIgnoresAPlantedTemporary) {
    saveMany(1);
    writeFile("/elsewhere/victim", "keep me");
    ASSERT_EQ(
        ::symlink(hostPath("/elsewhere/victim").c_str(), hostPath("/VM/config/.props.tmp").c_str()),
        0);
    ASSERT_EQ(::rename(hostPath(kFile).c_str(), hostPath("/VM/config/real").c_str()), 0);
    // Absolute targets are read inside the root, as a chroot reads them.
    for (const char* target : {"real", "/VM/config/real", "../../VM/config/./real"}) {
        ::unlink((root_ + kFile.text()).c_str());
        ASSERT_EQ(::symlink(target, (root_ + kFile.text()).c_str()), 0);
        FileProperties set(kFile);
        ASSERT_GE(set.count(), 1u) << target;
        putValue(set, String("Added ") + target, "through the link");
        ASSERT_TRUE(set.saveThem()) << target;
        struct stat info;
        ASSERT_EQ(::lstat((root_ + kFile.text()).c_str(), &info), 0);
        EXPECT_TRUE(S_ISLNK(info.st_mode)) << target;
        EXPECT_EQ(readFile("/VM/config/real"), streamOf(set)) << target;
    }
    EXPECT_EQ(FileProperties(Path("/VM/config/real")).count(), 4u);
    EXPECT_EQ(readFile("/elsewhere/victim"), "keep me");
}

// A save gives the new file the owner, group and mode of the one it replaces.
TEST_F(FilePropertiesTest, ASaveKeepsOwnerGroupAndMode) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another owner needs root";
    struct Case {
        uid_t owner;
        gid_t group;
        mode_t mode;
    } cases[] = {{0, 0, 0600}, {0, 0, 0640}, {12345, 23456, 0600}, {0, 23456, 0660}};
    for (const Case& c : cases) {
        saveMany(1);
        ASSERT_EQ(::chown(hostPath(kFile).c_str(), c.owner, c.group), 0);
        ASSERT_EQ(::chmod(hostPath(kFile).c_str(), c.mode), 0);
        saveMany(2);
        struct stat info;
        ASSERT_EQ(::stat(hostPath(kFile).c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, c.owner);
        EXPECT_EQ(info.st_gid, c.group);
        EXPECT_EQ(info.st_mode & 07777, c.mode) << std::oct << c.mode;
    }
}

// Where the saver may not give the file back to its owner, nothing is saved.
TEST_F(FilePropertiesTest, ASaveThatWouldChangeTheOwnerIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as two other users";
    saveMany(1);
    ASSERT_EQ(::chown(hostPath(kFile).c_str(), 12345, 23456), 0);
    ASSERT_EQ(::chmod(hostPath(kFile).c_str(), 0666), 0);
    ASSERT_EQ(::chmod(hostPath("/VM/config").c_str(), 0777), 0);
    ASSERT_EQ(::chmod(root_.c_str(), 0755), 0);
    String before = readFile(kFile);
    pid_t pid = child([] {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) return false;
        FileProperties set(kFile);
        Property p = named("Added", "by nobody");
        set.put(p, A::Server);
        return !set.saveThem() && errno == EPERM && set.getError() == Properties::OS_SYSTEM_ERROR;
    });
    EXPECT_EQ(exitStatus(pid), 0);
    struct stat info;
    ASSERT_EQ(::stat(hostPath(kFile).c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 12345u);
    EXPECT_EQ(info.st_gid, 23456u);
    EXPECT_EQ(readFile(kFile), before);
    EXPECT_EQ(listDirectory("/VM/config"), std::vector<String>{"props"});
}

// A save renames a new file over one name; the others keep the old set.
TEST_F(FilePropertiesTest, ASaveOverAHardLinkedFileIsTraced) {
    saveMany(1);
    String before = readFile(kFile);
    ASSERT_EQ(::link(hostPath(kFile).c_str(), hostPath("/VM/config/other").c_str()), 0);
    saveMany(2);
    EXPECT_TRUE(traces->contains(1, "other hard link"));
    EXPECT_EQ(readFile("/VM/config/other"), before);
}

// A save is one write of the whole stream, not one per line.
TEST_F(FilePropertiesTest, ALargeSaveIsOneWrite) {
    FileProperties set(kFile);
    for (int i = 0; i < 100000; ++i) putValue(set, "n" + std::to_string(i), "v");
    putValue(set, "big", String(5000, 'x'));  // a value held in a file
    FaultInjector::add(FaultOp::Write, EIO, "/VM/config/", /*skip=*/1, /*times=*/-1);
    ASSERT_TRUE(set.saveThem());
    FileProperties back(kFile);
    EXPECT_EQ(back.count(), 100001u);
    EXPECT_EQ(valueAt(back, "big"), String(5000, 'x'));
}

TEST_F(FilePropertiesTest, FailedWriteLeavesTheOldFileAndNoTemporary) {
    saveMany(3);
    String before = readFile(kFile);
    for (FaultOp op : {FaultOp::Write, FaultOp::Fsync, FaultOp::Rename}) {
        FaultInjector::add(op, ENOSPC, "/VM/config/");
        FileProperties set(kFile);
        putValue(set, "More", "x");
        EXPECT_FALSE(set.saveThem());
        EXPECT_EQ(set.getError(), Properties::OS_SYSTEM_ERROR);
        EXPECT_EQ(readFile(kFile), before);
        EXPECT_EQ(listDirectory("/VM/config"), std::vector<String>{"props"});
        FaultInjector::clear();
    }
}

// A reader waits for a writer's lock, and if the file was replaced meanwhile
// it reads the new one: one that did not wait would read the single old entry.
TEST_F(FilePropertiesTest, AReaderThatWaitedOnAReplacedFileReadsTheNewOne) {
    saveMany(1);
    String file = hostPath(kFile);
    pid_t writer = lockElsewhere(file, [&] {
        usleep(200000);
        // Not read from kFile: a read would take a lock of this process on
        // it, and closing it would drop the write lock held above.
        FileProperties replacement(Path("/VM/config/unused"));
        for (int i = 0; i < 7; ++i) {
            Property p = named("new" + std::to_string(i), "v");
            replacement.put(p, A::Server);
        }
        // Written without the module's lock protocol: only the rename matters.
        std::ostringstream out;
        replacement.save(out);
        std::ofstream(file + ".next") << out.str();
        return ::rename((file + ".next").c_str(), file.c_str()) == 0;
    });
    FileProperties set(kFile);
    EXPECT_EQ(set.count(), 7u);
    EXPECT_EQ(exitStatus(writer), 0);
}

// Locks belong to the process: looking at a locked file must not close a
// descriptor of it, or the lock would silently go.
TEST_F(FilePropertiesTest, LookingAtALockedFileKeepsTheLock) {
    saveMany(1);
    FileProperties set(kFile);
    LockedFile lock;
    ASSERT_EQ(lock.open(kFile, LockedFile::Exclusive, "test", "test"), LockedFile::LOCKED);
    set.underlierChanged();
    set.estimateLength();
    set.length();
    String file = hostPath(kFile);
    pid_t probe = child([&] {
        int fd = ::open(file.c_str(), O_RDWR);
        struct flock region {};
        region.l_type = F_WRLCK;
        return fd >= 0 && fcntl(fd, F_GETLK, &region) == 0 && region.l_type == F_WRLCK &&
               region.l_pid == getppid();
    });
    EXPECT_EQ(exitStatus(probe), 0);
}

// A writer killed at any moment leaves the old set or the new one, never a
// torn file, and the next save removes what it left behind.
TEST_F(FilePropertiesTest, KilledWritersLeaveTheOldSetOrTheNew) {
    saveMany(50000);
    auto writer = [&](int round) {
        return child([&] {
            FileProperties set(kFile);
            Property p = named("round", std::to_string(round));
            p.index = 1;
            set.put(p, A::Server);
            return set.saveThem();
        });
    };
    // Kills aim at the end of a writer's run, where it writes.
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(exitStatus(writer(0)), 0);
    auto run = std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now() - start)
                   .count();
    std::mt19937 random(42);
    String stable = "0";
    // Each round reads and writes 50,000 properties twice over, which a
    // sanitizer build does many times slower: it kills fewer writers.
#if defined(__SANITIZE_ADDRESS__)
    constexpr int kRounds = 20;
#else
    constexpr int kRounds = 50;
#endif
    for (int round = 1; round <= kRounds; ++round) {
        pid_t pid = writer(round);
        usleep(std::uniform_int_distribution<int>(run / 2, run)(random));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        FileProperties check(kFile);
        ASSERT_EQ(check.getError(), Properties::NO_ERROR) << "round " << round;
        ASSERT_EQ(check.count(), 50001u) << "round " << round;
        String found = valueAt(check, "round");
        ASSERT_TRUE(found == stable || found == std::to_string(round)) << found;
        stable = found;
    }
    FileProperties last(kFile);
    putValue(last, "last", "x");
    ASSERT_TRUE(last.saveThem());
    EXPECT_EQ(listDirectory("/VM/config"), std::vector<String>{"props"});
}

// Opening a FIFO would block for ever, and a directory is no set to replace.
TEST_F(FilePropertiesTest, OnlyRegularFilesAreRead) {
    ASSERT_EQ(mkfifo(hostPath("/VM/config/fifo").c_str(), 0664), 0);
    FileSystem::makeDirectories("/VM/config/dir");
    for (const char* path : {"/VM/config/fifo", "/VM/config/dir"}) {
        FileProperties set{Path(path)};
        EXPECT_EQ(set.getError(), Properties::OS_SYSTEM_ERROR) << path;
        putValue(set, "x", "y");
        EXPECT_FALSE(set.saveThem()) << path;
    }
}

}  // namespace
