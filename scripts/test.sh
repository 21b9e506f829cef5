#!/usr/bin/env bash
# Checks the sources' format, runs every fuzz target over its corpus and
# then for a bounded time (clang, ASan + UBSan), then builds every test under
# both Linux presets (RelWithDebInfo, and ASan + UBSan) and runs the suites,
# runs the socket and platform suites under ThreadSanitizer, cross-builds the
# Windows preset and runs its suites under Wine, then installs and packages
# (scripts/package-tests.sh). FUZZ_SECONDS sets the time per fuzz target
# (default 45). Tests talk to loopback only; they run in a private mount
# namespace whose resolver points at 127.0.0.1, so a lookup of an unknown
# name fails here at once instead of asking a DNS server off this machine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

jobs=$(nproc)
status=0

# The sources keep the format of .clang-format.
echo "=== clang-format"
if ! git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format-14 --dry-run --Werror; then
  echo "clang-format: the files above differ from .clang-format (clang-format-14 -i FILE fixes them)"
  status=1
fi

# Every fuzz target over its corpus, then fuzzing from it for FUZZ_SECONDS
# per target (default 45: four targets add about 3 minutes to CI).
echo "=== preset linux-fuzz"
scripts/fuzz.sh "${FUZZ_SECONDS:-45}" || status=1

for preset in linux linux-asan; do
  echo "=== preset $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  scripts/confined.sh ctest --preset "$preset" -j "$jobs" --timeout 300 || status=1
done

# ThreadSanitizer over the suites whose code runs threads of its own (the
# resolver's workers, the platform's loop wake-ups): about a minute and a half.
echo "=== preset linux-tsan (socket and platform suites)"
cmake --preset linux-tsan >/dev/null
cmake --build --preset linux-tsan -j "$jobs" --target socket_tests platform_tests
for suite in socket/socket_tests platform/platform_tests; do
  scripts/confined.sh "build/linux-tsan/tests/$suite" --gtest_brief=1 || status=1
done

# The Windows executables, under Wine; the peer broker of the linux preset
# runs their real servers and proxies.
echo "=== preset windows"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
JOBS=$jobs scripts/confined.sh scripts/windows-tests.sh || status=1

# Installing, the outside consumer, the Debian packages in a fresh root and
# the Windows bundle (this step reaches Debian's mirror for the fresh root).
echo "=== install and packages"
cmake --build --preset windows --target windows_bundle
scripts/package-tests.sh || status=1

exit $status
