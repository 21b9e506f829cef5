#!/usr/bin/env bash
# Builds every test under both presets (RelWithDebInfo, and ASan + UBSan) and
# runs the suites. Tests talk to loopback only; they run in a private mount
# namespace whose resolver points at 127.0.0.1, so a lookup of an unknown
# name fails here at once instead of asking a DNS server off this machine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

jobs=$(nproc)
status=0
for preset in linux linux-asan; do
  echo "=== preset $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  scripts/confined.sh ctest --preset "$preset" -j "$jobs" --timeout 300 || status=1
done
exit $status
