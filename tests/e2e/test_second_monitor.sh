# A second monitor on a port already in use gets no answers and does not
# disturb the first, which keeps showing live values; both end on Esc.
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

sim_start --system 11
mon_start mon
answer_port 1 mon
wait_for "tTotal" 10 mon
wait_row 1 '^ System        #  11    ComPort 1' 5 mon

mon_start mon2
answer_port 1 mon2
wait_for "tTotal" 10 mon2
wait_row 1 '^ System        #   0    ComPort 1' 5 mon2
expect_row 3 '^ Temp\. +0\.00 C  /    0\.00 C  /    0\.00 C$' mon2
title=$(pane_title mon2)
[[ "$title" == " Pav (#0, C1)" ]] || fail "second monitor's title is '$title'"

# The first keeps polling and showing live values meanwhile.
n=$(grep -c '> RD DM992$' "$TRACE")
wait_more_requests 40 5
(($(grep -c '> RD DM992$' "$TRACE") > n)) || fail "the first monitor stopped polling"
expect_row 3 '^ Temp\. +1[0-9]\.[0-9]{2} C  /   22\.50 C' mon
expect_row 1 '^ System        #  11    ComPort 1' mon
connects=$(requests | grep -c '^CR$')
((connects == 1)) || fail "the controller saw $connects connect requests, expected 1"
grep -qE '^[0-9.]+ > .*(CR|RD|WR).*(CR|RD|WR)' "$TRACE" \
  && fail "requests from two monitors were interleaved on the wire"

keys Escape mon2
wait_exit 10 mon2
[[ "$EXIT_CODE" == 0 ]] || fail "second monitor: exit status $EXIT_CODE after Esc"
# Its Esc sent nothing on the first monitor's line.
(($(requests | grep -c '^CQ$') == 0)) || fail "the second monitor's CQ reached the controller"
wait_more_requests 20 5
mon_running mon || fail "the first monitor ended with the second"

keys Escape mon
wait_exit 10 mon
[[ "$EXIT_CODE" == 0 ]] || fail "first monitor: exit status $EXIT_CODE after Esc"
[[ "$(requests | tail -n 1)" == CQ ]] || fail "the first monitor's CQ was not the last request"
exit 0
