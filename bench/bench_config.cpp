// Configuration-parameter reader: parsing a generated file of 10,000
// parameter lines, and lookups through three precedence slots. Raw baselines
// in the same run: reading the file's lines without parsing them, and one
// ordered-map search.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <vector>

#include "bench/RatioReporter.h"
#include "bench/ScratchRoot.h"
#include "config/VantorConfigurationInfo.h"
#include "host/platform/HostPlatform.h"
#include "platform/FileStream.h"
#include "platform/LineReader.h"

namespace {

constexpr int parameterLines = 10000;
const Path parseFile = "/VM/config/bench_parse";
const Path lookupFile = "/VM/config/bench_lookup";

// Four kinds of line in turn: the matching node, a node line that is skipped,
// the site and the global default; half of the values are delimited.
String generatedFile() {
    String text =
        "# generated\nprecedence node vm7\nprecedence site east\nprecedence global default\n";
    const char* heads[] = {"node vm7 : ", "node vm8 : ", "site east : ", "global default : "};
    for (int i = 0; i < parameterLines; ++i) {
        String n = std::to_string(i);
        text += heads[i % 4] + ("key" + n + "=value" + n + " alt" + n + "=(v a l " + n + ")\n");
    }
    return text;
}

void writeFile(const Path& path, const String& text) {
    String host = HostPlatform::hostPath(path);
    HostPlatform::makeParentDirectories(host);
    std::ofstream(host, std::ios::binary) << text;
}

// Parse diagnostics would only be the "file required" note of the bare reader.
class SilentStderr {
  public:
    SilentStderr() : previous_(std::cerr.rdbuf(nullptr)) {}
    ~SilentStderr() {
        std::cerr.rdbuf(previous_);
        std::cerr.clear();
    }

  private:
    std::streambuf* previous_;
};

void BM_ParseFile(benchmark::State& state) {
    SilentStderr silent;
    double lines = 0;
    for (auto _ : state) {
        // A private reader with no file, so that every iteration really parses.
        VantorConfigurationInfo reader(0);
        if (!reader.parse_file(parseFile)) state.SkipWithError("parse failed");
        lines += parameterLines;
    }
    state.counters["lines/s"] = benchmark::Counter(lines, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ParseFile)->Unit(benchmark::kMillisecond);

void BM_RawReadLines(benchmark::State& state) {
    double lines = 0;
    for (auto _ : state) {
        FileStream in(parseFile, std::ios::in);
        String line;
        std::size_t bytes = 0;
        while (LineReader::read(in, line) != LineReader::NoLine) bytes += line.size();
        benchmark::DoNotOptimize(bytes);
        lines += parameterLines;
    }
    state.counters["lines/s"] = benchmark::Counter(lines, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RawReadLines)->Unit(benchmark::kMillisecond);

// Keys held first by slot 0 (node), 1 (site), 2 (global), or by none (3).
std::vector<Symbol> lookupKeys(int slot) {
    std::vector<Symbol> keys;
    for (int i = 0; i < parameterLines; ++i) {
        if (slot == 3)
            keys.emplace_back("missing" + std::to_string(i));
        else if (i % 4 == (slot == 0 ? 0 : slot + 1))
            keys.emplace_back("key" + std::to_string(i));
        if (keys.size() == 1000) break;
    }
    return keys;
}

void BM_Lookup(benchmark::State& state) {
    int slot = static_cast<int>(state.range(0));
    VantorConfigurationInfo reader(lookupFile, 0);
    std::vector<Symbol> keys = lookupKeys(slot);
    String value;
    Symbol type, typeValue;
    std::size_t found = 0;
    for (auto _ : state) {
        for (const Symbol& key : keys) found += reader.configGet(key, value, type, typeValue);
    }
    benchmark::DoNotOptimize(found);
    if (slot < 3 && found != keys.size() * state.iterations()) state.SkipWithError("key not found");
    state.counters["lookups/s"] = benchmark::Counter(static_cast<double>(keys.size()),
                                                     benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Lookup)->DenseRange(0, 3)->ArgName("slot");

void BM_RawMapFind(benchmark::State& state) {
    std::map<Symbol, String> map;
    std::vector<Symbol> keys = lookupKeys(0);
    for (int i = 0; i < parameterLines / 4; ++i)
        map[Symbol("key" + std::to_string(4 * i))] = "value";
    std::size_t found = 0;
    for (auto _ : state) {
        for (const Symbol& key : keys) found += map.count(key);
    }
    benchmark::DoNotOptimize(found);
    state.counters["lookups/s"] = benchmark::Counter(static_cast<double>(keys.size()),
                                                     benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RawMapFind);

}  // namespace

int main(int argc, char** argv) {
    ScratchRoot root;
    if (!root.ok()) return 1;
    String text = generatedFile();
    writeFile(parseFile, text);
    writeFile(lookupFile, text);

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    reporter.compare("BM_ParseFile", "BM_RawReadLines");
    for (int slot = 0; slot < 4; ++slot)
        reporter.compare("BM_Lookup/slot:" + std::to_string(slot), "BM_RawMapFind");
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
