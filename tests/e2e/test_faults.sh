# SPDX-License-Identifier: MIT
# A noisy line (lost, late, unterminated, garbled and refused replies at
# random) does not stop or derail the monitor: it keeps polling with its
# screen layout intact, and Esc still ends it with status 0.
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

sim_start --fault-rate 0.3 --seed 7 --system 9
mon_start
answer_port 1
wait_for "tTotal" 60
# A lost or late reply holds its request for the 0.8 s reply wait, a reply
# without its end for the 1.6 s idle limit.
n=$(request_count)
sleep 5
mon_running || fail "the monitor ended on a noisy line"
(($(request_count) > n + 10)) || fail "polling slowed to $(($(request_count) - n)) requests in 5 s"
for f in garbage noend late lost error silence; do
  grep -q "! $f" "$TRACE" || fail "the simulator injected no '$f' fault; the test proves less than it claims"
done
expect_row 3 '^ Temp\. +-?[0-9]+\.[0-9]{2} C  /  '
expect_row 4 '^ RH +-?[0-9]+\.[0-9]{2} %  /  '
expect_row 5 '^ CO2 +-?[0-9]+\.[0-9]{2} %  /  '
expect_row 9 '^ Vent\.         \([0-9]{3}\) .$'
expect_row 14 '^ tTotal +[0-9]+ s  /  '
expect_row 20 '^ t106 +[0-9]+  t107 +[0-9]+$'
for r in 2 8 13 21 22 23 24 25; do
  expect_row "$r" '^ *$'
done

mon_quit
sim_stop

# A line that streams without end for one request: the read is cut (the
# requests after it find the stream waiting and are not sent while it
# lasts), and the screen goes on painting within 2 s.
: >"$TRACE"
sim_start --system 9 --fault 'RD DM993:babble,after=2,times=1'
mon_start babble
E2E_SESSION=babble
mon_connect babble 20
wait_trace '! babble' 30
wait_row 4 '^ RH +0\.00 %  /   50\.00 %' 2
wait_row 5 '^ CO2 +[0-9]+\.[0-9]{2} %  /    0\.30 %$' 5
mon_quit babble
exit 0
