// SPDX-License-Identifier: MIT
// Console output plus one line comparing two runs of a benchmark, named by
// their argument: how many times longer the `high` run took than the `low`.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter(std::string low, std::string high, std::string label)
      : low_(std::move(low)), high_(std::move(high)), label_(std::move(label)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.iterations > 0) perIteration_[run.run_name.args] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    if (perIteration_.count(low_) && perIteration_.count(high_)) {
      std::printf("%s: %.2f\n", label_.c_str(), perIteration_[high_] / perIteration_[low_]);
    }
  }

 private:
  std::string low_, high_, label_;
  std::map<std::string, double> perIteration_;
};
