// Property stores against the raw system and LMDB calls that move the same
// bytes: a file set's save (temporary file, fsync, rename) and reread against
// write+fsync and read of its stream; a class-of-service record's save and
// load against mdb_put/mdb_get of the record's bytes; an index of subscriber
// records written and read back. Every save is durable (fsync per save, one
// synced LMDB commit per record write), so disk sync time is part of both
// sides of each ratio, which compare wall time. Each timed loop starts warm:
// one untimed round has made the files, the records and the heap.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <lmdb.h>
#include <unistd.h>

#include <sstream>

#include "bench/RatioReporter.h"
#include "bench/ScratchRoot.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/RunTokenHolder.h"
#include "platform/FileSystem.h"
#include "properties/COSProperties.h"
#include "properties/FileProperties.h"
#include "properties/SubscriberProperties.h"

namespace {

const Path kFile = "/VM/config/bench_props";

Property makeProperty(int i) {
    Property p;
    p.name = Symbol("Property" + std::to_string(i));
    p.index = 1;
    p.attributes.set_readable(PropertyAttributes::Minimal, true);
    p.attributes.set_writeable(PropertyAttributes::Server, true);
    p.value.modify("value of property " + std::to_string(i), 0);
    return p;
}

void fill(Properties& set, int n) {
    for (int i = 0; i < n; ++i) {
        Property p = makeProperty(i);
        set.put(p, PropertyAttributes::Server);
    }
}

String streamOf(const Properties& set) {
    std::ostringstream out;
    set.save(out);
    return out.str();
}

void BM_FileSaveReinit(benchmark::State& state) {
    FileSystem::makeDirectories("/VM/config");
    FileProperties set(kFile);
    fill(set, static_cast<int>(state.range(0)));
    set.saveThem();
    for (auto _ : state) {
        if (!set.saveThem() || !set.reinit(kFile)) state.SkipWithError("save or read failed");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long>(streamOf(set).size()));
}

void BM_FileSave(benchmark::State& state) {
    FileSystem::makeDirectories("/VM/config");
    FileProperties set(kFile);
    fill(set, static_cast<int>(state.range(0)));
    for (auto _ : state)
        if (!set.saveThem()) state.SkipWithError("save failed");
}

void BM_FileReinit(benchmark::State& state) {
    FileSystem::makeDirectories("/VM/config");
    FileProperties set(kFile);
    fill(set, static_cast<int>(state.range(0)));
    set.saveThem();
    for (auto _ : state)
        if (!set.reinit(kFile)) state.SkipWithError("read failed");
}

void BM_RawWriteFsyncRead(benchmark::State& state) {
    FileProperties set(EmptyPath);
    fill(set, static_cast<int>(state.range(0)));
    const String bytes = streamOf(set);
    const String file = HostPlatform::hostPath("/VM/config/bench_raw");
    String back(bytes.size(), '\0');
    for (auto _ : state) {
        // The same steps as the set's save: a new file, written, synced.
        ::unlink(file.c_str());
        int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0664);
        bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
                  ::fsync(fd) == 0;
        ::close(fd);
        fd = ::open(file.c_str(), O_RDONLY);
        ok = ok && ::read(fd, back.data(), back.size()) == static_cast<ssize_t>(back.size());
        ::close(fd);
        if (!ok) state.SkipWithError("raw I/O failed");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long>(bytes.size()));
}

// The raw anchor: an LMDB environment of our own beside the module's index.
struct RawIndex {
    MDB_env* env = nullptr;
    MDB_dbi dbi = 0;
    explicit RawIndex(const String& file) {
        mdb_env_create(&env);
        mdb_env_set_mapsize(env, std::size_t(1) << 32);
        mdb_env_open(env, file.c_str(), MDB_NOSUBDIR | MDB_NOTLS, 0664);
        MDB_txn* txn;
        mdb_txn_begin(env, nullptr, 0, &txn);
        mdb_dbi_open(txn, nullptr, 0, &dbi);
        mdb_txn_commit(txn);
    }
    ~RawIndex() { mdb_env_close(env); }
    bool put(std::uint32_t key, const String& bytes) {
        MDB_txn* txn;
        if (mdb_txn_begin(env, nullptr, 0, &txn) != 0) return false;
        MDB_val k{sizeof key, &key}, v{bytes.size(), const_cast<char*>(bytes.data())};
        if (mdb_put(txn, dbi, &k, &v, 0) != 0) return mdb_txn_abort(txn), false;
        return mdb_txn_commit(txn) == 0;
    }
    std::size_t get(std::uint32_t key, String& out) {
        MDB_txn* txn;
        mdb_txn_begin(env, nullptr, MDB_RDONLY, &txn);
        MDB_val k{sizeof key, &key}, v;
        std::size_t size = mdb_get(txn, dbi, &k, &v) == 0 ? v.mv_size : 0;
        out.assign(static_cast<const char*>(v.mv_data), size);
        mdb_txn_abort(txn);
        return size;
    }
};

RawIndex& rawIndex() {
    static RawIndex* index = [] {
        FileSystem::makeDirectories("/VM/orvex/sd/sdata");
        return new RawIndex(HostPlatform::hostPath("/VM/orvex/sd/sdata/bench_raw"));
    }();
    return *index;
}

void BM_BTreeSaveLoad(benchmark::State& state) {
    Properties::myPBox = 333;
    COSProperties set(5UL);
    fill(set, static_cast<int>(state.range(0)));
    set.saveThem();
    for (auto _ : state) {
        set.saveThem();
        COSProperties loaded(5UL);
        if (loaded.count() != set.count()) state.SkipWithError("record lost");
    }
}

void BM_RawLmdbPutGet(benchmark::State& state) {
    COSProperties set;
    fill(set, static_cast<int>(state.range(0)));
    const String bytes = "17" + streamOf(set);
    String back;
    rawIndex().put(5, bytes);
    for (auto _ : state) {
        if (!rawIndex().put(5, bytes) || rawIndex().get(5, back) != bytes.size())
            state.SkipWithError("raw LMDB failed");
    }
}

// Subscriber records of three properties each: writes of `range(0)` records
// per iteration, then every record of the index read back.
void BM_SubscriberIndex(benchmark::State& state) {
    Properties::myPBox = 333;
    const long n = state.range(0);
    auto round = [&] {
        for (long i = 0; i < n; ++i) {
            SubscriberProperties set(i);
            fill(set, 3);
            if (!set.saveThem()) state.SkipWithError("write failed");
        }
        for (long i = 0; i < n; ++i)
            if (SubscriberProperties(i).count() != 3) state.SkipWithError("read failed");
    };
    round();
    for (auto _ : state) round();
    state.counters["records/s"] = benchmark::Counter(static_cast<double>(state.iterations() * n),
                                                     benchmark::Counter::kIsRate);
}

void BM_RawLmdbRecords(benchmark::State& state) {
    COSProperties set;
    fill(set, 3);
    const String bytes = "1" + streamOf(set);
    const long n = state.range(0);
    String back;
    auto round = [&] {
        for (long i = 0; i < n; ++i) rawIndex().put(static_cast<std::uint32_t>(1000000 + i), bytes);
        for (long i = 0; i < n; ++i) rawIndex().get(static_cast<std::uint32_t>(1000000 + i), back);
    };
    round();
    for (auto _ : state) round();
    state.counters["records/s"] = benchmark::Counter(static_cast<double>(state.iterations() * n),
                                                     benchmark::Counter::kIsRate);
}

BENCHMARK(BM_FileSaveReinit)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileSave)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileReinit)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawWriteFsyncRead)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BTreeSaveLoad)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawLmdbPutGet)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SubscriberIndex)->Arg(500)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RawLmdbRecords)->Arg(500)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    ScratchRoot root;
    if (!root.ok()) return 1;
    RunTokenHolder token;
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter("bench_stores");
    using Clock = RatioReporter::Clock;
    reporter.compare("BM_FileSaveReinit/100000", "BM_RawWriteFsyncRead/100000", 0, Clock::Wall);
    reporter.compare("BM_BTreeSaveLoad/100", "BM_RawLmdbPutGet/100", 0, Clock::Wall);
    reporter.compare("BM_SubscriberIndex/500/iterations:3", "BM_RawLmdbRecords/500/iterations:3", 0,
                     Clock::Wall);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    return 0;
}
