#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Draws a reading log of zrvmon (zrvmon --log FILE) as one PNG: temperature,
# humidity and CO2 with their set points in three panels over one time axis,
# the periods Temp.Ctl, FloorHtr and Vent. were on as bands under each curve.
# Usage: scripts/plot.sh LOG.csv [OUT.png]     (OUT defaults to LOG with .png)
# A log rotated and compressed by logrotate (LOG.csv.N.gz) is read as it is.
# Installed, it is zrvmon-plot.
# Environment: PLOT_SIZE=WIDTH,HEIGHT in pixels (default 1200,900),
#   PLOT_GAP=SECONDS: rows further apart than this are not joined (default 300),
#   PLOT_TIMEOUT=SECONDS for the reading and for the drawing (default 600).
# Prints OUT with the rows, the time span and the gaps it shows.
# Exit status: 0 drawn, 1 the log holds no readable rows or drawing failed,
#   2 wrong arguments or settings, or no such log.
set -euo pipefail

me=$(basename -- "$0")
usage() {
  echo "Usage: $me LOG.csv [OUT.png]" >&2
  echo "Draws a zrvmon reading log (zrvmon --log LOG.csv) as a PNG;" >&2
  echo "OUT.png defaults to the log's name with .png." >&2
  exit 2
}
die() { echo "$me: $*" >&2; exit 1; }
bad() { echo "$me: $*" >&2; exit 2; }

case "${1:-}" in -h | --help) usage ;; esac
(($# == 1 || $# == 2)) || usage
log=$1
[[ -e "$log" ]] || bad "no such log: $log"
[[ -f "$log" && -r "$log" ]] || bad "not a readable file: $log"
plain=${log%.gz}
out=${2:-${plain%.csv}.png}
[[ "$out" == "$log" ]] && out="$log.png"
outdir=$(dirname -- "$out")
[[ -d "$outdir" && -w "$outdir" ]] || bad "cannot write into $outdir/"
[[ -s "$log" ]] || die "the log is empty: $log"

size=${PLOT_SIZE:-1200,900}
[[ "$size" =~ ^[0-9]{3,5},[0-9]{3,5}$ ]] || bad "PLOT_SIZE must be WIDTH,HEIGHT, e.g. 1200,900"
gap=${PLOT_GAP:-300}
[[ "$gap" =~ ^[0-9]+$ ]] || bad "PLOT_GAP must be whole seconds"
limit=${PLOT_TIMEOUT:-600}
[[ "$limit" =~ ^[0-9]+$ ]] || bad "PLOT_TIMEOUT must be whole seconds"

if ! command -v gnuplot >/dev/null; then
  # From a checkout the project's script fetches it; installed, the
  # package recommends it.
  deps="$(dirname -- "$0")/deps.sh"
  [[ -x "$deps" ]] || die "gnuplot is needed (Debian: apt install gnuplot-nox)"
  "$deps" plot || exit 1
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/zrvplot.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

# One pass over the log: epoch seconds from each row's own UTC offset (right
# across DST changes and restarts), "NaN" for empty or unreadable fields, a
# blank line where rows are more than $gap s apart so lines are broken there,
# the on-periods as intervals, and the facts for the title and axes.
status=0
# shellcheck disable=SC2016  # the program's $ fields are awk's, not the shell's
# gzip -f passes a plain log through as it is.
gzip -dcf -- "$log" | PLOT_DIR=$tmp PLOT_NAME=$(basename -- "$plain") LC_ALL=C timeout "$limit" awk -F, -v gap="$gap" -v me="$me" '
function num(name,   i, s) {
  i = col[name]
  if (!i) return "NaN"
  s = $i
  gsub(/^[ \t]+|[ \t]+$/, "", s)
  return s ~ /^-?[0-9]+(\.[0-9]+)?$/ ? s : "NaN"
}
# Seconds since 1970 UTC, or "" for a malformed time; sets OFF.
function epoch(s,   y, mo, d, rest, frac, off, yy, era, yoe, mp, doe) {
  if (s !~ /^[0-9][0-9][0-9][0-9]-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-6][0-9]/)
    return ""
  y = substr(s, 1, 4) + 0; mo = substr(s, 6, 2) + 0; d = substr(s, 9, 2) + 0
  rest = substr(s, 20); frac = 0
  if (match(rest, /^[.,][0-9]+/)) {
    frac = ("0." substr(rest, 2, RLENGTH - 1)) + 0
    rest = substr(rest, RLENGTH + 1)
  }
  if (rest == "Z") off = 0
  else if (rest ~ /^[+-][0-9][0-9]:[0-9][0-9]$/) {
    off = substr(rest, 2, 2) * 3600 + substr(rest, 5, 2) * 60
    if (substr(rest, 1, 1) == "-") off = -off
  } else return ""
  if (mo < 1 || mo > 12) return ""
  # Days from the civil date (proleptic Gregorian, years from 0).
  yy = y - (mo <= 2); era = int(yy / 400); yoe = yy - era * 400
  mp = (mo + 9) % 12
  doe = yoe * 365 + int(yoe / 4) - int(yoe / 100) + int((153 * mp + 2) / 5) + d - 1
  OFF = off
  return (era * 146097 + doe - 719468) * 86400 + substr(s, 12, 2) * 3600 \
         + substr(s, 15, 2) * 60 + substr(s, 18, 2) + frac - off
}
# 2026-12-09T08:15:02.123+01:00 as 2026-12-09 08:15:02 +01:00
function pretty(s,   z) {
  z = substr(s, 20)
  sub(/^[.,][0-9]+/, "", z)
  return substr(s, 1, 10) " " substr(s, 12, 8) " " z
}
function close_band(k, t) {
  if (!open[k]) return
  if (t <= start[k]) t = start[k] + 1
  printf "%.3f %.3f\n", start[k], t > (dir "/band" k)
  open[k] = 0
}
function track(k, v) {
  if (v == "NaN") return
  if (!(k in lo) || v + 0 < lo[k]) lo[k] = v + 0
  if (!(k in hi) || v + 0 > hi[k]) hi[k] = v + 0
  cnt[k]++
}
BEGIN {
  dir = ENVIRON["PLOT_DIR"]; name = ENVIRON["PLOT_NAME"]
  split("temp_ctl floor_htr vent", st, " ")
  for (k = 1; k <= 4; k++) printf "" > (dir "/band" k)
  data = dir "/data"
  printf "" > data
}
{ sub(/\r$/, "") }
NR == 1 { sub(/^\357\273\277/, "") }
/^[ \t]*(#|$)/ { next }
$1 == "time" {
  delete col
  for (i = 1; i <= NF; i++) col[$i] = i
  header = 1
  next
}
!header { bad_header = 1; exit }
{
  t = epoch($1)
  if (t == "") { skipped++; next }
  if (n && (t - prev > gap || t < prev)) {
    print "" > data
    for (k = 1; k <= 4; k++) close_band(k, prev)
    gaps++
  }
  v2 = num("temp_c"); v3 = num("temp_set_c"); v4 = num("evap_c")
  v5 = num("defrost_target_c"); v6 = num("rh_pct"); v7 = num("rh_set_pct")
  v8 = num("co2_pct"); v9 = num("co2_set_pct")
  # A cycle without one good reply: a band of its own.
  q = num("requests") + 0; u = num("unanswered") + 0; x = num("unusable") + 0
  dead = q > 0 && u + x >= q
  # A value that was not read has an empty field, drawn as a gap.
  if (dead) { v2 = v3 = v4 = v5 = v6 = v7 = v8 = v9 = "NaN"; noreply++ }
  printf "%.3f %s %s %s %s %s %s %s %s\n", t, v2, v3, v4, v5, v6, v7, v8, v9 > data
  track("t", v2); track("t", v3); track("t", v4); track("t", v5)
  track("h", v6); track("h", v7); track("c", v8); track("c", v9)
  for (k = 1; k <= 3; k++) {
    s = dead ? "NaN" : num(st[k])
    if (s == "1" && !open[k]) { open[k] = 1; start[k] = t }
    else if (s != "1") close_band(k, t)
  }
  if (dead && !open[4]) { open[4] = 1; start[4] = t }
  else if (!dead) close_band(4, t)
  sys = dead ? "NaN" : num("system")
  if (sys != "NaN" && !((sys + 0) in seen)) {
    seen[sys + 0] = 1
    systems = systems (systems == "" ? "" : ", ") (sys + 0)
  }
  if (!n || OFF != offs[noffs]) { noffs++; offs[noffs] = OFF; offt[noffs] = t }
  if (!n || t < tmin) { tmin = t; first = $1 }
  if (!n || t > tmax) { tmax = t; last = $1 }
  n++; prev = t
}
END {
  if (bad_header) {
    printf me ": %s does not start with the header line (time,system,...): not a zrvmon reading log\n", name > "/dev/stderr"
    exit 3
  }
  if (!n) {
    printf me ": %s holds no reading rows%s\n", name, skipped ? " with a readable time" : "" > "/dev/stderr"
    exit 4
  }
  if (skipped) printf me ": skipped %d rows without a readable time\n", skipped > "/dev/stderr"
  for (k = 1; k <= 4; k++) close_band(k, prev)
  m = dir "/meta.gp"
  gsub(/[\\"]/, "\\\\&", name)
  printf "rows = %d\nnoreply = %d\ngaps = %d\ntmin = %.3f\ntmax = %.3f\n", n, noreply + 0, gaps + 0, tmin, tmax > m
  printf "first = \"%s\"\nlast = \"%s\"\nsystems = \"%s\"\nlogname = \"%s\"\n", \
    pretty(first), pretty(last), systems, name > m
  split("t h c", key, " ")
  for (i = 1; i <= 3; i++) {
    k = key[i]
    printf "n_%s = %d\nlo_%s = %s\nhi_%s = %s\n", k, cnt[k] + 0, k, \
      (k in lo) ? lo[k] : "NaN", k, (k in hi) ? hi[k] : "NaN" > m
  }
  # Stretches of one UTC offset, for the local-time tick labels.
  printf "array segt[%d]\narray sego[%d]\n", noffs, noffs > m
  for (i = 1; i <= noffs; i++) printf "segt[%d] = %.3f\nsego[%d] = %d\n", i, offt[i], i, offs[i] > m
  printf "offmin = %d\noffmax = %d\n", min_off(), max_off() > m
  printf "%d row%s, %s to %s (%d s), %d gap%s, %d without a reply\n", n, n == 1 ? "" : "s", \
    pretty(first), pretty(last), tmax - tmin, gaps, gaps == 1 ? "" : "s", noreply > (dir "/summary")
}
function min_off(   i, r) { r = offs[1]; for (i = 2; i <= noffs; i++) if (offs[i] < r) r = offs[i]; return r }
function max_off(   i, r) { r = offs[1]; for (i = 2; i <= noffs; i++) if (offs[i] > r) r = offs[i]; return r }
' || status=$?
case $status in
  0) ;;
  3 | 4) exit 1 ;;
  124) die "reading $log took longer than $limit s (PLOT_TIMEOUT)" ;;
  *) die "reading $log failed" ;;
esac

cat >"$tmp/plot.gp" <<'EOF'
load meta
set encoding utf8
set terminal pngcairo size W,H enhanced font "DejaVu Sans,10" linewidth 1.2 background "#ffffff"
set output 'out.png'

logspan = tmax - tmin
if (tmax - tmin < 60) { mid = (tmin + tmax) / 2; tmin = mid - 30; tmax = mid + 30 }
span = tmax - tmin

# Time ticks at round local times, few enough for the width.
maxticks = int(W / 120)
steps = "1 2 5 10 15 30 60 120 300 600 900 1800 3600 7200 10800 21600 43200 86400 172800 604800 1209600 2419200"
step = 0
do for [i = 1:words(steps)] {
  s = real(word(steps, i))
  if (step == 0 && span / s <= maxticks) { step = s }
}
if (step == 0) { step = 2419200 }
# Weekly ticks on Mondays (1970-01-01 was a Thursday).
base = (step >= 604800) ? 4 * 86400 : 0
fmt = (step < 60) ? "%H:%M:%S" : (span < 86400 - 1) ? "%H:%M" : (step < 86400) ? "%a %d %b\\n%H:%M" : "%a %d %b"
ticks = ""
blank = ""
do for [i = 1:|segt|] {
  a = (i == 1) ? tmin : segt[i]
  b = (i < |segt|) ? segt[i + 1] : tmax + 1
  o = sego[i]
  tl = ceil((a + o - base) / step) * step + base
  while (tl - o < b) {
    t = tl - o
    if (t >= tmin && t <= tmax) {
      ticks = ticks . sprintf("%s\"%s\" %.3f", ticks eq "" ? "" : ", ", strftime(fmt, tl), t)
      blank = blank . sprintf("%s\"\" %.3f", blank eq "" ? "" : ", ", t)
    }
    tl = tl + step
  }
}
hm(s) = (s == 0) ? "" : sprintf("%s%02d:%02d", s < 0 ? "-" : "+", int(abs(s) / 3600), int(abs(s) % 3600 / 60))
zone = (offmin == offmax) ? "UTC" . hm(offmin) : "UTC" . hm(offmin) . " / UTC" . hm(offmax)
dur(s) = s >= 172800 ? sprintf("%.1f days", s / 86400) : s >= 3600 ? sprintf("%d h %02d min", int(s) / 3600, int(s) % 3600 / 60) : s >= 60 ? sprintf("%d min %02d s", int(s) / 60, int(s) % 60) : sprintf("%d s", int(s))
# A change of UTC offset (DST) is marked where it happens.
marks = (|segt| > 1 && |segt| <= 12) ? |segt| : 0
if (marks) {
  do for [i = 2:marks] {
    set arrow 100 + i from segt[i], graph 0 to segt[i], graph 1 nohead dt (4, 4) lc rgb "#909090" back
    set label 100 + i "UTC" . hm(sego[i]) at segt[i], graph 1 center offset 0, 0.55 font ",8" tc rgb "#606060" front
  }
}
sysname = (systems eq "") ? "system ?" : (strstrt(systems, ",") > 0 ? "systems " : "system ") . systems

# Layout: three panels, fixed margins so the time axes line up; the keys
# sit right of the panels.
left = 0.075; right = 0.82
top = 0.915; bottom = 0.095; sep = 0.02
ph = (top - bottom - 2 * sep) / 3
set lmargin at screen left
set rmargin at screen right
set xrange [tmin:tmax]
set grid xtics ytics lc rgb "#d8d8d8" lw 0.8 dt 1
set border 3 lc rgb "#606060"
set ytics nomirror
set key outside right top Left reverse samplen 2.5 spacing 1.15 width 1 noenhanced
set style fill transparent solid 0.55 noborder
set y2range [0:1]
unset y2tics

# The bands take the bottom strip of every panel: 3 lanes of the y2 scale.
strip = 0.17
lane_lo(k) = strip * (3 - k) / 3 + 0.008
lane_hi(k) = strip * (4 - k) / 3 - 0.008
c1 = "#e8a33a"; c2 = "#d0406a"; c3 = "#3a8fd8"
# y range so the data stay above the strip.
ylo(lo, hi, pad) = hi + pad - ((hi - lo) + 2 * pad) / (1 - strip - 0.03)
pad(lo, hi, min) = ((hi - lo) * 0.06 > min) ? (hi - lo) * 0.06 : min
# y tics only over the data, not the strip: a 1-2-5 step for about 5 of them.
nice(x) = (m10 = 10 ** floor(log10(x)), x / m10 < 1.5 ? m10 : x / m10 < 3.5 ? 2 * m10 : x / m10 < 7.5 ? 5 * m10 : 10 * m10)
yaxis(lo, hi, p) = (ystep = nice((hi - lo + 2 * p) / 5), \
  sprintf("set yrange [%.6g:%.6g]; set ytics %.6g, %.6g, %.6g", ylo(lo, hi, p), hi + p, \
          ceil((lo - p) / ystep) * ystep, ystep, hi + p))
# A handful of rows would not show as lines alone.
ls = (rows <= 120) ? "lp pt 7 ps 0.45" : "l"
set object 1 rect from graph 0, graph 0 to graph 1, graph strip fc rgb "#f3f3f3" fs solid 1.0 noborder behind
bands = "'band1' u (($1+$2)/2):(0.5):1:2:(lane_lo(1)):(lane_hi(1)) axes x1y2 w boxxy lc rgb c1 notitle, \
 'band2' u (($1+$2)/2):(0.5):1:2:(lane_lo(2)):(lane_hi(2)) axes x1y2 w boxxy lc rgb c2 notitle, \
 'band3' u (($1+$2)/2):(0.5):1:2:(lane_lo(3)):(lane_hi(3)) axes x1y2 w boxxy lc rgb c3 notitle"
keys = "keyentry w boxes lc rgb c1 title 'Temp.Ctl on', keyentry w boxes lc rgb c2 title 'FloorHtr on', \
 keyentry w boxes lc rgb c3 title 'Vent. on'"
# Cycles without a reply: hatched over the whole panel.
if (noreply > 0) {
  bands = bands . ", 'band4' u (($1+$2)/2):(0.5):1:2:(0):(1) axes x1y2 w boxxy fs pattern 4 noborder lc rgb '#b4b4b4' notitle"
  keys = keys . ", keyentry w boxes fs pattern 4 noborder lc rgb '#b4b4b4' title 'No reply'"
}

set multiplot title sprintf("zrvmon log %s — %s\n%s  to  %s  (%s, %d row%s%s%s)", logname, sysname, \
    first, last, dur(logspan), rows, rows == 1 ? "" : "s", gaps > 0 ? sprintf(", %d gap%s", gaps, gaps > 1 ? "s" : "") : "", \
    noreply > 0 ? sprintf(", %d without a reply", noreply) : "") \
    font ",12" noenhanced

# Panel 1: temperature.
set tmargin at screen top
set bmargin at screen top - ph
eval "set xtics nomirror (" . blank . ")"
lo = (n_t > 0) ? lo_t : 0; hi = (n_t > 0) ? hi_t : 1; p = pad(lo, hi, 0.5)
eval yaxis(lo, hi, p)
set ylabel "Temperature (°C)"
if (n_t == 0) { set label 1 "no temperature readings" at graph 0.5, 0.6 center } else { unset label 1 }
plot @bands, \
  'data' u 1:3 w @ls lw 1.6 dt (6, 4) lc rgb "#8a1c1c" title "Set point", \
  'data' u 1:5 w @ls lw 1.0 dt (2, 3) lc rgb "#505050" title "Defrost end", \
  'data' u 1:4 w @ls lw 1.3 lc rgb "#1f5fbf" title "Evaporator", \
  'data' u 1:2 w @ls lw 1.6 lc rgb "#d62728" title "Temperature", \
  @keys

# Panel 2: humidity.
unset label
set tmargin at screen top - ph - sep
set bmargin at screen top - 2 * ph - sep
lo = (n_h > 0) ? lo_h : 0; hi = (n_h > 0) ? hi_h : 100; p = pad(lo, hi, 1.0)
eval yaxis(lo, hi, p)
set ylabel "Relative humidity (%)"
if (n_h == 0) { set label 1 "no humidity readings" at graph 0.5, 0.6 center }
plot @bands, \
  'data' u 1:7 w @ls lw 1.6 dt (6, 4) lc rgb "#0b5d3b" title "Set point", \
  'data' u 1:6 w @ls lw 1.6 lc rgb "#2ca02c" title "Humidity"

# Panel 3: CO2, with the time labels.
unset label 1
set tmargin at screen top - 2 * ph - 2 * sep
set bmargin at screen bottom
eval "set xtics nomirror (" . ticks . ")"
set xlabel sprintf("Local time (%s)", zone) offset 0, (strstrt(fmt, "\\n") > 0 ? -1.2 : 0)
lo = (n_c > 0) ? lo_c : 0; hi = (n_c > 0) ? hi_c : 1; p = pad(lo, hi, 0.02)
eval yaxis(lo, hi, p)
set ylabel "CO_2 (%)" enhanced
if (n_c == 0) { set label 1 "no CO2 readings" at graph 0.5, 0.6 center }
plot @bands, \
  'data' u 1:9 w @ls lw 1.6 dt (6, 4) lc rgb "#4b2a7a" title "Set point", \
  'data' u 1:8 w @ls lw 1.6 lc rgb "#9467bd" title "CO2"
unset multiplot
EOF

w=${size%,*}
h=${size#*,}
gstatus=0
(cd "$tmp" && timeout "$limit" gnuplot -e "meta='meta.gp'; W=$w; H=$h" plot.gp) \
  >"$tmp/gnuplot.log" 2>&1 || gstatus=$?
if ((gstatus == 124)); then
  die "drawing took longer than $limit s (PLOT_TIMEOUT)"
elif ((gstatus != 0)) || [[ ! -s "$tmp/out.png" ]]; then
  sed -n '1,20p' "$tmp/gnuplot.log" >&2
  die "gnuplot failed"
fi
mv -f -- "$tmp/out.png" "$out"
echo "$out: $(cat "$tmp/summary")"
