#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a command once koffi is installed from the lock file; the lock keeps
# parallel tests from running npm ci into the same folder.
set -euo pipefail
cd "$(dirname "$0")"
flock "${TMPDIR:-/tmp}/vrkfont-npm-ci.lock" bash -c '[ -d node_modules/koffi ] || npm ci --no-audit --no-fund >&2'
exec "$@"
