# SPDX-License-Identifier: MIT
# Line faults on the real binaries: 5 % of replies lost, garbage instead of
# replies, replies without their end, a controller silent for a while, and the
# device vanishing under the monitor. In each the monitor keeps painting,
# never spins a core, lets nothing from the wire act on the terminal, and
# Esc ends it with status 0 and the terminal given back. One row a case:
#   case | cycles | per s | CPU ms/s | screen
source "$(dirname "$0")/lib.sh"
E2E_TIMEOUT=290
e2e_init "$1"
window=${FAULT_WINDOW:-6}
hz=$(getconf CLK_TCK)

cpu_ticks() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$MON_PID/stat"; }
cycles() { grep -c '> RD 512$' "$TRACE" 2>/dev/null; }

# measure NAME SECONDS: cycles and CPU over the next SECONDS, then a row.
measure() {
  local c0 t0 c1 t1
  c0=$(cycles)
  t0=$(cpu_ticks)
  sleep "$2"
  c1=$(cycles)
  t1=$(cpu_ticks)
  mon_running "$E2E_SESSION" || fail "$1: the monitor ended"
  local cpu=$(((t1 - t0) * 1000 / hz / $2))
  # A spinning monitor would use a whole core; a polling one a few percent.
  ((cpu < 150)) || fail "$1: $cpu ms of CPU per second"
  printf '%-22s | %5d | %5.1f | %5d | %s\n' "$1" $((c1 - c0)) \
    "$(awk -v n=$((c1 - c0)) -v s="$2" 'BEGIN { print n / s }')" "$cpu" "$(row 3 | sed 's/  */ /g')"
}

# run_case SESSION LABEL CHECK [zrvsim options...]: a fresh line and
# monitor in a shell, the case measured, CHECK run on the screen, then Esc.
run_case() {
  local name=$1 label=$2 check=$3
  shift 3
  sim_start "$@"
  shell_start "$name"
  E2E_SESSION=$name
  shell_run_monitor "$name"
  mon_connect "$name"
  mon_pid "$name"
  sleep 1
  measure "$label" "$window"
  "$check"
  mon_quit "$name"
  [[ "$(requests | tail -n 1)" == CQ ]] || fail "$name: CQ was not the last request"
  wait_for 'e2e$' 5 "$name"
  shell_check "$name"
  tmx kill-session -t "$name"
  sim_stop
  : >"$TRACE"
}

# A failed read shows as zero for a cycle; the next good one shows the value.
# A lost reply holds its request 0.8 s, one without its end 1.6 s.
values_shown() { wait_row 3 '^ Temp\. +1[0-9]\.[0-9]{2} C  /   22\.50 C' 40; }
# Garbage may hold any byte: it lands in the cells, never in the terminal.
cells_only() {
  [[ "$(pane_title)" == " Pav (#1, C1)" ]] || fail "the title became '$(pane_title)'"
  (($(screen | wc -l) == 25)) || fail "the screen lost its shape"
}

echo "case                   | cycles | per s | CPU ms/s | row 3"
run_case lost "lost 5%" values_shown --fault '*:lost,p=0.05'
run_case garbage "garbage 20%" cells_only --fault '*:garbage,p=0.2:12' --seed 3
run_case noend "no end 20%" values_shown --fault '*:noend,p=0.2'

# Silent for a while, then back: polling goes on throughout, values return.
silent_back() {
  sim_toggle_silent
  wait_row 3 '^ Temp\. +-50\.00 C  /  ' 40
  measure "  silent 10 s" 10
  sim_toggle_silent
  wait_row 3 '^ Temp\. +1[0-9]\.[0-9]{2} C  /   22\.50 C' 40
  measure "  back" 2
}
run_case silent "silent, then back" silent_back

# The device vanishes: the pty goes away under the monitor.
vanish() {
  sim_stop
  sleep 1
  : >"$TRACE"
  measure "  device gone" "$window"
  wait_row 3 '^ Temp\. +-50\.00 C' 40
}
sim_start
shell_start gone
E2E_SESSION=gone
shell_run_monitor gone
mon_connect gone
mon_pid gone
sleep 1
measure "vanishing device" 2
vanish
mon_quit gone
wait_for 'e2e$' 5 gone
shell_check gone
exit 0
