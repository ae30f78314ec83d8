# SPDX-License-Identifier: MIT
# Slow controllers and slow paths: a controller answering 300 ms late, and
# a raw TCP port behind a path of 150 ms each way, both give the full,
# right screen; in the terminal a reply that came after its wait refuses
# the next command with "String in buffer " instead of passing for its
# reply.
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

# The screen of a variant 1 unit, system 42, with its set points.
expect_full_screen() {
  wait_row 1 '^ System        #  42    ComPort 1' 60
  wait_row 3 '^ Temp\. +1[0-9]\.[0-9]{2} C  /   22\.50 C  /  +1[0-9]\.[0-9]{2} C$' 30
  wait_row 4 '^ RH +[0-9]+\.[0-9]{2} %  /   50\.00 %' 30
  wait_row 5 '^ CO2 +0\.[0-9]{2} %  /    0\.30 %$' 30
  wait_row 9 '^ Vent\.         \(512\) ' 30
  wait_row 14 '^ tTotal +[0-9]+ s  / +[0-9]+\.[0-9] h$' 60
  wait_row 20 '^ t106 +[0-9]+  t107 +[0-9]+$' 60
}

log "controller 300 ms late"
sim_start --system 42 --latency 300
mon_start
mon_connect mon 60
expect_full_screen
mon_quit
sim_stop

log "raw TCP, 150 ms each way"
sim_start --system 42
ser2net_start socket
relay_port=$((SER2NET_PORT + 1))
port_listened "$relay_port" && relay_port=$((SER2NET_PORT + 2))
"$BUILD/delay_relay" "$relay_port" "$SER2NET_PORT" 150 >"$E2E_DIR/relay.err" 2>&1 &
relay_pid=$!
wait_until 5 "the relay did not listen" port_listened "$relay_port"
mon_start path "socket://127.0.0.1:$relay_port"
E2E_SESSION=path
mon_connect path 60
expect_full_screen
mon_quit path
stop_pid "$relay_pid"
ser2net_stop
sim_stop

log "terminal: a reply after its wait"
: >"$TRACE"
sim_start --system 42 --fault 'RD DM205:late:1500'
mon_start term
E2E_SESSION=term
mon_connect
wait_row 1 '^ System        #  42' 30
keys t
wait_for "Vandrik ZRV Terminal" 5
type_text "RD DM205"
keys Enter
wait_trace '> RD DM205$' 5
sleep 2.5  # the reply comes 1.5 s after the request, long after its wait
type_text "RD DM206"
keys Enter
wait_line 'RD DM206        : String in buffer' 5
sleep 0.5
requests | grep -q '^RD DM206$' && fail "RD DM206 was sent over a waiting reply"
keys Escape
wait_row 1 '^ System        #  42' 10
mon_quit
exit 0
