#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the concurrency tests with ThreadSanitizer and runs them; a reported
# race fails the run.
#   scripts/tsan.sh [BUILD_DIR]   (default build-tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-tsan}

bash scripts/setup.sh
cmake -S . -B "$build" -DVRK_TSAN=ON -DVRK_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target concurrency_tests
# Races inside other libraries are theirs; scripts/tsan.supp names each one.
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp}
# Without address randomisation: some kernels randomise more than this
# ThreadSanitizer's memory layout allows.
setarch "$(uname -m)" -R ctest --test-dir "$build" -L concurrency --output-on-failure
