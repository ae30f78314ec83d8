#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian package as a user gets it: its fields, its files, the unpacked
# programs run from a scratch folder, the manual pages rendered, and
# lintian's verdict. Nothing is installed on the machine.
# Usage: tests/package/test_deb.sh DIST_DIR   (77: no package there)
set -euo pipefail
deb=$(ls "${1:?usage: $0 DIST_DIR}"/zrvmon_*_amd64.deb 2>/dev/null | tail -1) || true
[[ -n "$deb" ]] || { echo "no package in $1: skipped"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
root=$(mktemp -d "${TMPDIR:-/tmp}/zrvdeb.XXXXXX")
trap 'rm -rf "$root"' EXIT
echo "== $deb"

dpkg-deb -f "$deb" Package Version Depends Recommends Suggests | tee "$root/fields"
grep -q '^Depends: .*libc6' "$root/fields" || fail "Depends not computed from the binaries"

dpkg-deb -x "$deb" "$root/x"
u=$root/x/usr
for f in bin/zrvmon bin/zrvsim bin/zrvmon-plot lib/systemd/system/zrvmon@.service \
  share/doc/zrvmon/copyright share/doc/zrvmon/changelog.gz \
  share/doc/zrvmon/changelog.Debian.gz share/doc/zrvmon/README.md \
  share/doc/zrvmon/examples/zrvmon.rules.yml share/doc/zrvmon/examples/prometheus.yml \
  share/doc/zrvmon/examples/ser2net.yaml.example share/doc/zrvmon/examples/cell-7.conf.example \
  share/doc/zrvmon/examples/zrvmon.logrotate; do
  [[ -e "$u/$f" ]] || fail "no /usr/$f"
done
# The rotation is the administrator's to change: a conffile logrotate takes.
dpkg-deb -e "$deb" "$root/control"
[[ "$(cat "$root/control/conffiles")" == /etc/logrotate.d/zrvmon ]] \
  || fail "conffiles: $(cat "$root/control/conffiles" 2>&1)"
logrotate -d "$root/x/etc/logrotate.d/zrvmon" >"$root/logrotate" 2>&1 \
  && ! grep -qi error "$root/logrotate" || fail "logrotate -d: $(cat "$root/logrotate")"

version=$(dpkg-deb -f "$deb" Version)
[[ "$("$u/bin/zrvmon" --version)" == "zrvmon ${version%-*}" ]] || fail "zrvmon --version"
[[ "$("$u/bin/zrvsim" --version)" == "zrvsim ${version%-*}" ]] || fail "zrvsim --version"
"$u/bin/zrvmon" --help | sed -n '1,4p'

# The installed plot, from another folder, on a two-row log.
cat >"$root/day.csv" <<'CSV'
time,system,temp_c,temp_set_c,temp_avg_c,rh_pct,rh_set_pct,rh_avg_pct,co2_pct,co2_set_pct,evap_c,defrost_in,defrost_unit,defrost_target_c,vent,temp_ctl,floor_htr,temp_mode,total_s,heater_s,cooler2_s,cooler_s,defrost_s,humid_s,t106_min,t107_min,requests,unanswered,unusable
CSV
for t in 2026-12-10T08:00:00+01:00 2026-12-10T08:00:10+01:00; do
  echo "$t,1,21.50,22.50,21.50,48.00,50.00,48.00,0.10,0.30,18.00,6.00,h,10.00,1,0,1,0,,,,,,,,,40,0,0" >>"$root/day.csv"
done
(cd / && "$u/bin/zrvmon-plot" "$root/day.csv" "$root/day.png")
[[ "$(file -b "$root/day.png")" == PNG* ]] || fail "no PNG drawn"

for page in zrvmon zrvsim zrvmon-plot; do
  man=$u/share/man/man1/$page.1.gz
  [[ -z "$(zcat "$man" | LC_ALL=C.UTF-8 groff -man -ww -z 2>&1)" ]] || fail "groff warns on $page.1"
  MANWIDTH=80 man -l "$man" 2>/dev/null | sed -n '1,4p'
done

echo "== lintian"
lintian --display-info --show-overrides "$deb" 2>&1 | tee "$root/lintian" || true
grep -q '^E: ' "$root/lintian" && fail "lintian reports errors"
echo "lintian: $(grep -c '^E: ' "$root/lintian") errors, $(grep -c '^W: ' "$root/lintian") warnings"
exit 0
