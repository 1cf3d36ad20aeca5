#pragma once

// A console reporter that also prints, after the run, the ratio of each
// benchmark's time to the time of its raw baseline measured in the same run:
//
//     int main(int argc, char** argv) {
//         benchmark::Initialize(&argc, argv);
//         RatioReporter reporter;
//         reporter.compare("BM_WriteRecords/short", "BM_RawWrite/short");
//         benchmark::RunSpecifiedBenchmarks(&reporter);
//         reporter.printRatios();
//     }

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    // Prints measured/baseline after the run (both names as benchmark reports them).
    void compare(std::string measured, std::string baseline) {
        pairs_.emplace_back(std::move(measured), std::move(baseline));
    }

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                seconds_[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }

    void printRatios() const {
        std::printf("\n%-48s %-40s %10s\n", "benchmark", "raw baseline", "ratio");
        for (const auto& [measured, baseline] : pairs_) {
            auto m = seconds_.find(measured), b = seconds_.find(baseline);
            if (m == seconds_.end() || b == seconds_.end() || b->second <= 0) {
                std::printf("%-48s %-40s %10s\n", measured.c_str(), baseline.c_str(), "n/a");
                continue;
            }
            std::printf("%-48s %-40s %9.2fx\n", measured.c_str(), baseline.c_str(),
                        m->second / b->second);
        }
    }

  private:
    std::vector<std::pair<std::string, std::string>> pairs_;
    std::map<std::string, double> seconds_;
};
