# SPDX-License-Identifier: MIT
# A reply full of terminal control sequences, shown in the terminal box,
# must stay text: no new title, no cleared screen, no colour change, and
# the rest of the screen intact.
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

sim_start --system 8 --reply 'RD DM777=\e]0;pwned\a\e]2;pwned2\e\\\e[2J\e[H\e[31mX\e[?1049l\ec'
mon_start
mon_connect
expect_title " Pav (#8, C1)"

keys T
wait_for "Vandrik ZRV Terminal" 5
type_text "RD DM777"
keys Enter
wait_trace '> RD DM777$' 5
wait_for "]0;pwned" 5
sleep 0.5

expect_title " Pav (#8, C1)"
screen_escaped | grep -q $'\e\\[31m' && fail "the reply turned text red"
# Outside the box (columns 1 to 21) the monitor's rows are untouched.
expect_row 1 '^ System        #   8    ComPort 1'
expect_row 3 '^ Temp\.         '
expect_row 4 '^ RH           '
expect_row 9 '^ Vent\.         \(512\)'
expect_row 12 '^ TempMode      \(515\)'
expect_row 14 '^ tTotal  '
expect_row 20 '^ t106  '
# The box itself still has its banner and header.
wait_for "Vandrik ZRV Terminal" 1
wait_for " Send            : Receive    /esc" 1
# The reply is shown as text in the box, from column 20 of the inner window.
screen | grep -qE '^ Defrost in +[0-9.]+ +RD DM777 +: .\]0;pwned' || fail "the reply is not shown in place"

keys Escape
wait_row 3 '^ Temp\. +-?[0-9]+\.[0-9]{2} C  /  ' 5
mon_quit
title=$(pane_title)
[[ "$title" != *pwned* ]] || fail "title became '$title'"
exit 0
