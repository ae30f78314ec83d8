# SPDX-License-Identifier: MIT
# Shared harness of the end-to-end tests: the real zrvmon in a private tmux
# server, talking to zrvsim on a pseudo-terminal. Source it, then call
# e2e_init with the build folder:
#
#   source "$(dirname "$0")/lib.sh"
#   e2e_init "$1"
#   sim_start --system 42
#   mon_start
#   mon_connect          # port 1, then the full screen
#   ...
#   mon_quit             # Esc, status 0
#
# Every wait is bounded; on any failure the last screen, the wire trace and
# the programs' error output are printed and everything started is ended.
# E2E_KEEP=1 keeps the temporary folder for a look afterwards.
#
# E2E_WINE_COM=<n> (tests/wine/) runs zrvmon.exe ($ZRVMON_EXE) under wine
# instead, with zrvsim linked as COM<n> of $WINEPREFIX (a private prefix
# when unset); the port typed at the prompt is then <n>.

set -uo pipefail
# The screens hold UTF-8 glyphs: the greps must count characters, not bytes,
# whatever locale the caller (CI included) runs in.
export LC_ALL=C.UTF-8

E2E_NAME=$(basename "${0%.sh}")
E2E_DIR=""          # temporary folder of this test
E2E_SOCK=""         # tmux server socket name, unique per run
E2E_SIM_PID=""
E2E_SER2NET_PID=""  # a serial device server serving $LINK (ser2net_start)
SER2NET_PORT=""
E2E_WATCHDOG=""
E2E_SESSION="mon"   # the session the screen helpers look at by default
BUILD=""
ZRVMON=""
ZRVSIM=""
LINK=""             # the pty path the monitor opens as COM1
TRACE=""
E2E_WINE_COM=${E2E_WINE_COM:-}
# Under wine a missing wine is a skip (a failure in CI).
[[ -n "$E2E_WINE_COM" ]] && source "$(dirname "${BASH_SOURCE[0]}")/../wine/common.sh"
E2E_OWN_PREFIX=""   # a wine prefix made by this test, removed with it
MON_PORT=1          # the port number typed at the prompt
MON_CMD=()          # the monitor's command line
MON_START_TIMEOUT=10

log() { printf '[%s] %s\n' "$E2E_NAME" "$*"; }

# Monotonic-enough wall clock in milliseconds.
now_ms() {
  local t=${EPOCHREALTIME/./}
  echo $((t / 1000))
}

# wait_until TIMEOUT WHAT COMMAND...: runs COMMAND every 0.1 s until it
# succeeds; fails with "WHAT within TIMEOUT s" once the time is up.
wait_until() {
  local timeout=$1 what=$2
  shift 2
  local deadline=$(($(now_ms) + timeout * 1000))
  until "$@"; do
    (($(now_ms) < deadline)) || fail "$what within $timeout s"
    sleep 0.1
  done
}

e2e_init() {
  BUILD=$(cd "${1:?usage: $0 <build dir>}" && pwd) || exit 1
  ZRVMON="$BUILD/zrvmon"
  ZRVSIM="$BUILD/zrvsim"
  if [[ -n "$E2E_WINE_COM" ]]; then
    ZRVMON=${ZRVMON_EXE:-$BUILD/windows/zrvmon.exe}
    [[ -n "${ZRVMON_EXE:-}" || -e "$ZRVMON" ]] \
      || ZRVMON="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/build-windows/zrvmon.exe"
    MON_CMD=(wine "$ZRVMON")
    MON_PORT=$E2E_WINE_COM
    # The first start in a prefix sets it up first.
    MON_START_TIMEOUT=30
  else
    MON_CMD=("$ZRVMON")
  fi
  local missing=0
  for b in "$ZRVMON" "$ZRVSIM"; do
    [[ -x "$b" ]] || { echo "missing binary $b (build the targets zrvmon and zrvsim)" >&2; missing=1; }
  done
  command -v tmux >/dev/null || { echo "tmux is not installed (scripts/deps.sh test installs it)" >&2; missing=1; }
  ((missing == 0)) || exit 1

  E2E_DIR=$(mktemp -d "${TMPDIR:-/tmp}/zrve2e.$E2E_NAME.XXXXXX") || exit 1
  E2E_SOCK="zrve2e-$E2E_NAME-$$-$RANDOM"
  LINK="$E2E_DIR/ttyZRV"
  TRACE="$E2E_DIR/wire.log"
  # remain-on-exit keeps the last screen of a program that ended, so it can
  # still be read; no status line, so the pane is the whole window.
  cat >"$E2E_DIR/tmux.conf" <<'EOF'
set -g remain-on-exit on
set -g status off
set -g default-terminal screen
set -g history-limit 100
EOF
  trap e2e_cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  # Never outlive CTest's own timeout: end with cleanup well before it.
  # Short naps holding none of CTest's pipes: CTest never waits on a
  # leftover sleep, and the watchdog goes away with the test.
  (
    for ((n = 0; n < ${E2E_TIMEOUT:-150}; n++)); do
      sleep 1
      kill -0 $$ 2>/dev/null || exit 0
    done
    : >"$E2E_DIR/watchdog"
    kill -TERM $$
    # A tmux client stuck on its server would hold the test (and its trap)
    # up: take the server away.
    tmux -L "$E2E_SOCK" kill-server
  ) </dev/null >/dev/null 2>&1 &
  E2E_WATCHDOG=$!
  if [[ -n "$E2E_WINE_COM" ]]; then
    if [[ -z "${WINEPREFIX:-}" ]]; then
      export WINEPREFIX="$E2E_DIR/wineprefix"
      E2E_OWN_PREFIX=1
      # Bounded here: the watchdog's signal waits for a foreground program.
      timeout 120 wineboot -i >"$E2E_DIR/wineboot.err" 2>&1
    fi
    [[ -d "$WINEPREFIX/dosdevices" ]] || fail "no wine prefix at $WINEPREFIX"
    LINK="$WINEPREFIX/dosdevices/com$E2E_WINE_COM"
  fi
}

tmx() { tmux -L "$E2E_SOCK" -f "$E2E_DIR/tmux.conf" "$@"; }

e2e_cleanup() {
  local rc=$?
  trap - EXIT INT TERM
  [[ -e "$E2E_DIR/watchdog" ]] && echo "[$E2E_NAME] FAIL: ended by the watchdog after ${E2E_TIMEOUT:-150} s" >&2
  [[ -n "$E2E_WATCHDOG" ]] && kill "$E2E_WATCHDOG" 2>/dev/null
  if [[ -n "$E2E_SOCK" ]]; then
    tmx kill-server 2>/dev/null
  fi
  # Monitors that outlived their pane (they should not) are ended by pid;
  # under wine the program may be a child of the pid: its prefix's
  # server ends them all.
  local f p stray=""
  for f in "$E2E_DIR"/*.pid; do
    [[ -f "$f" ]] || continue
    p=$(cat "$f" 2>/dev/null)
    [[ -n "$p" ]] && kill -0 "$p" 2>/dev/null && kill -KILL "$p" 2>/dev/null && stray=1
  done
  if [[ -n "$E2E_WINE_COM" && -n "$stray$E2E_OWN_PREFIX" ]]; then
    timeout 10 wineserver -k 2>/dev/null
    timeout 10 wineserver -w 2>/dev/null
    [[ -z "$E2E_OWN_PREFIX" ]] && wine_server_up
  fi
  ser2net_stop
  sim_stop
  [[ -L "$LINK" ]] && rm -f "$LINK"
  if [[ -n "$E2E_DIR" && -d "$E2E_DIR" ]]; then
    if [[ "${E2E_KEEP:-0}" == 1 ]]; then
      echo "[$E2E_NAME] kept $E2E_DIR" >&2
    else
      rm -rf "$E2E_DIR"
    fi
  fi
  if ((rc == 0)) && [[ -z "${E2E_QUIET:-}" ]]; then log "PASS"; fi
  exit "$rc"
}

# --- failure report --------------------------------------------------------

fail() {
  {
    echo "[$E2E_NAME] FAIL: $*"
    local s
    for s in $(tmx list-sessions -F '#{session_name}' 2>/dev/null); do
      echo "---- screen of session '$s' (title: '$(tmx display -p -t "$s" '#{pane_title}' 2>/dev/null)') ----"
      tmx capture-pane -p -t "$s" 2>/dev/null
    done
    if [[ -s "$TRACE" ]]; then
      echo "---- wire trace, last 40 of $(wc -l <"$TRACE") lines ----"
      tail -n 40 "$TRACE"
    else
      echo "---- wire trace: empty ----"
    fi
    for s in "$E2E_DIR"/*.err "$E2E_DIR/sim.out"; do
      [[ -s "$s" ]] && { echo "---- $(basename "$s") ----"; tail -n 20 "$s"; }
    done
  } >&2
  exit 1
}

# --- simulator -------------------------------------------------------------

# sim_start [zrvsim options...]: serves the controller on $LINK, traced to
# $TRACE, and waits until the link is there.
sim_start() {
  # A link left behind by a killed run must not pass for this one's.
  [[ -L "$LINK" ]] && rm -f "$LINK"
  "$ZRVSIM" --link "$LINK" --trace "$TRACE" "$@" >"$E2E_DIR/sim.out" 2>&1 &
  E2E_SIM_PID=$!
  local deadline=$(($(now_ms) + 5000))
  until [[ -e "$LINK" ]]; do
    kill -0 "$E2E_SIM_PID" 2>/dev/null || fail "zrvsim ended at start ($*)"
    (($(now_ms) < deadline)) || fail "zrvsim did not create $LINK within 5 s"
    sleep 0.05
  done
}

# stop_pid PID: TERM, up to 3 s to go, then KILL.
stop_pid() {
  [[ -n "$1" ]] || return 0
  kill -TERM "$1" 2>/dev/null
  local i
  for i in $(seq 30); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}

sim_stop() {
  stop_pid "$E2E_SIM_PID"
  E2E_SIM_PID=""
}

# --- serial device server ---------------------------------------------------

# ser2net_start MODE [PORT]: Debian's ser2net serving the simulator's pty on
# 127.0.0.1 as MODE rfc2217 (Telnet, the line at 4800 until a client sets
# it) or socket (raw TCP), passing each byte on at once (chardelay off,
# as the README advises); sets SER2NET_PORT. Without PORT a free one is
# picked, and another if ser2net cannot have it; with PORT (a restart)
# only that one.
ser2net_start() {
  local mode=$1 want=${2:-} pty accepter try port speed=9600
  command -v ser2net >/dev/null || fail "ser2net is not installed (scripts/deps.sh test installs it)"
  pty=$(readlink -f "$LINK")
  case $mode in
    rfc2217) accepter="telnet(rfc2217),tcp,127.0.0.1" speed=4800 ;;
    socket) accepter="tcp,127.0.0.1" ;;
    *) fail "ser2net_start: unknown mode $mode" ;;
  esac
  for try in 1 2 3 4 5 6 7 8; do
    # Below the kernel's ephemeral range, so no client's port can take it.
    port=${want:-$((20000 + (RANDOM * 32768 + RANDOM) % 12000))}
    [[ -z "$want" ]] && port_listened "$port" && continue
    printf '%s\n' '%YAML 1.1' '---' 'connection: &zrv' \
      "  accepter: $accepter,$port" \
      "  connector: serialdev,$pty,${speed}n81,local" \
      '  options:' '    kickolduser: true' '    chardelay: false' \
      >"$E2E_DIR/ser2net.yaml"
    ser2net -n -u -c "$E2E_DIR/ser2net.yaml" -P "$E2E_DIR/ser2net.pidfile" \
      >>"$E2E_DIR/ser2net.err" 2>&1 </dev/null &
    E2E_SER2NET_PID=$!
    local deadline=$(($(now_ms) + 5000))
    while kill -0 "$E2E_SER2NET_PID" 2>/dev/null; do
      if port_listened "$port"; then
        SER2NET_PORT=$port
        return 0
      fi
      (($(now_ms) < deadline)) || break
      sleep 0.05
    done
    ser2net_stop
    [[ -n "$want" ]] && sleep 0.5 # the same port again: give it a moment
  done
  fail "ser2net did not listen ($mode${want:+ on $want})"
}

# Whether something listens on the loopback TCP port.
port_listened() {
  if command -v ss >/dev/null; then
    ss -Htln "sport = :$1" 2>/dev/null | grep -q .
  else
    (: </dev/tcp/127.0.0.1/"$1") 2>/dev/null
  fi
}

ser2net_stop() {
  stop_pid "$E2E_SER2NET_PID"
  E2E_SER2NET_PID=""
}

# Toggles the simulated line silent and back.
sim_toggle_silent() { kill -USR1 "$E2E_SIM_PID" || fail "cannot signal zrvsim"; }

# --- monitor ---------------------------------------------------------------

# Writes a launcher for one monitor: it records the monitor's pid in
# <name>.pid, its error output in <name>.err and, in the direct form, its
# exit status as "EXIT=<n>" in <name>.exit. The port typed ($MON_PORT)
# maps to $1 (under wine only a network address there counts).
# Under wine each start gets the pty with input parity checking off, as a
# fresh pty has it: an earlier start's even parity left the checking on
# (the pty itself refuses the parity).
# MON_COM2 (default none) names the device for port 2 the same way.
# ZRVMON_WRAP (default none) goes before the command as shell words, e.g. a
# valgrind command line; it is read when the launcher is written.
write_launcher() {
  local name=$1 device=$2
  cat >"$E2E_DIR/$name.run" <<EOF
echo \$\$ >"$E2E_DIR/$name.pid"
export ZRVMON_COM$MON_PORT="$device"
${MON_COM2:+export ZRVMON_COM2=${MON_COM2@Q}}
${E2E_WINE_COM:+stty -F ${device@Q} -inpck 2>${E2E_DIR@Q}/$name.stty.err}
exec ${ZRVMON_WRAP:-} ${MON_CMD[*]@Q} 2>"$E2E_DIR/$name.err"
EOF
}

# mon_start [session] [device]: runs the monitor directly as the pane's
# program in an 80x25 window.
mon_start() {
  local name=${1:-mon} device=${2:-$LINK} tries=1 err
  [[ -n "$E2E_WINE_COM" ]] && tries=2
  write_launcher "$name" "$device"
  local cmd="bash '$E2E_DIR/$name.run'; echo EXIT=\$? >'$E2E_DIR/$name.exit'"
  while :; do
    rm -f "$E2E_DIR/$name.exit"
    TERM=screen tmx new-session -d -s "$name" -x 80 -y 25 "$cmd" || fail "tmux new-session $name"
    wait_until "$MON_START_TIMEOUT" "screen of '$name' did not show 'Enter Comport'" \
      prompted_or_ended "$name"
    screen_has "Enter Comport" "$name" && return 0
    # Wine itself, not the program, failed to start it: seen about once in
    # a few hundred cold starts under load. Once more, then it counts.
    err=$({ cat "$E2E_DIR/$name.err"; screen "$name"; } 2>/dev/null \
      | grep -m1 -E "Can't recognize|could not be started|ShellExecuteEx failed")
    ((--tries > 0)) && [[ -n "$err" ]] || fail "'$name' ended before its prompt: $(cat "$E2E_DIR/$name.err" 2>/dev/null)"
    echo "[$E2E_NAME] wine did not start '$name' ($err): once more" >&2
    tmx kill-session -t "$name"
  done
}
prompted_or_ended() { screen_has "Enter Comport" "$1" || [[ -e "$E2E_DIR/$1.exit" ]]; }

# shell_start [session]: an interactive bash without line editing, so what
# is typed echoes only when the terminal itself echoes.
shell_start() {
  local name=${1:-mon}
  TERM=screen tmx new-session -d -s "$name" -x 80 -y 25 \
    "env -i PATH='$PATH' HOME='$E2E_DIR' TERM=screen PS1='e2e\$ ' bash --norc --noprofile --noediting -i" \
    || fail "tmux new-session $name"
  wait_for 'e2e$' 10 "$name"
}

# shell_run_monitor [session]: types the monitor's command line into the
# shell; the status lands in <name>.exit as with mon_start.
shell_run_monitor() {
  local name=${1:-mon}
  write_launcher "$name" "$LINK"
  rm -f "$E2E_DIR/$name.exit"
  type_text "bash $E2E_DIR/$name.run; echo EXIT=\$? >$E2E_DIR/$name.exit" "$name"
  keys Enter "$name"
  wait_for "Enter Comport" "$MON_START_TIMEOUT" "$name"
}

# answer_port N [session]: types the port number and Enter at the prompt.
answer_port() {
  type_text "$1" "${2:-$E2E_SESSION}"
  keys Enter "${2:-$E2E_SESSION}"
}

# mon_pid [session]: sets MON_PID to the monitor's process id.
mon_pid() {
  local f="$E2E_DIR/${1:-mon}.pid"
  [[ -s "$f" ]] || fail "no pid recorded for monitor '${1:-mon}'"
  MON_PID=$(cat "$f")
}

mon_running() {
  local p
  p=$(cat "$E2E_DIR/${1:-mon}.pid" 2>/dev/null) && [[ -n "$p" ]] && kill -0 "$p" 2>/dev/null
}

# wait_exit TIMEOUT [session]: waits for the monitor to end and sets
# EXIT_CODE to its exit status.
wait_exit() {
  local name=${2:-mon}
  wait_until "$1" "monitor '$name' did not end" test -s "$E2E_DIR/$name.exit"
  EXIT_CODE=$(sed -n 's/^EXIT=//p' "$E2E_DIR/$name.exit")
}

# mon_connect [session]: answers the port at the prompt and waits for the
# full screen.
# mon_connect [session [timeout]]: the port typed, then the counters shown
# within the timeout (10 s).
mon_connect() {
  answer_port "$MON_PORT" "${1:-$E2E_SESSION}"
  wait_for "tTotal" "${2:-10}" "${1:-$E2E_SESSION}"
}

# mon_quit [session]: Esc ends the monitor within 10 s with status 0.
mon_quit() {
  local name=${1:-$E2E_SESSION}
  keys Escape "$name"
  wait_exit 10 "$name"
  [[ "$EXIT_CODE" == 0 ]] || fail "monitor '$name': exit status $EXIT_CODE after Esc"
}

# --- keys and screen -------------------------------------------------------

keys() { tmx send-keys -t "${2:-$E2E_SESSION}" "$1" || fail "send-keys $1"; }
type_text() { tmx send-keys -l -t "${2:-$E2E_SESSION}" -- "$1" || fail "send-keys -l $1"; }

screen() { tmx capture-pane -p -t "${1:-$E2E_SESSION}"; }
screen_escaped() { tmx capture-pane -p -e -t "${1:-$E2E_SESSION}"; }
row() { screen "${2:-$E2E_SESSION}" | sed -n "${1}p"; }
pane_title() { tmx display -p -t "${1:-$E2E_SESSION}" '#{pane_title}'; }

screen_has() { screen "${2:-}" 2>/dev/null | grep -qF -- "$1"; }
screen_matches() { screen "${2:-}" 2>/dev/null | grep -qE -- "$1"; }
row_matches() { row "$1" "${3:-}" 2>/dev/null | grep -qE -- "$2"; }

# wait_for TEXT TIMEOUT [session]: until the screen holds TEXT (fixed string).
wait_for() {
  local name=${3:-$E2E_SESSION}
  wait_until "$2" "screen of '$name' did not show '$1'" screen_has "$1" "$name"
}

# wait_line REGEX TIMEOUT [session]: until some screen row matches REGEX.
wait_line() {
  local name=${3:-$E2E_SESSION}
  wait_until "$2" "no row of '$name' matched /$1/" screen_matches "$1" "$name"
}

# wait_row ROW REGEX TIMEOUT [session]: until screen row ROW matches REGEX.
wait_row() {
  local name=${4:-$E2E_SESSION}
  wait_until "$3" "row $1 of '$name' did not match /$2/" row_matches "$1" "$2" "$name"
}

# expect_row ROW REGEX [session]: row ROW matches REGEX now.
expect_row() {
  row_matches "$1" "$2" "${3:-}" \
    || fail "row $1 is '$(row "$1" "${3:-$E2E_SESSION}")', expected /$2/"
}

# expect_title TEXT [session]: the pane's title is TEXT.
expect_title() {
  local title
  title=$(pane_title "${2:-$E2E_SESSION}")
  [[ "$title" == "$1" ]] || fail "title is '$title', expected '$1'"
}

# wait_file FILE TIMEOUT: until FILE exists and is not empty.
wait_file() { wait_until "$2" "$(basename "$1") was not written" test -s "$1"; }

# shell_stty FILE [session]: has the shell in the pane record stty -a.
shell_stty() {
  rm -f "$1"
  type_text "stty -a >$1" "${2:-$E2E_SESSION}"
  keys Enter "${2:-$E2E_SESSION}"
  wait_file "$1" 5
}

# shell_check NAME: the shell in the pane has its terminal back after NAME:
# canonical input with echo and signals, processed output (stty -a lands in
# stty.NAME), and a typed command echoes and runs.
shell_check() {
  local f="$E2E_DIR/stty.$1" flag
  shell_stty "$f"
  for flag in icanon echo isig icrnl opost onlcr; do
    grep -qE "(^| )$flag( |$)" "$f" || fail "after $1 the terminal has -$flag: $(cat "$f")"
  done
  type_text "echo after-$1"
  wait_for "echo after-$1" 5
  keys Enter
  wait_line "^after-$1\$" 5
}

# --- wire trace ------------------------------------------------------------

# Requests the simulator saw, one per line, without the time stamps.
requests() { sed -n 's/^[0-9.]* > //p' "$TRACE" 2>/dev/null; }
request_count() { requests | wc -l; }

# wait_trace REGEX TIMEOUT: until a trace line matches REGEX.
wait_trace() { wait_until "$2" "the wire trace did not show /$1/" grep -qsE -- "$1" "$TRACE"; }

requests_at_least() { (($(request_count) >= $1)); }

# wait_more_requests N TIMEOUT: until N more requests than now have come.
wait_more_requests() {
  wait_until "$2" "fewer than $1 new requests reached the simulator" \
    requests_at_least $(($(request_count) + $1))
}

# expect_polling N TIMEOUT: N more requests come within TIMEOUT s, and the
# temperature (DM992) is read among them: the polling cycle goes on.
expect_polling() {
  local n
  n=$(grep -c '> RD DM992$' "$TRACE")
  wait_more_requests "$1" "$2"
  (($(grep -c '> RD DM992$' "$TRACE") > n)) || fail "the temperature was not polled among $1 new requests"
}
