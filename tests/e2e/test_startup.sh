# SPDX-License-Identifier: MIT
# Start-up to a full screen showing what the controller holds: set points,
# system number and port, the counters page, the title, animated indicators.
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

sim_start --system 42 --temp-set 21.5 --rh-set 55.5 --co2-set 0.45 \
  --reply 'RD 512=1' --reply 'RD 513=0' --reply 'RD 514=0' --reply 'RD 515=1'
# A second unit on port 2: the prompt lists both ports with their devices.
"$ZRVSIM" --link "$E2E_DIR/ttyZRV2" >"$E2E_DIR/sim2.out" 2>&1 &
echo $! >"$E2E_DIR/sim2.pid"  # ended with the monitors if the test fails
MON_COM2="$E2E_DIR/ttyZRV2"
for _ in $(seq 100); do [[ -e "$MON_COM2" ]] && break; sleep 0.05; done
mon_start
expect_row 1 '^Enter Comport *$'
[[ "$(row 3)" == "COM1  $LINK" ]] || fail "row 3 is '$(row 3)', expected COM1 and $LINK"
[[ "$(row 4)" == "COM2  $MON_COM2" ]] || fail "row 4 is '$(row 4)', expected COM2 and $MON_COM2"
mon_connect
wait_row 1 '^ System        #  42    ComPort 1' 5
expect_row 3 '^ Temp\. +-?[0-9]+\.[0-9]{2} C  /   21\.50 C  /  +-?[0-9]+\.[0-9]{2} C'
expect_row 4 '^ RH +-?[0-9]+\.[0-9]{2} %  /   55\.50 %  /  +-?[0-9]+\.[0-9]{2} %'
expect_row 5 '^ CO2 +-?[0-9]+\.[0-9]{2} %  /    0\.45 %'
expect_row 6 '^ Evap\.Temp\. +-?[0-9]+\.[0-9]{2} C'
expect_row 7 '^ Defrost in +[0-9]+\.[0-9]{2} hrs to 10\.00 C'
wait_row 9 '^ Vent\.         \(512\) ' 5
wait_row 10 '^ Temp\.Ctl      \(513\) -' 5
wait_row 11 '^ FloorHtr      \(514\) -' 5
wait_row 12 '^ TempMode      \(515\) C' 5
expect_row 14 '^ tTotal +[0-9]+ s  /  +[0-9]+\.[0-9] h'
expect_row 15 '^ t_Heater +[0-9]+ s  / '
expect_row 16 '^ tt_Cooler +[0-9]+ s  / '
expect_row 17 '^ t_Cooler +[0-9]+ s  / '
expect_row 18 '^ tt_Defrost +[0-9]+ s  / '
expect_row 19 '^ t_Humidiy +[0-9]+ s  / '
expect_row 20 '^ t106 +[0-9]+  t107 +[0-9]+'

expect_title " Pav (#42, C1)"

# The Vent. relay is on: its bar turns between captures.
seen=""
deadline=$(($(now_ms) + 5000))
while (($(now_ms) < deadline)); do
  c=$(row 9 | cut -c22)
  [[ "$seen" == *"$c"* ]] || seen+="$c"
  ((${#seen} >= 3)) && break
  sleep 0.05
done
((${#seen} >= 3)) || fail "Vent. indicator did not animate (states seen: '$seen')"
[[ "$seen" =~ ^[\\\|/-]+$ ]] || fail "Vent. indicator showed unexpected states '$seen'"

# The values keep coming: more readings of the temperature reach the wire.
expect_polling 40 10
mon_quit
kill "$(cat "$E2E_DIR/sim2.pid")"
MON_COM2=""

# A unit of variant 2 on the other relay set: its own labels and relay
# numbers, no evaporator or defrost lines.
sim_stop
rm -f "$TRACE"
sim_start --variant 2 --relay-set 604 --system 7
mon_start mon2
E2E_SESSION=mon2
mon_connect
wait_row 1 '^ System        #   7    ComPort 1' 5
expect_row 6 '^ *$'
expect_row 7 '^ *$'
wait_row 9 '^ Vent\.         \(604\)' 5
wait_row 10 '^ Temp\.Ctl      \(605\)' 5
wait_row 11 '^ FloorHtr      \(606\)' 5
wait_row 12 '^ TempMode      \(607\) [CH]' 5
expect_row 16 '^ t_HeatEff\. +[0-9]+ s  / '
expect_row 18 '^ t_CoolEff\. +[0-9]+ s  / '
grep -qE '> RD DM(87|88|991)$' "$TRACE" && fail "variant 2 asked for defrost or evaporator registers"
mon_quit
exit 0
