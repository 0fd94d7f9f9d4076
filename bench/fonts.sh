#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Compares the font commands of the vrkfont tool with fontconfig's own tools
# over a generated corpus, in a private fontconfig configuration and private
# XDG folders (the user's fonts are never touched):
#   listing  `vrkfont fonts`         vs `fc-list` asked for the same four fields
#   lookup   `vrkfont find --ps`     vs `fc-match :postscriptname=`
#   register `vrkfont register` of 1,000 (and 10,000) files vs `fc-scan`, wall and cpu
#   memory   peak RSS of `vrkfont fonts` as the number of fonts grows
# and, inside one process through the shared library (bench/font_calls.c), the
# median cost of each font export called again with nothing changed, and the
# freshness check that each of them makes (bench/fontconfig_bench.cpp).
#
# The corpus is generated once into VRK_BENCH_CORPUS (default
# /tmp/vrkfont-bench-corpus), grown when more faces are asked for, and reused
# with its fontconfig cache.
#
# usage: bench/fonts.sh BUILD_DIR [FACES] [RUNS]
set -euo pipefail

build=$(cd "${1:?usage: fonts.sh BUILD_DIR [FACES] [RUNS]}" && pwd)
faces=${2:-2000}
runs=${3:-15}
here=$(cd "$(dirname "$0")" && pwd)
tool="$build/tools/vrkfont"
python=${VRK_FONT_PYTHON:-/usr/bin/python3}
[ -x "$tool" ] || { echo "no $tool; build the vrkfont target first" >&2; exit 2; }

calls="$build/bench/font_calls"
fresh="$build/bench/fontconfig_bench"
[ -x "$calls" ] && [ -x "$fresh" ] || {
  echo "no $calls or $fresh; build the font_calls and fontconfig_bench targets first" >&2
  exit 2
}
corpus=${VRK_BENCH_CORPUS:-/tmp/vrkfont-bench-corpus}

root=$(mktemp -d /tmp/vrkfont-bench-XXXXXX)
# The runtime directory is a tmpfs on a desktop; /dev/shm is one too.
run=$(mktemp -d "$([ -d /dev/shm ] && echo /dev/shm || echo "$root")/vrkfont-bench-run-XXXXXX")
trap 'rm -rf "$root" "$run"' EXIT
mkdir -p "$root"/{home,config,data,cache}
chmod 700 "$run"
export HOME="$root/home" XDG_CONFIG_HOME="$root/config" XDG_DATA_HOME="$root/data"
export XDG_CACHE_HOME="$root/cache" XDG_RUNTIME_DIR="$run"
unset FONTCONFIG_PATH FONTCONFIG_SYSROOT

# 500 faces a folder: the listing corpus, then 1,000 files to register.
listed=$(((faces + 499) / 500))
total=$((listed * 500 + 1000))
last=$(printf '%s/d%02d/VrkBench%05d-Regular.ttf' "$corpus" $(((total - 1) / 500)) $((total - 1)))
if [ ! -e "$last" ]; then
  echo "generating $total fonts into $corpus..."
  "$python" "$here/../tests/fonts/gen_fonts.py" "$corpus" --corpus "$total"
fi

use_folders() {  # use_folders N: a configuration listing the first N folders
  local conf="$root/fonts-$1.conf" i
  {
    echo '<?xml version="1.0"?><fontconfig>'
    for ((i = 2; i < $1 + 2; i++)); do printf '<dir>%s/d%02d</dir>\n' "$corpus" "$i"; done
    echo "<cachedir>$corpus/fc-cache</cachedir>"
    echo '<include ignore_missing="yes" prefix="xdg">fontconfig/conf.d</include></fontconfig>'
  } >"$conf"
  export FONTCONFIG_FILE="$conf"
  fc-list >/dev/null  # warm the caches, as on any desktop
}

# compare RUNS OURS... -- THEIRS...: the median wall times in milliseconds of
# both commands, run in turns so that a busy machine slows both alike
compare() {
  local ours=() theirs=() a=() b=() i
  while [ "$1" != "--" ]; do a+=("$1"); shift; done
  shift
  b=("$@")
  for ((i = 0; i < runs; i++)); do
    ours+=($(elapsed_us "${a[@]}"))
    theirs+=($(elapsed_us "${b[@]}"))
  done
  echo "$(median "${ours[@]}") $(median "${theirs[@]}")"
}
elapsed_us() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  echo $(((end - start) / 1000))
}
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {printf "%.2f", a[int((NR+1)/2)]/1000}'; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
report() {  # report LABEL "OURS THEIRS" TARGET
  set -- "$1" ${2} "$3"
  printf '%-36s %9s ms %9s ms   ratio %s (target <= %s)\n' "$1" "$2" "$3" "$(ratio "$2" "$3")" "$4"
}

use_folders "$listed"
count=$("$tool" fonts | grep -c '"postscriptName"')
echo "listing $count faces; median of $runs runs"
printf '%-34s %12s %12s\n' "" "vrkfont" "fontconfig"

fc4=(fc-list --format '%{file}|%{postscriptname}|%{family}|%{style}\n')
report "fonts vs fc-list (4 fields)" "$(compare "$tool" fonts -- "${fc4[@]}")" 1.0

name=$(printf 'VrkBench%05d-Regular' $((listed * 500 + 1000 - 7)))
report "find vs fc-match" "$(compare "$tool" find --ps "$name" -- \
  fc-match ":postscriptname=$name" file family)" 1.0

# cpu RUNS CMD...: the median user+system milliseconds of the command
cpu() {
  local times=() i
  for ((i = 0; i < runs; i++)); do
    times+=($(/usr/bin/time -f '%U %S' "$@" 2>&1 >/dev/null | tail -1 |
      awk '{printf "%d", ($1 + $2) * 1000000}'))
  done
  median "${times[@]}"
}

# Registering waits, once per call, for the next second on the clock so that
# running programs see the change (as fc-cache sleeps after its changes): the
# wall time carries that wait, the processor time does not.
register_vs_scan() {  # register_vs_scan LABEL FILE...
  local label=$1
  shift
  local flags
  flags=$("$tool" register "$@")
  [ "$(grep -o 1 <<<"$flags" | wc -l)" = $# ] || { echo "registration failed" >&2; exit 1; }
  "$tool" unregister "$@" >/dev/null
  # Registering again what is registered does the whole work again, but
  # changes no link, so it never waits.
  report "$label again vs fc-scan, wall" "$(compare "$tool" register "$@" -- fc-scan "$@")" 1.2
  local first=() scan=() i
  for ((i = 0; i < runs; i++)); do
    "$tool" unregister "$@" >/dev/null
    first+=($(elapsed_us "$tool" register "$@"))
    scan+=($(elapsed_us fc-scan "$@"))
  done
  report "$label first vs fc-scan, wall" "$(median "${first[@]}") $(median "${scan[@]}")" 1.2
  local ours theirs
  ours=$(cpu "$tool" register "$@")
  "$tool" unregister "$@" >/dev/null
  theirs=$(cpu fc-scan "$@")
  report "$label vs fc-scan, cpu" "$ours $theirs" 1.2
}
mapfile -t files < <(ls -d "$corpus"/d00/* "$corpus"/d01/* | head -1000)
register_vs_scan "register 1000" "${files[@]}"
if ((listed * 500 >= 10000)); then
  mapfile -t many < <(ls -d "$corpus"/d*/* | head -10000)
  register_vs_scan "register 10000" "${many[@]}"
fi

echo "in one process, $count faces (median ms of repeated calls, nothing changed between them):"
"$calls" "${files[0]}" "$name" "Vrk Bench ${name:8:5}"
"$fresh" --benchmark_min_time=0.5 2>/dev/null | awk '/^BM_/ {printf "  %-44s %10.4f ms\n", "freshness check per call", $2 / 1000}'

echo "peak memory of 'vrkfont fonts':"
for n in $( (for ((n = 1; n < listed; n *= 2)); do echo $n; done; echo "$listed") | sort -nu); do
  use_folders "$n"
  kb=$(/usr/bin/time -f %M "$tool" fonts 2>&1 >/dev/null | tail -1)
  fc=$(/usr/bin/time -f %M "${fc4[@]}" 2>&1 >/dev/null | tail -1)
  printf '  %5d faces: %6d KiB   (fc-list %6d KiB)\n' $((n * 500)) "$kb" "$fc"
done
