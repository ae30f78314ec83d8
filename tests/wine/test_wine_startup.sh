# SPDX-License-Identifier: MIT
# The Windows build under wine, started from a console on code page 1252:
# a full screen of the controller's values, the indicators in code page
# 850's glyphs whatever the console's page, and Esc with status 0. COM12
# takes the \\.\COM12 name form.
E2E_WINE_COM=12
source "$(dirname "$0")/../e2e/lib.sh"
e2e_init "$1"

sim_start --system 42 --temp-set 21.5 \
  --reply 'RD 512=1' --reply 'RD 513=1' --reply 'RD 514=1' --reply 'RD 515=1'
# One word per argument: wine would escape quotes inside one, which cmd
# does not read.
MON_CMD=(wine cmd /c chcp 1252 '>nul' '&' "Z:${ZRVMON//\//\\}")
mon_start
# The prompt lists the ports of the device namespace (wine's own; a link
# made after its start is not among them), or says there are none.
wait_row 3 '^(COM[0-9]+ +\\|No serial port found$)' 5
mon_connect
wait_row 1 '^ System        #  42    ComPort 12' 5
expect_row 3 '^ Temp\. +-?[0-9]+\.[0-9]{2} C  /   21\.50 C  /  +-?[0-9]+\.[0-9]{2} C'
expect_row 14 '^ tTotal +[0-9]+ s  /  +[0-9]+\.[0-9] h'
wait_row 9 '^ Vent\.         \(512\) [\\|/-]$' 5
wait_row 12 '^ TempMode      \(515\) C$' 5
expect_title " Pav (#42, C12)"

# Every frame of the three animations, and nothing else, within a few
# cycles (blank frames aside). On code page 1252 the shades and the block
# would come out as ° ± ² Û, and 0x1E as a control character.
declare -A want=([9]='\|/-' [10]='░▒▓█' [11]='.▲█') seen=([9]='' [10]='' [11]='')
deadline=$(($(now_ms) + 15000))
while (($(now_ms) < deadline)); do
  mapfile -t lines < <(screen)
  all=1
  for r in 9 10 11; do
    c=${lines[r - 1]:21:1}
    [[ -n "$c" && "$c" != ' ' && "${seen[$r]}" != *"$c"* ]] && seen[$r]+=$c
    ((${#seen[$r]} >= ${#want[$r]})) || all=0
  done
  ((all)) && break
  sleep 0.05
done
for r in 9 10 11; do
  for ((i = 0; i < ${#seen[$r]}; i++)); do
    [[ "${want[$r]}" == *"${seen[$r]:i:1}"* ]] || fail "row $r showed '${seen[$r]:i:1}' (frames seen: '${seen[$r]}', expected '${want[$r]}')"
  done
  ((${#seen[$r]} == ${#want[$r]})) || fail "row $r showed the frames '${seen[$r]}', expected all of '${want[$r]}'"
done

expect_polling 40 10
mon_quit
[[ "$(requests | tail -n 1)" == CQ ]] || fail "CQ was not the last request"
exit 0
