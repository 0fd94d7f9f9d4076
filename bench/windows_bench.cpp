// EnumWindows over a few windows and over many on a private Xvfb. The list is
// fetched in batches, so the cost should hardly grow with the window count;
// the closing line gives the ratio of the two.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "../tests/windows/XServer.h"
#include "helper/WindowsHelper.h"

namespace {

vrk::xtest::Xvfb* g_server = nullptr;

void BM_EnumWindows(benchmark::State& state) {
  // Windows go with the client's connection, so each size starts clean.
  vrk::xtest::Client client;
  for (int64_t i = 0; i < state.range(0); ++i) client.App("Application " + std::to_string(i));
  for (auto _ : state) {
    vrk::Json result = vrk::WindowsHelper::EnumWindows();
    if (result.value("unsupportedAppNames", "") == "") state.SkipWithError("no windows seen");
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_EnumWindows)->Arg(3)->Arg(300)->Unit(benchmark::kMicrosecond);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.iterations > 0) perIteration_[run.run_name.args] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    if (perIteration_.count("3") && perIteration_.count("300")) {
      std::printf("EnumWindows 300 windows / 3 windows: %.2f\n",
                  perIteration_["300"] / perIteration_["3"]);
    }
  }

 private:
  std::map<std::string, double> perIteration_;
};

}  // namespace

int main(int argc, char** argv) {
  vrk::xtest::Xvfb server;
  g_server = &server;
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
