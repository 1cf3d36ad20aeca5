#pragma once

// A console reporter that also prints, after the run, the ratio of each
// benchmark's time to the time of its anchor measured in the same run (the
// same bytes moved or parsed by the simplest code that does it):
//
//     int main(int argc, char** argv) {
//         RatioReporter::initialize(argc, argv);
//         RatioReporter reporter("bench_records");
//         reporter.compare("BM_WriteRecords/short", "BM_RawWrite/short");
//         reporter.run();
//         reporter.printRatios();
//     }
//
// run() runs every benchmark in five rounds, one round of every benchmark
// after another (unless the command line sets the repetitions), so that a
// burst of load from other tenants of the machine falls on both sides of a
// ratio. The rounds are the reporter's own: the library's random interleaving
// (1.7.1) now and then reads a benchmark's results after freeing them, and
// the program crashes. The table gives, per pair, the median time of each
// side and two ratios: of the fastest rounds (min) and of the median rounds.
// The goal is judged on the median ratio; "min only" marks a goal reached by
// the fastest rounds alone.
//
// Ratios of in-memory work use CPU time: the build machines are shared, and
// wall time then measures the other tenants. Work that waits for the disk
// (fsync) compares wall time (Clock::Wall).
//
// When the environment variable CFGADM_RATIOS names a file, every row is also
// appended to it (tab-separated), so that scripts/bench.sh can print one
// table for all benchmark programs.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    enum class Clock { Cpu, Wall };

    explicit RatioReporter(std::string program = "") : program_(std::move(program)) {}

    // benchmark::Initialize; run() then makes five rounds, or one when the
    // command line sets the repetitions itself.
    static void initialize(int& argc, char**& argv) {
        bool given = false;
        for (int i = 1; i < argc; ++i)
            given = given || std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0;
        rounds_ = given ? 1 : 5;
        benchmark::Initialize(&argc, argv);
    }

    // Runs the benchmarks the command line selects, round after round.
    void run() {
        for (round_ = 0; round_ < rounds_; ++round_) benchmark::RunSpecifiedBenchmarks(this);
    }

    // The machine is described once, not once a round.
    bool ReportContext(const Context& context) override {
        return round_ > 0 || ConsoleReporter::ReportContext(context);
    }

    // Prints measured/anchor after the run (both names as benchmark reports
    // them); goal > 0 is the largest ratio the project accepts.
    void compare(std::string measured, std::string anchor, double goal = 0,
                 Clock clock = Clock::Cpu) {
        pairs_.push_back({std::move(measured), std::move(anchor), goal, clock});
    }

    // An extra line of the table (a figure that is not a time ratio).
    void note(std::string what, std::string figure) {
        notes_.emplace_back(std::move(what), std::move(figure));
    }

    // Keeps every round's times; the console shows the rounds of a
    // benchmark run once, else only their median and mean.
    void ReportRuns(const std::vector<Run>& runs) override {
        std::vector<Run> shown;
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                cpu_[run.benchmark_name()].push_back(run.GetAdjustedCPUTime());
                wall_[run.benchmark_name()].push_back(run.GetAdjustedRealTime());
                unit_[run.benchmark_name()] = run.time_unit;
            }
            // Rounds run by run() come one at a time: each is shown.
            if (run.error_occurred || run.repetitions <= 1 || run.aggregate_name == "median" ||
                run.aggregate_name == "mean")
                shown.push_back(run);
        }
        if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
    }

    void printRatios() const {
        std::FILE* all = nullptr;
        if (const char* file = std::getenv("CFGADM_RATIOS"); file && *file)
            all = std::fopen(file, "a");
        if (all != nullptr && std::fseek(all, 0, SEEK_END) == 0 && std::ftell(all) == 0)
            std::fprintf(all,
                         "program\twork (median)\tanchor (median)\tclock\tratio min/median\t"
                         "goal\n");
        std::printf("\n%-44s %12s  %-40s %12s %5s %13s %s\n", "work", "median", "anchor", "median",
                    "clock", "ratio min/med", "goal");
        for (const Pair& p : pairs_) printPair(p, all);
        for (const auto& [what, figure] : notes_) {
            std::printf("%-44s %s\n", what.c_str(), figure.c_str());
            if (all)
                std::fprintf(all, "%s\t%s\t\t\t%s\t\n", program_.c_str(), what.c_str(),
                             figure.c_str());
        }
        if (all) std::fclose(all);
        // Printed even if the program dies later, at exit.
        std::fflush(stdout);
    }

  private:
    struct Pair {
        std::string measured;
        std::string anchor;
        double goal;
        Clock clock;
    };
    using Times = std::map<std::string, std::vector<double>>;

    static inline int rounds_ = 5;
    int round_ = 0;

    static double median(std::vector<double> v) {
        std::sort(v.begin(), v.end());
        std::size_t n = v.size();
        return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }

    // The median time with its unit, as the console table shows times.
    std::string shown(const std::string& name, const std::vector<double>& times) const {
        char text[32];
        auto unit = unit_.find(name);
        const char* suffix = unit == unit_.end() ? "" : benchmark::GetTimeUnitString(unit->second);
        std::snprintf(text, sizeof text, "%.4g %s", median(times), suffix);
        return text;
    }

    void printPair(const Pair& p, std::FILE* all) const {
        const Times& times = p.clock == Clock::Cpu ? cpu_ : wall_;
        auto m = times.find(p.measured), b = times.find(p.anchor);
        std::string work = "n/a", anchor = "n/a";
        char ratio[48] = "n/a", goal[48] = "";
        if (m != times.end() && b != times.end()) {
            work = shown(p.measured, m->second);
            anchor = shown(p.anchor, b->second);
            double low = *std::min_element(m->second.begin(), m->second.end()) /
                         *std::min_element(b->second.begin(), b->second.end());
            double mid = median(m->second) / median(b->second);
            std::snprintf(ratio, sizeof ratio, "%.2f/%.2fx", low, mid);
            if (p.goal > 0)
                std::snprintf(goal, sizeof goal, "<=%.2gx %s", p.goal,
                              mid <= p.goal   ? "met"
                              : low <= p.goal ? "min only"
                                              : "MISSED");
        }
        const char* clock = p.clock == Clock::Cpu ? "cpu" : "wall";
        std::printf("%-44s %12s  %-40s %12s %5s %13s %s\n", p.measured.c_str(), work.c_str(),
                    p.anchor.c_str(), anchor.c_str(), clock, ratio, goal);
        if (all)
            std::fprintf(all, "%s\t%s %s\t%s %s\t%s\t%s\t%s\n", program_.c_str(),
                         p.measured.c_str(), work.c_str(), p.anchor.c_str(), anchor.c_str(), clock,
                         ratio, goal);
    }

    std::string program_;
    std::vector<Pair> pairs_;
    std::vector<std::pair<std::string, std::string>> notes_;
    Times cpu_;
    Times wall_;
    std::map<std::string, benchmark::TimeUnit> unit_;
};
