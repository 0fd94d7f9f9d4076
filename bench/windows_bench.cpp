// SPDX-License-Identifier: MIT
// EnumWindows over a few windows and over many on a private Xvfb. The list is
// fetched in batches, so the cost should hardly grow with the window count;
// the closing line gives the ratio of the two. The bad lists below must cost
// no more than an ordinary one; their peak memory is reported beside the time.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "RatioReporter.h"
#include "helper/WindowsHelper.h"
#include "support/XServer.h"

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

double PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

enum BadList { kDistinctIds, kOneWindowRepeated, kWideClassRepeated };

// A live manager whose stacking list is broken: a million ids that are no
// windows, one window a million times, or a window with a 10 MB WM_CLASS
// sixty times in front of a host.
void BM_EnumWindowsBadStacking(benchmark::State& state) {
  vrk::xtest::Client client;
  xcb_window_t check = client.Create();
  client.SetCardinals(check, "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
  client.SetCardinals(client.root(), "_NET_SUPPORTING_WM_CHECK", XCB_ATOM_WINDOW, {check});
  client.SetAtoms(client.root(), "_NET_SUPPORTED", {"_NET_CLIENT_LIST_STACKING"});
  std::vector<uint32_t> stacking;
  switch (state.range(0)) {
    case kDistinctIds:
      stacking.push_back(client.App("Adobe Photoshop"));
      for (uint32_t i = 0; i < 1000000; ++i) stacking.push_back(0x7F000000 + i);
      break;
    case kOneWindowRepeated:
      stacking.assign(1000000, client.App("Finder"));
      break;
    case kWideClassRepeated: {
      stacking.push_back(client.App("Adobe Photoshop"));
      xcb_window_t wide = client.App(std::string(10 << 20, 'w'));
      stacking.insert(stacking.end(), 60, wide);
      break;
    }
  }
  client.SetCardinals(client.root(), "_NET_CLIENT_LIST_STACKING", XCB_ATOM_WINDOW, stacking);
  client.Sync();
  stacking = {};
  double before = PeakMegabytes();
  for (auto _ : state) {
    vrk::Json result = vrk::WindowsHelper::EnumWindows();
    benchmark::DoNotOptimize(result);
  }
  state.counters["peakMB"] = PeakMegabytes();
  state.counters["growthMB"] = PeakMegabytes() - before;
}
BENCHMARK(BM_EnumWindowsBadStacking)
    ->Arg(kDistinctIds)
    ->Arg(kOneWindowRepeated)
    ->Arg(kWideClassRepeated)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  vrk::xtest::Xvfb server;
  g_server = &server;
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter("3", "300", "EnumWindows 300 windows / 3 windows");
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
