#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/platform/HostPlatform.h"
#include "host/platform/RootResolver.h"
#include "platform/FileSystem.h"
#include "tests/testing/PlatformFixture.h"

namespace {

// Links inside the root lead where a process chrooted there would be led,
// whichever of the two resolvers does the walk.
class RootPathsTest : public PlatformFixture, public ::testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        PlatformFixture::SetUp();
        RootResolver::forceWalk(GetParam());
        String pattern = (std::filesystem::temp_directory_path() / "cfgadm-out-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        outside_ = pattern;
        std::ofstream(outside_ + "/secret") << "outside secret";
        climb_ = "../../../../../../../../../../../../../.." + outside_;
        ASSERT_TRUE(FileSystem::makeDirectories("/VM/config"));
        writeFile("/VM/config/real", "inside");
        link(outside_, "/VM/hostdir");
        link(climb_, "/VM/climbdir");
        link("/VM/config", "/VM/alias");
        link("loop", "/VM/config/loop");
    }
    void TearDown() override {
        RootResolver::forceWalk(false);
        std::filesystem::remove_all(outside_);
        PlatformFixture::TearDown();
    }
    void link(const String& target, const Path& at) {
        ASSERT_EQ(::symlink(target.c_str(), (root_ + at.text()).c_str()), 0) << at;
    }
    // The outside directory as it is: every name with its contents.
    String outsideState() {
        std::ostringstream state;
        for (const auto& entry : std::filesystem::directory_iterator(outside_))
            state << entry.path().filename().string() << "=" << std::ifstream(entry.path()).rdbuf()
                  << ";";
        return state.str();
    }
    // The file's bytes, or "errno N" when it cannot be opened for reading.
    static String contentsOf(const Path& path) {
        int fd = FileSystem::open(path, O_RDONLY);
        if (fd < 0) return "errno " + std::to_string(errno);
        char bytes[256];
        ssize_t n = FileSystem::read(fd, bytes, sizeof bytes);
        FileSystem::close(fd);
        return String(bytes, n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    String outside_, climb_;
};

const String kMissing = "errno " + std::to_string(ENOENT);

TEST_P(RootPathsTest, LinksAreFollowedInsideTheRoot) {
    struct Case {
        const char* name;
        String target;  // "@" is replaced by the host path of the outside directory
        String read;    // what reading the link gives
    } cases[] = {
        {"absolute", "/VM/config/real", "inside"},
        {"relative", "real", "inside"},
        {"updown", "../config/./real", "inside"},
        {"viaalias", "/VM/alias/real", "inside"},
        {"hostfile", "@/secret", kMissing},
        {"climbing", "../../../../../../../../../../../../../..@/secret", kMissing},
        {"hostnew", "@/new", kMissing},
        {"climbnew", "../../../../../../../../../../../../../..@/new", kMissing},
        {"twohops", "hostfile", kMissing},
        {"selfloop", "loop", "errno " + std::to_string(ELOOP)},
    };
    for (Case& c : cases) {
        std::size_t at = c.target.find('@');
        if (at != String::npos) c.target.replace(at, 1, outside_);
        link(c.target, Path("/VM/config/") / c.name);
    }
    const String before = outsideState();
    for (const Case& c : cases) {
        Path path = Path("/VM/config/") / c.name;
        EXPECT_EQ(contentsOf(path), c.read) << c.name;
        std::ifstream host(hostPath(path));
        std::ostringstream bytes;
        bytes << host.rdbuf();
        EXPECT_EQ(host.is_open() ? bytes.str() : kMissing,
                  c.read.starts_with("errno") ? kMissing : c.read)
            << "the host path of " << c.name;
        // Writing through the link: rewrites an inside target, never an outside one.
        int fd = FileSystem::open(path, O_WRONLY | O_CREAT | O_APPEND, 0664);
        EXPECT_EQ(fd >= 0, c.read == "inside") << c.name;
        if (fd >= 0) FileSystem::close(fd);
        EXPECT_EQ(FileSystem::truncate(path, 0), c.read == "inside" ? 0 : -1) << c.name;
        writeFile("/VM/config/real", "inside");
    }
    EXPECT_EQ(outsideState(), before);
}

// Links in a middle component are followed inside the root too, by every call.
TEST_P(RootPathsTest, NoCallReachesOutsideThroughADirectoryLink) {
    const String before = outsideState();
    for (const char* dir : {"/VM/hostdir", "/VM/climbdir"}) {
        Path secret = Path(dir) / "secret";
        struct stat info;
        EXPECT_EQ(FileSystem::stat(secret, &info), -1) << dir;
        EXPECT_EQ(FileSystem::access(secret, F_OK), -1) << dir;
        EXPECT_EQ(FileSystem::truncate(secret, 0), -1) << dir;
        EXPECT_EQ(FileSystem::unlink(secret), -1) << dir;
        EXPECT_EQ(FileSystem::rename("/VM/config/real", Path(dir) / "moved"), -1) << dir;
        EXPECT_EQ(FileSystem::rename(secret, "/VM/config/stolen"), -1) << dir;
        EXPECT_EQ(FileSystem::open(Path(dir) / "created", O_WRONLY | O_CREAT, 0664), -1) << dir;
        String text;
        EXPECT_EQ(FileSystem::readlink(secret, text), -1) << dir;
        // As mkdir -p in a chroot: the link's target does not exist there.
        EXPECT_FALSE(FileSystem::makeDirectories(Path(dir) / "made")) << dir;
        std::ofstream(hostPath(Path(dir) / "hostmade")) << "x";
        std::ifstream host(hostPath(secret));
        EXPECT_FALSE(host.is_open()) << hostPath(secret);
    }
    EXPECT_EQ(outsideState(), before);
    EXPECT_TRUE(FileSystem::makeDirectories("/VM/alias/sub/deeper"));
    EXPECT_TRUE(std::filesystem::is_directory(root_ + "/VM/config/sub/deeper"));
    EXPECT_TRUE(FileSystem::exists("/VM/alias/real"));
    EXPECT_EQ(FileSystem::rename("/VM/alias/real", "/VM/alias/renamed"), 0);
    EXPECT_EQ(contentsOf("/VM/config/renamed"), "inside");
}

// The root's descriptor is kept between calls; a root deleted and made again
// at the same path is the one every call then works in.
TEST_P(RootPathsTest, ARootMadeAgainAtItsPathIsTheOneUsed) {
    ASSERT_EQ(contentsOf("/VM/config/real"), "inside");
    std::filesystem::remove_all(root_);
    ASSERT_TRUE(std::filesystem::create_directories(root_ + "/VM/config"));
    std::ofstream(root_ + "/VM/config/real") << "again";
    struct stat info;
    ASSERT_EQ(FileSystem::stat("/VM/config/real", &info), 0);
    EXPECT_EQ(info.st_size, 5);
    EXPECT_EQ(contentsOf("/VM/config/real"), "again");
    ASSERT_EQ(::symlink("/VM/config", (root_ + "/VM/alias").c_str()), 0);
    EXPECT_EQ(hostPath("/VM/alias/real"), root_ + "/VM/config/real");
}

INSTANTIATE_TEST_SUITE_P(Resolvers, RootPathsTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Walk" : "Kernel"; });

}  // namespace
