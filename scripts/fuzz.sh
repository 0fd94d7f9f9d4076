#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer targets with clang (ASan+UBSan) and runs each for a
# bounded time from its seed corpus. A finding fails the run.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

bash scripts/setup.sh
cmake -S . -B build-fuzz -DVRK_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVRK_BUILD_TESTS=OFF -DVRK_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for fuzzer in build-fuzz/fuzz/*_fuzzer; do
  name=$(basename "$fuzzer" _fuzzer)
  mkdir -p "$work/$name"
  cp fuzz/corpus/"$name"/* "$work/$name/" 2>/dev/null || true
  echo "== $name: ${seconds}s"
  "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=4096 -max_len=65536 \
    -artifact_prefix="$work/$name-" -print_final_stats=1 "$work/$name" 2>"$work/$name.log" || {
    tail -50 "$work/$name.log"
    echo "fuzzer $name found a failure"
    exit 1
  }
  grep -E 'stat::number_of_executed_units' "$work/$name.log" || true
done
echo "fuzzing: every target ran ${seconds}s without a finding"
