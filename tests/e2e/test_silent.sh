# SPDX-License-Identifier: MIT
# The controller goes silent mid-run and comes back: the monitor keeps
# polling, shows empty readings meanwhile and says so on row 22, picks the values up again, and
# still ends on Esc with status 0 while the line is silent.
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

sim_start --reply 'RD 512=1'
mon_start
mon_connect
wait_row 3 '^ Temp\. +1[0-9]\.[0-9]{2} C  /   22\.50 C' 5

sim_toggle_silent
wait_trace '! silent on' 5
# Every request now waits its 0.8 s: a cycle takes some 20 s.
wait_row 3 '^ Temp\. +-50\.00 C  /  ' 40
wait_row 22 '^No reply from the controller since [0-9]{2}:[0-9]{2}:[0-9]{2}$' 5
wait_row 4 '^ RH +0\.00 %  /  ' 10
wait_row 9 '^ Vent\.         \(512\) -$' 40
wait_row 14 '^ tTotal            0 s' 60
n=$(request_count)
sleep 2
mon_running || fail "the monitor ended while the line was silent"
(($(request_count) > n)) || fail "the monitor stopped asking while the line was silent"

sim_toggle_silent
wait_trace '! silent off' 5
wait_row 3 '^ Temp\. +1[0-9]\.[0-9]{2} C  /   22\.50 C' 20
wait_row 22 '^ *$' 20
wait_row 14 '^ tTotal +[1-9][0-9]* s' 20
wait_row 9 '^ Vent\.         \(512\) [\\|/]$' 5

sim_toggle_silent
wait_row 3 '^ Temp\. +-50\.00 C  /  ' 40
mon_quit
[[ "$(requests | tail -n 1)" == CQ ]] || fail "CQ was not the last request"
exit 0
