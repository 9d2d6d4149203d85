// The record manager's benchmarks end with the ratio of each operation on
// our store to the same work in plain statements of the engine beneath it:
// BM_<op>Ours against BM_<op>Plain, by wall and by CPU time per iteration.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace kestrova {

class OursPlainReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      wall_[run.benchmark_name()] = run.GetAdjustedRealTime();
      cpu_[run.benchmark_name()] = run.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // `plain` names the engine in the heading ("SQLite", "libpq").
  void PrintRatios(const char* plain) const {
    std::printf("\nratio ours / plain %s (lower is better):  wall   cpu\n", plain);
    for (const char* op : {"Step", "Equal", "Update"}) {
      PrintRatio(op, std::string("BM_") + op + "Ours", std::string("BM_") + op + "Plain");
    }
  }

  // One line: the time of `over` divided by the time of `under`, when both ran.
  void PrintRatio(const char* label, const std::string& over, const std::string& under) const {
    const auto a = wall_.find(over);
    const auto b = wall_.find(under);
    if (a == wall_.end() || b == wall_.end() || b->second <= 0) return;
    std::printf("  %-44s %5.2f %5.2f\n", label, a->second / b->second, cpu_.at(over) / cpu_.at(under));
  }

 private:
  std::map<std::string, double> wall_;
  std::map<std::string, double> cpu_;
};

}  // namespace kestrova
