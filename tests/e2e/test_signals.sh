# SPDX-License-Identifier: MIT
# Ctrl+C typed at the keyboard is only a key; SIGTERM and SIGHUP sent from
# outside end the monitor at once and leave the terminal sane.
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

sim_start
shell_start

# Ctrl+C does not end the program.
shell_run_monitor
mon_connect
keys C-c
sleep 1
mon_running || fail "Ctrl+C ended the monitor"
wait_more_requests 30 5
[[ -e "$E2E_DIR/mon.exit" ]] && fail "the monitor ended after Ctrl+C"
mon_quit
shell_check ctrl-c

# SIGTERM and SIGHUP from outside.
for sig in TERM HUP; do
  shell_run_monitor
  mon_connect
  mon_pid
  cq=$(requests | grep -c '^CQ$')
  kill -"$sig" "$MON_PID"
  wait_exit 2
  # Ended at once: the disconnect of the orderly shutdown is not sent.
  sleep 0.2
  (($(requests | grep -c '^CQ$') == cq)) || fail "CQ was sent after SIG$sig"
  # The console's close handler ends the program with status 0; the shell
  # reports 128 + the signal if the signal itself ended it.
  [[ "$EXIT_CODE" == 0 || "$EXIT_CODE" == $((128 + $(kill -l "$sig"))) ]] \
    || fail "exit status $EXIT_CODE after SIG$sig"
  log "SIG$sig: exit status $EXIT_CODE"
  shell_check "SIG$sig"
done

# The terminal itself going away (its window closed) ends the monitor too.
mon_start gone
mon_connect gone
mon_pid gone
tmx kill-session -t gone
monitor_gone() { ! kill -0 "$MON_PID" 2>/dev/null; }
wait_until 3 "the monitor did not end with its terminal" monitor_gone
exit 0
