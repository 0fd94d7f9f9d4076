#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Exactly the thirteen C functions are exported, under the SONAME callers link against.
set -euo pipefail
want="CheckSoftwareIsInstalled FindFont FontIsRegistered GetAppName GetAvailableFonts GetSoftwareFileFonts GetSoftwareFilePath RegisterFont SetAppName SetSoftwareBatchFonts SetSoftwareDoJs SetSoftwareFont UnRegisterFont libVRKFont.so.1"
have="$(nm -D --defined-only "$1" | awk '{print $NF}' | sort | xargs) $(readelf -d "$1" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')"
[ "$have" = "$want" ] || { echo "exported: [$have]"; echo "expected: [$want]"; exit 1; }
