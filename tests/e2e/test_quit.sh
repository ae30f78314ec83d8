# Esc ends the program from a login-like shell: "CQ" goes out, the status is
# 0 and the terminal is handed back sane (canonical input with echo).
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

sim_start
shell_start
stty_before="$E2E_DIR/stty.before"
stty_after="$E2E_DIR/stty.esc"  # written by shell_check esc
shell_stty "$stty_before"

shell_run_monitor
mon_connect
mon_quit
last=$(requests | tail -n 1)
[[ "$last" == "CQ" ]] || fail "the last request was '$last', expected CQ"
grep -q '< OK' <(tail -n 1 "$TRACE") || fail "CQ got no reply before the port closed"

# The shell works again: typed text echoes and commands run.
wait_for 'e2e$' 5
shell_check esc
diff <(tr ' ;' '\n\n' <"$stty_before" | grep -v '^$' | sort) \
     <(tr ' ;' '\n\n' <"$stty_after" | grep -v '^$' | sort) >/dev/null \
  || fail "terminal settings differ after exit: $(diff "$stty_before" "$stty_after")"
exit 0
