#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer targets (preset fuzz, in build-fuzz) and runs each for
# a fixed time on a copy of its seed corpus, so that the corpus in fuzz/corpus
# never grows. Fails when any target crashes; the input that did it is kept
# in build-fuzz/artifacts/<target>/.
# Usage: scripts/fuzz.sh [seconds per target]   (default: 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
if [[ ! $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "Usage: scripts/fuzz.sh [seconds per target]" >&2
  exit 2
fi
scripts/deps.sh fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

targets=()
for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
cmake --preset fuzz >"$work/build.log" 2>&1 || { cat "$work/build.log" >&2; exit 1; }
cmake --build --preset fuzz -j "$(nproc)" --target "${targets[@]/#/fuzz_}" \
  >>"$work/build.log" 2>&1 || { cat "$work/build.log" >&2; exit 1; }

failed=()
summary=()
for t in "${targets[@]}"; do
  mkdir -p "$work/corpus/$t" "build-fuzz/artifacts/$t"
  cp fuzz/corpus/"$t"/* "$work/corpus/$t/"
  echo "== $t: ${seconds} s" >&2
  status=0
  # -timeout: one input running 10 s is a hang, reported as a crash.
  build-fuzz/fuzz_"$t" -max_total_time="$seconds" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$t/" \
    "$work/corpus/$t" >"$work/$t.log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t.log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/$t.log")
  cov=$(grep -o 'cov: [0-9]*' "$work/$t.log" | tail -n 1 | cut -d' ' -f2 || true)
  ft=$(grep -o 'ft: [0-9]*' "$work/$t.log" | tail -n 1 | cut -d' ' -f2 || true)
  units=$(find "$work/corpus/$t" -type f | wc -l)
  if ((status != 0)); then
    failed+=("$t")
    summary+=("$(printf '%-16s CRASH (exit %d)' "$t" "$status")")
    { grep -E -A 30 'ERROR:|check failed|runtime error|deadly signal|timeout' \
        "$work/$t.log" || tail -n 40 "$work/$t.log"; } | head -n 60 >&2 || true
    ls -t build-fuzz/artifacts/"$t"/ | head -n 3 >&2 || true
  else
    summary+=("$(printf '%-16s %10s runs %8s exec/s  cov %5s  ft %6s  corpus %5s' \
      "$t" "${runs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "$units")")
  fi
done

printf '%s\n' "${summary[@]}"
if ((${#failed[@]} > 0)); then
  echo "Crashes in: ${failed[*]} (inputs in build-fuzz/artifacts/)" >&2
  exit 1
fi
