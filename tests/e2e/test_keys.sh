# SPDX-License-Identifier: MIT
# Keys whose terminal sequences begin with ESC (arrows, function keys,
# Alt+letter) are not the Esc key: polling goes on. An arrow at the reset
# prompt means no. A window resized down and up again keeps the monitor
# running and gets its rows back.
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

sim_start
mon_start
mon_connect

for k in Up Down Left Right F1 F5 F12 Home End PageUp PageDown IC DC BTab M-x; do
  keys "$k"
done
sleep 1
mon_running || fail "a key sequence starting with ESC ended the monitor"
wait_more_requests 20 5
[[ -e "$E2E_DIR/mon.exit" ]] && fail "the monitor ended after special keys"

keys R
wait_row 21 '^Reset Timers \[Y/N\]' 5
keys Down
wait_row 21 '^ *$' 5
wait_more_requests 40 5
grep -q '> WR DM117 ' "$TRACE" && fail "an arrow key at the reset prompt reset the counters"

tmx resize-window -t mon -x 50 -y 15 || fail "resize-window"
wait_more_requests 40 5
mon_running || fail "the monitor ended when its window shrank"
tmx resize-window -t mon -x 80 -y 25 || fail "resize-window"
wait_row 20 '^ t106 +[0-9]+  t107 +[0-9]+' 5
wait_row 3 '^ Temp\. +-?[0-9]+\.[0-9]{2} C  /   22\.50 C' 5

mon_quit
exit 0
