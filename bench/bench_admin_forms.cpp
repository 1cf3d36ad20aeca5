// The cost of the form layer: a form 2 get and a form 1 page, in process,
// against bare Properties calls on the same known set (the system kind's,
// loaded from a defaults file of 40 known properties).
//
// Ratios printed after the run:
//   BM_Form2Get     / BM_StatGet        the anchor: what a form 2 get must do at
//                                       least, a stat of the defaults file and a
//                                       get of the name it is given as text
//   BM_Form2Get     / BM_KnownGet       one property through form 2 vs one get
//   BM_Form1Page    / BM_KnownGet4      a page of four vs four gets of those four
//   BM_Form1Page    / BM_KnownNext4     a page of four vs the same get_next walk
// Every form request also asks whether the defaults
// file changed on disk (one stat); BM_KnownStat measures that check alone,
// and BM_KnownGetChecked (the check plus a get) is the baseline that does the
// same work as the form minus the buffer.

#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <map>

#include "admin/Group.h"
#include "bench/RatioReporter.h"
#include "bench/ScratchRoot.h"
#include "host/platform/AdmServer.h"
#include "host/platform/HostPlatform.h"
#include "host/platform/RunTokenHolder.h"
#include "platform/FileSystem.h"
#include "properties/FileProperties.h"
#include "properties/SystemProperties.h"

namespace {

using A = PropertyAttributes;

constexpr int kKnowns = 40;

String knownName(int i) {
    char name[64];
    std::snprintf(name, sizeof name, "System Known Property %02d", i);
    return name;
}

// The defaults file of the system kind, written once per run.
bool writeDefaults() {
    FileSystem::makeDirectories("/VM/config");
    FileProperties defaults(SystemProperties::defaultsPath);
    for (int i = 0; i < kKnowns; ++i) {
        Property p;
        p.name = Symbol(knownName(i));
        p.index = 1;
        p.attributes.set_readable(A::Minimal, true);
        p.attributes.set_writeable(A::Privileged, true);
        p.attributes.set_server_known(true);
        p.value.modify("default " + std::to_string(i), 0);
        defaults.put(p, A::Server);
    }
    return defaults.saveThem();
}

Properties& knownSet() {
    static SystemProperties kind;
    return *kind.getKnown().knowns;
}

Form& form(int number) {
    return *adm_find(Forms, number)->form;
}

const String kMiddle = knownName(kKnowns / 2);

void BM_Form2Get(benchmark::State& state) {
    Buffer buffer;
    buffer.set_field(0, "SYSTEM");
    buffer.set_field(1, kMiddle);
    Form& f = form(2);
    for (auto _ : state) {
        AdmAnswer a = adm_request(f, AdmOp::get, buffer);
        if (a.result != 0) state.SkipWithError("get failed");
        benchmark::DoNotOptimize(buffer.reply_field(1).data());
    }
}

void BM_Form1Page(benchmark::State& state) {
    Buffer buffer;
    buffer.set_field(0, "SYSTEM");
    buffer.set_field(52, kMiddle);
    Form& f = form(1);
    for (auto _ : state) {
        AdmAnswer a = adm_request(f, AdmOp::list, buffer);
        if (a.result != 0 || a.ecode != 501) state.SkipWithError("list failed");
        benchmark::DoNotOptimize(buffer.reply_field(52).data());
    }
}

void BM_KnownGet(benchmark::State& state) {
    Properties& knowns = knownSet();
    Symbol name(kMiddle);
    for (auto _ : state) {
        Property p;
        p.name = name;
        p.index = 1;
        if (knowns.get(p, A::Server) != Properties::GET_OK) state.SkipWithError("get failed");
        benchmark::DoNotOptimize(p);
    }
}

void BM_KnownGet4(benchmark::State& state) {
    Properties& knowns = knownSet();
    Symbol names[4];
    for (int i = 0; i < 4; ++i) names[i] = Symbol(knownName(kKnowns / 2 + 1 + i));
    for (auto _ : state) {
        for (const Symbol& name : names) {
            Property p;
            p.name = name;
            p.index = 1;
            if (knowns.get(p, A::Server) != Properties::GET_OK) state.SkipWithError("get failed");
            benchmark::DoNotOptimize(p);
        }
    }
}

void BM_KnownNext4(benchmark::State& state) {
    Properties& knowns = knownSet();
    Symbol start(kMiddle);
    for (auto _ : state) {
        Property p;
        p.name = start;
        p.index = 1;
        for (int i = 0; i < 4; ++i)
            if (knowns.get_next(p, A::Server, false) != Properties::NEXT_OK)
                state.SkipWithError("get_next failed");
        benchmark::DoNotOptimize(p);
    }
}

void BM_StatGet(benchmark::State& state) {
    Properties& knowns = knownSet();
    const String file = HostPlatform::hostPath(SystemProperties::defaultsPath);
    for (auto _ : state) {
        struct stat info;
        if (::stat(file.c_str(), &info) != 0) state.SkipWithError("no defaults file");
        Property p;
        p.name = Symbol(kMiddle);
        p.index = 1;
        if (knowns.get(p, A::Server) != Properties::GET_OK) state.SkipWithError("get failed");
        benchmark::DoNotOptimize(p);
    }
}

void BM_KnownStat(benchmark::State& state) {
    Properties& knowns = knownSet();
    for (auto _ : state) benchmark::DoNotOptimize(knowns.underlierChanged());
}

void BM_KnownGetChecked(benchmark::State& state) {
    Properties& knowns = knownSet();
    Symbol name(kMiddle);
    for (auto _ : state) {
        benchmark::DoNotOptimize(knowns.underlierChanged());
        Property p;
        p.name = name;
        p.index = 1;
        if (knowns.get(p, A::Server) != Properties::GET_OK) state.SkipWithError("get failed");
        benchmark::DoNotOptimize(p);
    }
}

}  // namespace

BENCHMARK(BM_Form2Get);
BENCHMARK(BM_Form1Page);
BENCHMARK(BM_StatGet);
BENCHMARK(BM_KnownGet);
BENCHMARK(BM_KnownGet4);
BENCHMARK(BM_KnownNext4);
BENCHMARK(BM_KnownStat);
BENCHMARK(BM_KnownGetChecked);

int main(int argc, char** argv) {
    RatioReporter::initialize(argc, argv);
    ScratchRoot root;
    RunTokenHolder token;
    if (!root.ok() || !writeDefaults()) {
        std::fprintf(stderr, "bench_admin_forms: can't prepare the platform root\n");
        return 1;
    }
    RatioReporter reporter("bench_admin_forms");
    reporter.compare("BM_Form2Get", "BM_StatGet", 1.2);
    reporter.compare("BM_Form2Get", "BM_KnownGet");
    reporter.compare("BM_Form1Page", "BM_KnownGet4");
    reporter.compare("BM_Form1Page", "BM_KnownNext4");
    reporter.compare("BM_Form2Get", "BM_KnownGetChecked");
    reporter.compare("BM_KnownStat", "BM_KnownGet");
    reporter.run();
    reporter.printRatios();
    return 0;
}
