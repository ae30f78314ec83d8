#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Cross-builds the Windows program with MinGW-w64: build-windows/zrvmon.exe,
# one file that needs nothing on the PC beyond Windows itself.
# Usage: scripts/build-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh windows
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"
echo "built $(pwd)/build-windows/zrvmon.exe"
