#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the monitor and the simulator (zrvmon, zrvsim) in a build folder,
# first making sure the Debian packages for it are there. A new folder is
# configured as a release build without the tests.
# Usage: scripts/build.sh [build dir]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
scripts/deps.sh build
if [[ ! -f "$dir/CMakeCache.txt" ]]; then
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DZRV_TESTS=OFF >/dev/null
fi
cmake --build "$dir" -j "$(nproc)" --target zrvmon zrvsim >/dev/null
