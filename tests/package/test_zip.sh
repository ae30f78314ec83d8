#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows archive as a user gets it: exactly the exe and three texts, the
# texts with CRLF ends for Notepad, an exe that needs no DLL beyond Windows'
# own, and a version resource that names the archive's version.
# Usage: tests/package/test_zip.sh ZIP|DIST_DIR [VERSION]   (77: no archive)
set -euo pipefail
zip=${1:?usage: $0 ZIP|DIST_DIR [VERSION]}
[[ -d "$zip" ]] && { zip=$(ls "$zip"/zrvmon-*-windows-x64.zip 2>/dev/null | tail -1) || true; }
[[ -f "$zip" ]] || { echo "no archive at ${1}: skipped"; exit 77; }
name=$(basename "$zip")
version=${2:-${name#zrvmon-}}
version=${version%-windows-x64.zip}
fail() { echo "FAIL: $*" >&2; exit 1; }
trap 'fail "line $LINENO"' ERR
tmp=$(mktemp -d "${TMPDIR:-/tmp}/zrvzip.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
echo "== $zip (version $version)"

listed=$(unzip -Z1 "$zip" | sort | tr '\n' ' ')
echo "files: $listed"
[[ "$listed" == "CHANGELOG.txt LICENSE.txt README.txt zrvmon.exe " ]] || fail "unexpected files"
unzip -q "$zip" -d "$tmp"

for f in README.txt LICENSE.txt CHANGELOG.txt; do
  [[ -s "$tmp/$f" ]] || fail "$f is empty"
  ! grep -qv $'\r$' "$tmp/$f" || fail "$f has lines without CRLF"
  [[ "$(tail -c1 "$tmp/$f" | od -An -tx1)" == " 0a" ]] || fail "$f does not end in a line end"
done

# No DLL beyond Windows' own: the MinGW runtime must be linked in.
bash "$(dirname "$0")/../wine/imports.sh" "$tmp/zrvmon.exe" || fail "imports"

command -v exiftool >/dev/null || fail "exiftool missing (Debian: libimage-exiftool-perl)"
exiftool -s -ProductName -ProductVersion -FileVersion -FileVersionNumber \
  -LegalCopyright -CompanyName -FileDescription -OriginalFileName "$tmp/zrvmon.exe" \
  | tee "$tmp/res"
field() { sed -n "s/^$1 *: //p" "$tmp/res"; }
[[ "$(field ProductName)" == zrvmon ]] || fail "ProductName"
[[ "$(field FileVersion)" == "$version" ]] || fail "FileVersion is not $version"
[[ "$(field ProductVersion)" == "$version" ]] || fail "ProductVersion is not $version"
[[ "$(field FileVersionNumber)" == "$version.0" ]] || fail "FILEVERSION is not $version.0"
[[ "$(field LegalCopyright)" =~ ^Copyright\ \(c\)\ [0-9]{4}\ the\ zrvmon\ authors$ ]] \
  || fail "LegalCopyright"
echo "PASS"
