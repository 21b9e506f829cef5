#!/usr/bin/env bash
# Runs the Windows test suites (build/windows) under Wine. Expects the linux
# preset to be built (the peer broker comes from it) and runs inside
# scripts/confined.sh like the Linux suites.
#
# Two Wine prefixes live in build/windows: wine-null (the null graphics
# driver: windows without a display) for most tests, and wine-x11 (Wine's X11
# driver on a private Xvfb) for the tests that look at a real window on
# screen. Each gets one idle Wine process for the whole run, so every test
# starts in milliseconds; everything Wine started is ended on exit.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/windows
source "$root/scripts/wine-prefix.sh"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for prefix in "$build/wine-null" "$build/wine-x11"; do
    [ -d "$prefix" ] && WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  done
  wait 2>/dev/null || true
}
trap cleanup EXIT

# A display for the on-screen tests.
display=$((500 + RANDOM % 300))
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)

export DISPLAY=":$display"
prepare_wine_prefix "$build/wine-null" null
prepare_wine_prefix "$build/wine-x11" x11
export TELORUS_WINE_NULL_PREFIX=$build/wine-null
export TELORUS_WINE_X11_PREFIX=$build/wine-x11

# The real peers, on the Linux side.
portfile=$(mktemp)
"$root/build/linux/tests/support/telorus-peer-broker" --port-file "$portfile" >/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$portfile" ] && break; sleep 0.05; done
export TELORUS_PEER_BROKER=$(cat "$portfile")
rm -f "$portfile"

# Each prefix's Wine session (its server and system processes) is started
# first, detached from every pipe: whichever program starts a session hands
# its output to those processes, and CTest would wait on that pipe until the
# session ends. The idle process then keeps the session up.
for prefix in "$build/wine-null" "$build/wine-x11"; do
  WINEPREFIX=$prefix wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  WINEPREFIX=$prefix wine "$build/tests/win/telorus-wine-idle.exe" </dev/null >/dev/null 2>&1 &
  pids+=($!)
done

ctest --preset windows -j "${JOBS:-2}" --timeout 300 "$@"
