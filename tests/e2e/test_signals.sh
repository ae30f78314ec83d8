# Ctrl+C typed at the keyboard is only a key; SIGTERM and SIGHUP sent from
# outside end the monitor at once and leave the terminal sane.
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

sim_start
shell_start

check_terminal() {
  shell_stty "$E2E_DIR/stty.$1"
  local flag
  for flag in icanon echo isig icrnl opost; do
    grep -qE "(^| )$flag( |$)" "$E2E_DIR/stty.$1" \
      || fail "after $1 the terminal has -$flag: $(cat "$E2E_DIR/stty.$1")"
  done
  type_text "echo after-$1"
  wait_for "echo after-$1" 5
  keys Enter
  wait_line "^after-$1\$" 5
}

# Ctrl+C does not end the program.
shell_run_monitor
answer_port 1
wait_for "tTotal" 10
keys C-c
sleep 1
mon_running || fail "Ctrl+C ended the monitor"
wait_more_requests 30 5
[[ -e "$E2E_DIR/mon.exit" ]] && fail "the monitor ended after Ctrl+C"
keys Escape
wait_exit 10
[[ "$EXIT_CODE" == 0 ]] || fail "exit status $EXIT_CODE after Ctrl+C and Esc"
check_terminal ctrl-c

# SIGTERM and SIGHUP from outside.
for sig in TERM HUP; do
  shell_run_monitor
  answer_port 1
  wait_for "tTotal" 10
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
  check_terminal "SIG$sig"
done

# The terminal itself going away (its window closed) ends the monitor too.
mon_start gone
answer_port 1 gone
wait_for "tTotal" 10 gone
mon_pid gone
tmx kill-session -t gone
deadline=$(($(now_ms) + 3000))
while kill -0 "$MON_PID" 2>/dev/null; do
  (($(now_ms) < deadline)) || fail "the monitor outlived its terminal by 3 s"
  sleep 0.1
done
exit 0
