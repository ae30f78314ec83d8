#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Benchmark of the real zrvmon against zrvsim on a pty, each run in an 80x25
# tmux pane. For every baud rate it runs the monitor twice side by side in
# time: with the poll's pauses ending when a byte or a key arrives ("poll",
# as shipped) and with every pause lasting its full time ("plain", the
# earlier behaviour, switched on for the benchmark alone). With --wine it
# adds the Windows build under wine at 9600 baud. At 9600 baud it also runs
# the monitor through Debian's ser2net on the loopback, serving the same
# kind of pty, by RFC 2217 ("rfc2217") and by raw TCP ("socket"), when
# ser2net is installed (--no-net leaves them out), and gives their cycle
# periods against the pty's side by side. With --log it adds a run that
# keeps the reading log ("log") beside the shipped one at 9600 baud. With
# --before REV it adds, at every baud rate, the monitor built from the git
# revision REV ("before") beside the shipped one. --latency MS sets the
# simulated controller's reply latency (default 5). Every baud rate also
# gets a headless run of each build; --mqtt adds headless runs at 9600 baud
# with MQTT to a live, an absent and a mute broker; --plain adds the
# "plain" runs. BENCH_RAW=FILE keeps the raw result lines. It reports:
#   - the period of odd and even polling cycles (even ones carry the
#     counters page), each against its wire need: request and reply
#     characters at 11 bits each, the controller's latency per reply, and
#     the TempMode indicator's 100 ms pauses (once a cycle, and again at
#     every 52nd guarded register read);
#   - the CPU time per second of polling (under wine: the program's process
#     and, apart, wine's server and console host);
#   - the bytes written to the terminal per steady cycle;
#   - the peak resident memory;
#   - the time from the port number's Enter to the first full screen, and
#     the wire need of the start-up requests up to it.
# Usage: scripts/bench.sh [--seconds N] [--bauds "9600 19200 4800"] [--wine]
#                         [--no-net] [--log] [--latency MS] [--before REV]
#        scripts/bench.sh --fleet ["1 8 32"]   (BENCH_SECONDS, default 20):
#   N simulators and N headless monitors with metrics at once, the median
#   and worst cycle ratio against the wire need, CPU and memory per monitor.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=build-release
latency=${BENCH_LATENCY:-5}
warmup=3
before_build=build-before  # the --before revision's build

# From a wire trace: the periods of odd and even cycles between its lines a
# and b against their wire need, and the start-up against its own (see the
# header). Prints one result line.
cycle_awk='
    function textlen(s) {            # length of an escaped trace text
      gsub(/\\x[0-9A-Fa-f][0-9A-Fa-f]/, "#", s)
      gsub(/\\[rne\\]/, "#", s)
      return length(s)
    }
    function close_cycle(t) {        # the cycle that began at "start" ends at t
      if (start != "" && start_nr > a && NR <= b) {
        k = counters ? "even" : "odd"
        n[k]++; period[k] += t - start; need[k] += pending + 0.1
      }
      if (starts == 2) boot_need = boot + pending + 0.1
      start = t; start_nr = NR; pending = 0; counters = 0
    }
    {
      t = $1; kind = $2
      text = substr($0, length($1) + length($2) + 3)
      bit = 11 / baud
      if (kind == ">" && text == "CR") seen_cr = 1
      if (kind == ">" && text == "RD 512") { starts++; if (starts == 1) boot = pending + 0.005; close_cycle(t) }
      if (kind == ">" && text == "RD T106") counters = 1
      if (!seen_cr) next
      # Every 52nd guarded register read redraws all four indicators, and
      # the TempMode one pauses 100 ms: a pause of the program, not the wire.
      if (kind == ">" && text ~ /^RD DM/ && text !~ /^RD DM(87|88|89)$/ && ++guarded % 52 == 0)
        pending += 0.1
      if (kind == ">") pending += (textlen(text) + 1) * bit
      else if (kind == "<") {
        if (text ~ / \[noend\]$/) pending += textlen(substr(text, 1, length(text) - 8)) * bit + lat / 1000
        else pending += (textlen(text) + 2) * bit + lat / 1000
      }
    }
    END {
      c = n["odd"] + n["even"]
      if (n["odd"] < 1 || n["even"] < 1) { print "ERROR no whole cycles"; exit 1 }
      printf "%s %d %.1f %.1f %.1f %.1f %.2f %.2f %.0f %d %d %.0f %.0f\n", mode, baud,
        period["odd"] / n["odd"] * 1000, need["odd"] / n["odd"] * 1000,
        period["even"] / n["even"] * 1000, need["even"] / n["even"] * 1000,
        cpu / hz / (wall / 1000) * 1000, help / hz / (wall / 1000) * 1000,
        bytes / c, rss, startup, boot_need * 1000, wakes / (wall / 1000)
    }
'


one_run() {  # one_run MODE BAUD SECONDS: prints one result line
  local mode=$1 baud=$2 window=$3
  E2E_QUIET=1
  E2E_TIMEOUT=$((window + warmup + 90))
  if [[ "$mode" == wine* ]]; then
    E2E_WINE_COM=9
    export ZRVMON_EXE="$root/build-windows/zrvmon.exe"
    [[ "$mode" == wine-before ]] && export ZRVMON_EXE="$root/$before_build/zrvmon.exe"
  fi
  source tests/e2e/lib.sh
  e2e_init "$build"
  sim_start --baud "$baud" --latency "$latency"
  [[ "$mode" == plain ]] && MON_CMD=(env ZRVMON_BENCH_PLAIN_SLEEP=1 "$ZRVMON")
  [[ "$mode" == log ]] && MON_CMD=("$ZRVMON" --log "$E2E_DIR/bench.csv")
  [[ "$mode" == before ]] && MON_CMD=("$root/$before_build/zrvmon")
  local device=$LINK
  if [[ "$mode" == rfc2217 || "$mode" == socket ]]; then
    ser2net_start "$mode"
    device="$mode://127.0.0.1:$SER2NET_PORT"
  fi
  mon_start mon "$device"
  local enter full
  type_text "$MON_PORT"
  enter=$(now_ms)
  keys Enter
  until row_matches 20 '^ t106 +[0-9]+  t107 +[0-9]+'; do
    (($(now_ms) - enter < 60000)) || fail "no full screen within 60 s"
    sleep 0.01
  done
  full=$(now_ms)
  mon_pid
  local pid=$MON_PID hz
  hz=$(getconf CLK_TCK)
  ticks() { awk '{ sub(/^.*\) /, ""); s += $12 + $13 } END { print s + 0 }' "$@" 2>/dev/null; }
  helpers() {  # wine's server and console host, when under wine
    [[ "$mode" == wine* ]] || return 0
    local p
    for p in $(pgrep -x wineserver) $(pgrep -f 'conhost\.exe'); do echo "/proc/$p/stat"; done
  }
  sleep "$warmup"
  local out="$E2E_DIR/terminal.out"
  tmx pipe-pane -o -t mon "cat >'$out'" || fail "pipe-pane"
  sleep 0.2
  local lines_a cpu_a help_a t_a lines_b cpu_b help_b t_b rss wake_a wake_b
  wakes() { cat /proc/"$pid"/task/*/status | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n }'; }
  wake_a=$(wakes)
  lines_a=$(wc -l <"$TRACE")
  cpu_a=$(ticks "/proc/$pid/stat")
  help_a=$(ticks $(helpers) /dev/null)
  t_a=$(now_ms)
  sleep "$window"
  lines_b=$(wc -l <"$TRACE")
  cpu_b=$(ticks "/proc/$pid/stat")
  help_b=$(ticks $(helpers) /dev/null)
  t_b=$(now_ms)
  wake_b=$(wakes)
  tmx pipe-pane -t mon || fail "pipe-pane off"
  rss=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status")
  local sc
  sc=$(syscall_rates "$pid" "$((window < 5 ? window : 5))")
  sleep 0.2
  mon_running || fail "the monitor ended during the measurement"
  mon_quit
  local bytes
  bytes=$(wc -c <"$out")
  awk -v baud="$baud" -v lat="$latency" -v a="$lines_a" -v b="$lines_b" \
      -v mode="$mode" -v bytes="$bytes" -v wall="$(((t_b - t_a)))" \
      -v cpu="$((cpu_b - cpu_a))" -v help="$((help_b - help_a))" -v hz="$hz" \
      -v rss="$rss" -v startup="$((full - enter))" -v wakes="$((wake_b - wake_a))" \
      "$cycle_awk" "$TRACE" | sed "s/\$/ $sc/"
}

# syscall_rates PID SECONDS: strace -c on PID's threads for SECONDS, after
# the CPU window (strace slows what it traces); prints "calls/s write/s
# ioctl/s rt_sigaction/s", or dashes without strace.
syscall_rates() {
  local pid=$1 window=$2 out
  command -v strace >/dev/null || { echo "- - - -"; return; }
  out=$(mktemp)
  timeout -s INT "$window" strace -c -f -q -p "$pid" -o "$out" >/dev/null 2>&1
  awk -v w="$window" '$NF == "total" { t = $4 } $NF == "write" { wr = $4 }
    $NF == "ioctl" { io = $4 } $NF == "rt_sigaction" { sa = $4 }
    END { printf "%.0f %.0f %.0f %.0f\n", t / w, wr / w, io / w, sa / w }' "$out"
  rm -f "$out"
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# headless_run MODE BAUD SECONDS: the monitor without a terminal ("headless",
# or "hl-before" for the --before build), or with --mqtt to a live local
# mosquitto ("mqtt-live"), to a port nobody listens on ("mqtt-none") or to
# one that accepts and never answers ("mqtt-mute"). One result line.
headless_run() {
  local mode=$1 baud=$2 window=$3 dir hz mon="$root/$build/zrvmon" extra=() helper=""
  dir=$(mktemp -d)
  hz=$(getconf CLK_TCK)
  [[ "$mode" == hl-before ]] && mon="$root/$before_build/zrvmon"
  local port
  port=$(free_port)
  case "$mode" in
    mqtt-live)
      printf '%s\n' "listener $port 127.0.0.1" "persistence false" "allow_anonymous true" \
        "user $(id -un)" >"$dir/broker.conf"
      mosquitto -c "$dir/broker.conf" >/dev/null 2>&1 </dev/null &
      helper=$! ;;
    mqtt-mute)
      python3 -c 'import socket, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", '"$port"')); s.listen(8); held = []
while True: held.append(s.accept()[0])' >/dev/null 2>&1 &
      helper=$! ;;
  esac
  [[ "$mode" == mqtt-* ]] && extra=(--mqtt "mqtt://127.0.0.1:$port" --unit bench)
  [[ -n "$helper" ]] && sleep 0.5
  "$build/zrvsim" --link "$dir/tty" --trace "$dir/w.log" --latency "$latency" --baud "$baud" \
    >/dev/null 2>&1 &
  local sim=$!
  until [[ -e "$dir/tty" ]]; do sleep 0.05; done
  ZRVMON_COM1="$dir/tty" "$mon" --port 1 --headless "${extra[@]}" </dev/null >/dev/null 2>"$dir/mon.err" &
  local pid=$!
  sleep $((warmup + 2))
  ticks() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$pid/stat"; }
  wakes() { cat /proc/"$pid"/task/*/status | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n }'; }
  local a c0 w0 t0 b c1 w1 t1 rss
  a=$(wc -l <"$dir/w.log"); c0=$(ticks); w0=$(wakes); t0=$(date +%s%3N)
  sleep "$window"
  b=$(wc -l <"$dir/w.log"); c1=$(ticks); w1=$(wakes); t1=$(date +%s%3N)
  rss=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status")
  local sc
  sc=$(syscall_rates "$pid" "$((window < 5 ? window : 5))")
  kill -TERM "$pid" "$sim" 2>/dev/null
  [[ -n "$helper" ]] && kill -TERM "$helper" 2>/dev/null
  wait 2>/dev/null
  local line
  line=$(awk -v baud="$baud" -v lat="$latency" -v a="$a" -v b="$b" -v mode="$mode" \
      -v bytes=0 -v wall="$((t1 - t0))" -v cpu="$((c1 - c0))" -v help=0 -v hz="$hz" \
      -v rss="$rss" -v startup=0 -v wakes="$((w1 - w0))" "$cycle_awk" "$dir/w.log") || {
    cat "$dir/mon.err" >&2; rm -rf "$dir"; return 1; }
  echo "$line $sc"
  rm -rf "$dir"
}

# fleet_run N SECONDS: N simulators and N headless monitors with metrics,
# at once; prints "N median worst cpu rss simcpu wakes": the median and worst
# cycle ratio (the worse of odd and even, per monitor) against the wire need,
# the mean CPU ms per second and resident kB per monitor, the mean CPU ms per
# second per simulator and the mean wake-ups per second per monitor.
# BENCH_METRICS=0 runs the monitors without --metrics.
fleet_run() {
  local n=$1 window=$2 dir i hz
  dir=$(mktemp -d)
  hz=$(getconf CLK_TCK)
  local sims=() mons=() metrics=()
  for ((i = 1; i <= n; i++)); do
    "$build/zrvsim" --link "$dir/tty$i" --trace "$dir/w$i.log" --latency "$latency" \
      >/dev/null 2>&1 &
    sims+=($!)
  done
  for ((i = 1; i <= n; i++)); do
    until [[ -e "$dir/tty$i" ]]; do sleep 0.05; done
    metrics=(--metrics "$dir/u$i.prom")
    [[ "${BENCH_METRICS:-1}" == 0 ]] && metrics=()
    ZRVMON_COM1="$dir/tty$i" "$build/zrvmon" --port 1 --headless --unit "u$i" \
      "${metrics[@]}" </dev/null >/dev/null 2>&1 &
    mons+=($!)
  done
  sleep $((warmup + 2))
  local a=() c=() b=() d=() rss=() s0=0 s1=0 w0=0 w1=0
  ticks() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"; }
  # Wake-ups of all the monitor's threads: their voluntary switches.
  wakes() { cat /proc/"$1"/task/*/status | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n }'; }
  for ((i = 0; i < n; i++)); do
    a[i]=$(wc -l <"$dir/w$((i + 1)).log"); c[i]=$(ticks "${mons[i]}")
    s0=$((s0 + $(ticks "${sims[i]}"))) w0=$((w0 + $(wakes "${mons[i]}")))
  done
  sleep "$window"
  for ((i = 0; i < n; i++)); do
    b[i]=$(wc -l <"$dir/w$((i + 1)).log"); d[i]=$(ticks "${mons[i]}")
    s1=$((s1 + $(ticks "${sims[i]}"))) w1=$((w1 + $(wakes "${mons[i]}")))
    rss[i]=$(awk '/^VmRSS:/ { print $2 }' "/proc/${mons[i]}/status")
  done
  for p in "${mons[@]}" "${sims[@]}"; do kill -TERM "$p" 2>/dev/null; done
  wait 2>/dev/null
  for ((i = 0; i < n; i++)); do
    awk -v baud=9600 -v lat="$latency" -v a="${a[i]}" -v b="${b[i]}" -v mode=fleet \
        -v bytes=0 -v wall=1 -v cpu=0 -v help=0 -v hz=1 -v rss=0 -v startup=0 -v wakes=0 \
        "$cycle_awk" "$dir/w$((i + 1)).log" \
      | awk -v cpu="$(((d[i] - c[i]) * 1000 / hz / window))" -v rss="${rss[i]}" \
          '{ r = $3 / $4; if ($5 / $6 > r) r = $5 / $6; print r, cpu, rss }'
  done | sort -n | awk -v n="$n" -v sim="$(((s1 - s0) * 1000 / hz / window))" \
    -v wakes="$(((w1 - w0) / window))" '
    { r[NR] = $1; cpu += $2; rss += $3 }
    END { printf "%d %.3f %.3f %.1f %.0f %.1f %.0f\n", n, r[int((NR + 1) / 2)], r[NR], cpu / NR, rss / NR,
          sim / NR, wakes / NR }'
  rm -rf "$dir"
}

if [[ "${1:-}" == --fleet ]]; then
  scripts/build.sh "$build" || exit 1
  seconds=${BENCH_SECONDS:-20}
  echo "Fleet: N zrvsim units (--latency $latency) and N headless zrvmon with --metrics,"
  echo "${seconds} s of polling after $((warmup + 2)) s; $(nproc) cores, $(uname -r), $(date -u +%Y-%m-%d)."
  echo
  printf '%6s | %-13s | %-12s | %-18s | %-15s | %-17s | %s\n' units "median ratio" "worst ratio" \
    "CPU ms/s per unit" "RSS kB per unit" "sim CPU ms/s each" "wake-ups/s per unit"
  for n in ${2:-1 8 32}; do
    read -r n med worst cpu rss sim wakes < <(fleet_run "$n" "$seconds")
    printf '%6d | %13s | %12s | %18s | %15s | %17s | %s\n' "$n" "$med" "$worst" "$cpu" "$rss" "$sim" "$wakes"
  done
  exit 0
fi

if [[ "${1:-}" == --one ]]; then
  shift
  case "$1" in
    headless | hl-before | mqtt-*) headless_run "$@" ;;
    *) one_run "$@" ;;
  esac
  exit $?
fi

seconds=20
bauds="9600 19200 4800"
wine=0
log=0
net=1
plain=0
mqtt=0
before=""
while (($#)); do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --bauds) bauds=$2; shift 2 ;;
    --wine) wine=1; shift ;;
    --log) log=1; shift ;;
    --no-net) net=0; shift ;;
    --latency) export BENCH_LATENCY=$2; latency=$2; shift 2 ;;
    --before) before=$2; shift 2 ;;
    --plain) plain=1; shift ;;
    --mqtt) mqtt=1; shift ;;
    *) echo "usage: $0 [--seconds N] [--bauds \"9600 19200 4800\"] [--wine] [--no-net] [--log] [--plain] [--mqtt] [--latency MS] [--before REV]" >&2; exit 2 ;;
  esac
done
command -v tmux >/dev/null || { echo "bench: tmux is needed (apt-get install tmux)" >&2; exit 1; }
if ((net)) && ! command -v ser2net >/dev/null; then
  echo "bench: ser2net is not installed (scripts/deps.sh test): no network runs" >&2
  net=0
fi
scripts/build.sh "$build" || exit 1
if [[ -n "$before" ]]; then
  # The earlier revision in a worktree of its own, built the same way.
  rm -rf "$before_build"
  tmp_tree=$(mktemp -d)
  git worktree add -f --detach "$tmp_tree" "$before" >/dev/null 2>&1 || exit 1
  (cd "$tmp_tree" && scripts/build.sh "$root/$before_build") || exit 1
  if ((wine)); then
    (cd "$tmp_tree" && scripts/build-windows.sh >/dev/null) || exit 1
    cp "$tmp_tree/build-windows/zrvmon.exe" "$root/$before_build/"
  fi
  git worktree remove --force "$tmp_tree"
fi
if ((wine)); then
  scripts/build-windows.sh >/dev/null || exit 1
  export WINEPREFIX=${WINEPREFIX:-$root/build-windows/wineprefix}
  WINEDEBUG=-all bash tests/wine/prefix.sh >/dev/null || exit 1
fi

runs=()
for baud in $bauds; do
  ((plain)) && runs+=("plain $baud")
  runs+=("poll $baud")
  [[ -n "$before" ]] && runs+=("before $baud")
  runs+=("headless $baud")
  [[ -n "$before" ]] && runs+=("hl-before $baud")
  ((mqtt)) && [[ "$baud" == 9600 ]] && runs+=("mqtt-live $baud" "mqtt-none $baud" "mqtt-mute $baud")
  ((net)) && [[ "$baud" == 9600 ]] && runs+=("rfc2217 $baud" "socket $baud")
  ((wine)) && [[ "$baud" == 9600 ]] && runs+=("wine $baud")
  ((wine)) && [[ -n "$before" && "$baud" == 9600 ]] && runs+=("wine-before $baud")
  ((log)) && [[ "$baud" == 9600 ]] && runs+=("log $baud")
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
results=()
for r in "${runs[@]}"; do
  # shellcheck disable=SC2086
  line=$(bash "$0" --one $r "$seconds" 2>"$tmp/run.err") || {
    echo "bench: run '$r' failed:" >&2; cat "$tmp/run.err" >&2; exit 1; }
  results+=("$line")
  [[ -n "${BENCH_RAW:-}" ]] && echo "$line" >>"$BENCH_RAW"
done

[[ -n "$before" ]] && echo "before: zrvmon built from $(git rev-parse --short "$before")"
echo "zrvmon against zrvsim (--latency $latency), 80x25 tmux pane, ${seconds} s of polling per run"
echo "after ${warmup} s of warm-up; $(nproc) cores, $(uname -r), $(date -u +%Y-%m-%d)."
echo
printf '%-9s %6s | %-24s | %-24s | %8s %7s %7s | %6s | %6s | %-18s | %6s %6s %6s %6s\n' mode baud \
  "odd cycle ms (ratio)" "even cycle ms (ratio)" "CPU ms/s" "(wine)" "wakes/s" "B/cyc" "RSS kB" \
  "start-up ms (ratio)" "sys/s" "write" "ioctl" "sigact"
for line in "${results[@]}"; do
  read -r mode baud op on ep en cpu help bytes rss su sun wakes sc wr io sa <<<"$line"
  awk -v m="$mode" -v b="$baud" -v op="$op" -v on="$on" -v ep="$ep" -v en="$en" \
      -v cpu="$cpu" -v help="$help" -v bytes="$bytes" -v rss="$rss" -v su="$su" -v sun="$sun" \
      -v wakes="$wakes" -v sc="$sc" -v wr="$wr" -v io="$io" -v sa="$sa" 'BEGIN {
    printf "%-9s %6d | %6.1f / %6.1f (%.3f) | %6.1f / %6.1f (%.3f) | %8.1f %7s %7d | %6d | %6d | %5d / %5d (%.2f) | %6s %6s %6s %6s\n",
      m, b, op, on, op / on, ep, en, ep / en, cpu, (m ~ /^wine/) ? sprintf("%.1f", help) : "-",
      wakes, bytes, rss, su, sun, (sun > 0 ? su / sun : 0), sc, wr, io, sa
  }'
done
# Side by side: interactive CPU against headless CPU of the same build, and
# the MQTT runs against the headless run without MQTT.
echo
for line in "${results[@]}"; do
  read -r mode baud op on ep en cpu _ <<<"$line"
  case "$mode" in
    poll) ref=headless ;;
    before) ref=hl-before ;;
    mqtt-*) ref=headless ;;
    wine) ref=wine-before ;;
    *) continue ;;
  esac
  for other in "${results[@]}"; do
    read -r omode obaud oop oon oep oen ocpu _ <<<"$other"
    [[ "$omode" == "$ref" && "$obaud" == "$baud" ]] || continue
    awk -v m="$mode" -v r="$ref" -v b="$baud" -v op="$op" -v on="$on" -v ep="$ep" -v en="$en" \
        -v cpu="$cpu" -v oop="$oop" -v oon="$oon" -v oep="$oep" -v oen="$oen" -v ocpu="$ocpu" 'BEGIN {
      printf "%s / %s at %d baud: CPU %.2f, odd cycle ratio %.3f / %.3f, even %.3f / %.3f\n",
        m, r, b, (ocpu > 0 ? cpu / ocpu : 0), op / on, oop / oon, ep / en, oep / oen }'
  done
done
# The network ports against the pty, run for run.
for line in "${results[@]}"; do
  read -r mode baud op on ep en _ <<<"$line"
  [[ "$mode" == rfc2217 || "$mode" == socket ]] || continue
  for pty in "${results[@]}"; do
    read -r pmode pbaud pop pon pep pen _ <<<"$pty"
    [[ "$pmode" == poll && "$pbaud" == "$baud" ]] || continue
    # The replies' lengths vary with the values: the ratios of the
    # ratios to the wire need take that out.
    awk -v m="$mode" -v b="$baud" -v op="$op" -v on="$on" -v ep="$ep" -v en="$en" \
        -v pop="$pop" -v pon="$pon" -v pep="$pep" -v pen="$pen" 'BEGIN {
      printf "%s / pty at %d baud: odd cycle %.3f (%.3f of the wire need), even cycle %.3f (%.3f)\n",
        m, b, op / pop, (op / on) / (pop / pon), ep / pep, (ep / en) / (pep / pen) }'
  done
done
echo
cat >"$tmp/floor.c" <<'EOF'
#include <poll.h>
#include <stdio.h>
#include <sys/resource.h>
int main(void) {
  for (int i = 0; i < 2000; ++i) poll(NULL, 0, 1);
  struct rusage r;
  getrusage(RUSAGE_SELF, &r);
  printf("%.1f", (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e6 / 2000 +
                     (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 2000.0);
  return 0;
}
EOF
if cc -O2 "$tmp/floor.c" -o "$tmp/floor" 2>/dev/null; then
  echo "Floor: an idle loop of 1 ms waits costs $("$tmp/floor") us of CPU per wait here."
fi
echo
echo "Cycle: measured period / wire need (both in ms). CPU: the monitor's own"
echo "process; (wine): wine's server and console host besides. Wakes: voluntary"
echo "context switches of all its threads per second. Start-up: Enter to"
echo "the first full screen, as seen in the pane, / the wire need of the requests"
echo "up to the end of the first cycle (plus the 5 ms pause after DM901)."
echo "rfc2217, socket: through ser2net on 127.0.0.1 to a pty like poll's."
echo "headless: the same monitor without a terminal (--headless); hl-before:"
echo "the --before build so. mqtt-live: --mqtt to a local mosquitto; mqtt-none:"
echo "to a loopback port nobody listens on; mqtt-mute: to one that accepts and"
echo "never answers. sys/s, write, ioctl, sigact: system calls a second by"
echo "strace -c -f over the 5 s after the CPU window (write: terminal and line)."
