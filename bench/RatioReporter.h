#pragma once

// A console reporter that also prints, after the run, the ratio of each
// benchmark's time to the time of its anchor measured in the same run (the
// same bytes moved or parsed by the simplest code that does it):
//
//     int main(int argc, char** argv) {
//         benchmark::Initialize(&argc, argv);
//         RatioReporter reporter("bench_records");
//         reporter.compare("BM_WriteRecords/short", "BM_RawWrite/short");
//         benchmark::RunSpecifiedBenchmarks(&reporter);
//         reporter.printRatios();
//     }
//
// Ratios of in-memory work use CPU time: the build machines are shared, and
// wall time then measures the other tenants. Work that waits for the disk
// (fsync) compares wall time (Clock::Wall). A goal, when given, is printed
// beside the ratio with "ok" or "MISSED".
//
// When the environment variable CFGADM_RATIOS names a file, every row is also
// appended to it (tab-separated), so that scripts/bench.sh can print one
// table for all benchmark programs.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    enum class Clock { Cpu, Wall };

    explicit RatioReporter(std::string program = "") : program_(std::move(program)) {}

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

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                cpu_[run.benchmark_name()] = run.GetAdjustedCPUTime();
                wall_[run.benchmark_name()] = run.GetAdjustedRealTime();
            }
        ConsoleReporter::ReportRuns(runs);
    }

    void printRatios() const {
        std::FILE* all = nullptr;
        if (const char* file = std::getenv("CFGADM_RATIOS"); file && *file)
            all = std::fopen(file, "a");
        std::printf("\n%-40s %-36s %5s %9s %8s\n", "benchmark", "anchor", "clock", "ratio", "goal");
        for (const Pair& p : pairs_) {
            const auto& times = p.clock == Clock::Cpu ? cpu_ : wall_;
            auto m = times.find(p.measured), b = times.find(p.anchor);
            char ratio[32] = "n/a", goal[32] = "";
            if (m != times.end() && b != times.end() && b->second > 0)
                std::snprintf(ratio, sizeof ratio, "%.2fx", m->second / b->second);
            if (p.goal > 0 && m != times.end() && b != times.end() && b->second > 0)
                std::snprintf(goal, sizeof goal, "<=%.1fx %s", p.goal,
                              m->second / b->second <= p.goal ? "ok" : "MISSED");
            const char* clock = p.clock == Clock::Cpu ? "cpu" : "wall";
            std::printf("%-40s %-36s %5s %9s %8s\n", p.measured.c_str(), p.anchor.c_str(), clock,
                        ratio, goal);
            if (all)
                std::fprintf(all, "%s\t%s\t%s\t%s\t%s\t%s\n", program_.c_str(), p.measured.c_str(),
                             p.anchor.c_str(), clock, ratio, goal);
        }
        for (const auto& [what, figure] : notes_) {
            std::printf("%-40s %s\n", what.c_str(), figure.c_str());
            if (all)
                std::fprintf(all, "%s\t%s\t\t\t%s\t\n", program_.c_str(), what.c_str(),
                             figure.c_str());
        }
        if (all) std::fclose(all);
    }

  private:
    struct Pair {
        std::string measured;
        std::string anchor;
        double goal;
        Clock clock;
    };
    std::string program_;
    std::vector<Pair> pairs_;
    std::vector<std::pair<std::string, std::string>> notes_;
    std::map<std::string, double> cpu_;
    std::map<std::string, double> wall_;
};
