// What journaling a save costs: a one-property change of a 1,000-property
// file set and of a class-of-service record, saved with the journal and with
// $VM_JOURNAL=off, in the same run (goal: at most 1.3 times). The journaled
// save reads the stored form under the lock, works out the difference and
// writes two small SQLite transactions (pending, committed) in WAL mode.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "bench/PropertyInput.h"
#include "bench/RatioReporter.h"
#include "bench/ScratchRoot.h"
#include "host/platform/RunTokenHolder.h"
#include "platform/ChangeJournal.h"
#include "platform/FileSystem.h"
#include "properties/COSProperties.h"
#include "properties/FileProperties.h"

namespace {

// Turns the journal off for one benchmark, on again after it.
struct Journal {
    explicit Journal(bool on) {
        if (!on) ::setenv("VM_JOURNAL", "off", 1);
    }
    ~Journal() { ::unsetenv("VM_JOURNAL"); }
};

// Each round changes one value (another one each time) and saves.
void changeAndSave(benchmark::State& state, Properties& set, int n) {
    long round = 0;
    for (auto _ : state) {
        Property p = makeProperty(static_cast<int>(round % n), "round " + std::to_string(round));
        ++round;
        set.put(p, PropertyAttributes::Server);
        if (!set.saveThem()) state.SkipWithError("save failed");
    }
}

void BM_FileChange(benchmark::State& state) {
    Journal journal(state.range(1) != 0);
    FileSystem::makeDirectories("/VM/config");
    const Path file("/VM/config/journal_bench_" + std::to_string(state.range(1)));
    FileProperties set(file);
    fill(set, static_cast<int>(state.range(0)));
    set.saveThem();
    changeAndSave(state, set, static_cast<int>(state.range(0)));
}

void BM_CosChange(benchmark::State& state) {
    Journal journal(state.range(1) != 0);
    Properties::myPBox = 333;
    COSProperties set(static_cast<unsigned long>(10 + state.range(1)));
    fill(set, static_cast<int>(state.range(0)));
    set.saveThem();
    changeAndSave(state, set, static_cast<int>(state.range(0)));
}

// The journal's own steps for a one-property save (settle, begin, commit),
// with no store written: what the two rows above differ by, less the
// reading back and digests.
void BM_JournalSteps(benchmark::State& state) {
    JournalSave save;
    save.kind = "FileProperties";
    save.target = "/VM/config/journal_steps";
    JournalChange& change = save.changes.emplace_back();
    change.name = "Property1";
    change.index = 1;
    change.oldAttributes = change.newAttributes = "attributes";
    long round = 0;
    for (auto _ : state) {
        change.oldValue = std::to_string(round);
        change.newValue = std::to_string(++round);
        save.after = static_cast<std::uint64_t>(round);
        std::uint64_t ticket = 0;
        if (journal_settle(save.kind, save.target, save.after - 1, true) != 0 ||
            journal_begin(save, ticket) != 0 || journal_commit(ticket) != 0)
            state.SkipWithError("journal failed");
    }
}

}  // namespace

BENCHMARK(BM_JournalSteps);
BENCHMARK(BM_FileChange)->Args({1000, 1})->Args({1000, 0})->ArgNames({"props", "journal"});
BENCHMARK(BM_CosChange)->Args({100, 1})->Args({100, 0})->ArgNames({"props", "journal"});

int main(int argc, char** argv) {
    ScratchRoot root;
    if (!root.ok()) return 1;
    RunTokenHolder token;
    RatioReporter::initialize(argc, argv);
    RatioReporter reporter("bench_journal");
    using Clock = RatioReporter::Clock;
    reporter.compare("BM_FileChange/props:1000/journal:1", "BM_FileChange/props:1000/journal:0",
                     1.3, Clock::Wall);
    reporter.compare("BM_CosChange/props:100/journal:1", "BM_CosChange/props:100/journal:0", 1.3,
                     Clock::Wall);
    reporter.run();
    reporter.printRatios();
    benchmark::Shutdown();
}
