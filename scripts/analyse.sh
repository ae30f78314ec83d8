#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Static analysis of the project's own code (src/ and sim/): clang-tidy with
# the checks of .clang-tidy, then cppcheck, both from the compile database of
# the default build. Any finding fails the run. The Win32 backend needs the
# MinGW headers and is left out; the tests are left out for time (GoogleTest
# makes them slow to analyse). GCC-only warning flags in the database (a CI
# build adds -Werror) are not clang's to judge.
# Usage: scripts/analyse.sh          (ANALYSE_JOBS=n files at once, default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/deps.sh analyse
db=build/compile_commands.json
jobs=${ANALYSE_JOBS:-2}

# The files to analyse, as the database names them.
sources() {
  sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$db" \
    | grep -E "^$root/(src|sim)/" | grep -v "^$root/src/platform/win32/" | sort -u
}

# A missing database is made with the default preset; one that lacks a newer
# source file is brought up to date with the folder's own options.
if [[ ! -f build/CMakeCache.txt ]]; then
  cmake --preset default >/dev/null
elif [[ ! -f "$db" ]] || [[ -n "$(comm -23 <(find "$root/src" "$root/sim" \
        -name '*.cpp' ! -path "$root/src/platform/win32/*" | sort) <(sources))" ]]; then
  cmake -S . -B build >/dev/null
fi
mapfile -t files < <(sources)

start=$SECONDS
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
echo "clang-tidy: ${#files[@]} files, $jobs at a time" >&2
export root tmp
printf '%s\n' "${files[@]}" | xargs -d '\n' -P "$jobs" -n 1 bash -c '
  log="$tmp/$(echo "${1#"$root"/}" | tr / _).log"
  clang-tidy-14 -p "$root/build" --quiet --warnings-as-errors="*" \
    --extra-arg=-Wno-unknown-warning-option \
    --header-filter="^$root/(src|sim)/" "$1" >"$log" 2>&1 \
    || echo "$1" >>"$tmp/failed"' _ || true
tidy_ok=1
if [[ -s "$tmp/failed" ]]; then
  tidy_ok=0
  while read -r f; do
    grep -v ' warnings\{0,1\} generated\.$' "$tmp/$(echo "${f#"$root"/}" | tr / _).log"
  done <"$tmp/failed"
  echo "clang-tidy findings:" >&2
  cat "$tmp"/*.log | grep -E '^/.*: (warning|error): ' | sed "s|^$root/||" | sort -u >&2
fi
echo "clang-tidy: $((SECONDS - start)) s" >&2

start=$SECONDS
cppcheck_ok=1
cppcheck --project="$db" --file-filter='src/*' --file-filter='sim/*' \
  -isrc/platform/win32 --std=c++20 --library=posix \
  --enable=warning,performance,portability --inline-suppr \
  --error-exitcode=1 -j "$jobs" -q || cppcheck_ok=0
echo "cppcheck: $((SECONDS - start)) s" >&2

if ((tidy_ok && cppcheck_ok)); then
  echo "analysis: no findings" >&2
  exit 0
fi
echo "analysis: findings above ($( ((tidy_ok)) || printf 'clang-tidy ')$( ((cppcheck_ok)) || printf 'cppcheck'))" >&2
exit 1
