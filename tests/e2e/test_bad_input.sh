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
if ! grep -q "Invalid numeric input" "$E2E_DIR/mon.err"; then
  wait_for "Invalid numeric input" 2
fi
sleep 0.3
(($(request_count) == 0)) || fail "requests reached the controller: $(requests | tr '\n' '|')"
# The shell is usable afterwards.
shell_check input-error
log "exit status $EXIT_CODE; stderr: $(head -c 200 "$E2E_DIR/mon.err")"
exit 0
