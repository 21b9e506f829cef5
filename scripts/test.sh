#!/usr/bin/env bash
# Runs every fuzz target for a bounded time (clang, ASan + UBSan), then builds
# every test under both Linux presets (RelWithDebInfo, and ASan + UBSan) and
# runs the suites, then cross-builds the Windows preset and runs its suites
# under Wine. FUZZ_SECONDS sets the time per fuzz target (default 60). Tests talk to loopback only; they run in a private mount
# namespace whose resolver points at 127.0.0.1, so a lookup of an unknown
# name fails here at once instead of asking a DNS server off this machine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

jobs=$(nproc)
status=0

# Every fuzz target runs for a bounded time under ASan + UBSan (clang).
echo "=== preset linux-fuzz"
cmake --preset linux-fuzz >/dev/null
fuzz_targets=$(find fuzz -maxdepth 1 -name '*_fuzz.cpp' -printf '%f\n' | sed 's/\.cpp$//' | sort)
cmake --build --preset linux-fuzz -j "$jobs" --target $fuzz_targets
for target in $fuzz_targets; do
  corpus=$(mktemp -d)
  echo "fuzzing $target for ${FUZZ_SECONDS:-60} s"
  if build/linux-fuzz/fuzz/"$target" -max_total_time="${FUZZ_SECONDS:-60}" -rss_limit_mb=4096 -max_len=8192 \
      -print_final_stats=1 "$corpus" >"$corpus.log" 2>&1; then
    tail -n 3 "$corpus.log"
  else
    echo "$target found a failure:"; tail -n 60 "$corpus.log"; status=1
  fi
  rm -rf "$corpus" "$corpus.log"
done

for preset in linux linux-asan; do
  echo "=== preset $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  scripts/confined.sh ctest --preset "$preset" -j "$jobs" --timeout 300 || status=1
done

# The Windows executables, under Wine; the peer broker of the linux preset
# runs their real servers and proxies.
echo "=== preset windows"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
JOBS=$jobs scripts/confined.sh scripts/windows-tests.sh || status=1

exit $status
