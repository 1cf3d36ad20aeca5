// Property sets: writing and reading the text stream against anchors that
// move or parse the same bytes in the same run, the memory a read set holds
// per property, and the access operations in operations per second.
//
// Anchors: a raw copy of the stream's bytes (the floor), and a minimal
// reader and writer of the same format built on std::from_chars/to_chars
// over ordered maps of the same shape as the set's (the yardstick: what a
// plain parser of this format costs). Every timed loop starts on a warm heap
// (one untimed round first) with the names already interned.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string_view>

#include "bench/RatioReporter.h"
#include "bench/ScratchRoot.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/RunTokenHolder.h"
#include "properties/MemoryInput.h"
#include "properties/Properties.h"

namespace {

// A set with no store: the benchmarks only use the in-memory operations.
class BenchProperties : public Properties {
  public:
    using Properties::obtain;
    bool obtain(bool) override { return false; }
    bool underlierChanged() const override { return false; }
    PropertiesStatus getStatus() const override { return 0; }
    Symbol myFactoryName() const override { return Symbol("BenchProperties"); }
    PropertiesID myKey() const override { return PropertiesID(); }
    void putStatus(const PropertiesStatus&) override {}
    bool saveThem() override { return true; }
    bool underlierKnown() const override { return false; }
    knownInfo& getKnown() override { return kind_; }

  private:
    knownInfo kind_;
};

Property makeProperty(int i) {
    Property p;
    p.name = Symbol("Property" + std::to_string(i / 2));
    p.index = static_cast<std::uint32_t>(i % 2 + 1);
    p.attributes.set_readable(PropertyAttributes::Minimal, true);
    p.attributes.set_writeable(PropertyAttributes::Server, true);
    p.value.modify("value of property " + std::to_string(i), 0);
    return p;
}

BenchProperties& setOf(int n) {
    static std::map<int, BenchProperties*> sets;
    BenchProperties*& set = sets[n];
    if (set == nullptr) {
        set = new BenchProperties;
        for (int i = 0; i < n; ++i) {
            Property p = makeProperty(i);
            set->put(p, PropertyAttributes::Server);
        }
    }
    return *set;
}

const String& bytesOf(int n) {
    static std::map<int, String> texts;
    String& text = texts[n];
    if (text.empty()) {
        std::ostringstream out;
        setOf(n).save(out);
        text = out.str();
    }
    return text;
}

// ---- the minimal reader and writer (anchors)

struct MinimalRecord {
    std::string attributes;
    std::string value;
};
using MinimalSet = std::map<std::string, std::map<std::uint32_t, MinimalRecord>>;

// Parses the stream format with std::from_chars into ordered maps; checks
// only what keeps it inside the bytes. Values stay in memory whatever their
// size.
bool minimalRead(std::string_view in, MinimalSet& set) {
    const char* p = in.data();
    const char* end = p + in.size();
    auto number = [&](auto& out, int base = 10) {
        auto [next, ec] = std::from_chars(p, end, out, base);
        p = next;
        return ec == std::errc() && p < end;
    };
    auto header = [&](std::uint64_t& out) {
        p = static_cast<const char*>(std::memchr(p, '=', static_cast<std::size_t>(end - p)));
        if (p == nullptr) return false;
        ++p;
        return number(out) && *p++ == '\n';
    };
    std::uint64_t version = 0, count = 0;
    if (!header(version) || !header(count)) return false;
    for (std::uint64_t i = 0; i < count; ++i) {
        std::size_t nameLength = 0, attributeCount = 0, valueLength = 0;
        std::uint32_t index = 0;
        if (!number(nameLength) || end - p < static_cast<long>(nameLength) + 2) return false;
        std::string name(p + 1, nameLength);
        p += nameLength + 2;
        if (!number(index)) return false;
        ++p;
        MinimalRecord record;
        if (!number(attributeCount)) return false;
        ++p;
        for (std::size_t b = 0; b < attributeCount; ++b) {
            unsigned byte = 0;
            if (!number(byte, 16)) return false;
            record.attributes.push_back(static_cast<char>(byte));
            ++p;
        }
        ++p;
        if (!number(valueLength) || end - p < static_cast<long>(valueLength) + 4) return false;
        record.value.assign(p + 1, valueLength);
        p += valueLength + 4;
        set[std::move(name)][index] = std::move(record);
    }
    return true;
}

// Writes a minimal set back in the stream format with std::to_chars.
void minimalWrite(const MinimalSet& set, std::string& out) {
    char digits[24];
    auto number = [&](std::uint64_t n, int base = 10) {
        auto [end, ec] = std::to_chars(digits, digits + sizeof digits, n, base);
        out.append(digits, end);
    };
    std::size_t count = 0;
    for (const auto& [name, instances] : set) count += instances.size();
    out += "component-file-version=2\nnumber of properties=";
    number(count);
    out += '\n';
    for (const auto& [name, instances] : set)
        for (const auto& [index, record] : instances) {
            number(name.size());
            out += ' ';
            out += name;
            out += ' ';
            number(index);
            out += '\n';
            number(record.attributes.size());
            out += ' ';
            for (unsigned char c : record.attributes) {
                number(c, 16);
                out += ' ';
            }
            out += '\n';
            number(record.value.size());
            out += ' ';
            out += record.value;
            out += " \n\n";
        }
}

// Whether the minimal reader reproduces the set that obtain reads: the same
// names, indexes, attribute bytes and values.
bool sameSet(Properties& set, const MinimalSet& minimal) {
    std::size_t seen = 0;
    Property p;
    while (set.get_next(p, PropertyAttributes::Server, false) == Properties::NEXT_OK) {
        auto name = minimal.find(p.name.text());
        if (name == minimal.end()) return false;
        auto record = name->second.find(p.index);
        if (record == name->second.end() ||
            record->second.attributes != static_cast<String>(p.attributes) ||
            record->second.value != static_cast<String>(p.value))
            return false;
        ++seen;
    }
    std::size_t total = 0;
    for (const auto& [name, instances] : minimal) total += instances.size();
    return seen == total && seen == set.count();
}

// ---- writing

void BM_SaveSet(benchmark::State& state) {
    BenchProperties& set = setOf(static_cast<int>(state.range(0)));
    const String& bytes = bytesOf(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::ostringstream out;
        set.save(out);
        benchmark::DoNotOptimize(out.tellp());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long>(bytes.size()));
}

void BM_MinimalWrite(benchmark::State& state) {
    const String& bytes = bytesOf(static_cast<int>(state.range(0)));
    MinimalSet minimal;
    minimalRead(bytes, minimal);
    std::string check;
    minimalWrite(minimal, check);
    if (check != bytes) state.SkipWithError("minimal writer differs from the set's stream");
    for (auto _ : state) {
        std::string out;
        minimalWrite(minimal, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long>(bytes.size()));
}

// ---- reading

void BM_ObtainSet(benchmark::State& state) {
    const String& bytes = bytesOf(static_cast<int>(state.range(0)));
    {
        BenchProperties warm;
        MemoryInput in(bytes.data(), bytes.size());
        if (!warm.obtain(in, true)) state.SkipWithError("read failed");
    }
    // Sets are dropped outside the timing, like the minimal reader's maps.
    for (auto _ : state) {
        auto* set = new BenchProperties;
        MemoryInput in(bytes.data(), bytes.size());
        if (!set->obtain(in, true)) state.SkipWithError("read failed");
        state.PauseTiming();
        // count() walks the names: checked outside the timing.
        if (set->count() != static_cast<std::size_t>(state.range(0)))
            state.SkipWithError("properties lost");
        delete set;
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long>(bytes.size()));
}

void BM_MinimalRead(benchmark::State& state) {
    const String& bytes = bytesOf(static_cast<int>(state.range(0)));
    {
        MinimalSet warm;
        BenchProperties set;
        MemoryInput in(bytes.data(), bytes.size());
        if (!minimalRead(bytes, warm) || !set.obtain(in, true) || !sameSet(set, warm))
            state.SkipWithError("the minimal reader does not reproduce the set");
    }
    for (auto _ : state) {
        auto* set = new MinimalSet;
        if (!minimalRead(bytes, *set)) state.SkipWithError("minimal read failed");
        benchmark::DoNotOptimize(set->size());
        state.PauseTiming();
        delete set;
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long>(bytes.size()));
}

void BM_RawRead(benchmark::State& state) {
    const String& bytes = bytesOf(static_cast<int>(state.range(0)));
    String back(bytes.size(), '\0');
    for (auto _ : state) {
        MemoryInput in(bytes.data(), bytes.size());
        in.read(back.data(), static_cast<std::streamsize>(back.size()));
        benchmark::DoNotOptimize(back.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long>(bytes.size()));
}

// Bytes of heap a set read from the stream of n properties holds, per
// property (names already interned, as in a process that has read the set
// before).
double heapPerProperty(int n) {
    const String& bytes = bytesOf(n);
    {
        BenchProperties warm;
        MemoryInput in(bytes.data(), bytes.size());
        warm.obtain(in, true);
    }
    malloc_trim(0);
    auto before = mallinfo2();
    auto* set = new BenchProperties;
    MemoryInput in(bytes.data(), bytes.size());
    set->obtain(in, true);
    auto after = mallinfo2();
    double held =
        static_cast<double>((after.uordblks + after.hblkhd) - (before.uordblks + before.hblkhd));
    delete set;
    return held / n;
}

double minimalHeapPerProperty(int n) {
    const String& bytes = bytesOf(n);
    malloc_trim(0);
    auto before = mallinfo2();
    auto* set = new MinimalSet;
    minimalRead(bytes, *set);
    auto after = mallinfo2();
    double held =
        static_cast<double>((after.uordblks + after.hblkhd) - (before.uordblks + before.hblkhd));
    delete set;
    return held / n;
}

// ---- access operations

void BM_Get(benchmark::State& state) {
    BenchProperties& set = setOf(100000);
    int i = 0;
    for (auto _ : state) {
        Property p;
        p.name = Symbol("Property" + std::to_string(i++ % 50000));
        benchmark::DoNotOptimize(set.get(p, PropertyAttributes::Standard));
    }
    state.counters["ops/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Put(benchmark::State& state) {
    BenchProperties set;
    int i = 0;
    for (auto _ : state) {
        Property p = makeProperty(i++ % 100000);
        benchmark::DoNotOptimize(set.put(p, PropertyAttributes::Standard));
    }
    state.counters["ops/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_WalkSet(benchmark::State& state) {
    BenchProperties& set = setOf(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        Property p;
        while (set.get_next(p, PropertyAttributes::Standard, false) != Properties::NEXT_END) {
        }
    }
    state.counters["properties/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * state.range(0)), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_SaveSet)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MinimalWrite)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ObtainSet)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MinimalRead)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawRead)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Get);
BENCHMARK(BM_Put);
BENCHMARK(BM_WalkSet)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    ScratchRoot root;
    if (!root.ok()) return 1;
    RunTokenHolder token;
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter("bench_properties_set");
    for (const char* n : {"1000", "100000"}) {
        bool large = String(n) == "100000";
        reporter.compare(String("BM_SaveSet/") + n, String("BM_MinimalWrite/") + n);
        reporter.compare(String("BM_ObtainSet/") + n, String("BM_MinimalRead/") + n,
                         large ? 1.5 : 0);
        reporter.compare(String("BM_ObtainSet/") + n, String("BM_RawRead/") + n);
    }
    benchmark::RunSpecifiedBenchmarks(&reporter);
    char figure[96];
    double set = heapPerProperty(100000), minimal = minimalHeapPerProperty(100000);
    std::snprintf(figure, sizeof figure, "%.0f B (minimal reader's maps: %.0f B)", set, minimal);
    reporter.note("heap per property, set of 100000", figure);
    reporter.printRatios();
    return 0;
}
