#!/usr/bin/env bash
# Line and branch coverage of the Linux test suites, per layer of src/ (platform,
# socket, viewer, control), printed as a table. Builds the
# linux-coverage preset (Debug, gcov instrumentation), runs every suite under
# ctest as CI does (confined to loopback name resolution), then has gcovr
# (Debian package) read the counters. Branches that only exception handling
# or the compiler itself creates are left out.
#   scripts/coverage.sh            the table
#   KEEP_HTML=DIR scripts/coverage.sh   also a per-file HTML report in DIR
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh >/dev/null
build=build/linux-coverage
cmake --preset linux-coverage >/dev/null
cmake --build --preset linux-coverage -j "$(nproc)"
find "$build" -name '*.gcda' -delete
# The suites' own result does not stop the report: coverage of a red run is
# still coverage, and the exit status says the suites failed.
suites=0
scripts/confined.sh ctest --preset linux-coverage -j "$(nproc)" --timeout 300 >"$build/ctest.log" 2>&1 || suites=1
tail -n 3 "$build/ctest.log"

summary="$build/coverage-summary.json"
gcovr_args=(-r . --object-directory "$build" --filter 'src/' --exclude-throw-branches
            --exclude-unreachable-branches -j "$(nproc)")
gcovr "${gcovr_args[@]}" --json-summary "$summary" >/dev/null
if [ -n "${KEEP_HTML:-}" ]; then
  mkdir -p "$KEEP_HTML"
  gcovr "${gcovr_args[@]}" --html-details "$KEEP_HTML/index.html" >/dev/null
fi

python3 - "$summary" <<'PY'
import json, sys
files = json.load(open(sys.argv[1]))["files"]
layers = {}
for f in files:
    parts = f["filename"].split("/")
    layer = parts[1] if len(parts) > 2 else "(top)"
    t = layers.setdefault(layer, [0, 0, 0, 0])
    t[0] += f["line_covered"]; t[1] += f["line_total"]
    t[2] += f["branch_covered"]; t[3] += f["branch_total"]
order = ["platform", "socket", "viewer", "control", "apps"]
rows = [l for l in order if l in layers] + sorted(l for l in layers if l not in order)
pct = lambda a, b: 100.0 * a / b if b else 0.0
print("%-10s %8s %8s %7s %9s %9s %7s" % ("layer", "lines", "of", "line%", "branches", "of", "branch%"))
total = [0, 0, 0, 0]
for l in rows:
    t = layers[l]
    total = [a + b for a, b in zip(total, t)]
    print("%-10s %8d %8d %6.1f%% %9d %9d %6.1f%%" % (l, t[0], t[1], pct(t[0], t[1]), t[2], t[3], pct(t[2], t[3])))
print("%-10s %8d %8d %6.1f%% %9d %9d %6.1f%%" % ("all", total[0], total[1], pct(total[0], total[1]),
                                                 total[2], total[3], pct(total[2], total[3])))
PY
exit $suites
