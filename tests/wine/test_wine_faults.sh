# The Windows build under wine on a silent line: the monitor keeps polling
# and shows empty readings, takes the values up again when the replies come
# back, and still ends on Esc with status 0 while the line is silent. "3a"
# at the prompt is reported once on the console, with status 1.
E2E_WINE_COM=7
source "$(dirname "$0")/common.sh"
source "$(dirname "$0")/../e2e/lib.sh"
e2e_init "$1"

sim_start --system 11 --reply 'RD 512=1'
mon_start
mon_connect
wait_row 1 '^ System        #  11    ComPort 7' 5
wait_row 3 '^ Temp\. +1[0-9]\.[0-9]{2} C  /   22\.50 C' 5

sim_toggle_silent
wait_trace '! silent on' 5
wait_row 3 '^ Temp\. +-50\.00 C  /  ' 10
wait_row 9 '^ Vent\.         \(512\) -$' 5
n=$(request_count)
sleep 1
mon_running || fail "the monitor ended while the line was silent"
(($(request_count) > n)) || fail "the monitor stopped asking while the line was silent"

sim_toggle_silent
wait_trace '! silent off' 5
wait_row 3 '^ Temp\. +1[0-9]\.[0-9]{2} C  /   22\.50 C' 10
wait_row 9 '^ Vent\.         \(512\) [\\|/]$' 5

sim_toggle_silent
wait_row 3 '^ Temp\. +-50\.00 C  /  ' 10
mon_quit
[[ "$(requests | tail -n 1)" == CQ ]] || fail "CQ was not the last request"

# Standard error on the console itself, as when started from a prompt.
MON_CMD=(sh -c 'exec wine "$0" 2>&1' "$ZRVMON")
n=$(request_count)
mon_start bad
answer_port 3a bad
wait_exit 15 bad
[[ "$EXIT_CODE" == 1 ]] || fail "exit status $EXIT_CODE after '3a', expected 1"
shown=$(screen bad | grep -c 'Invalid numeric input')
((shown == 1)) || fail "'Invalid numeric input' shown $shown times"
(($(request_count) == n)) || fail "requests reached the controller after '3a'"
exit 0
