#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian packages the Debian way (dpkg-buildpackage on a copy of
# the tree), checks them with lintian, unpacks them into a scratch root and
# builds the installed-consumer program against that root, through
# pkg-config and through find_package. The packages are left in build-deb/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh --deb
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# dpkg-buildpackage writes its results next to the source tree.
mkdir "$work/vrkfont"
tar -C . --exclude='./build*' --exclude=./.git --exclude='*/node_modules' -cf - . |
  tar -C "$work/vrkfont" -xf -
(cd "$work/vrkfont" && dpkg-buildpackage -us -uc -b -j"$(nproc)") >"$work/build.log" 2>&1 || {
  tail -60 "$work/build.log"
  echo "dpkg-buildpackage failed"
  exit 1
}
rm -rf build-deb && mkdir build-deb
cp "$work"/*.deb "$work"/*.changes "$work"/*.buildinfo build-deb/

echo "== lintian"
lintian --fail-on error --info build-deb/*.changes || {
  echo "lintian reports errors"
  exit 1
}

echo "== packages"
for deb in build-deb/*.deb; do
  dpkg-deb -f "$deb" Package Version Architecture Multi-Arch Depends | sed 's/^/  /'
  dpkg-deb -x "$deb" "$work/root"
done
want="CheckSoftwareIsInstalled FindFont FontIsRegistered GetAppName GetAvailableFonts GetSoftwareFileFonts GetSoftwareFilePath RegisterFont SetAppName SetSoftwareBatchFonts SetSoftwareDoJs SetSoftwareFont UnRegisterFont"
have=$(dpkg-deb -I build-deb/libvrkfont1_*.deb symbols | awk '/@Base/ {sub(/@Base/, "", $1); print $1}' | sort | paste -sd' ')
[ "$have" = "$want" ] || { echo "symbols file: [$have]"; exit 1; }

echo "== consumer"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
libdir=$work/root/usr/lib/$multiarch
export LD_LIBRARY_PATH=$libdir
cc -std=c99 -Wall -Wextra -Werror tests/install/consumer.c -o "$work/by-pkg-config" \
  $(PKG_CONFIG_LIBDIR=$libdir/pkgconfig pkg-config --cflags --libs vrkfont)
"$work/by-pkg-config"
mkdir "$work/cmake-src"
cp tests/install/consumer.c "$work/cmake-src/"
cp tests/install/CMakeLists.consumer.txt "$work/cmake-src/CMakeLists.txt"
cmake -S "$work/cmake-src" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$work/root/usr" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
"$work/cmake-build/consumer"
"$work/root/usr/bin/vrkfont" --version
echo "packages built, lintian-clean, and consumed from a scratch root"
