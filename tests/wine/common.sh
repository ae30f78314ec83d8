# SPDX-License-Identifier: MIT
# Sourced by the wine test scripts: a missing wine is a skip with one clear
# line, except in CI, where these tests must run.
if ! command -v wine >/dev/null; then
  echo "SKIP: wine is not installed (scripts/deps.sh test installs it)"
  [[ "${CI:-}" == true ]] && exit 1
  exit 77
fi
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# wine_server_up: a wineserver that stays up between the tests (a cleanup
# test ends it). A cold one sets the prefix's services up again, and under
# load wine then now and then fails to start a program at all. The services
# start with the first program and hold its output: here, not in a test.
wine_server_up() {
  wineserver -p </dev/null >/dev/null 2>&1 || return 0
  wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
}
