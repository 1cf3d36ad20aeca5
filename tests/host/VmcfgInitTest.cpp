#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "tests/testing/VmcfgRunner.h"

namespace {

namespace fs = std::filesystem;

class VmcfgInit : public VmcfgFixture {
  protected:
    // Every entry under the root with what a rewrite would change: kind,
    // inode (a replaced file is a new one), size and modification time.
    // Left out: the runner's output files, and the B-tree indexes' lock files,
    // whose reader table the index service updates at every open.
    std::map<String, String> listing() const {
        std::map<String, String> entries;
        for (const auto& entry : fs::recursive_directory_iterator(root_)) {
            String path = entry.path().string().substr(root_.size());
            if (path == "/stdout" || path == "/stderr" || path.ends_with("-lock")) continue;
            struct stat info;
            ::lstat(entry.path().c_str(), &info);
            entries[path] = std::to_string(info.st_mode) + " " + std::to_string(info.st_ino) + " " +
                            std::to_string(info.st_size) + " " +
                            std::to_string(info.st_mtim.tv_sec) + "." +
                            std::to_string(info.st_mtim.tv_nsec);
        }
        return entries;
    }
};

TEST_F(VmcfgInit, WithoutDemoMakesOnlyThePlatformDirectories) {
    VmcfgRunner::Outcome made = run("init");
    ASSERT_EQ(made.status, 0) << made.err;
    for (const char* directory :
         {"/VM/config", "/VM/orvex/sd/sdata", "/vm/tmp", "/vm/log", "/vm/run"}) {
        EXPECT_TRUE(fs::is_directory(hostPath(directory))) << directory;
        EXPECT_NE(made.out.find(String("created directory ") + directory), String::npos);
    }
    for (const auto& [path, status] : listing())
        EXPECT_TRUE(fs::is_directory(root_ + path)) << path << " is not a directory";
}

TEST_F(VmcfgInit, TwiceChangesNothing) {
    ASSERT_EQ(run("init --demo").status, 0);
    std::map<String, String> before = listing();
    // Past the file system's timestamp granularity, so a rewrite would show.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    VmcfgRunner::Outcome again = run("init --demo");
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, "nothing to create: everything is in place\n");
    EXPECT_EQ(listing(), before);
}

TEST_F(VmcfgInit, DemoLeavesWhatExistsAlone) {
    const String own = "component-file-version=2\nnumber of properties=0\n";
    writeFile("/VM/config/sys_prop_db", own);
    ASSERT_EQ(run("init").status, 0);
    ASSERT_EQ(run("--box 333 props put --cos 1 Colour blue").status, 0);
    VmcfgRunner::Outcome demo = run("init --demo");
    ASSERT_EQ(demo.status, 0) << demo.err;
    EXPECT_EQ(readFile("/VM/config/sys_prop_db"), own);
    EXPECT_EQ(demo.out.find("sys_prop_db ("), String::npos) << demo.out;
    EXPECT_EQ(demo.out.find("class of service 1"), String::npos) << demo.out;
    EXPECT_NE(demo.out.find("created class of service 2 (3 properties)"), String::npos);
    VmcfgRunner::Outcome record = run("props show --cos 1");
    EXPECT_NE(record.out.find("Colour 1"), String::npos);
    EXPECT_EQ(record.out.find("COS"), String::npos) << record.out;
}

}  // namespace
