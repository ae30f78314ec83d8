# SPDX-License-Identifier: MIT
# "3a" at the port prompt is an input error: the program stops with a
# non-zero status and "Invalid numeric input", having sent nothing.
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

sim_start
shell_start
shell_run_monitor
answer_port 3a
wait_exit 10
[[ "$EXIT_CODE" != 0 ]] || fail "exit status 0 after '3a'"
# Shown once, on the screen, which stays with the prompt below it.
wait_for "Invalid numeric input" 2
wait_line '^e2e\$' 5
shown=$(screen | grep -c 'Invalid numeric input')
((shown == 1)) || fail "'Invalid numeric input' shown $shown times"
expect_row 1 '^Enter Comport 3a$'
expect_row 2 '^Invalid numeric input$'
expect_row 3 '^e2e\$'
sleep 0.3
(($(request_count) == 0)) || fail "requests reached the controller: $(requests | tr '\n' '|')"
# The shell is usable afterwards.
shell_check input-error
log "exit status $EXIT_CODE; stderr: $(head -c 200 "$E2E_DIR/mon.err")"
exit 0
