#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/testing/PlatformFixture.h"
#include "tests/testing/VmcfgRunner.h"

extern char** environ;

namespace {

constexpr int kWorkers = 8;
constexpr int kNamesEach = 50;

String slurp(const String& hostFile) {
    std::ifstream in(hostFile, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

class VmcfgConcurrentEdit : public PlatformFixture {
  protected:
    void TearDown() override {
        stopOwner();
        PlatformFixture::TearDown();
    }

    VmcfgRunner::Outcome run(const String& arguments) const {
        return VmcfgRunner::run(root_, arguments, root_);
    }

    // kWorkers vmcfg processes at once, each putting kNamesEach names of its
    // own into target. Returns the puts that failed, with their errors.
    String putConcurrently(const String& target) const {
        std::ostringstream script;
        script << "for w in $(seq 1 " << kWorkers << "); do ( for i in $(seq 1 " << kNamesEach
               << "); do '" << VmcfgRunner::binary() << "' --root '" << root_
               << "' --box 1 props put " << target << " name-$w-$i value-$w-$i >/dev/null 2>>'"
               << root_ << "/errors' || echo \"put $w-$i failed\" >>'" << root_
               << "/errors'; done ) & done; wait";
        std::system(script.str().c_str());
        return slurp(root_ + "/errors");
    }

    std::set<String> namesIn(const String& target) const {
        VmcfgRunner::Outcome shown = run("--json props show " + target);
        EXPECT_EQ(shown.status, 0) << shown.err;
        std::set<String> names;
        for (const auto& p : nlohmann::json::parse(shown.out))
            names.insert(p["name"].get<String>());
        return names;
    }

    // The names putConcurrently put that target lacks.
    std::vector<String> lostFrom(const String& target) const {
        std::set<String> present = namesIn(target);
        std::vector<String> lost;
        for (int w = 1; w <= kWorkers; ++w)
            for (int i = 1; i <= kNamesEach; ++i)
                if (String name = "name-" + std::to_string(w) + "-" + std::to_string(i);
                    !present.contains(name))
                    lost.push_back(name);
        return lost;
    }

    // Starts vmpropd as box 333 on the root and waits for its socket.
    bool startOwner() {
        String program = VmcfgRunner::program("vmpropd");
        const char* argv[] = {program.c_str(), "--root", root_.c_str(), "--box", "333", nullptr};
        if (posix_spawn(&owner_, program.c_str(), nullptr, nullptr, const_cast<char**>(argv),
                        environ) != 0)
            return false;
        String socket = root_ + "/vm/run/box333.1";
        for (int wait = 0; wait < 200 && !std::filesystem::exists(socket); ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return std::filesystem::exists(socket);
    }

    void stopOwner() {
        if (owner_ <= 0) return;
        kill(owner_, SIGTERM);
        waitpid(owner_, nullptr, 0);
        owner_ = 0;
    }

    pid_t owner_ = 0;
};

TEST_F(VmcfgConcurrentEdit, FileSetLosesNoUpdate) {
    String target = "/VM/config/shared_props";
    EXPECT_EQ(putConcurrently(target), "");
    std::vector<String> lost = lostFrom(target);
    EXPECT_TRUE(lost.empty()) << lost.size() << " updates lost, the first " << lost.front();
    EXPECT_EQ(listDirectory("/VM/config").size(), 1u) << "no temporary file left behind";
}

TEST_F(VmcfgConcurrentEdit, ClassOfServiceThroughTheOwnerLosesNoUpdate) {
    if (!std::filesystem::exists(VmcfgRunner::program("vmpropd")))
        GTEST_SKIP() << "vmpropd is not built";
    ASSERT_EQ(run("init").status, 0);
    ASSERT_TRUE(startOwner()) << "vmpropd did not listen";
    EXPECT_EQ(putConcurrently("--cos 7"), "");
    std::vector<String> lost = lostFrom("--cos 7");
    EXPECT_TRUE(lost.empty()) << lost.size() << " updates lost, the first " << lost.front();
    EXPECT_TRUE(listDirectory("/vm/tmp").empty()) << "no hand-off file left";
}

TEST_F(VmcfgConcurrentEdit, WithoutTheOwnerARemotePutFailsInWords) {
    ASSERT_EQ(run("init").status, 0);
    VmcfgRunner::Outcome put = run("--box 1 props put --cos 7 Greeting hello");
    EXPECT_EQ(put.status, 1);
    EXPECT_NE(put.err.find("owner box 333 is not listening (messaging status 1401)"), String::npos)
        << put.err;
    EXPECT_TRUE(listDirectory("/vm/tmp").empty()) << "no hand-off file left";
    EXPECT_TRUE(namesIn("--cos 7").empty());
}

}  // namespace
