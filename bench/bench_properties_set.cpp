// Property sets: writing and reading the text stream against moving the same
// bytes raw, and the access operations in operations per second.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "bench/RatioReporter.h"
#include "bench/ScratchRoot.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/RunTokenHolder.h"
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

void BM_SaveSet(benchmark::State& state) {
    BenchProperties& set = setOf(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::ostringstream out;
        set.save(out);
        benchmark::DoNotOptimize(out.tellp());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long>(bytesOf(state.range(0)).size()));
}

void BM_RawWrite(benchmark::State& state) {
    const String& bytes = bytesOf(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::ostringstream out;
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        benchmark::DoNotOptimize(out.tellp());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long>(bytes.size()));
}

void BM_ObtainSet(benchmark::State& state) {
    const String& bytes = bytesOf(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        BenchProperties set;
        std::istringstream in(bytes);
        if (!set.obtain(in, true)) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(set.count());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long>(bytes.size()));
}

void BM_RawRead(benchmark::State& state) {
    const String& bytes = bytesOf(static_cast<int>(state.range(0)));
    String back(bytes.size(), '\0');
    for (auto _ : state) {
        std::istringstream in(bytes);
        in.read(back.data(), static_cast<std::streamsize>(back.size()));
        benchmark::DoNotOptimize(back.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long>(bytes.size()));
}

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
BENCHMARK(BM_RawWrite)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ObtainSet)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
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
    RatioReporter reporter;
    for (const char* n : {"1000", "100000"}) {
        reporter.compare(String("BM_SaveSet/") + n, String("BM_RawWrite/") + n);
        reporter.compare(String("BM_ObtainSet/") + n, String("BM_RawRead/") + n);
    }
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    return 0;
}
