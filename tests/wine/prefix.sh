#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes the wine prefix the run's tests share (seconds and a few hundred MB:
# once per build folder, not once per test).
set -euo pipefail
source "$(dirname "$0")/common.sh"
: "${WINEPREFIX:?}"
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  wineboot -i </dev/null
  wineserver -w
fi
wine_server_up
echo "wine prefix $WINEPREFIX ready ($(wine --version))"
