#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds (if needed), starts the controller simulator on a pseudo-terminal
# and runs the monitor attached to it in this terminal. Type 1 at the
# "Enter Comport " prompt. The simulator stops when the monitor ends.
# Extra arguments go to the simulator (see build/zrvsim --help), e.g.
#   scripts/demo.sh --variant 2 --relay-set 604
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh build

dir=$(mktemp -d "${TMPDIR:-/tmp}/zrvdemo.XXXXXX")
link="$dir/ttyZRV"
build/zrvsim --link "$link" --trace "$dir/wire.log" "$@" >"$dir/zrvsim.out" 2>&1 &
sim=$!
cleanup() {
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
for _ in $(seq 50); do
  [[ -e "$link" ]] && break
  sleep 0.1
done
if [[ ! -e "$link" ]]; then
  echo "The simulator did not start:" >&2
  cat "$dir/zrvsim.out" >&2
  exit 1
fi
echo "Simulator on $link (COM1). Type 1 at the prompt; Esc quits."
sleep 1
status=0
ZRVMON_COM1="$link" build/zrvmon || status=$?
exit "$status"
