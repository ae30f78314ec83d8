# SPDX-License-Identifier: MIT
# The unattended monitor's log over months, against zrvsim with no terminal
# and stdin from /dev/null: renamed, removed, copied and emptied in place,
# and reopened on SIGHUP, it goes on with every row written once; SIGHUP
# rewrites a removed metrics file at once even on a dead line; a full disk
# (a small tmpfs) pauses the log and the metrics, whole rows only, and they
# resume with the gap counted; the shipped logrotate configuration passes
# logrotate -d, and real logrotate -f runs rotate it without losing a row.
source "$(dirname "$0")/lib.sh"
E2E_TIMEOUT=150
e2e_init "$1"
LOG=$E2E_DIR/u.csv
HPID=""
# The script's own status goes on to e2e_cleanup, not that of the clean-up steps.
trap 'rc=$?; stop_pid "$HPID"; mountpoint -q "$E2E_DIR/disk" && umount "$E2E_DIR/disk"; (exit $rc); e2e_cleanup' EXIT

headless() {  # NAME LOG [options]: a monitor as its service runs it
  local name=$1 log=$2
  shift 2
  ZRVMON_COM1=$LINK "$ZRVMON" --port 1 --headless --log "$log" "$@" \
    </dev/null >/dev/null 2>"$E2E_DIR/$name.err" &
  HPID=$!
}
stop() {  # NAME: SIGTERM, status 0
  kill -TERM "$HPID"
  wait "$HPID" || fail "$1 exited with $?: $(cat "$E2E_DIR/$1.err")"
  HPID=""
}
rows() { zcat -f "$@" | grep -cv '^time,\|^#'; }
rows_over() { local f=$1 n=$2; [[ -e "$f" ]] && (($(rows "$f") > n)); }
said() { grep -qF -- "$2" "$E2E_DIR/$1.err"; }
# The summary's figures: cycles, rows written, rows lost, reopenings.
summary() {
  sed -nE 's/^zrvmon ran .*: ([0-9]+) cycles of .*/\1/p;
           s/^  log: ([0-9]+) rows? written, ([0-9]+) lost, ([0-9]+) reopenings?$/\1 \2 \3/p' \
    "$E2E_DIR/$1.err" | paste -sd' '
}
# Every line of the files a header, a comment or a row of 32 fields, and
# no row twice.
whole() {
  zcat -f "$@" | awk -F, '!/^(time,|#)/ && NF != 32 { print "torn: " $0; exit 1 }' \
    || fail "a torn line in $*"
  local doubled
  doubled=$(zcat -f "$@" | grep -v '^time,\|^#' | cut -d, -f1 | sort | uniq -d | head -3)
  [[ -z "$doubled" ]] || fail "rows doubled: $doubled"
}

sim_start --noise 0 --speed 0.0001
log "rename, remove, copytruncate, SIGHUP"
headless rot "$LOG" --metrics "$E2E_DIR/u.prom"
wait_until 10 "no rows" rows_over "$LOG" 2
begun_again() { rows_over "$LOG" 0 && [[ $(head -1 "$LOG") == time,* ]]; }
mv "$LOG" "$LOG.1"
wait_until 5 "no new log with its header after the rename" begun_again
said rot "zrvmon: the log $LOG was reopened: its file was renamed or removed" \
  || fail "no reopening said"
ln "$LOG" "$E2E_DIR/removed.csv" && rm "$LOG"  # the link kept for the count
wait_until 5 "no new log after the removal" begun_again
# Copied and emptied just after a row, as copytruncate does: a row landing
# between the two would be lost by the rotation itself.
n=$(rows "$LOG")
wait_until 5 "no row" rows_over "$LOG" "$n"
cp "$LOG" "$LOG.2" && : >"$LOG"
wait_until 5 "no row with a header after copytruncate" begun_again
kill -HUP "$HPID"
wait_until 3 "SIGHUP did not reopen the log" said rot "was reopened as asked"
n=$(rows "$LOG")
wait_until 5 "polling stopped after SIGHUP" rows_over "$LOG" $((n + 1))
# On a dead line a cycle takes half a minute: SIGHUP writes the metrics now.
sim_toggle_silent
wait_until 10 "the line did not go down" said rot "zrvmon: COM1: No reply from the controller"
rm "$E2E_DIR/u.prom"
kill -HUP "$HPID"
wait_until 2 "SIGHUP did not write the metrics" test -s "$E2E_DIR/u.prom"
grep -q '^zrv_up{unit="COM1"} 0$' "$E2E_DIR/u.prom" || fail "the metrics do not say the line is down"
sim_toggle_silent
wait_until 40 "readings did not come again" said rot "readings come again"
stop rot
files=("$LOG.1" "$E2E_DIR/removed.csv" "$LOG.2" "$LOG")
whole "${files[@]}"
read -r cycles written lost reopened <<<"$(summary rot)"
total=$(rows "${files[@]}")
log "rows $(for f in "${files[@]}"; do printf '%s ' "$(rows "$f")"; done)= $total; cycles $cycles; summary: $written written, $lost lost, $reopened reopenings"
[[ "$total $written $lost $reopened" == "$cycles $cycles 0 4" ]] \
  || fail "$total rows in the files, summary '$(summary rot)'"

log "a full disk"
mkdir "$E2E_DIR/disk"
if ! mount -t tmpfs -o size=64k tmpfs "$E2E_DIR/disk" 2>/dev/null; then
  log "skipped: no tmpfs can be mounted here"
else
  DISK=$E2E_DIR/disk/u.csv
  headless full "$DISK" --metrics "$E2E_DIR/disk/u.prom"
  wait_until 10 "no rows" rows_over "$DISK" 1
  dd if=/dev/zero of="$E2E_DIR/disk/fill" bs=1k 2>/dev/null
  # The rows fill the log's last page first.
  wait_until 40 "stderr did not say the log paused" said full "zrvmon: the log $DISK paused after row"
  said full "zrvmon: the metrics $E2E_DIR/disk/u.prom paused: No space left on device" \
    && whole "$DISK" && sleep 2 && rm "$E2E_DIR/disk/fill" || fail "the metrics' pause was not said"
  wait_until 10 "the log did not resume" said full "zrvmon: the log $DISK resumed at row"
  # The log's writer may resume before the cycle's end writes the metrics.
  wait_until 5 "the metrics' resumption was not said" said full "zrvmon: the metrics $E2E_DIR/disk/u.prom resumed"
  stop full
  whole "$DISK"
  read -r cycles written lost _ <<<"$(summary full)"
  gap=$(awk -F, '!/^(time,|#)/ { s += $32 } END { print s + 0 }' "$DISK")
  log "$(grep -E 'paused|resumed' "$E2E_DIR/full.err" | paste -sd'|')"
  log "rows $(rows "$DISK"), rows_lost $gap; cycles $cycles; summary: $written written, $lost lost"
  ((lost > 0 && gap == lost && written == $(rows "$DISK") && written + lost == cycles)) \
    || fail "rows $(rows "$DISK"), rows_lost $gap, summary '$(summary full)'"
fi

log "logrotate"
conf="$(dirname "$0")/../../service/zrvmon.logrotate"
logrotate -d "$conf" >"$E2E_DIR/lr-d.out" 2>&1 || fail "logrotate -d: $(cat "$E2E_DIR/lr-d.out")"
grep -qi 'error' "$E2E_DIR/lr-d.out" && fail "logrotate -d: $(cat "$E2E_DIR/lr-d.out")"
mkdir -m 755 "$E2E_DIR/lr"
sed "s|/var/log/zrvmon|$E2E_DIR/lr|" "$conf" >"$E2E_DIR/lr.conf"
headless lr "$E2E_DIR/lr/u.csv"
for i in 1 2 3; do
  wait_until 10 "no rows before rotation $i" rows_over "$E2E_DIR/lr/u.csv" 1
  logrotate -f -s "$E2E_DIR/lr.state" "$E2E_DIR/lr.conf" || fail "logrotate -f"
done
wait_until 10 "no rows after the rotations" rows_over "$E2E_DIR/lr/u.csv" 0
stop lr
whole "$E2E_DIR"/lr/u.csv*
read -r cycles written lost reopened <<<"$(summary lr)"
log "$(cd "$E2E_DIR/lr" && ls | paste -sd' '): $(rows "$E2E_DIR"/lr/u.csv*) rows, $cycles cycles, $reopened reopenings"
[[ -e "$E2E_DIR/lr/u.csv.3.gz" && -e "$E2E_DIR/lr/u.csv.1" ]] || fail "not rotated: $(ls "$E2E_DIR/lr")"
[[ "$(rows "$E2E_DIR"/lr/u.csv*) $lost $reopened" == "$cycles 0 3" ]] \
  || fail "$(rows "$E2E_DIR"/lr/u.csv*) rows, summary '$(summary lr)'"
exit 0
