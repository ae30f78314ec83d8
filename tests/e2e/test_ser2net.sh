# SPDX-License-Identifier: MIT
# The controller behind a serial device server: Debian's ser2net serves
# zrvsim's pty on 127.0.0.1, by RFC 2217 and by raw TCP in turn. In each
# mode: the port listed with its address, the full screen, R then Y, T with
# a command, ser2net stopped and started again (the values go and come
# back), and Esc with CQ last. Then a server that does not speak RFC 2217
# makes the open fail, with the reason told at the end.
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

# CPU seconds (user + system, in clock ticks) the process has used.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

sim_start --system 7 --reply 'RD 512=1'
pty=$(readlink -f "$LINK")

for mode in rfc2217 socket; do
  log "mode $mode"
  : >"$TRACE"
  ser2net_start "$mode"
  url="$mode://127.0.0.1:$SER2NET_PORT"
  mon_start "$mode" "$url"
  E2E_SESSION=$mode
  # Under wine the prefix's own ports come first.
  # The list may come a moment after the prompt.
  wait_until 5 "COM$MON_PORT listed with $url" screen_matches "^COM$MON_PORT +$url\$"
  mon_connect
  wait_row 1 '^ System        #   7    ComPort 1' 5
  wait_row 3 '^ Temp\. +1[0-9]\.[0-9]{2} C  /   22\.50 C' 5
  wait_row 9 '^ Vent\.         \(512\) [\\|/]$' 5
  wait_row 14 '^ tTotal +[0-9]+ s  / +[0-9]+\.[0-9] h$' 5
  if [[ $mode == rfc2217 ]]; then
    # Only the baud rate shows on a pty: the server's 4800 became 9600.
    stty -F "$pty" | grep -q '^speed 9600 baud' \
      || fail "the pty runs at $(stty -F "$pty" | head -n 1), not 9600 baud"
  fi

  keys R
  wait_row 21 '^Reset Timers \[Y/N\]' 5
  keys y
  wait_trace '> WR DM132 0$' 10
  wait_row 14 '^ tTotal +[0-9] s  / +0\.0 h' 10

  keys t
  wait_for "Vandrik ZRV Terminal" 5
  type_text "RD DM890"
  keys Enter
  wait_trace '> RD DM890$' 5
  wait_line 'RD DM890        : [0-9]+' 5
  keys Escape
  wait_row 3 '^ Temp\. +1[0-9]\.[0-9]{2} C  /   22\.50 C' 5

  port=$SER2NET_PORT
  ser2net_stop
  wait_row 3 '^ Temp\. +-50\.00 C  /  ' 40  # each request waits its 0.8 s
  mon_running "$mode" || fail "the monitor ended when the server went away"
  # Reconnecting a few times a second costs next to nothing. Under wine
  # the program's own 1 ms polling costs 8-15 % with a local port too.
  limit=5
  [[ -n "$E2E_WINE_COM" ]] && limit=30
  mon_pid "$mode"
  t0=$(cpu_ticks "$MON_PID")
  sleep 2
  cpu=$((($(cpu_ticks "$MON_PID") - t0) * 100 / (2 * $(getconf CLK_TCK))))
  ((cpu < limit)) || fail "the monitor used ${cpu} % of a core while the server was gone"
  ser2net_start "$mode" "$port"
  n=$(request_count)
  wait_row 3 '^ Temp\. +1[0-9]\.[0-9]{2} C  /   22\.50 C' 40
  ((n > 0)) || fail "no request reached the simulator"
  [[ $mode == socket ]] || stty -F "$pty" | grep -q '^speed 9600 baud' \
    || fail "after the restart the pty runs at $(stty -F "$pty" | head -n 1)"

  mon_quit "$mode"
  [[ "$(requests | tail -n 1)" == CQ ]] || fail "CQ was not the last request ($mode)"
  ser2net_stop
done

# RFC 2217 asked of a raw TCP server: no com-port option, so no open; the
# monitor runs on as without its device and says why at the end.
ser2net_start socket
mon_start refused "rfc2217://127.0.0.1:$SER2NET_PORT"
E2E_SESSION=refused
mon_connect refused 60  # every request waits its 0.8 s
wait_row 3 '^ Temp\. +0\.00 C  /    0\.00 C' 10
mon_quit refused
grep -q "COM$MON_PORT (rfc2217://127.0.0.1:$SER2NET_PORT): the server did not take the RFC 2217 com-port option" \
  "$E2E_DIR/refused.err" || fail "no reason given: $(cat "$E2E_DIR/refused.err")"
exit 0
