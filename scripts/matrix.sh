#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The build matrix of CI: the library, the tool and the logic tests, warnings
# as errors, for each compiler and build type, plus an arm64 cross build whose
# tests run under qemu-user. Each entry runs the tests that need no outside
# service (no X server, no Node.js, no generated fonts); scripts/test.sh runs
# every test in the main build.
#   scripts/matrix.sh [ENTRY...]
#   ENTRY: gcc-Release gcc-Debug clang-Release clang-Debug arm64-Release
#   (default: all five)
set -euo pipefail
cd "$(dirname "$0")/.."

entries=("$@")
((${#entries[@]})) || entries=(gcc-Release gcc-Debug clang-Release clang-Debug arm64-Release)

targets=(VRKFont vrkfont frame_tests font_helper_tests software_tests windows_tests)
# GoogleTest cases are named Suite.Case; the X11 suites need an X server.
logic=(-R '\.|^tool_exit_codes$' -E '(^|/)X11')

summary=()
bash scripts/setup.sh
times=$(mktemp)
trap 'rm -f "$times"' EXIT
TIMEFORMAT='%0R %0U %0S'
for entry in "${entries[@]}"; do
  compiler=${entry%-*}
  type=${entry#*-}
  build=build-matrix/$entry
  options=(-DCMAKE_BUILD_TYPE="$type" -DVRK_WERROR=ON -DVRK_BUILD_BENCH=OFF)
  tests=("${logic[@]}")
  case $compiler in
    gcc) options+=(-DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++) ;;
    clang) options+=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
    arm64)
      bash scripts/setup.sh --arm64
      options+=(-DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake)
      # The tool's test runs programs natively; a stress test of many threads
      # on one lock starves its writer under qemu (ThreadSanitizer covers it);
      # the caller-window test starts an X server, which an arm64 process
      # under qemu cannot run; the deep-answer test's 100 MB answers outlast
      # the time limit under emulation.
      tests=(-R '\.' -E '(^|/)X11|Concurrent|CallerWindows|DeepAnswers')
      ;;
    *) echo "unknown entry $entry" >&2; exit 2 ;;
  esac
  echo "== $entry"
  { time {
    cmake -S . -B "$build" "${options[@]}" >/dev/null
    cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
    ctest --test-dir "$build" --output-on-failure -j"$(nproc)" "${tests[@]}"
  } 2>&3; } 3>&2 2>"$times"
  read -r real user sys <"$times"
  summary+=("$(printf '%-14s %5ds wall %5ds cpu' "$entry" "$real" $((user + sys)))")
done
printf '%s\n' "matrix:" "${summary[@]}"
