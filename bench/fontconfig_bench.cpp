// SPDX-License-Identifier: MIT
// The freshness check that every font call makes before it answers, with
// nothing changed, over whatever configuration the environment names
// (bench/fonts.sh runs it over its corpus).
#include <benchmark/benchmark.h>

#include <mutex>

#include "platform/linux/Fontconfig.h"

namespace {

void BM_FreshnessCheck(benchmark::State& state) {
  static vrk::platform::Fontconfig fc;
  std::lock_guard<std::mutex> lock(vrk::platform::Fontconfig::Mutex());
  fc.Current();
  for (auto _ : state) benchmark::DoNotOptimize(fc.Current());
}
BENCHMARK(BM_FreshnessCheck)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
