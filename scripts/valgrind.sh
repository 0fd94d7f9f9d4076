#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the integration tests under valgrind's memcheck, each test in its own
# process as ctest runs them. A definite leak or a memory error fails.
#   scripts/valgrind.sh [BUILD_DIR] [TEST_EXECUTABLE...]
#   (default build, and every *_tests executable but the concurrency one,
#   which ThreadSanitizer covers: scripts/tsan.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
targets=("$@")

bash scripts/setup.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if ((${#targets[@]})); then
  cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >/dev/null
else
  cmake --build "$build" -j"$(nproc)" >/dev/null
  mapfile -t targets < <(find "$build/tests" -type f -executable -name '*_tests' \
    ! -name concurrency_tests -printf '%f\n' | sort)
fi

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
for target in "${targets[@]}"; do
  exe=$(find "$build/tests" -type f -executable -name "$target" | head -1)
  [ -n "$exe" ] || { echo "no test executable $target"; exit 1; }
  # "Suite." lines, then "  Name" lines (comments after "#").
  "$exe" --gtest_list_tests | awk '/^[^ ]/ {suite=$1} /^  / {print suite $1}' |
    sed "s|^|$exe |"
done >"$logs/tests"
echo "valgrind: $(wc -l <"$logs/tests") tests"

run_one() {
  local exe=$1 test=$2 log
  log="$3/$(basename "$exe")-${test//\//_}.log"
  if valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite \
    --errors-for-leak-kinds=definite --error-exitcode=99 --child-silent-after-fork=yes \
    --num-callers=30 "$exe" --gtest_filter="$test" >"$log" 2>&1; then
    echo "ok   $test"
  else
    echo "FAIL $test"
    tail -60 "$log"
    return 1
  fi
}
export -f run_one
failed=0
xargs -P"$(nproc)" -L1 bash -c 'run_one "$0" "$1" "'"$logs"'"' <"$logs/tests" || failed=1
if ((failed)); then
  echo "valgrind: a test failed or leaked"
  exit 1
fi
echo "valgrind: no memory error and no definite leak"
