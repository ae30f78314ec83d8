# SPDX-License-Identifier: MIT
# Esc ends the program from a login-like shell: "CQ" goes out, the status is
# 0 and the terminal is handed back sane (canonical input with echo), with
# the last screen still showing and the shell's title back.
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

sim_start
shell_start
stty_before="$E2E_DIR/stty.before"
stty_after="$E2E_DIR/stty.esc"  # written by shell_check esc
shell_stty "$stty_before"
# A title of the shell's own, which must be back after the exit.
type_text "printf '\\033]2;%s\\033\\\\' e2e-shell-title"
keys Enter
wait_until 5 "the shell's title was not set" test "$(pane_title)" = e2e-shell-title

shell_run_monitor
mon_connect
wait_line '^ t106 ' 10
mon_quit
# The last screen stays in the normal screen, the prompt on the row below it.
wait_line '^e2e\$' 5
expect_row 1 '^ System +# +[0-9]+ +ComPort 1 *$'
expect_row 14 '^ tTotal '
last=$(screen | grep -n '^ t106 ' | cut -d: -f1)
[[ -n "$last" ]] || fail "the last screen is gone"
expect_row $((last + 1)) '^e2e\$ *$'
expect_title e2e-shell-title
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
