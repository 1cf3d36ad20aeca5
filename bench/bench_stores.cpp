// Property stores against the raw system and LMDB calls that move the same
// bytes: a file set's save (temporary file, fsync, rename, directory fsync)
// and reread against the same raw steps plus a minimal writer and reader of
// the same format; a class-of-service record's save and load against
// mdb_put/mdb_get of the record's bytes; an index of subscriber records
// written and read back against raw puts and gets.
//
// The program runs twice: on the platform root's disk, where every save is
// durable (fsync per save, one synced LMDB commit per record write) and sync
// time is on both sides of each ratio; then, in a child process, on a root in
// tmpfs (/dev/shm), where syncs cost nothing on either side and the ratios
// show the CPU work. On the disk the ratios compare wall time (the syncs are
// waits); on tmpfs they compare CPU time, which the other tenants of a shared
// machine do not inflate. Each timed loop starts warm:
// one untimed round has made the files, the records and the heap.
//
// The store's own work is measured with the change journal off, since the
// journal has its own benchmark (bench_journal) against the unjournaled save;
// BM_SubscriberJournaled gives the journaled figure beside it.
//
// CFGADM_BENCH_LARGE=1 adds 10^6 properties and records (linear growth).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "bench/MinimalStream.h"
#include "bench/PropertyInput.h"
#include "bench/RatioReporter.h"
#include "bench/RawLmdbIndex.h"
#include "bench/ScratchRoot.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/RunTokenHolder.h"
#include "platform/FileSystem.h"
#include "properties/COSProperties.h"
#include "properties/FileProperties.h"
#include "properties/SubscriberProperties.h"

namespace {

// One file per benchmark and size: a set starts from what its file holds.
Path fileOf(const char* name, const benchmark::State& state) {
    return Path(String("/VM/config/") + name + "_" + std::to_string(state.range(0)));
}

void BM_FileSaveReinit(benchmark::State& state) {
    FileSystem::makeDirectories("/VM/config");
    const Path file = fileOf("filesavereinit", state);
    FileProperties set(file);
    fill(set, static_cast<int>(state.range(0)));
    set.saveThem();
    for (auto _ : state) {
        if (!set.saveThem() || !set.reinit(file)) state.SkipWithError("save or read failed");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<long>(streamOf(set).size()));
}

void BM_FileSave(benchmark::State& state) {
    FileSystem::makeDirectories("/VM/config");
    const Path file = fileOf("filesave", state);
    FileProperties set(file);
    fill(set, static_cast<int>(state.range(0)));
    for (auto _ : state)
        if (!set.saveThem()) state.SkipWithError("save failed");
}

void BM_FileReinit(benchmark::State& state) {
    FileSystem::makeDirectories("/VM/config");
    const Path file = fileOf("filereinit", state);
    FileProperties set(file);
    fill(set, static_cast<int>(state.range(0)));
    set.saveThem();
    for (auto _ : state)
        if (!set.reinit(file)) state.SkipWithError("read failed");
}

// The anchor of a save and reread: the raw steps of the store (a temporary
// file written and synced, renamed over the file, the directory synced, the
// file read back) around a minimal writer and a minimal reader of the same
// format, the previous maps dropped as the store drops its previous set.
void BM_RawStoreSteps(benchmark::State& state) {
    FileProperties set(EmptyPath);
    fill(set, static_cast<int>(state.range(0)));
    auto minimal = std::make_unique<MinimalSet>();
    minimalRead(streamOf(set), *minimal);
    const String directory = HostPlatform::hostPath("/VM/config");
    const String file = directory + "/bench_raw", temporary = directory + "/.bench_raw.tmp";
    auto round = [&] {
        String text;
        minimalWrite(*minimal, text);
        int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0664);
        bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                  ::fsync(fd) == 0 && ::close(fd) == 0 &&
                  ::rename(temporary.c_str(), file.c_str()) == 0;
        int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY);
        ok = ok && ::fsync(dir) == 0;
        ::close(dir);
        fd = ::open(file.c_str(), O_RDONLY);
        struct stat info;
        ok = ok && ::fstat(fd, &info) == 0;
        std::unique_ptr<char[]> bytes(new char[static_cast<std::size_t>(info.st_size)]);
        ok = ok && ::read(fd, bytes.get(), static_cast<std::size_t>(info.st_size)) == info.st_size;
        ::close(fd);
        minimal = std::make_unique<MinimalSet>();
        ok =
            ok && minimalRead(std::string_view(bytes.get(), static_cast<std::size_t>(info.st_size)),
                              *minimal);
        return ok;
    };
    if (!round()) state.SkipWithError("raw steps failed");
    for (auto _ : state)
        if (!round()) state.SkipWithError("raw steps failed");
    state.SetBytesProcessed(state.iterations() * static_cast<long>(streamOf(set).size()));
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

// Subscriber records of three properties each: `n` records written (a set
// made for the number, the three put, saved), then each read back into a new
// set. The properties are made once, before the timed loops, as the anchor's
// bytes are: making them (names interned, values built from numbers) is the
// caller's work, not the store's.
bool writeSubscribers(long n) {
    static const std::vector<Property> three = {makeProperty(0), makeProperty(1), makeProperty(2)};
    for (long i = 0; i < n; ++i) {
        SubscriberProperties set(i);
        for (Property p : three) set.put(p, PropertyAttributes::Server);
        if (!set.saveThem()) return false;
    }
    return true;
}

bool readSubscribers(long n) {
    for (long i = 0; i < n; ++i)
        if (SubscriberProperties(i).count() != 3) return false;
    return true;
}

void countRecords(benchmark::State& state, long n) {
    state.counters["records/s"] = benchmark::Counter(static_cast<double>(state.iterations() * n),
                                                     benchmark::Counter::kIsRate);
}

void BM_SubscriberIndex(benchmark::State& state) {
    Properties::myPBox = 333;
    const long n = state.range(0);
    auto round = [&] {
        if (!writeSubscribers(n) || !readSubscribers(n))
            state.SkipWithError("write or read failed");
    };
    round();
    for (auto _ : state) round();
    countRecords(state, n);
}

// The two halves of BM_SubscriberIndex timed apart, against the matching
// halves of its anchor: a write commits (system calls on both sides), a read
// makes none on either side, so the whole round's ratio says little about
// the reads.
void BM_SubscriberWrites(benchmark::State& state) {
    Properties::myPBox = 333;
    const long n = state.range(0);
    if (!writeSubscribers(n)) state.SkipWithError("write failed");
    for (auto _ : state)
        if (!writeSubscribers(n)) state.SkipWithError("write failed");
    countRecords(state, n);
}

void BM_SubscriberReads(benchmark::State& state) {
    Properties::myPBox = 333;
    const long n = state.range(0);
    if (!writeSubscribers(n) || !readSubscribers(n)) state.SkipWithError("write or read failed");
    for (auto _ : state)
        if (!readSubscribers(n)) state.SkipWithError("read failed");
    countRecords(state, n);
}

// The same with the change journal on: a journaled record per save.
void BM_SubscriberJournaled(benchmark::State& state) {
    ::unsetenv("VM_JOURNAL");
    BM_SubscriberIndex(state);
    ::setenv("VM_JOURNAL", "off", 1);
}

// The anchor's records: the bytes of a three-property set under keys of
// their own in the raw environment.
struct RawRecords {
    String bytes;
    String back;
    RawRecords() {
        COSProperties set;
        fill(set, 3);
        bytes = "1" + streamOf(set);
    }
    static std::uint32_t key(long i) { return static_cast<std::uint32_t>(1000000 + i); }
    bool put(long n) {
        for (long i = 0; i < n; ++i)
            if (!rawIndex().put(key(i), bytes)) return false;
        return true;
    }
    bool get(long n) {
        for (long i = 0; i < n; ++i)
            if (rawIndex().get(key(i), back) != bytes.size()) return false;
        return true;
    }
};

void BM_RawLmdbRecords(benchmark::State& state) {
    RawRecords raw;
    const long n = state.range(0);
    auto round = [&] {
        if (!raw.put(n) || !raw.get(n)) state.SkipWithError("raw LMDB failed");
    };
    round();
    for (auto _ : state) round();
    countRecords(state, n);
}

void BM_RawLmdbPuts(benchmark::State& state) {
    RawRecords raw;
    const long n = state.range(0);
    if (!raw.put(n)) state.SkipWithError("raw LMDB failed");
    for (auto _ : state)
        if (!raw.put(n)) state.SkipWithError("raw LMDB failed");
    countRecords(state, n);
}

// Raw gets with each record parsed by the minimal reader into a map of its
// own, dropped after the record, as a set made for the number is: what a read
// would cost with the simplest code that turns the bytes into properties.
// Not the goal's anchor, which parses nothing.
void BM_RawLmdbGetsParsed(benchmark::State& state) {
    RawRecords raw;
    const long n = state.range(0);
    auto round = [&] {
        for (long i = 0; i < n; ++i) {
            MinimalSet set;
            rawIndex().get(RawRecords::key(i), raw.back);
            if (!minimalRead(std::string_view(raw.back).substr(1), set) || set.size() != 3)
                return false;
        }
        return true;
    };
    if (!raw.put(n) || !round()) state.SkipWithError("raw LMDB or minimal read failed");
    for (auto _ : state)
        if (!round()) state.SkipWithError("raw LMDB or minimal read failed");
    countRecords(state, n);
}

void BM_RawLmdbGets(benchmark::State& state) {
    RawRecords raw;
    const long n = state.range(0);
    if (!raw.put(n) || !raw.get(n)) state.SkipWithError("raw LMDB failed");
    for (auto _ : state)
        if (!raw.get(n)) state.SkipWithError("raw LMDB failed");
    countRecords(state, n);
}

// The LMDB calls a subscriber record's write and read make, done raw on the
// same bytes: a read when the set is made (the read of the counter before
// the save is served from it), the write with its check that the record is
// still as read; then a read when the set is made again. Not the goal's
// anchor: it shows how much of the gap is LMDB work the store's guarantees
// ask for, and how much is the module's own.
void BM_RawLmdbSameCalls(benchmark::State& state) {
    COSProperties set;
    fill(set, 3);
    const String bytes = "1" + streamOf(set);
    const long n = state.range(0);
    RawIndex& index = rawIndex(true);
    String read;
    auto round = [&] {
        for (long i = 0; i < n; ++i) {
            auto key = static_cast<std::uint32_t>(i);
            index.get(key, read);
            if (!index.put(key, bytes, read.empty() ? nullptr : &read))
                state.SkipWithError("raw LMDB failed");
        }
        for (long i = 0; i < n; ++i) index.get(static_cast<std::uint32_t>(i), read);
    };
    round();
    for (auto _ : state) round();
}

bool large() {
    const char* large = std::getenv("CFGADM_BENCH_LARGE");
    return large != nullptr && *large != '\0';
}

bool onTmpfs() {
    const char* tmpfs = std::getenv("CFGADM_BENCH_TMPFS");
    return tmpfs != nullptr && *tmpfs != '\0';
}

// File sets of 10^4 and 10^5 properties (and 10^6); subscriber records: 500
// on the disk (a synced commit each), 10^4 and 10^5 on tmpfs (and 10^6).
std::vector<long> fileSizes() {
    std::vector<long> sizes = {10000, 100000};
    if (large()) sizes.push_back(1000000);
    return sizes;
}

std::vector<long> recordCounts() {
    std::vector<long> counts =
        onTmpfs() ? std::vector<long>{10000, 100000} : std::vector<long>{500};
    if (large() && onTmpfs()) counts.push_back(1000000);
    return counts;
}

String iterationsOf(long records) {
    return records >= 100000 ? "1" : "3";
}

void registerBenchmarks() {
    using benchmark::kMillisecond;
    for (long n : fileSizes()) {
        benchmark::RegisterBenchmark("BM_FileSaveReinit", BM_FileSaveReinit)
            ->Arg(n)
            ->Unit(kMillisecond);
        benchmark::RegisterBenchmark("BM_RawStoreSteps", BM_RawStoreSteps)
            ->Arg(n)
            ->Unit(kMillisecond);
    }
    benchmark::RegisterBenchmark("BM_FileSave", BM_FileSave)->Arg(100000)->Unit(kMillisecond);
    benchmark::RegisterBenchmark("BM_FileReinit", BM_FileReinit)->Arg(100000)->Unit(kMillisecond);
    benchmark::RegisterBenchmark("BM_BTreeSaveLoad", BM_BTreeSaveLoad)
        ->Arg(100)
        ->Unit(kMillisecond);
    benchmark::RegisterBenchmark("BM_RawLmdbPutGet", BM_RawLmdbPutGet)
        ->Arg(100)
        ->Unit(kMillisecond);
    for (long n : recordCounts()) {
        int iterations = std::stoi(iterationsOf(n));
        benchmark::RegisterBenchmark("BM_SubscriberIndex", BM_SubscriberIndex)
            ->Arg(n)
            ->Unit(kMillisecond)
            ->Iterations(iterations);
        benchmark::RegisterBenchmark("BM_RawLmdbRecords", BM_RawLmdbRecords)
            ->Arg(n)
            ->Unit(kMillisecond)
            ->Iterations(iterations);
        benchmark::RegisterBenchmark("BM_RawLmdbSameCalls", BM_RawLmdbSameCalls)
            ->Arg(n)
            ->Unit(kMillisecond)
            ->Iterations(iterations);
        if (!onTmpfs()) continue;
        using Function = void (*)(benchmark::State&);
        const std::pair<const char*, Function> halves[] = {
            {"BM_SubscriberWrites", BM_SubscriberWrites},
            {"BM_RawLmdbPuts", BM_RawLmdbPuts},
            {"BM_SubscriberReads", BM_SubscriberReads},
            {"BM_RawLmdbGets", BM_RawLmdbGets},
            {"BM_RawLmdbGetsParsed", BM_RawLmdbGetsParsed}};
        for (auto [name, function] : halves)
            benchmark::RegisterBenchmark(name, function)
                ->Arg(n)
                ->Unit(kMillisecond)
                ->Iterations(iterations);
    }
    benchmark::RegisterBenchmark("BM_SubscriberJournaled", BM_SubscriberJournaled)
        ->Arg(recordCounts().front())
        ->Unit(kMillisecond)
        ->Iterations(std::stoi(iterationsOf(recordCounts().front())));
}

// The same program on a fresh root in /dev/shm, in a child: the module keeps
// its index descriptors for the process's life, so the root is not switched
// in place.
int runOnTmpfs(char** argv) {
    char dir[] = "/dev/shm/cfgadm-bench-XXXXXX";
    if (::mkdtemp(dir) == nullptr) return 0;  // no tmpfs: the disk figures stand alone
    std::fflush(stdout);
    pid_t child = ::fork();
    if (child == 0) {
        ::setenv("VM_ROOT", dir, 1);
        ::setenv("CFGADM_BENCH_TMPFS", "1", 1);
        ::execv("/proc/self/exe", argv);
        std::_Exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    std::filesystem::remove_all(dir);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv) {
    char** original = argv;
    ::setenv("VM_JOURNAL", "off", 1);
    ScratchRoot root;
    if (!root.ok()) return 1;
    RunTokenHolder token;
    RatioReporter::initialize(argc, argv);
    registerBenchmarks();
    RatioReporter reporter(onTmpfs() ? "bench_stores (tmpfs)" : "bench_stores (disk)");
    using Clock = RatioReporter::Clock;
    const Clock clock = onTmpfs() ? Clock::Cpu : Clock::Wall;
    for (long n : fileSizes()) {
        String size = std::to_string(n);
        reporter.compare("BM_FileSaveReinit/" + size, "BM_RawStoreSteps/" + size,
                         n == 100000 ? 1.5 : 0, clock);
    }
    reporter.compare("BM_BTreeSaveLoad/100", "BM_RawLmdbPutGet/100", 0, clock);
    for (long n : recordCounts()) {
        String suffix = std::to_string(n) + "/iterations:" + iterationsOf(n);
        reporter.compare("BM_SubscriberIndex/" + suffix, "BM_RawLmdbRecords/" + suffix,
                         onTmpfs() && n == 100000 ? 1.5 : 0, clock);
        reporter.compare("BM_RawLmdbSameCalls/" + suffix, "BM_RawLmdbRecords/" + suffix, 0, clock);
        reporter.compare("BM_SubscriberIndex/" + suffix, "BM_RawLmdbSameCalls/" + suffix, 0, clock);
        if (!onTmpfs()) continue;
        reporter.compare("BM_SubscriberWrites/" + suffix, "BM_RawLmdbPuts/" + suffix, 0, clock);
        reporter.compare("BM_SubscriberReads/" + suffix, "BM_RawLmdbGets/" + suffix, 0, clock);
        reporter.compare("BM_SubscriberReads/" + suffix, "BM_RawLmdbGetsParsed/" + suffix, 0,
                         clock);
    }
    String first = std::to_string(recordCounts().front()) +
                   "/iterations:" + iterationsOf(recordCounts().front());
    reporter.compare("BM_SubscriberJournaled/" + first, "BM_RawLmdbRecords/" + first, 0, clock);
    reporter.run();
    reporter.printRatios();
    benchmark::Shutdown();
    return onTmpfs() ? 0 : runOnTmpfs(original);
}
