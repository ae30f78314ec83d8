#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# zrvmon.exe runs on a bare Windows: it needs no DLL beyond the system's
# (Winsock for the network ports among them), and it asks for the 1 ms timer.
set -uo pipefail
exe=$1
objdump=$(command -v x86_64-w64-mingw32-objdump || command -v objdump) || {
  echo "SKIP: no objdump for PE files"; exit 77; }
dump=$("$objdump" -p "$exe") || exit 1
dlls=$(sed -n 's/^\s*DLL Name: //p' <<<"$dump" | tr 'a-z' 'A-Z' | sort -u)
echo "imports: $(tr '\n' ' ' <<<"$dlls")"
extra=$(grep -vxE 'KERNEL32\.DLL|MSVCRT\.DLL|WINMM\.DLL|WS2_32\.DLL' <<<"$dlls")
[[ -z "$extra" ]] || { echo "FAIL: needs DLLs beyond the system's: $extra"; exit 1; }
grep -qw timeBeginPeriod <<<"$dump" || { echo "FAIL: timeBeginPeriod is not imported"; exit 1; }
echo "PASS"
