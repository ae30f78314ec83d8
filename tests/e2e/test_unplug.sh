# SPDX-License-Identifier: MIT
# The serial device goes away mid-run (zrvsim's pty closed, its link gone)
# and comes back at the same path: the monitor goes on polling at a low CPU
# cost, says on its last row that no reply comes, and once the device is back it is
# reopened with its settings, the values return and Esc's CQ reaches it.
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

# CPU seconds (user + system, in clock ticks) the process has used.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
wakeups() { awk '/^voluntary_ctxt_switches/ { print $2 }' "/proc/$1/task/$1/status"; }

sim_start --reply 'RD 512=1' --replug-after 16
mon_start
mon_connect
mon_pid
wait_row 3 '^ Temp\. +1[0-9]\.[0-9]{2} C  /   22\.50 C' 5

kill -USR2 "$E2E_SIM_PID" || fail "cannot signal zrvsim"
wait_trace '! unplugged' 5
# Each read waits its 0.8 s: the row says so after a few of them.
wait_row 22 '^No reply from the controller since [0-9:]{8}' 10
mon_running || fail "the monitor ended when the device went away"
t0=$(cpu_ticks "$MON_PID") w0=$(wakeups "$MON_PID")
sleep 2
t1=$(cpu_ticks "$MON_PID") w1=$(wakeups "$MON_PID")
# Ticks are hundredths of a second: over 2 s, one tick is 0.5 % of a core.
cpu=$(((t1 - t0) * 100 / (2 * $(getconf CLK_TCK))))
log "CPU while unplugged: $((t1 - t0)) ticks in 2 s (~${cpu} % of a core), $((w1 - w0)) wake-ups"
((cpu < 5)) || fail "the monitor used ${cpu} % of a core while the device was gone"
((w1 - w0 > 60)) || fail "the monitor stopped polling while the device was gone"

wait_trace '! plugged in' 20
wait_row 3 '^ Temp\. +1[0-9]\.[0-9]{2} C  /   22\.50 C' 40
wait_row 9 '^ Vent\.         \(512\) [\\|/]$' 5
mon_quit
sed -n '/! plugged in/,$p' "$TRACE" | grep -q '> CQ$' || fail "CQ did not reach the new pty"
[[ "$(requests | tail -n 1)" == CQ ]] || fail "CQ was not the last request"
exit 0
