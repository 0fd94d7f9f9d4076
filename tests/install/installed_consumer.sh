#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the build ($1) into a temporary prefix and builds consumer.c against
# it, through pkg-config and through find_package.
set -euxo pipefail
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$1" --prefix "$tmp/prefix" >/dev/null
libdir=$(dirname "$(find "$tmp/prefix" -name libVRKFont.so.1.0.0)")
[ -L "$libdir/libVRKFont.so" ] && [ -L "$libdir/libVRKFont.so.1" ] && [ -f "$tmp/prefix/include/vrkfont/VRKFont.h" ]
export PKG_CONFIG_PATH=$libdir/pkgconfig LD_LIBRARY_PATH=$libdir
cc -std=c99 -Wall -Wextra -Werror "$2/consumer.c" -o "$tmp/by-pkg-config" $(pkg-config --cflags --libs vrkfont)
"$tmp/by-pkg-config"
mkdir "$tmp/src" && cp "$2/consumer.c" "$tmp/src" && cp "$2/CMakeLists.consumer.txt" "$tmp/src/CMakeLists.txt"
cmake -S "$tmp/src" -B "$tmp/build" -DCMAKE_PREFIX_PATH="$tmp/prefix" >/dev/null
cmake --build "$tmp/build" >/dev/null && "$tmp/build/consumer"
