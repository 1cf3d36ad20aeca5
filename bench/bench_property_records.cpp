// Writes and reads back batches of property records through in-memory
// streams, against a raw baseline that moves the same bytes with no
// formatting or parsing.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <vector>

#include "bench/RatioReporter.h"
#include "bench/ScratchRoot.h"
#include "host/platform/HostPlatform.h"
#include "properties/Property.h"

namespace {

constexpr int RecordCount = 1000;

// One batch of properties, their records, and room to read them back into.
struct Batch {
    std::vector<Property> properties;
    std::vector<String> records;
    String stream;
    std::vector<Property> readBack;
};

struct Batches {
    Batch shortValues;
    Batch largeValues;
};

std::unique_ptr<Batches> batches;

Batch makeBatch(std::size_t valueSize) {
    Batch batch;
    for (int i = 0; i < RecordCount; ++i) {
        Property p;
        p.name = Symbol("ORVEX Benchmark Property " + std::to_string(i % 50));
        p.index = static_cast<std::uint32_t>(i / 50 + 1);
        p.attributes.set_readable(PropertyAttributes::Minimal, true);
        p.attributes.set_writeable(PropertyAttributes::Server, true);
        p.attributes.set_version(1);
        String value = valueSize ? String(valueSize, static_cast<char>('a' + i % 26))
                                 : "value " + std::to_string(i);
        p.value.modify(value, 0);
        std::ostringstream record;
        record << p;
        batch.records.push_back(record.str());
        batch.stream += record.str();
        batch.properties.push_back(p);
    }
    batch.readBack.resize(RecordCount);
    return batch;
}

Batch& batchFor(bool large) {
    return large ? batches->largeValues : batches->shortValues;
}

void BM_WriteRecords(benchmark::State& state, bool large) {
    const Batch& batch = batchFor(large);
    for (auto _ : state) {
        std::ostringstream out;
        for (const Property& p : batch.properties) out << p;
        benchmark::DoNotOptimize(out.tellp());
    }
    state.SetBytesProcessed(state.iterations() * batch.stream.size());
}

void BM_RawWrite(benchmark::State& state, bool large) {
    const Batch& batch = batchFor(large);
    for (auto _ : state) {
        std::ostringstream out;
        for (const String& record : batch.records)
            out.write(record.data(), static_cast<std::streamsize>(record.size()));
        benchmark::DoNotOptimize(out.tellp());
    }
    state.SetBytesProcessed(state.iterations() * batch.stream.size());
}

void BM_ReadRecords(benchmark::State& state, bool large) {
    Batch& batch = batchFor(large);
    for (auto _ : state) {
        std::istringstream in(batch.stream);
        for (Property& p : batch.readBack) in >> p;
        if (in.fail()) state.SkipWithError("records did not read back");
        benchmark::DoNotOptimize(batch.readBack.back().index);
    }
    state.SetBytesProcessed(state.iterations() * batch.stream.size());
}

void BM_RawRead(benchmark::State& state, bool large) {
    const Batch& batch = batchFor(large);
    String buffer;
    for (auto _ : state) {
        std::istringstream in(batch.stream);
        for (const String& record : batch.records) {
            buffer.resize(record.size());
            in.read(buffer.data(), static_cast<std::streamsize>(record.size()));
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(state.iterations() * batch.stream.size());
}

BENCHMARK_CAPTURE(BM_WriteRecords, short, false);
BENCHMARK_CAPTURE(BM_RawWrite, short, false);
BENCHMARK_CAPTURE(BM_ReadRecords, short, false);
BENCHMARK_CAPTURE(BM_RawRead, short, false);
BENCHMARK_CAPTURE(BM_WriteRecords, 8KiB, true);
BENCHMARK_CAPTURE(BM_RawWrite, 8KiB, true);
BENCHMARK_CAPTURE(BM_ReadRecords, 8KiB, true);
BENCHMARK_CAPTURE(BM_RawRead, 8KiB, true);

}  // namespace

int main(int argc, char** argv) {
    RatioReporter::initialize(argc, argv);
    // Large values live in files under "/vm/tmp".
    ScratchRoot root;
    if (!root.ok()) return 1;
    batches = std::make_unique<Batches>();
    batches->shortValues = makeBatch(0);
    batches->largeValues = makeBatch(8 * 1024);

    RatioReporter reporter("bench_property_records");
    for (const char* kind : {"short", "8KiB"}) {
        reporter.compare(String("BM_WriteRecords/") + kind, String("BM_RawWrite/") + kind);
        reporter.compare(String("BM_ReadRecords/") + kind, String("BM_RawRead/") + kind);
    }
    reporter.run();
    reporter.printRatios();
    benchmark::Shutdown();

    // Values delete their files; the scratch root goes after them.
    batches.reset();
    return 0;
}
