#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/testing/VmcfgRunner.h"
#include "tests/testing/VmpropdProcess.h"

namespace {

constexpr int kWorkers = 8;
// Every put is a vmcfg process of its own, which a sanitizer build starts
// many times slower: it runs fewer rounds of the same race.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kNamesEach = 15;
#else
constexpr int kNamesEach = 50;
#endif

class VmcfgConcurrentEdit : public VmcfgFixture {
  protected:
    // kWorkers vmcfg processes at once, each putting kNamesEach names of its
    // own into target. Returns the puts that failed, with their errors.
    String putConcurrently(const String& target) const {
        std::ostringstream script;
        script << "for w in $(seq 1 " << kWorkers << "); do ( for i in $(seq 1 " << kNamesEach
               << "); do '" << VmcfgRunner::program("vmcfg") << "' --root '" << root_
               << "' --box 1 props put " << target << " name-$w-$i value-$w-$i >/dev/null 2>>'"
               << root_ << "/errors' || echo \"put $w-$i failed\" >>'" << root_
               << "/errors'; done ) & done; wait";
        std::system(script.str().c_str());
        return readFile("/errors");
    }

    // How many of the names putConcurrently put target holds (of kWorkers * kNamesEach).
    std::size_t putNamesIn(const String& target) const {
        VmcfgRunner::Outcome shown = run("--json props show " + target);
        EXPECT_EQ(shown.status, 0) << shown.err;
        std::size_t count = 0;
        for (const auto& p : nlohmann::json::parse(shown.out))
            count += p["name"].get<String>().starts_with("name-");
        return count;
    }
};

TEST_F(VmcfgConcurrentEdit, FileSetLosesNoUpdate) {
    ASSERT_EQ(run("init").status, 0);
    String target = "/VM/config/shared_props";
    EXPECT_EQ(putConcurrently(target), "");
    EXPECT_EQ(putNamesIn(target), std::size_t{kWorkers * kNamesEach});
    EXPECT_EQ(listDirectory("/VM/config").size(), 1u) << "no temporary file left behind";
}

TEST_F(VmcfgConcurrentEdit, ClassOfServiceThroughTheOwnerLosesNoUpdate) {
    ASSERT_EQ(run("init").status, 0);
    VmpropdProcess owner;
    ASSERT_TRUE(owner.start(root_, 333)) << readFile("/vmpropd.out");
    EXPECT_EQ(putConcurrently("--cos 7"), "");
    EXPECT_EQ(putNamesIn("--cos 7"), std::size_t{kWorkers * kNamesEach});
    EXPECT_TRUE(listDirectory("/vm/tmp").empty()) << "no hand-off file left";
}

}  // namespace
