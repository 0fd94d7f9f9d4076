#!/usr/bin/env bash
# Sets up the machine, builds, and runs the main job: the vrkfont tool listing
# every available font as JSON.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target vrkfont >/dev/null
./build/tools/vrkfont fonts
