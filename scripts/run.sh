#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets up the machine, builds, and runs the main job: the vrkfont tool listing
# every available font as JSON. Only the tool's answer goes to stdout; set-up
# and build output go to stderr.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh --run
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
cmake --build build -j"$(nproc)" --target vrkfont >&2
exec ./build/tools/vrkfont fonts
