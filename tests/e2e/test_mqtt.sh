# SPDX-License-Identifier: MIT
# The unit on MQTT with Debian's mosquitto on 127.0.0.1, each broker with a
# configuration of the test's own: a broker started only after the monitor
# is reached; the retained discovery configs; the state's values as the
# screen shows them, CO2 never answered null; link down and up again when
# the line dies and returns; a restarted broker reached again; Esc and
# SIGTERM give offline with "CQ" the last request, kill -9 offline through
# the will. A password-protected TLS listener with a CA made by openssl: a
# wrong password and a missing --mqtt-ca are refused with clear lines, the
# right ones work. A site broker bridged to a central one with the shipped
# example carries three units' states there. Set points: without
# --mqtt-control a command changes nothing; with it a command is written
# and read back, one out of limits, not a number or retained is refused
# with nothing on the wire, and one while the terminal is open waits for it.
source "$(dirname "$0")/lib.sh"
E2E_TIMEOUT=340
e2e_init "$1"
for tool in mosquitto mosquitto_sub mosquitto_pub mosquitto_passwd openssl jq; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/deps.sh test installs it)"
done
declare -A BROKERS=()
HPIDS=()
# The cleanup reads the script's status: the stops must not change it.
trap 'rc=$?; for p in "${HPIDS[@]}" "${BROKERS[@]}"; do stop_pid "$p"; done; (exit $rc); e2e_cleanup' EXIT

free_port() {
  local p
  for _ in $(seq 20); do
    p=$((20000 + (RANDOM * 32768 + RANDOM) % 12000))
    port_listened "$p" || { echo "$p"; return; }
  done
  fail "no free port"
}
# broker NAME PORT [config lines...]: a broker of its own on PORT.
broker() {
  local name=$1 port=$2
  shift 2
  # As the user running the test: the files are in its private folder.
  printf '%s\n' "listener $port 127.0.0.1" "persistence false" "user $(id -un)" "$@" \
    >"$E2E_DIR/$name.conf"
  grep -q '^allow_anonymous' "$E2E_DIR/$name.conf" || echo "allow_anonymous true" >>"$E2E_DIR/$name.conf"
  mosquitto -c "$E2E_DIR/$name.conf" >>"$E2E_DIR/$name.broker.err" 2>&1 </dev/null &
  BROKERS[$name]=$!
  wait_until 5 "broker $name did not listen on $port" port_listened "$port"
}
broker_stop() { stop_pid "${BROKERS[$1]}"; unset "BROKERS[$1]"; }
# retained PORT TOPIC [options]: the retained messages, "topic payload" lines.
retained() {
  local port=$1 topic=$2
  shift 2
  timeout 5 mosquitto_sub -h 127.0.0.1 -p "$port" -v -t "$topic" --retained-only -W 1 "$@" 2>/dev/null
  return 0  # it ends by its timeout
}
retained_is() { [[ "$(retained "$1" "$2" "${@:4}" | cut -d' ' -f2-)" == "$3" ]]; }
# headless NAME [options]: a monitor as its service runs it, on COM1.
headless() {
  local name=$1
  shift
  ZRVMON_COM1=$LINK "$ZRVMON" --port 1 --headless "$@" </dev/null >/dev/null 2>"$E2E_DIR/$name.err" &
  HPIDS+=($!)
  HPID=$!
}
said() { grep -qF -- "$2" "$E2E_DIR/$1.err"; }
last_request_cq() { [[ "$(requests | tail -n 1)" == CQ ]] || fail "$1: CQ was not the last request: $(requests | tail -n 3 | paste -sd'|')"; }

P=$(free_port)
U=zrvmon/cell-7
sim_start --noise 0 --speed 0.0001 --system 42 --fault 'RD DM984:silence'

log "a broker started after the monitor"
MON_CMD+=(--mqtt "mqtt://127.0.0.1:$P" --unit cell-7 --mqtt-interval 1)
mon_start
mon_connect mon 20
sleep 2
broker main "$P"
mosquitto_sub -h 127.0.0.1 -p "$P" -v -t '#' >"$E2E_DIR/all.out" 2>&1 &
HPIDS+=($!)
wait_until 30 "the monitor did not reach the broker started after it" retained_is "$P" "$U/status" online

log "discovery"
retained "$P" 'homeassistant/#' >"$E2E_DIR/discovery.out"
n=$(grep -c '/config {' "$E2E_DIR/discovery.out")
((n == 28)) || fail "$n discovery configs: $(cut -c1-100 "$E2E_DIR/discovery.out")"
config() { sed -n "s|^homeassistant/$1/zrvmon_cell-7/$2/config ||p" "$E2E_DIR/discovery.out"; }
[[ "$(config sensor co2 | jq -c '[.unique_id,.device_class,.unit_of_measurement,.state_class,.value_template,.availability_mode,(.availability|length),.device.identifiers[0]]')" \
  == '["zrvmon_cell-7_co2","carbon_dioxide","ppm","measurement","{{ value_json.co2 }}","all",2,"zrvmon_cell-7"]' ]] \
  || fail "co2's config: $(config sensor co2)"
grep -q '^homeassistant/number/' "$E2E_DIR/discovery.out" && fail "a number entity without --mqtt-control"
[[ "$(config binary_sensor link | jq -c '[.device_class,.payload_on,(.availability|length)]')" == '["connectivity","up",1]' ]] \
  || fail "link's config: $(config binary_sensor link)"
[[ "$(config sensor running_total | jq -r '.device_class + " " + .state_class')" == "duration total_increasing" ]] \
  || fail "running_total's config: $(config sensor running_total)"

log "the state against the screen"
wait_until 10 "no state" retained_is "$P" "$U/link" up
state=$(retained "$P" "$U/state" | cut -d' ' -f2-)
log "state: $state"
# value_template as Home Assistant resolves it: {{ value_json.KEY }}.
value() { jq -r ".$1" <<<"$state"; }
shown() { row "$1" | awk -v f="$2" '{ print $f }'; }
for check in "temperature 3 2" "temperature_setpoint 3 5" "humidity 4 2" "humidity_setpoint 4 5" \
  "evaporator_temperature 6 2"; do
  read -r key r f <<<"$check"
  awk -v a="$(value "$key")" -v b="$(shown "$r" "$f")" 'BEGIN { exit !(a != "" && a + 0 == b + 0) }' \
    || fail "$key is $(value "$key"), the screen's row $r shows $(shown "$r" "$f")"
done
[[ "$(value co2) $(value system) $(value temperature_mode)" == "null 42 $(row 12 | grep -o '[CH]$')" ]] \
  || fail "co2 $(value co2), system $(value system), mode $(value temperature_mode)"
awk -v a="$(value co2_setpoint)" -v b="$(shown 5 5)" 'BEGIN { exit !(a == b * 10000) }' \
  || fail "co2_setpoint $(value co2_setpoint) ppm, the screen $(shown 5 5) %"

set_point() { mosquitto_pub -h 127.0.0.1 -p "$P" -t "$U/set/$1" -m "$2" "${@:3}" || fail "mosquitto_pub $*"; }
no_write_since() { ! requests | tail -n +"$(($1 + 1))" | grep -q '^WR'; }
before=$(request_count)
set_point temperature_setpoint 21.5
sleep 2
no_write_since "$before" || fail "a command without --mqtt-control was written"

log "the line dies and comes back"
sim_toggle_silent
t0=$(now_ms)
wait_until 15 "link did not go down" grep -qx "$U/link down" "$E2E_DIR/all.out"
log "link down after $(($(now_ms) - t0)) ms"
sim_toggle_silent
link_up_again() { grep -x "$U/link [a-z]*" "$E2E_DIR/all.out" | tail -n 1 | grep -q ' up$'; }
wait_until 60 "link did not come up again" link_up_again

log "the broker restarted"
broker_stop main
sleep 1
broker main "$P"
wait_until 30 "the restarted broker was not reached" retained_is "$P" "$U/status" online
wait_until 10 "no state on the restarted broker" retained_is "$P" "$U/link" up

log "Esc"
mon_quit
retained_is "$P" "$U/status" offline || fail "status after Esc: $(retained "$P" "$U/status")"
last_request_cq Esc

log "set points from Home Assistant"
mosquitto_sub -h 127.0.0.1 -p "$P" -v -t "$U/set/result" >"$E2E_DIR/results.out" 2>&1 &
HPIDS+=($!)
MON_CMD+=(--mqtt-control --log "$E2E_DIR/ctl.csv")
mon_start ctl
mon_connect ctl 20
number() { retained "$P" homeassistant/number/zrvmon_cell-7/temperature_setpoint/config | cut -d' ' -f2-; }
wait_until 15 "no number entity" eval 'number | grep -q "\"mode\":\"box\""'
[[ "$(number | jq -c '[.unique_id,.command_topic,.retain,.min,.max,.step,.value_template]')" \
  == '["zrvmon_cell-7_temperature_setpoint_set","zrvmon/cell-7/set/temperature_setpoint",false,5,35,0.1,"{{ value_json.temperature_setpoint }}"]' ]] \
  || fail "the number's config: $(number)"
result() { sed -n "$1p" "$E2E_DIR/results.out" | cut -d' ' -f2- | jq -c "[.key,.requested,.written,.ok,.reason]"; }
results() { (($(grep -c . "$E2E_DIR/results.out") >= $1)); }
wire_since() { requests | tail -n +"$(($1 + 1))" | grep -A1 '^WR' | paste -sd'|'; }
trace_of() { grep -A3 -F "> WR DM890 $1" "$TRACE" | paste -sd'|'; }
before=$(request_count)
set_point temperature_setpoint 21.5
wait_until 10 "no result" results 1
[[ "$(result 1)" == '["temperature_setpoint",21.5,21.5,true,null]' ]] || fail "result $(result 1)"
[[ "$(wire_since "$before")" == "WR DM890 215|RD DM890" ]] || fail "the wire: $(wire_since "$before")"
wait_row 3 ' C  /   21\.50 C  /' 5 ctl
setpoint_state() { [[ "$(retained "$P" "$U/state" | cut -d' ' -f2- | jq .temperature_setpoint)" == 21.5 ]]; }
wait_until 5 "the state's temperature_setpoint is not 21.5" setpoint_state
log "accepted: wire $(trace_of 215); row 3 '$(row 3 ctl)'; $(sed -n 1p "$E2E_DIR/results.out")"

before=$(request_count)
set_point temperature_setpoint 99
set_point temperature_setpoint abc
set_point humidity_setpoint 55 -r
wait_until 10 "no refusals" results 4
[[ "$(result 2)|$(result 3)|$(result 4)" == '["temperature_setpoint",99,null,false,"above the limit of 35 C"]|["temperature_setpoint","abc",null,false,"not a plain decimal number"]|["humidity_setpoint",55,null,false,"a retained command is a replay, not a request"]' ]] \
  || fail "refusals $(result 2) $(result 3) $(result 4)"
sleep 1
no_write_since "$before" || fail "a refused command was written: $(wire_since "$before")"
log "refused: nothing on the wire; row 3 '$(row 3 ctl)'; $(sed -n 2p "$E2E_DIR/results.out")"

keys t ctl
wait_for " Send            : Receive    /esc" 5 ctl
before=$(request_count)
set_point temperature_setpoint 20.5
sleep 3
no_write_since "$before" || fail "written while the terminal was open: $(wire_since "$before")"
results 5 && fail "answered while the terminal was open: $(result 5)"
keys Escape ctl
wait_until 10 "no result after the terminal" results 5
[[ "$(result 5)" == '["temperature_setpoint",20.5,20.5,true,null]' ]] || fail "result $(result 5)"
[[ "$(wire_since "$before")" == "WR DM890 205|RD DM890" ]] || fail "the wire: $(wire_since "$before")"
wait_row 3 ' C  /   20\.50 C  /' 5 ctl
log "waited: wire $(trace_of 205); row 3 '$(row 3 ctl)'; $(sed -n 5p "$E2E_DIR/results.out")"
mon_quit ctl
grep -q ',setpoint_writes$' "$E2E_DIR/ctl.csv" && grep -q ',temperature_setpoint=21.5$' "$E2E_DIR/ctl.csv" \
  || fail "the log names no write: $(grep -v '^#' "$E2E_DIR/ctl.csv" | cut -c1-40 | head -n 2)"

# Headless, the retained command left on the broker is a replay.
headless replay --mqtt "mqtt://127.0.0.1:$P" --unit cell-7 --mqtt-control
wait_until 15 "no refusal of the replay" said replay \
  "zrvmon: COM1: humidity set point 55.00 % refused (MQTT): a retained command is a replay, not a request"
mosquitto_pub -h 127.0.0.1 -p "$P" -t "$U/set/humidity_setpoint" -r -n
set_point temperature_setpoint 21
wait_until 10 "no line for the write" said replay "zrvmon: COM1: temperature set point 20.50 C -> 21.00 C (MQTT)"
kill -TERM "$HPID"
wait "$HPID" || fail "replay exited with $?"
headless plain --mqtt "mqtt://127.0.0.1:$P" --unit cell-7
wait_until 15 "the number entity outlived --mqtt-control" eval '[[ -z "$(number)" ]]'
kill -TERM "$HPID"
wait "$HPID" || fail "plain exited with $?"

log "SIGTERM and kill -9"
headless term --mqtt "mqtt://127.0.0.1:$P" --unit cell-8
state_of() { retained "$P" "zrvmon/$1/state" | grep -q '"temperature":'; }
wait_until 15 "cell-8 published no state" state_of cell-8
kill -TERM "$HPID"
wait "$HPID" || fail "cell-8 exited with $?"
retained_is "$P" zrvmon/cell-8/status offline || fail "cell-8 not offline after SIGTERM"
last_request_cq SIGTERM
grep -E '^  mqtt: [1-9][0-9]* states? published, the broker lost 0 times$' "$E2E_DIR/term.err" >/dev/null \
  || fail "no summary: $(cat "$E2E_DIR/term.err")"
headless killed --mqtt "mqtt://127.0.0.1:$P" --unit cell-9
wait_until 15 "cell-9 not online" retained_is "$P" zrvmon/cell-9/status online
kill -KILL "$HPID"
wait_until 30 "cell-9 not offline through the will" retained_is "$P" zrvmon/cell-9/status offline

log "TLS with a password"
(cd "$E2E_DIR" &&
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=zrv-test-ca -keyout ca.key -out ca.crt &&
  openssl req -newkey rsa:2048 -nodes -subj /CN=localhost -keyout srv.key -out srv.csr &&
  printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\n' >srv.ext &&
  openssl x509 -req -in srv.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -extfile srv.ext \
    -out srv.crt && mosquitto_passwd -c -b pw unit right && echo right >right.pw) \
  >"$E2E_DIR/openssl.out" 2>&1 || fail "openssl: $(cat "$E2E_DIR/openssl.out")"
T=$(free_port)
broker tls "$T" "cafile $E2E_DIR/ca.crt" "certfile $E2E_DIR/srv.crt" "keyfile $E2E_DIR/srv.key" \
  "password_file $E2E_DIR/pw" "allow_anonymous false"
tls_sub() { retained "$T" "$@" --cafile "$E2E_DIR/ca.crt" -u unit -P right; }
refused() {  # NAME LINE [options]: the monitor says LINE, and polls on
  local name=$1 line=$2
  shift 2
  headless "$name" --mqtt "mqtts://127.0.0.1:$T" --mqtt-user unit --unit "$name" "$@"
  wait_until 15 "$name: no line '$line'" said "$name" "$line"
  expect_polling 20 10
  kill -TERM "$HPID"
  wait "$HPID" || fail "$name exited with $?"
  grep -F "  mqtt: 0 states published" "$E2E_DIR/$name.err" >/dev/null && said "$name" "; trying again" \
    || fail "$name: the summary: $(cat "$E2E_DIR/$name.err")"
  log "$name: $(grep -F "$line" "$E2E_DIR/$name.err" | head -n 1)"
}
ZRVMON_MQTT_PASSWORD=wrong refused wrong-pw "zrvmon: MQTT broker mqtts://127.0.0.1:$T refused the connection: not authorised" \
  --mqtt-ca "$E2E_DIR/ca.crt"
refused no-ca "zrvmon: MQTT broker mqtts://127.0.0.1:$T is not trusted, nothing was sent" \
  --mqtt-password-file "$E2E_DIR/right.pw"
headless tls --mqtt "mqtts://127.0.0.1:$T" --mqtt-user unit --mqtt-password-file "$E2E_DIR/right.pw" \
  --mqtt-ca "$E2E_DIR/ca.crt" --unit tls
wait_until 15 "no state over TLS" eval 'tls_sub zrvmon/tls/state | grep -q "\"temperature\":"'
kill -TERM "$HPID"
wait "$HPID" || fail "tls exited with $?"
[[ "$(tls_sub zrvmon/tls/status | cut -d' ' -f2)" == offline ]] || fail "tls not offline"
sim_stop

log "a site bridged to a central broker: three units"
S=$(free_port)
broker site "$S" "$(sed -e "s|^address .*|address 127.0.0.1:$T|" \
  -e "s|^bridge_cafile .*|bridge_cafile $E2E_DIR/ca.crt|" -e "s|^remote_username .*|remote_username unit|" \
  -e "s|^remote_password .*|remote_password right|" "$(dirname "$0")/../../service/mosquitto-bridge.conf.example")"
for n in 1 2 3; do
  "$ZRVSIM" --link "$E2E_DIR/tty$n" --system "$n" --noise 0 --speed 0.0001 >/dev/null 2>&1 &
  HPIDS+=($!)
done
wait_until 5 "the simulators' links" test -e "$E2E_DIR/tty3"
for n in 1 2 3; do
  LINK=$E2E_DIR/tty$n headless "site$n" --mqtt "mqtt://127.0.0.1:$S" --unit "hall2-$n"
done
central() { [[ $(tls_sub 'zrvmon/+/state' | grep -c '"system":[123],') == 3 ]]; }
wait_until 30 "the three states did not reach the central broker" central
tls_sub 'homeassistant/sensor/zrvmon_hall2-2/temperature/config' | grep -q '"unique_id":"zrvmon_hall2-2_temperature"' \
  || fail "no discovery at the central broker"
log "central: $(tls_sub 'zrvmon/+/status' | paste -sd' ')"
exit 0
