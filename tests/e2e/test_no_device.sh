# SPDX-License-Identifier: MIT
# A port with no device behind it: the monitor runs on with empty readings
# (zeros, indicators off) and still ends on Esc with status 0.
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

mon_start mon /nonexistent/ttyZRV
# Port 1's device is missing: it is not listed; the machine's own ports
# may be.
expect_row 3 '^(No serial port found; set ZRVMON_COM<n>=<device>|COM([2-9]|[1-9][0-9]+)  /dev/tty)'
answer_port "$MON_PORT"
wait_row 22 "^COM$MON_PORT: no such device" 2
wait_for "tTotal" 60  # every request waits its 0.8 s
wait_row 1 '^ System        #   0    ComPort 1' 5
expect_row 3 '^ Temp\. +0\.00 C  /    0\.00 C  /    0\.00 C$'
expect_row 4 '^ RH +0\.00 %  /    0\.00 %  /    0\.00 %$'
expect_row 5 '^ CO2 +0\.00 %  /    0\.00 %$'
expect_row 9 '^ Vent\.         \(512\) -$'
expect_row 10 '^ Temp\.Ctl      \(513\) -$'
expect_row 12 '^ TempMode      \(515\) H$'
expect_row 14 '^ tTotal            0 s  /     0\.0 h$'
expect_row 16 '^ t_HeatEff\.        0 s  /     0\.0 %$'
expect_row 20 '^ t106          65535  t107 65535$'
expect_title " Pav (#0, C1)"
sleep 1
mon_running || fail "the monitor ended on its own"
mon_quit
exit 0
