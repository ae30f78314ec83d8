#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds everything and runs every test (unit, scenario, end-to-end).
# Usage: scripts/test.sh [default|asan]
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
scripts/deps.sh test
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset" -j "$(nproc)"
