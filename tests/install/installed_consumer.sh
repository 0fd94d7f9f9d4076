#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
set -euo pipefail
build=$1
src=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
libdir=$(dirname "$(find "$tmp/prefix" -name 'libVRKFont.so.1.0.0' | head -1)")
for link in libVRKFont.so libVRKFont.so.1; do
  [ -L "$libdir/$link" ] || { echo "missing $link"; exit 1; }
done
[ -f "$tmp/prefix/include/vrkfont/VRKFont.h" ] || { echo "missing header"; exit 1; }

# pkg-config
export PKG_CONFIG_PATH="$libdir/pkgconfig"
cc -std=c99 -Wall -Wextra -Werror "$src/consumer.c" -o "$tmp/by-pkg-config" \
  $(pkg-config --cflags --libs vrkfont)
LD_LIBRARY_PATH="$libdir" "$tmp/by-pkg-config"

# find_package
mkdir -p "$tmp/cmake-src"
cp "$src/consumer.c" "$tmp/cmake-src/"
cp "$src/CMakeLists.consumer.txt" "$tmp/cmake-src/CMakeLists.txt"
cmake -S "$tmp/cmake-src" -B "$tmp/cmake-build" -DCMAKE_PREFIX_PATH="$tmp/prefix" >/dev/null
cmake --build "$tmp/cmake-build" >/dev/null
"$tmp/cmake-build/consumer"
echo "installed library consumed through pkg-config and find_package"
