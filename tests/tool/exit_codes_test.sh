#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The vrkfont tool's conventions: exit status, what goes to stdout and to stderr.
set -uo pipefail
tool=$(realpath "$1")
version=$(sed -n 's/^#define VRKFONT_VERSION_[A-Z]* //p' "$(dirname "$0")/../../include/vrkfont/VRKFont.h" | paste -sd.)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# A private session: registrations must not reach the user's own folders.
export HOME=$tmp XDG_RUNTIME_DIR=$tmp/run XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data XDG_DATA_DIRS=$tmp/no
mkdir -m 700 "$XDG_RUNTIME_DIR" && cd "$tmp" && printf 'not a font' >junk.ttf || exit 1
echo 'function getSoftwareFilePath(host) return "" end' >host.lua
failures=0

# STATUS STDOUT STDERR COMMAND...: status and stdout exactly, stderr by regex.
expect() {
  local out err status
  out=$("${@:4}" 2>stderr) && status=0 || status=$?
  err=$(<stderr)
  if [ "$status" != "$1" ] || [ "$out" != "$2" ] || ! [[ $err =~ ^($3)$ ]]; then
    printf 'FAIL: %s\n  status %s, stdout [%s], stderr [%s]\n' "${*:4}" "$status" "$out" "$err"
    failures=$((failures + 1))
  fi
}
nl=$'\n' && usage="vrkfont: [^$nl]+${nl}usage: vrkfont [^$nl]+"

expect 0 "vrkfont $version" '' "$tool" --version
expect 2 '' "usage: vrkfont [^$nl]+" "$tool"
for args in no-such-command --no-such-option 'find --no-such-option x' 'find --ps' find is-installed \
  'is-installed a b' 'apply-font VrkAlpha-Regular' 'fonts --table=yes'; do
  expect 2 '' "$usage" "$tool" $args
done
expect 0 '-x' '' "$tool" app-name -- -x
expect 0 '--help' '' "$tool" app-name -- --help
expect 1 '0' '' "$tool" is-installed org.example.Missing
expect 1 '(null)|-|(null)' 'vrkfont: no such font' "$tool" find --ps NoSuchFont-Regular
expect 1 '0|-|0' 'vrkfont: missing.ttf: No such file or directory
vrkfont: junk.ttf: not a font' "$tool" register missing.ttf junk.ttf
expect 1 '0' 'vrkfont: missing.ttf: No such file or directory' "$tool" is-registered --path missing.ttf
expect 1 '' 'vrkfont: no X server reachable \(DISPLAY is not set\)' \
  env -u DISPLAY "$tool" doc-path --script host.lua
expect 1 '' 'vrkfont: missing.lua: No such file or directory' "$tool" doc-path --script missing.lua
expect 1 '' 'vrkfont: ps.js: No such file or directory' "$tool" run-js --ps ps.js --script host.lua
# The table: a header row, then the fonts of the JSON list.
expect 0 "$("$tool" fonts | grep -c '"postscriptName"')" '' \
  bash -c "'$tool' fonts --table | tail -n +2 | wc -l"

# Progress for many files on a terminal only; the flags read the same.
files="junk1.ttf junk2.ttf junk3.ttf junk4.ttf junk5.ttf" && for f in $files; do printf x >"$f"; done
"$tool" register $files >plain.out 2>plain.err
script -qec "'$tool' register $files >tty.out" tty.log >/dev/null
if grep -q registering plain.err || ! grep -q 'registering 5/5' tty.log || ! cmp -s plain.out tty.out; then
  echo "FAIL: progress on stderr only when it is a terminal"
  failures=$((failures + 1))
fi
((failures == 0)) || { echo "$failures failed"; exit 1; }
echo "tool conventions hold"
