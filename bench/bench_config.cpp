// Configuration-parameter reader: parsing a generated file of 10,000
// parameter lines, and lookups through three precedence slots. Anchors in
// the same run: a minimal hand parser that reads the same file into the same
// slots, keys and values (checked to agree with the reader), reading the
// file's lines without parsing them, and one ordered-map search.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string_view>
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

// The minimal hand parser: enough of the syntax for the generated file
// (plain precedence values, keys without delimiters, values plain or in
// parentheses), into ordered maps per slot.
struct MinimalSlot {
    std::string type, value;
    std::map<std::string, std::string> params;
};

std::string_view word(std::string_view& text) {
    std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos) start = text.size();
    std::size_t end = std::min(text.find_first_of(" \t", start), text.size());
    std::string_view w = text.substr(start, end - start);
    text.remove_prefix(end);
    return w;
}

void minimalPairs(std::string_view text, std::map<std::string, std::string>& params) {
    while (!(text = text.substr(std::min(text.find_first_not_of(" \t"), text.size()))).empty()) {
        std::size_t equals = text.find('=');
        std::string key(text.substr(0, equals));
        text.remove_prefix(equals + 1);
        std::size_t end = text.find(')');
        std::string value;
        // Parentheses are dropped only around a text with a blank.
        if (text.front() == '(' && end != std::string_view::npos && text.find(' ') < end) {
            value = text.substr(1, end - 1);
            text.remove_prefix(end + 1);
        } else {
            value = word(text);
        }
        params[std::move(key)] = std::move(value);
    }
}

std::vector<MinimalSlot> minimalParse(const Path& file) {
    std::vector<MinimalSlot> slots;
    FileStream in(file, std::ios::in);
    String line;
    while (LineReader::read(in, line) != LineReader::NoLine) {
        std::string_view text(line);
        std::string_view first = word(text);
        if (first.empty() || first.front() == '#') continue;
        if (first == "precedence") {
            std::string_view type = word(text);
            slots.push_back({std::string(type), std::string(word(text)), {}});
            continue;
        }
        std::string_view selector = word(text);
        std::size_t colon = text.find(':');
        for (MinimalSlot& slot : slots)
            if (slot.type == first && slot.value == selector)
                minimalPairs(text.substr(colon + 1), slot.params);
    }
    return slots;
}

bool sameSlots(const VantorConfigurationInfo& reader, const std::vector<MinimalSlot>& minimal) {
    const auto& slots = reader.precedenceSlots();
    if (slots.size() != minimal.size()) return false;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        if (slots[i]->paramType().text() != minimal[i].type ||
            slots[i]->paramValue() != minimal[i].value ||
            slots[i]->params().size() != minimal[i].params.size())
            return false;
        for (const auto& [key, value] : slots[i]->params()) {
            auto found = minimal[i].params.find(key.text());
            if (found == minimal[i].params.end() || found->second != value) return false;
        }
    }
    return true;
}

void BM_MinimalParse(benchmark::State& state) {
    {
        SilentStderr silent;
        VantorConfigurationInfo reader(0);
        if (!reader.parse_file(parseFile) || !sameSlots(reader, minimalParse(parseFile)))
            state.SkipWithError("the minimal parser does not give the reader's slots");
    }
    double lines = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(minimalParse(parseFile).size());
        lines += parameterLines;
    }
    state.counters["lines/s"] = benchmark::Counter(lines, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MinimalParse)->Unit(benchmark::kMillisecond);

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

    RatioReporter::initialize(argc, argv);
    RatioReporter reporter("bench_config");
    reporter.compare("BM_ParseFile", "BM_MinimalParse", 1.5);
    reporter.compare("BM_ParseFile", "BM_RawReadLines");
    for (int slot = 0; slot < 4; ++slot)
        reporter.compare("BM_Lookup/slot:" + std::to_string(slot), "BM_RawMapFind");
    reporter.run();
    reporter.note("parse goal", ">= 600000 lines/s (BM_ParseFile lines/s above)");
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
