#!/usr/bin/env bash
# Runs one cross-built test program under wine.
set -uo pipefail
source "$(dirname "$0")/common.sh"
exec wine "$1" --gtest_color=no </dev/null
