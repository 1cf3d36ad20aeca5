#include <cstdlib>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <vector>

#include "tests/testing/VmcfgRunner.h"
#include "tests/testing/VmpropdProcess.h"

namespace {

constexpr int kWorkers = 8;
constexpr int kNamesEach = 50;

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
};

TEST_F(VmcfgConcurrentEdit, FileSetLosesNoUpdate) {
    ASSERT_EQ(run("init").status, 0);
    String target = "/VM/config/shared_props";
    EXPECT_EQ(putConcurrently(target), "");
    std::vector<String> lost = lostFrom(target);
    EXPECT_TRUE(lost.empty()) << lost.size() << " updates lost, the first " << lost.front();
    EXPECT_EQ(listDirectory("/VM/config").size(), 1u) << "no temporary file left behind";
}

TEST_F(VmcfgConcurrentEdit, ClassOfServiceThroughTheOwnerLosesNoUpdate) {
    ASSERT_EQ(run("init").status, 0);
    VmpropdProcess owner;
    ASSERT_TRUE(owner.start(root_, 333)) << readFile("/vmpropd.out");
    EXPECT_EQ(putConcurrently("--cos 7"), "");
    std::vector<String> lost = lostFrom("--cos 7");
    EXPECT_TRUE(lost.empty()) << lost.size() << " updates lost, the first " << lost.front();
    EXPECT_TRUE(listDirectory("/vm/tmp").empty()) << "no hand-off file left";
}

}  // namespace
