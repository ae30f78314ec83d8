# SPDX-License-Identifier: MIT
# The reading log: its rows hold what the screen showed, field by field, on
# a counters cycle and on the cycle after; the replies the simulator lost or
# spoiled are counted, and leave exactly their own fields empty; a log removed
# is begun again, one grown to the file-size limit pauses with its rows whole,
# polling goes on, and the end says so below the run's summary, in 80 columns.
source "$(dirname "$0")/lib.sh"
e2e_init "$1"
base=("${MON_CMD[@]}")
LOG="$E2E_DIR/log.csv"

# A unit standing still, so that any row can be set beside the screen.
sim_start --noise 0 --speed 0.0001 --system 7 \
  --fault 'RD T106:lost,after=1,times=3' --fault 'RD T107:reply,after=1,times=2:OKxx'
MON_CMD=("${base[@]}" --log "$LOG")
mon_start
mon_connect
faults_done() { (($(grep -cE '! (lost|reply)' "$TRACE") >= 5)); }
rows_at_least() { (($(wc -l <"$LOG") >= $1)); }
size_at_least() { (($(stat -c %s "$LOG") >= $1)); }
wait_until 20 "the faults were not all injected" faults_done
full_row() { awk -F, 'NR > 1 && $19 != "" && $25 != "" && $26 != "" { f = 1 } END { exit !f }' "$LOG"; }
wait_until 10 "no counters row with both timers read" full_row
wait_until 10 "no two more rows" rows_at_least $(($(wc -l <"$LOG") + 2))
shot=$(screen)
cp "$LOG" "$E2E_DIR/rows.csv"

shown() { sed -n "${1}p" <<<"$shot" | sed 's/ *$//'; }
same() { [[ "$(shown "$1")" == "$2" ]] || fail "row $1 is '$(shown "$1")', the log says '$2'"; }
check_row() {  # a CSV row against the screen; counters only on their cycle
  IFS=, read -r _ sys t ts ta h hs ha c cs e d du dt v tc fh tm tot c1 c2 c3 c4 c5 m6 m7 _ <<<"$1"
  [[ -n "$2" ]] && same 1 "$(printf ' System        #%4s    ComPort %s' "$sys" "$MON_PORT")"
  same 3 "$(printf ' Temp.        %6s C  /  %6s C  /  %6s C' "$t" "$ts" "$ta")"
  same 4 "$(printf ' RH           %6s %%  /  %6s %%  /  %6s %%' "$h" "$hs" "$ha")"
  same 5 "$(printf ' CO2          %6s %%  /  %6s %%' "$c" "$cs")"
  same 6 "$(printf ' Evap.Temp.   %6s C' "$e")"
  [[ $du == h ]] || fail "defrost unit '$du'"
  same 7 "$(printf ' Defrost in   %6s hrs to%6s C' "$d" "$dt")"
  [[ $(shown 12) == *"$( ((tm)) && echo C || echo H)" ]] || fail "TempMode against $tm"
  local i on off
  for i in 9 10 11; do
    on=$v; ((i == 10)) && on=$tc; ((i == 11)) && on=$fh
    off=0; [[ $(shown $i) == *") -" ]] && off=1
    ((off == 1 - on)) || fail "indicator row $i against $on"
  done
  if [[ -z "$2" ]]; then
    [[ -z "$sys$tot$c1$c2$c3$c4$c5$m6$m7" ]] || fail "counters on an odd cycle: $1"
    return
  fi
  [[ $(shown 14) =~ ^\ tTotal\ +$tot\ s ]] || fail "total against $tot"
  local r=15
  for v in "$c1" "$c2" "$c3" "$c4" "$c5"; do
    [[ $(shown $r) =~ ^\ t[^0-9]+\ $v\ s ]] || fail "row $r against $v"
    r=$((r + 1))
  done
  same 20 "$(printf ' t106          %5s  t107 %5s' "$m6" "$m7")"
}
check_row "$(awk -F, 'NR > 1 && $19 != "" && $25 != "" && $26 != ""' "$E2E_DIR/rows.csv" | tail -1)" even
check_row "$(awk -F, 'NR > 1 && $19 == ""' "$E2E_DIR/rows.csv" | tail -1)" ""
read -r lost spoilt < <(awk -F, 'NR > 1 {u += $28; b += $29} END {print u, b}' "$E2E_DIR/rows.csv")
[[ "$lost $spoilt" == "3 2" ]] || fail "the log counts $lost unanswered and $spoilt unusable, not 3 and 2"
# The empty fields of the counters cycles: three lost T106 reads, two
# unusable T107 replies, and nothing else.
empties=$(awk -F, 'NR > 1 && $19 != "" { for (i = 2; i <= 26; ++i) if ($i == "") n[i]++ }
  END { for (i = 2; i <= 26; ++i) if (n[i]) printf "%d:%d ", i, n[i] }' "$E2E_DIR/rows.csv")
[[ "$empties" == "25:3 26:2 " ]] || fail "empty fields (field:count) on counters rows: '$empties', not '25:3 26:2 '"

# Windows keeps an open file from being removed; wine does not see it go.
[[ -z "$E2E_WINE_COM" ]] && rm "$LOG"
n=$(request_count)
wait_until 10 "polling stopped with the log" requests_at_least $((n + 40))
mon_quit
grep -qE '^zrvmon ran .* cycles of ' "$E2E_DIR/mon.err" && grep -qE '^  [0-9]+ requests, 3 unanswered \(.*\), 2 unusable' "$E2E_DIR/mon.err" \
  || fail "no summary: $(cat "$E2E_DIR/mon.err")"
awk 'length > 80 { exit 1 }' "$E2E_DIR/mon.err" || fail "an end line is wider than 80 columns: $(cat "$E2E_DIR/mon.err")"
[[ -n "$E2E_WINE_COM" ]] && exit 0
# A removed log is begun again at its path.
grep -qE "^  log: [0-9]+ rows written, 0 lost, 1 reopening$" "$E2E_DIR/mon.err" \
  || fail "no reopening counted: $(cat "$E2E_DIR/mon.err")"
[[ $(head -1 "$LOG") == time,* ]] || fail "the log begun again has no header"

# The size limit is a full disk that a test can make: the row that crosses
# it is cut back, and the log pauses with the rows lost counted.
rm "$LOG"
ZRVMON_WRAP="prlimit --fsize=2048" mon_start full
mon_connect full
wait_until 30 "the log did not reach its limit" size_at_least 1900
n=$(request_count)
wait_until 10 "polling stopped at the full log" requests_at_least $((n + 40))
mon_quit full
rows=$(($(wc -l <"$LOG") - 1))
grep -qE "^zrvmon: the log $LOG paused after row $rows: File too large$" "$E2E_DIR/full.err" \
  || fail "no end line for the full log: $(cat "$E2E_DIR/full.err")"
grep -qE "^  log: $rows rows written, [1-9][0-9]* lost, 0 reopenings$" "$E2E_DIR/full.err" \
  || fail "no rows lost counted: $(cat "$E2E_DIR/full.err")"
awk -F, 'NR > 1 && NF != 32 { exit 1 }' "$LOG" || fail "a torn row at the limit: $(tail -c 200 "$LOG")"
exit 0
