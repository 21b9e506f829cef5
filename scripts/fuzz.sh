#!/usr/bin/env bash
# Builds the fuzz targets (preset linux-fuzz: clang, ASan + UBSan) and runs
# each one first over its committed corpus, fuzz/corpus/<target>/, as a
# regression check, then fuzzes it from that corpus for SECONDS (default 45).
# A failure prints the failing input in hex, ready to be added to the corpus
# with its fix; the exit status is then 1.
#   scripts/fuzz.sh [SECONDS [TARGET...]]
# With KEEP_CORPUS=DIR the inputs found are kept in DIR/<target>/ (for
# minimising into the corpus) instead of being thrown away.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-45}
shift || true
cmake --preset linux-fuzz >/dev/null
if (($#)); then
  targets="$*"
else
  targets=$(find fuzz -maxdepth 1 -name '*_fuzz.cpp' -printf '%f\n' | sed 's/\.cpp$//' | sort)
fi
cmake --build --preset linux-fuzz -j "$(nproc)" --target $targets

status=0
report_failure() {  # target, log, artifact directory
  echo "$1 found a failure:"
  grep -v -E '^(#[0-9]+|	NEW_FUNC)' "$2" | tail -n 60
  for input in "$3"/crash-* "$3"/leak-* "$3"/timeout-* "$3"/oom-* "$3"/slow-unit-*; do
    [ -f "$input" ] || continue
    echo "failing input $(basename "$input"), in hex:"
    od -An -tx1 -v "$input"
  done
}
for target in $targets; do
  seeds=fuzz/corpus/$target
  work=$(mktemp -d)
  found=${KEEP_CORPUS:+$KEEP_CORPUS/$target}
  found=${found:-$work/corpus}
  mkdir -p "$found" "$work/artifacts" "$seeds"
  fuzzer=build/linux-fuzz/fuzz/$target
  options=(-rss_limit_mb=4096 -max_len=8192 -timeout=10 -artifact_prefix="$work/artifacts/")
  echo "$target: regression over $(find "$seeds" -type f | wc -l) seeds"
  if ! "$fuzzer" "${options[@]}" -runs=0 "$seeds" >"$work/log" 2>&1; then
    report_failure "$target" "$work/log" "$work/artifacts"
    status=1
    rm -rf "$work"
    continue
  fi
  echo "$target: fuzzing for $seconds s from the corpus"
  if "$fuzzer" "${options[@]}" -max_total_time="$seconds" -print_final_stats=1 "$found" "$seeds" \
      >"$work/log" 2>&1; then
    grep -E '^#[0-9]+' "$work/log" | tail -n 1
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$work/log" || true
  else
    report_failure "$target" "$work/log" "$work/artifacts"
    status=1
  fi
  rm -rf "$work"
done
exit $status
