# The hot keys of the Windows build under wine: R then N writes nothing; R
# then Y clears the twelve counters in order; T sends a typed command alone
# and shows its reply, Esc goes back; Esc quits with CQ and status 0.
E2E_WINE_COM=6
source "$(dirname "$0")/common.sh"
source "$(dirname "$0")/../e2e/lib.sh"
e2e_init "$1"

sim_start --system 5
mon_start
mon_connect
wait_row 1 '^ System        #   5    ComPort 6' 5
wait_row 14 '^ tTotal +([3-9]|[1-9][0-9]+) s' 15

keys r
wait_row 21 '^Reset Timers \[Y/N\]' 5
keys n
wait_row 21 '^ *$' 5
wait_more_requests 20 5
grep -q '> WR DM1[1-3][0-9] ' "$TRACE" && fail "a counter was written after N"

keys R
wait_row 21 '^Reset Timers \[Y/N\]' 5
before=$(request_count)
keys y
wait_trace '> WR DM132 0$' 10
wait_row 14 '^ tTotal +[0-2] s  / +0\.0 h' 5
writes=$(requests | tail -n +"$((before + 1))" | grep '^WR DM' | tr '\n' ' ')
want="WR DM117 0 WR DM118 0 WR DM119 0 WR DM120 0 WR DM121 0 WR DM122 0 WR DM125 0 WR DM126 0 WR DM127 0 WR DM128 0 WR DM131 0 WR DM132 0 "
[[ "$writes" == "$want" ]] || fail "writes after Y were '$writes', expected '$want'"

keys t
wait_for " Send            : Receive    /esc" 5
sleep 0.3 # the cycle in flight ends first
before=$(request_count)
type_text "RD DM890"
keys Enter
wait_for "RD DM890        : 225" 5
sent=$(requests | tail -n +"$((before + 1))" | tr '\n' '|')
[[ "$sent" == "RD DM890|" ]] || fail "while the terminal was open the wire carried '$sent', expected only 'RD DM890|'"
keys Escape
wait_row 3 '^ Temp\. +-?[0-9]+\.[0-9]{2} C  /   22\.50 C  /  +-?[0-9]+\.[0-9]{2} C$' 5
screen | grep -q "Vandrik" && fail "the terminal box is still on the screen after Esc"
expect_polling 30 5

mon_quit
[[ "$(requests | tail -n 1)" == CQ ]] || fail "the last request was '$(requests | tail -n 1)', expected CQ"
exit 0
