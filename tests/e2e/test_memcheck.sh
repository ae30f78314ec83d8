# SPDX-License-Identifier: MIT
# One session of the real monitor under valgrind's memcheck: start, connect,
# a few polling cycles, R then N, the terminal with one command, Esc back,
# Esc to quit. No memory error and nothing definitely or indirectly lost;
# what ncurses keeps until exit (still reachable) is fine. Valgrind slows
# the program many times over: the waits are long.
source "$(dirname "$0")/lib.sh"
command -v valgrind >/dev/null \
  || { echo "SKIP: valgrind is not installed (scripts/deps.sh test installs it)"; exit 77; }
# A sanitizer build runs its own checks and cannot run under valgrind.
grep -qsiE '^ZRV_SANITIZE:BOOL=(on|true|yes|1)$' "${1:-}/CMakeCache.txt" \
  && { echo "SKIP: $1 is a sanitizer build (AddressSanitizer checks it instead)"; exit 77; }
e2e_init "$1"

VG_LOG="$E2E_DIR/valgrind.log"
ZRVMON_WRAP="valgrind --tool=memcheck --leak-check=full \
--show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect \
--error-exitcode=99 --log-file=${VG_LOG@Q}"
MON_START_TIMEOUT=60

# The valgrind log follows a failure's report.
vg_fail() {
  [[ -s "$VG_LOG" ]] && { echo "---- valgrind.log ----"; tail -n 60 "$VG_LOG"; } >&2
  fail "$@"
}

cycles() { grep -c '> RD DM992$' "$TRACE"; }
cycles_at_least() { (($(cycles) >= $1)); }

sim_start --system 7
mon_start
answer_port "$MON_PORT"
wait_for "tTotal" 60
wait_until 90 "three polling cycles" cycles_at_least 3

keys r
wait_row 21 '^Reset Timers \[Y/N\]' 30
keys n
wait_row 21 '^ *$' 30

keys t
wait_for "Vandrik ZRV Terminal" 30
type_text "RD DM890"
keys Enter
wait_for "RD DM890        : " 30
keys Escape
wait_row 14 '^ tTotal' 30
n=$(cycles)
wait_until 60 "polling after the terminal" cycles_at_least $((n + 1))

keys Escape
wait_exit 90
[[ -s "$VG_LOG" ]] || fail "valgrind wrote no log (status $EXIT_CODE)"
[[ "$EXIT_CODE" == 0 ]] || vg_fail "exit status $EXIT_CODE under valgrind after Esc (99: memcheck found errors)"
grep -q 'ERROR SUMMARY: 0 errors' "$VG_LOG" || vg_fail "memcheck reported errors"
grep -qE '(definitely|indirectly) lost: [1-9]' "$VG_LOG" && vg_fail "memcheck found leaks"
log "$(grep -E 'in use at exit|ERROR SUMMARY' "$VG_LOG" | sed 's/^==[0-9]*== //' | tr '\n' ' ')"
exit 0
