# Esc ends the program from a login-like shell: "CQ" goes out, the status is
# 0 and the terminal is handed back sane (canonical input with echo).
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

sim_start
shell_start
stty_before="$E2E_DIR/stty.before"
shell_stty "$stty_before"

shell_run_monitor
answer_port 1
wait_for "tTotal" 10
keys Escape
wait_exit 10
[[ "$EXIT_CODE" == 0 ]] || fail "exit status $EXIT_CODE after Esc"
last=$(requests | tail -n 1)
[[ "$last" == "CQ" ]] || fail "the last request was '$last', expected CQ"
grep -q '< OK' <(tail -n 1 "$TRACE") || fail "CQ got no reply before the port closed"

# The shell works again: typed text echoes and commands run.
wait_for 'e2e$' 5
type_text "echo typed-and-echoed"
wait_for "echo typed-and-echoed" 5
keys Enter
wait_line '^typed-and-echoed$' 5
stty_after="$E2E_DIR/stty.after"
shell_stty "$stty_after"
for flag in icanon echo isig icrnl opost onlcr; do
  grep -qE "(^| )$flag( |$)" "$stty_after" || fail "after exit the terminal has -$flag: $(cat "$stty_after")"
done
diff <(tr ' ;' '\n\n' <"$stty_before" | grep -v '^$' | sort) \
     <(tr ' ;' '\n\n' <"$stty_after" | grep -v '^$' | sort) >/dev/null \
  || fail "terminal settings differ after exit: $(diff "$stty_before" "$stty_after")"
exit 0
