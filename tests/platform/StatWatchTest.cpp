#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>

#include "host/platform/HostPlatform.h"
#include "host/platform/RootResolver.h"
#include "platform/FileSystem.h"
#include "tests/testing/PlatformFixture.h"

namespace {

namespace fs = std::filesystem;

// A watched stat must answer as a fresh lookup does, whatever changed at
// the file or on the way to it since it was last asked.
class StatWatchTest : public PlatformFixture {
  protected:
    // What stat says of a platform path, in one comparable line.
    static String seen(int result, int error, const struct stat& info) {
        if (result != 0) return "errno " + std::to_string(error);
        return std::to_string(info.st_ino) + " size " + std::to_string(info.st_size) + " mode " +
               std::to_string(info.st_mode) + " mtime " + std::to_string(info.st_mtim.tv_sec) +
               "." + std::to_string(info.st_mtim.tv_nsec);
    }
    static String watched(const Path& path) {
        struct stat info {};
        int result = FileSystem::watchedStat(path, &info);
        return seen(result, errno, info);
    }
    static String looked(const Path& path) {
        struct stat info {};
        int result = RootResolver::stat(path.text(), &info);
        return seen(result, errno, info);
    }
    String host(const String& path) const { return root_ + path; }
    void write(const String& path, const String& bytes) const {
        std::ofstream(host(path), std::ios::binary | std::ios::trunc) << bytes;
    }
};

TEST_F(StatWatchTest, EveryChangeOnTheWayIsSeen) {
    const String file = "/VM/config/sub/defaults";
    struct Case {
        const char* change;
        std::function<void()> make;
    } cases[] = {
        {"written in place", [&] { std::ofstream(host(file), std::ios::app) << "more"; }},
        {"new times only",
         [&] {
             struct timespec times[2] = {{1000, 0}, {2000, 5}};
             ASSERT_EQ(::utimensat(AT_FDCWD, host(file).c_str(), times, 0), 0);
         }},
        {"new mode", [&] { fs::permissions(host(file), fs::perms::owner_read); }},
        {"replaced by rename",
         [&] {
             write("/VM/config/sub/new", "replacement");
             fs::rename(host("/VM/config/sub/new"), host(file));
         }},
        {"removed", [&] { fs::remove(host(file)); }},
        {"made again", [&] { write(file, "again"); }},
        {"its directory renamed away",
         [&] { fs::rename(host("/VM/config/sub"), host("/VM/config/old")); }},
        {"a directory of that name made with a file",
         [&] {
             fs::create_directory(host("/VM/config/sub"));
             write(file, "in the new directory");
         }},
        {"a directory above replaced",
         [&] {
             fs::rename(host("/VM/config"), host("/VM/config.old"));
             fs::create_directories(host("/VM/config/sub"));
             write(file, "in a new tree");
         }},
        {"a directory on the way made a link",
         [&] {
             fs::create_directory(host("/VM/config/other"));
             write("/VM/config/other/defaults", "the link's");
             fs::rename(host("/VM/config/sub"), host("/VM/config/real"));
             fs::create_directory_symlink("other", host("/VM/config/sub"));
         }},
        {"the link's target written",
         [&] { write("/VM/config/other/defaults", "not via the link"); }},
        {"the link made a plain directory again",
         [&] {
             fs::remove(host("/VM/config/sub"));
             fs::create_directory(host("/VM/config/sub"));
         }},
        {"made in the plain directory", [&] { write(file, "in the plain directory"); }},
        {"written through a hard link in another directory",
         [&] {
             fs::create_directories(host("/VM/elsewhere"));
             fs::create_hard_link(host(file), host("/VM/elsewhere/link"));
             std::ofstream(host("/VM/elsewhere/link"), std::ios::app) << " through the link";
         }},
        {"a link's new mode", [&] { fs::permissions(host("/VM/elsewhere/link"), fs::perms::all); }},
    };
    ASSERT_TRUE(FileSystem::makeDirectories("/VM/config/sub"));
    write(file, "first");
    EXPECT_EQ(watched(file), looked(file));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.change);
        String before = looked(file);
        c.make();
        String now = looked(file);
        EXPECT_NE(now, before) << "the change itself changed nothing stat shows";
        EXPECT_EQ(watched(file), now);
        EXPECT_EQ(watched(file), now) << "asked again";
    }
}

// More paths than are kept, a forked child, and a new root: each still
// answers as a lookup does.
TEST_F(StatWatchTest, ManyPathsAChildAndANewRoot) {
    ASSERT_TRUE(FileSystem::makeDirectories("/VM/many"));
    auto name = [](int i) { return "/VM/many/f" + std::to_string(i); };
    for (int i = 0; i < 100; ++i) write(name(i), String(static_cast<std::size_t>(i), 'x'));
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < 100; ++i) ASSERT_EQ(watched(name(i)), looked(name(i))) << i;
    write(name(3), "changed");
    EXPECT_EQ(watched(name(3)), looked(name(3)));

    // The child shares nothing it could steal from the parent's queue.
    ASSERT_EQ(watched(name(5)), looked(name(5)));
    pid_t child = ::fork();
    if (child == 0) {
        write(name(5), "the child's own change");
        bool same = watched(name(5)) == looked(name(5));
        std::_Exit(same ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child saw an old answer";
    EXPECT_EQ(watched(name(5)), looked(name(5))) << "the parent missed the child's change";

    ASSERT_EQ(watched(name(7)), looked(name(7)));
    String other = root_ + "-other";
    fs::create_directories(other + "/VM/many");
    std::ofstream(other + name(7)) << "another root's file, longer than the first";
    HostPlatform::setRoot(other);
    EXPECT_EQ(watched(name(7)), looked(name(7))) << "an answer from the old root";
    HostPlatform::setRoot(root_);
    fs::remove_all(other);
}

}  // namespace
