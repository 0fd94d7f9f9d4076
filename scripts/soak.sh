#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Calls each export many times against the real platform and prints resident
# memory, open descriptors and X connections before and after; growth fails.
#   scripts/soak.sh [CALLS_PER_EXPORT] [BUILD_DIR]   (defaults 10000, build)
set -euo pipefail
cd "$(dirname "$0")/.."
calls=${1:-10000}
build=${2:-build}

bash scripts/setup.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target vrkfont_soak
"$build"/bench/vrkfont_soak "$calls"
