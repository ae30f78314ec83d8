# SPDX-License-Identifier: MIT
# The R hot key: N leaves the counters alone; Y clears the controller's
# twelve counter registers, in their order, and the page shows zeros.
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

sim_start --system 5
mon_start
answer_port "$MON_PORT"
wait_row 14 '^ tTotal +([3-9]|[1-9][0-9]+) s' 15

# R, then N: the prompt goes away and nothing is written.
keys r
wait_row 21 '^Reset Timers \[Y/N\]' 5
keys n
wait_row 21 '^ *$' 5
wait_more_requests 20 5
grep -q '> WR DM1[1-3][0-9] ' "$TRACE" && fail "a counter was written after N"

# R, then Y.
keys R
wait_row 21 '^Reset Timers \[Y/N\]' 5
sleep 0.3 # polling stands still while the prompt waits
before=$(wc -l <"$TRACE")
keys y
wait_row 21 '^ *$' 5
wait_trace '> WR DM132 0$' 10
wait_row 14 '^ tTotal +[0-9] s  / +0\.0 h' 10
wait_row 1 "^ System        #   5    ComPort $MON_PORT" 5

after=$(tail -n +"$((before + 1))" "$TRACE" | sed -n 's/^[0-9.]* > //p')
writes=$(grep '^WR DM' <<<"$after" | tr '\n' ' ')
want="WR DM117 0 WR DM118 0 WR DM119 0 WR DM120 0 WR DM121 0 WR DM122 0 WR DM125 0 WR DM126 0 WR DM127 0 WR DM128 0 WR DM131 0 WR DM132 0 "
[[ "$writes" == "$want" ]] || fail "writes after Y were '$writes', expected '$want'"

# Between Y and the writes, register reads other than the direct ones
# (DM109 after the prompt, the defrost registers) are held back.
held=$(sed '/^WR DM117 0$/,$d' <<<"$after" | grep '^RD DM' | grep -vE '^RD DM(109|87|88)$' | tr '\n' ' ')
[[ -z "$held" ]] || fail "register reads went out while the reset was pending: $held"

mon_quit
exit 0
