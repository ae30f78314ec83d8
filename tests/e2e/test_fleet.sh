# SPDX-License-Identifier: MIT
# Three units watched unattended with the real engine: three zrvsim units
# (systems 11, 12, 13; the last loses replies) and three headless monitors
# writing metrics into one folder, which Debian's node exporter serves with
# its textfile collector alone, and which Debian's Prometheus scrapes every
# second with the alert rules loaded. Through Prometheus's HTTP API: the
# temperatures equal the logs' last rows, the lost-reply unit's unanswered
# counter grows, a dead line gives zrv_up 0 and a pending line-down alert,
# and after SIGTERM "CQ" is each line's last request, each monitor exits 0
# and its metrics file is gone. Also the shipped rules' own tests, the
# service unit's verification and promtool's check of a metrics file.
# Everything on 127.0.0.1.
source "$(dirname "$0")/lib.sh"
E2E_TIMEOUT=170
e2e_init "$1"
service="$(cd "$(dirname "$0")/../../service" && pwd)"
for tool in promtool prometheus prometheus-node-exporter curl jq systemd-analyze; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/deps.sh test installs it)"
done

log "rules and unit"
(cd "$service" && promtool check rules zrvmon.rules.yml && promtool test rules zrvmon.rules.test.yml) \
  >"$E2E_DIR/promtool.out" 2>&1 || fail "promtool: $(cat "$E2E_DIR/promtool.out")"
mkdir -p "$E2E_DIR/units"
sed "s|/usr/bin/zrvmon|$ZRVMON|" "$service/zrvmon@.service" >"$E2E_DIR/units/zrvmon@.service"
ln -s zrvmon@.service "$E2E_DIR/units/zrvmon@cell-7.service"
# Its Documentation= page, as the package installs it.
mkdir -p "$E2E_DIR/man/man1"
ln -s "$service/../docs/man/zrvmon.1" "$E2E_DIR/man/man1/zrvmon.1"
MANPATH="$E2E_DIR/man" systemd-analyze verify "$E2E_DIR/units/zrvmon@cell-7.service" >"$E2E_DIR/verify.out" 2>&1 \
  || fail "systemd-analyze verify: $(cat "$E2E_DIR/verify.out")"

free_port() {
  local p
  for _ in $(seq 20); do
    p=$((20000 + RANDOM % 12000))
    port_listened "$p" || { echo "$p"; return; }
  done
  fail "no free port"
}

text="$E2E_DIR/textfile"
mkdir -p "$text"
sims=() mons=()
for n in 11 12 13; do
  extra=()
  ((n == 13)) && extra=(--fault '*:lost,p=0.1' --seed 5)
  "$ZRVSIM" --link "$E2E_DIR/tty$n" --trace "$E2E_DIR/wire$n.log" --system "$n" \
    --noise 0 --speed 0.0001 "${extra[@]}" >/dev/null 2>&1 &
  sims+=($!)
done
wait_until 5 "the simulators' links" test -e "$E2E_DIR/tty13"
for n in 11 12 13; do
  ZRVMON_COM1="$E2E_DIR/tty$n" "$ZRVMON" --port 1 --headless --unit "u$n" \
    --metrics "$text/u$n.prom" --log "$E2E_DIR/u$n.csv" \
    </dev/null >/dev/null 2>"$E2E_DIR/u$n.err" &
  mons+=($!)
done

ne=$(free_port)
prometheus-node-exporter --web.listen-address="127.0.0.1:$ne" --collector.disable-defaults \
  --collector.textfile --collector.textfile.directory="$text" >"$E2E_DIR/ne.log" 2>&1 &
ne_pid=$!
pp=$(free_port)
cat >"$E2E_DIR/prometheus.yml" <<CONF
global: {scrape_interval: 1s, evaluation_interval: 1s}
rule_files: ["$service/zrvmon.rules.yml"]
scrape_configs:
  - job_name: zrv
    static_configs: [{targets: ["127.0.0.1:$ne"]}]
CONF
prometheus --config.file="$E2E_DIR/prometheus.yml" --storage.tsdb.path="$E2E_DIR/tsdb" \
  --web.listen-address="127.0.0.1:$pp" >"$E2E_DIR/prometheus.log" 2>&1 &
prom_pid=$!
cleanup_fleet() {
  for p in "${mons[@]}" "${sims[@]}" "$ne_pid" "$prom_pid"; do stop_pid "$p"; done
}
trap 'cleanup_fleet' EXIT

# query EXPR: the first result's value, or nothing.
query() {
  curl -s --max-time 2 "http://127.0.0.1:$pp/api/v1/query" --data-urlencode "query=$1" \
    | jq -r '.data.result[0].value[1] // empty' 2>/dev/null
}
has_value() { [[ -n "$(query "$1")" ]]; }
wait_until 60 "Prometheus did not show all three units" has_value 'count(zrv_up == 1) == 3'

# The file as node exporter reads it passes Prometheus's own linter.
cp "$text/u11.prom" "$E2E_DIR/u11.check"
promtool check metrics <"$E2E_DIR/u11.check" >"$E2E_DIR/check.out" 2>&1 \
  || fail "promtool check metrics: $(cat "$E2E_DIR/check.out")"

log "temperatures against the logs"
for n in 11 12 13; do
  want=$(awk -F, 'NR > 1 && $3 != "" { t = $3 } END { print t }' "$E2E_DIR/u$n.csv")
  got=$(query "zrv_temperature_celsius{unit=\"u$n\"}")
  awk -v a="$got" -v b="$want" 'BEGIN { exit !(a != "" && a + 0 == b + 0) }' \
    || fail "u$n: Prometheus shows $got C, its log $want C"
  log "u$n: $got C (log $want C), system $(query "zrv_info{unit=\"u$n\"}" >/dev/null; \
    curl -s "http://127.0.0.1:$pp/api/v1/query" --data-urlencode "query=zrv_info{unit=\"u$n\"}" \
    | jq -r '.data.result[0].metric.system')"
done

log "the lost-reply unit's unanswered counter"
first=$(query 'zrv_unanswered_total{unit="u13"}')
grows() { awk -v a="$(query 'zrv_unanswered_total{unit="u13"}')" -v b="$first" 'BEGIN { exit !(a > b) }'; }
wait_until 30 "u13's unanswered counter did not grow from $first" grows
log "u13 unanswered: $first, then $(query 'zrv_unanswered_total{unit="u13"}')"

log "a dead line"
kill -USR1 "${sims[1]}"
t0=$(now_ms)
wait_until 15 "u12's zrv_up did not go to 0" has_value 'zrv_up{unit="u12"} == 0'
log "u12 down after $(($(now_ms) - t0)) ms"
wait_until 15 "no pending line-down alert for u12" has_value \
  'ALERTS{alertname="ZrvLineDown",unit="u12",alertstate="pending"}'
has_value 'zrv_up{unit="u11"} == 1' || fail "u11 went down with u12"

log "SIGTERM to all three"
for i in 0 1 2; do kill -TERM "${mons[i]}"; done
for i in 0 1 2; do
  n=$((11 + i))
  wait "${mons[i]}"
  code=$?
  ((code == 0)) || fail "u$n exited with $code: $(cat "$E2E_DIR/u$n.err")"
  [[ "$(sed -n 's/^[0-9.]* > //p' "$E2E_DIR/wire$n.log" | tail -n 1)" == CQ ]] \
    || fail "u$n: CQ was not the last request"
  [[ ! -e "$text/u$n.prom" ]] || fail "u$n's metrics file is still there"
done
mons=()
exit 0
