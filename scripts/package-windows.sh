#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes the Windows archive OUT_DIR/zrvmon-VERSION-windows-x64.zip: the
# stripped zrvmon.exe and the texts with CRLF line ends, so Notepad shows
# them right. The same build and sources give the same bytes: fixed file
# order and times (SOURCE_DATE_EPOCH, else the last commit's), no extra
# zip fields.
# Usage: scripts/package-windows.sh BUILD_WINDOWS_DIR OUT_DIR
set -euo pipefail
build=${1:?usage: $0 BUILD_WINDOWS_DIR OUT_DIR}
out=${2:?usage: $0 BUILD_WINDOWS_DIR OUT_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)

# The version of the build that made the exe, not of the tree as it is now.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")
[[ -n "$version" ]] || { echo "no CMAKE_PROJECT_VERSION in $build/CMakeCache.txt" >&2; exit 1; }
[[ -f "$build/zrvmon.exe" ]] || { echo "no $build/zrvmon.exe" >&2; exit 1; }
for f in README.md LICENSE CHANGELOG.md; do
  [[ -f "$root/$f" ]] || { echo "no $root/$f" >&2; exit 1; }
done

stage=$(mktemp -d "${TMPDIR:-/tmp}/zrvzip.XXXXXX")
trap 'rm -rf "$stage"' EXIT
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)}
# strip drops the symbols only; the version resource (.rsrc) stays. It would
# stamp the PE header with the time of day but for SOURCE_DATE_EPOCH.
SOURCE_DATE_EPOCH=$epoch x86_64-w64-mingw32-strip -o "$stage/zrvmon.exe" "$build/zrvmon.exe"
crlf() { awk '{ sub(/\r$/, ""); printf "%s\r\n", $0 }' "$1" >"$2"; }
crlf "$root/README.md" "$stage/README.txt"
crlf "$root/LICENSE" "$stage/LICENSE.txt"
crlf "$root/CHANGELOG.md" "$stage/CHANGELOG.txt"

files=(zrvmon.exe README.txt LICENSE.txt CHANGELOG.txt)
# zip keeps local time; UTC makes it the same on every machine.
export TZ=UTC
for f in "${files[@]}"; do touch -d "@$epoch" "$stage/$f"; done

mkdir -p "$out"
zip_path=$(cd "$out" && pwd)/zrvmon-$version-windows-x64.zip
rm -f "$zip_path"
(cd "$stage" && zip -X -q -9 "$zip_path" "${files[@]}")
echo "$zip_path"
