#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs one cross-built test program under wine.
set -uo pipefail
source "$(dirname "$0")/common.sh"
exec wine "$1" --gtest_color=no </dev/null
