# SPDX-License-Identifier: MIT
# The Windows build under wine: "3a" at the prompt is reported once on the
# console, with status 1, and nothing is sent; a port the prefix does not
# have is named on row 22 within 2 s, and Esc still ends the run. (A silent
# line: tests/e2e/test_silent.sh, run under wine too.)
E2E_WINE_COM=7
source "$(dirname "$0")/../e2e/lib.sh"
e2e_init "$1"

sim_start
# Standard error on the console itself, as when started from a prompt.
MON_CMD=(sh -c 'exec wine "$0" 2>&1' "$ZRVMON")
mon_start bad
answer_port 3a bad
wait_exit 15 bad
[[ "$EXIT_CODE" == 1 ]] || fail "exit status $EXIT_CODE after '3a', expected 1"
shown=$(screen bad | grep -c 'Invalid numeric input')
((shown == 1)) || fail "'Invalid numeric input' shown $shown times"
(($(request_count) == 0)) || fail "requests reached the controller after '3a'"

mon_start missing
answer_port 77 missing
wait_row 22 '^COM77: no such device' 2 missing
mon_quit missing
exit 0
