#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# scripts/plot.sh on a small reading log made here: rows across the autumn
# DST change, one without an evaporator reading, one without a reply, a
# comment line and a gap give one PNG without a warning and the right span; a log without rows and a missing log are
# refused with status 1 and 2.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=$(mktemp -d "${TMPDIR:-/tmp}/e2e_plot.XXXXXX")
trap 'rm -rf "$dir"' EXIT
fail() { echo "[test_plot] FAIL: $*" >&2; exit 1; }
command -v gnuplot >/dev/null || "$root/scripts/deps.sh" plot >/dev/null 2>&1 \
  || { echo "[test_plot] skipped: gnuplot cannot be installed"; exit 77; }

hdr=time,system,temp_c,temp_set_c,temp_avg_c,rh_pct,rh_set_pct,rh_avg_pct,co2_pct,co2_set_pct,evap_c,defrost_in,defrost_unit,defrost_target_c,vent,temp_ctl,floor_htr,temp_mode,total_s,heater_s,cooler2_s,cooler_s,defrost_s,humid_s,t106_min,t107_min,requests,unanswered,unusable
start=$(date -u -d 2026-10-25T00:50:00Z +%s)  # 02:50 summer time, 10 min before the change
{
  echo "$hdr"
  for i in $(seq 0 59); do
    t=$((start + 20 * i + (i >= 40 ? 3600 : 0)))  # an hour without rows after row 40
    off=$((t < start + 600 ? 2 : 1))
    evap=-1$((i % 9)).05
    ((i == 7)) && evap=""
    printf '%s.250+0%d:00,42,%s,22.50,21.90,%s,50.00,49.00,0.3%d,0.30,%s,2,h,10.00,%d,1,%d,0,,,,,,,,,%d,%d,0\n' \
      "$(date -u -d "@$((t + off * 3600))" +%Y-%m-%dT%H:%M:%S)" "$off" \
      "2$((i % 3)).1$((i % 10))" "4$((i % 7)).50" $((i % 6)) "$evap" \
      $((i / 10 % 2)) $((i < 20)) $((6 * i)) $((i == 30 ? 6 * i : 0))  # row 30 unanswered
  done
  echo "# 60 rows, 360 requests, 0 unanswered, 0 unusable"
} >"$dir/day.csv"

"$root/scripts/plot.sh" "$dir/day.csv" >"$dir/out" 2>"$dir/err" || fail "status $?: $(cat "$dir/err")"
[[ ! -s "$dir/err" ]] || fail "warnings: $(cat "$dir/err")"
# The span in true seconds across the offset change, the comment not a row.
want="60 rows, 2026-10-25 02:50:00 +02:00 to 2026-10-25 03:09:40 +01:00 (4780 s), 1 gap, 1 without a reply"
grep -qF "$want" "$dir/out" || fail "summary '$(cat "$dir/out")', expected '$want'"
file -b "$dir/day.png" | grep -q '^PNG image data, 1200 x 900' || fail "not a PNG: $(file -b "$dir/day.png")"
(($(stat -c %s "$dir/day.png") > 20000)) || fail "a PNG of only $(stat -c %s "$dir/day.png") bytes"

# A rotated log as logrotate compresses it reads the same.
gzip -c "$dir/day.csv" >"$dir/day.csv.2.gz"
"$root/scripts/plot.sh" "$dir/day.csv.2.gz" >"$dir/out" 2>"$dir/err" || fail "gz: status $?: $(cat "$dir/err")"
grep -qF "$want" "$dir/out" && [[ -s "$dir/day.csv.2.png" ]] || fail "gz: '$(cat "$dir/out")'"

printf '%s\n# nothing yet\n' "$hdr" >"$dir/none.csv"
"$root/scripts/plot.sh" "$dir/none.csv" 2>/dev/null; rc=$?
[[ $rc == 1 && ! -e "$dir/none.png" ]] || fail "a log without rows: status $rc"
"$root/scripts/plot.sh" "$dir/absent.csv" 2>/dev/null; rc=$?
((rc == 2)) || fail "a missing log: status $rc"
echo "[test_plot] ok"
