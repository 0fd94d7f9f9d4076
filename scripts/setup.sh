#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages for one purpose; idempotent, and quiet on
# stdout (everything it prints goes to stderr).
#   scripts/setup.sh [--test]   building, and running every test and benchmark
#   scripts/setup.sh --run      building the library and running the tool only
#   scripts/setup.sh --arm64    cross-building for arm64 and running under qemu
#   scripts/setup.sh --deb      building and checking the Debian packages
set -euo pipefail
exec >&2

RUN=(
  cmake g++ make pkg-config
  nlohmann-json3-dev libfontconfig-dev
  libxcb1-dev libxau-dev libxcb-ewmh-dev libxcb-icccm4-dev
  liblua5.4-dev
)
TEST=(
  "${RUN[@]}" clang clang-format fontconfig xvfb x11-utils lua5.4
  libgtest-dev libgmock-dev libbenchmark-dev libclang-rt-14-dev
  python3 python3-fonttools valgrind time
)
ARM64=(
  g++-aarch64-linux-gnu qemu-user
  libfontconfig-dev:arm64 libxcb1-dev:arm64 libxau-dev:arm64 libxcb-ewmh-dev:arm64
  libxcb-icccm4-dev:arm64 liblua5.4-dev:arm64 libgtest-dev:arm64 libgmock-dev:arm64
)
DEB=("${RUN[@]}" dpkg-dev debhelper fakeroot lintian)

purpose=${1:---test}
case $purpose in
  --run) PKGS=("${RUN[@]}") ;;
  --test) PKGS=("${TEST[@]}") ;;
  --arm64) PKGS=("${ARM64[@]}") ;;
  --deb) PKGS=("${DEB[@]}") ;;
  *) echo "usage: scripts/setup.sh [--run|--test|--arm64|--deb]"; exit 2 ;;
esac

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
updated=false
if [ "$purpose" = --arm64 ] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
  $SUDO dpkg --add-architecture arm64
  $SUDO apt-get update -qq
  updated=true
fi

missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

# The machine may carry its own Node.js build with npm inside; Debian's npm conflicts with it.
if [ "$purpose" = --test ]; then
  command -v node >/dev/null && command -v npm >/dev/null || missing+=(nodejs npm)
fi

if ((${#missing[@]})); then
  $updated || $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
