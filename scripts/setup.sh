#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the benchmarks need.
# Idempotent: does nothing when everything is already there.
set -euo pipefail

PKGS=(
  cmake g++ make pkg-config clang clang-format
  nlohmann-json3-dev libfontconfig-dev fontconfig
  libxcb1-dev libxau-dev libxcb-ewmh-dev libxcb-icccm4-dev xvfb x11-utils
  liblua5.4-dev lua5.4
  libgtest-dev libgmock-dev libbenchmark-dev libclang-rt-14-dev
  python3 python3-fonttools
  valgrind time
  wine wine64 gcc-mingw-w64-x86-64 binutils-mingw-w64-x86-64
)

missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# The machine may carry its own Node.js build with npm inside; Debian's npm conflicts with it.
command -v node >/dev/null && command -v npm >/dev/null || missing+=(nodejs npm)

if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
