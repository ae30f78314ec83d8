# SPDX-License-Identifier: MIT
# The T hot key: a typed command goes out alone (polling waits), its reply
# shows beside it in the box; three pasted commands go out one by one, each
# with its reply; a command of 200 characters gets its reply and the next
# goes out; Esc goes back to a repainted, polling monitor.
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

sim_start --system 3 --temp-set 19.5
mon_start
mon_connect

keys t
wait_for "Vandrik ZRV Terminal" 5
wait_for " Send            : Receive    /esc" 5
sleep 0.3
before=$(request_count)
type_text "RD DM890"
wait_for "RD DM890" 5
keys Enter
wait_trace '> RD DM890$' 5
wait_for "RD DM890        : 195" 5
sleep 0.3
sent=$(requests | tail -n +"$((before + 1))" | tr '\n' '|')
[[ "$sent" == "RD DM890|" ]] || fail "while the terminal was open the wire carried '$sent', expected only 'RD DM890|'"

# An unknown register gets whatever the controller says; the box shows it.
type_text "RD T999"
keys Enter
wait_trace '> RD T999$' 5
wait_row 8 'RD T999 +: [^ ]' 5

# Pasted in one go: each line a command, each shown with its reply.
n=$(request_count)
tmx set-buffer -- $'RD DM893\nRD DM894\nRD DM891\n' || fail "set-buffer"
tmx paste-buffer -t "$E2E_SESSION" || fail "paste-buffer"
wait_line 'RD DM891        : 100' 10
sent=$(requests | tail -n +"$((n + 1))" | tr '\n' '|')
[[ "$sent" == "RD DM893|RD DM894|RD DM891|" ]] || fail "the paste sent '$sent'"
screen | grep -q 'RD DM893        : 500' || fail "the pasted RD DM893 shows no reply"

# 200 characters: the line ends in its carriage return, the next follows.
type_text "RD DM890$(printf '%192s' '')"
keys Enter
type_text "RD DM108"
keys Enter
wait_line 'RD DM108        : 7123' 10
grep -qE '> RD DM890 {192}$' "$TRACE" || fail "the long command did not arrive whole"

keys Escape
wait_row 3 '^ Temp\. +-?[0-9]+\.[0-9]{2} C  /   19\.50 C  /  +-?[0-9]+\.[0-9]{2} C$' 5
screen | grep -q "Vandrik" && fail "the terminal box is still on the screen after Esc"
wait_row 9 '^ Vent\.         \(512\) .$' 5
wait_row 14 '^ tTotal +[0-9]+ s  /  +[0-9]+\.[0-9] h$' 5
wait_row 1 '^ System        #   3    ComPort 1' 5
# Still polling.
expect_polling 30 5
mon_quit
exit 0
