# SPDX-License-Identifier: MIT
# A second monitor on a port already in use gets no answers, says why on
# row 22, and does not disturb the first, which keeps showing live values;
# both end on Esc.
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

sim_start --system 11
mon_start mon
mon_connect mon
wait_row 1 '^ System        #  11    ComPort 1' 5 mon

mon_start mon2
answer_port "$MON_PORT" mon2
wait_row 22 "^COM$MON_PORT cannot be opened: the device is in use" 2 mon2
wait_for "tTotal" 60 mon2  # every request waits its 0.8 s
wait_row 1 '^ System        #   0    ComPort 1' 5 mon2
expect_row 3 '^ Temp\. +0\.00 C  /    0\.00 C  /    0\.00 C$' mon2
expect_title " Pav (#0, C1)" mon2

# The first keeps polling and showing live values meanwhile.
expect_polling 40 5
expect_row 3 '^ Temp\. +1[0-9]\.[0-9]{2} C  /   22\.50 C' mon
expect_row 1 '^ System        #  11    ComPort 1' mon
connects=$(requests | grep -c '^CR$')
((connects == 1)) || fail "the controller saw $connects connect requests, expected 1"
grep -qE '^[0-9.]+ > .*(CR|RD|WR).*(CR|RD|WR)' "$TRACE" \
  && fail "requests from two monitors were interleaved on the wire"

mon_quit mon2
# Its Esc sent nothing on the first monitor's line.
(($(requests | grep -c '^CQ$') == 0)) || fail "the second monitor's CQ reached the controller"
wait_more_requests 20 5
mon_running mon || fail "the first monitor ended with the second"

mon_quit mon
[[ "$(requests | tail -n 1)" == CQ ]] || fail "the first monitor's CQ was not the last request"
exit 0
