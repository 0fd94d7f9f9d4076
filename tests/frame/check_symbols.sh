#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The shared library exports exactly the thirteen C functions, under the SONAME
# that callers link against.
set -euo pipefail
lib=$1
want="CheckSoftwareIsInstalled FindFont FontIsRegistered GetAppName GetAvailableFonts GetSoftwareFileFonts GetSoftwareFilePath RegisterFont SetAppName SetSoftwareBatchFonts SetSoftwareDoJs SetSoftwareFont UnRegisterFont"
have=$(nm -D --defined-only "$lib" | awk '{print $NF}' | sort | tr '\n' ' ' | sed 's/ $//')
if [ "$have" != "$want" ]; then
  echo "exported: [$have]"; echo "expected: [$want]"; exit 1
fi
soname=$(readelf -d "$lib" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
[ "$soname" = "libVRKFont.so.1" ] || { echo "SONAME is '$soname'"; exit 1; }
echo "13 exports, SONAME $soname"
