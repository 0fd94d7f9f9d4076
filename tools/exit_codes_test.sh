#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The tool's conventions: exit status, what goes to stdout and to stderr.
#   exit_codes_test.sh PATH/TO/vrkfont
set -uo pipefail
tool=$(realpath "$1")
header=$(realpath "$(dirname "$0")/../include/vrkfont/VRKFont.h")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A private session: registrations must not reach the user's own folders.
export HOME=$tmp/home XDG_RUNTIME_DIR=$tmp/run XDG_CONFIG_HOME=$tmp/home/.config \
  XDG_DATA_HOME=$tmp/home/.local/share XDG_DATA_DIRS=$tmp/none
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
cd "$tmp" || exit 1
printf 'not a font' >junk.ttf
printf 'function getSoftwareFilePath(host) return "" end\n' >host.lua
failures=0

# expect STATUS STDOUT STDERR-PATTERN -- COMMAND...: the exit status and stdout
# exactly, stderr matched as an extended regular expression over its one line.
expect() {
  local want_status=$1 want_out=$2 want_err=$3
  shift 4
  local out err status
  out=$("$@" 2>"$tmp/stderr")
  status=$?
  err=$(cat "$tmp/stderr")
  if [ "$status" != "$want_status" ] || [ "$out" != "$want_out" ] ||
    ! [[ $err =~ ^($want_err)$ ]]; then
    echo "FAIL: $*"
    echo "  status $status (want $want_status)"
    echo "  stdout [$out] (want [$want_out])"
    echo "  stderr [$err] (want /$want_err/)"
    failures=$((failures + 1))
  fi
}
usage='vrkfont: [^
]+
usage: vrkfont [^
]+'
version=$(sed -n 's/^#define VRKFONT_VERSION_\(MAJOR\|MINOR\|PATCH\) //p' "$header" | paste -sd.)

expect 0 "vrkfont $version" '' -- "$tool" --version
expect 2 '' 'usage: vrkfont [^
]+' -- "$tool"
expect 2 '' "$usage" -- "$tool" no-such-command
expect 2 '' "$usage" -- "$tool" --no-such-option
expect 2 '' "$usage" -- "$tool" find --no-such-option x
expect 2 '' "$usage" -- "$tool" find --ps
expect 2 '' "$usage" -- "$tool" find
expect 2 '' "$usage" -- "$tool" is-installed
expect 2 '' "$usage" -- "$tool" is-installed a b
expect 2 '' "$usage" -- "$tool" register
expect 2 '' "$usage" -- "$tool" apply-font VrkAlpha-Regular
expect 2 '' "$usage" -- "$tool" fonts --table=yes
expect 0 '-x' '' -- "$tool" app-name -- -x
expect 0 '--help' '' -- "$tool" app-name -- --help
expect 1 '0' '' -- "$tool" is-installed org.example.Missing
expect 1 '(null)|-|(null)' 'vrkfont: no such font' -- "$tool" find --ps NoSuchFont-Regular
expect 1 '0|-|0' "vrkfont: missing.ttf: No such file or directory
vrkfont: junk.ttf: not a font" -- "$tool" register missing.ttf junk.ttf
expect 1 '0' 'vrkfont: missing.ttf: No such file or directory' \
  -- "$tool" is-registered --path missing.ttf
expect 1 '' 'vrkfont: no X server reachable \(DISPLAY is not set\)' \
  -- env -u DISPLAY "$tool" doc-path --script host.lua
expect 1 '' 'vrkfont: missing.lua: No such file or directory' \
  -- "$tool" doc-path --script missing.lua
expect 1 '' 'vrkfont: ps.js: No such file or directory' \
  -- "$tool" run-js --ps ps.js --script host.lua
# The table has a header row and the same fonts as the JSON.
expect 0 "$("$tool" fonts | grep -c '"postscriptName"')" '' \
  -- bash -c "'$tool' fonts --table | tail -n +2 | wc -l"

# Progress for many files on a terminal only; the flags read the same.
for i in 1 2 3 4 5; do printf 'x' >"junk$i.ttf"; done
files=(junk1.ttf junk2.ttf junk3.ttf junk4.ttf junk5.ttf)
"$tool" register "${files[@]}" >plain.out 2>plain.err
script -qec "'$tool' register ${files[*]} >tty.out" tty.log >/dev/null
if grep -q 'registering' plain.err || ! grep -q 'registering 5/5' tty.log ||
  ! cmp -s plain.out tty.out; then
  echo "FAIL: progress on stderr only when it is a terminal"
  failures=$((failures + 1))
fi

if ((failures)); then
  echo "$failures failed"
  exit 1
fi
echo "tool conventions hold"
