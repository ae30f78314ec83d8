#!/usr/bin/env bash
# Measures the real zrvmon against zrvsim on a pty at 9600 baud:
#   1. the polling cycle's period, and its ratio to what the wire itself
#      needs for one cycle (characters at 11 bits each, the controller's
#      latency, and the TempMode indicator's 100 ms pause);
#   2. the CPU time the monitor uses per second of polling;
#   3. the bytes the monitor writes to its terminal per cycle once the
#      screen is steady.
# Usage: scripts/measure.sh [build dir] [seconds]   (defaults: build, 20)
# Needs tmux; the monitor runs in a private tmux server, 80x25.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
window=${2:-20}
warmup=5
baud=9600
latency=5

if [[ ! -x "$build/zrvmon" || ! -x "$build/zrvsim" ]]; then
  scripts/build.sh "$build" || exit 1
fi
command -v tmux >/dev/null || { echo "measure: tmux is needed (apt-get install tmux)" >&2; exit 1; }

E2E_QUIET=1
E2E_TIMEOUT=$((window + warmup + 60))
source tests/e2e/lib.sh
e2e_init "$build"

sim_start --baud "$baud" --latency "$latency"
mon_start
mon_connect
mon_pid
hz=$(getconf CLK_TCK)

cpu_ticks() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$MON_PID/stat"; }
cycle_starts() { grep -c '> RD 512$' "$TRACE"; }

sleep "$warmup"
out="$E2E_DIR/terminal.out"
tmx pipe-pane -o -t mon "cat >'$out'" || fail "pipe-pane"
sleep 0.2
lines_a=$(wc -l <"$TRACE")
cycles_a=$(cycle_starts)
cpu_a=$(cpu_ticks)
t_a=$(now_ms)
sleep "$window"
lines_b=$(wc -l <"$TRACE")
cycles_b=$(cycle_starts)
cpu_b=$(cpu_ticks)
t_b=$(now_ms)
tmx pipe-pane -t mon || fail "pipe-pane off"
sleep 0.2
bytes=$(wc -c <"$out")
mon_running || fail "the monitor ended during the measurement"
mon_quit

# Period and wire need from the trace lines of the window, over whole
# cycles: from the first cycle start to the last one.
read -r cycles period need requests <<<"$(sed -n "$((lines_a + 1)),${lines_b}p" "$TRACE" | awk -v baud="$baud" -v lat="$latency" '
  function textlen(s,   n) {           # length of an escaped trace text
    gsub(/\\x[0-9A-Fa-f][0-9A-Fa-f]/, "#", s)
    gsub(/\\[rne\\]/, "#", s)
    return length(s)
  }
  {
    t = $1; kind = $2
    text = substr($0, length($1) + length($2) + 3)
    if (kind == ">" && text == "RD 512") {
      if (first == "") first = t
      else { last = t; cycles++; need += pending; requests += asked }
      pending = 0; asked = 0
    }
    if (first == "") next
    bit = 11 / baud
    if (kind == ">") { pending += (textlen(text) + 1) * bit; asked++ }
    else if (kind == "<") {
      if (text ~ / \[noend\]$/) r = (textlen(substr(text, 1, length(text) - 8))) * bit + lat / 1000
      else r = (textlen(text) + 2) * bit + lat / 1000
      pending += r
    }
  }
  END {
    if (cycles < 1) { print 0, 0, 0, 0; exit }
    printf "%d %.6f %.6f %.2f\n", cycles, (last - first) / cycles, need / cycles + 0.1,
      requests / cycles
  }')"

wall=$(awk -v a="$t_a" -v b="$t_b" 'BEGIN { printf "%.3f", (b - a) / 1000 }')
counted=$((cycles_b - cycles_a))
((cycles > 0 && counted > 0)) || fail "no whole cycles in the window"

echo "zrvmon measured against zrvsim (--baud $baud --latency $latency), 80x25 tmux pane,"
echo "after ${warmup} s of warm-up, over ${wall} s of polling."
echo
echo "1. Cycle period (successive 'RD 512' Vent. relay reads in the wire trace)"
awk -v c="$cycles" -v p="$period" -v n="$need" -v q="$requests" 'BEGIN {
  printf "   cycles: %d, %.1f requests per cycle, mean period: %.1f ms\n", c, q, p * 1000
  printf "   wire need per cycle on a real line: %.1f ms (requests + CR and replies\n", n * 1000
  printf "   + CR LF at 11 bits/char, the latency per reply, the 100 ms TempMode pause)\n"
  printf "   ratio period / wire need: %.2f (zrvsim paces both directions)\n", p / n
}'
echo
echo "2. CPU time of the monitor (/proc/<pid>/stat utime + stime)"
awk -v a="$cpu_a" -v b="$cpu_b" -v hz="$hz" -v w="$wall" 'BEGIN {
  cpu = (b - a) / hz
  printf "   %.2f s of CPU in %.1f s: %.1f ms per second of polling (%.1f %%)\n", cpu, w, cpu / w * 1000, cpu / w * 100
}'
echo
echo "3. Bytes written to the terminal (tmux pipe-pane of the pane's output)"
awk -v b="$bytes" -v c="$counted" -v w="$wall" 'BEGIN {
  printf "   %d bytes over %d cycles: %.0f bytes per cycle (%.0f bytes/s)\n", b, c, b / c, b / w
}'
