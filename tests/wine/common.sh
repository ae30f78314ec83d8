# SPDX-License-Identifier: MIT
# Sourced by the wine test scripts: a missing wine is a skip with one clear
# line, except in CI, where these tests must run.
if ! command -v wine >/dev/null; then
  echo "SKIP: wine is not installed (scripts/deps.sh test installs it)"
  [[ "${CI:-}" == true ]] && exit 1
  exit 77
fi
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
