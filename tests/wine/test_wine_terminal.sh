# SPDX-License-Identifier: MIT
# The terminal of the Windows build under wine: T sends a typed command
# alone and shows its reply, Esc goes back; Esc quits with CQ and status 0.
# (R with N and with Y: tests/e2e/test_reset.sh, run under wine too.)
E2E_WINE_COM=6
source "$(dirname "$0")/../e2e/lib.sh"
e2e_init "$1"

sim_start --system 5
mon_start
mon_connect
wait_row 1 '^ System        #   5    ComPort 6' 5

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
