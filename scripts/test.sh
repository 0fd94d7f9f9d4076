#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets up the machine, builds, and runs every test. This is the development
# and CI build, so compiler warnings are errors here.
#   scripts/test.sh              the normal build (build/)
#   scripts/test.sh --sanitize   the same tests under ASan+UBSan (build-asan/)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

build=build
extra=()
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  extra=(-DVRK_SANITIZE=ON -DVRK_BUILD_BENCH=OFF)
  # Whole allocation stacks, so that scripts/lsan.supp can name the library at fault.
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp:print_suppressions=0}
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVRK_WERROR=ON "${extra[@]}"
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
