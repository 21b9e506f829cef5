#!/usr/bin/env bash
# The main job: snapshots an RFB server's screen into a PNG with telorus-snap.
#
#   scripts/demo.sh [HOST:PORT [OUTPUT.png]]
#
# With no server given, it starts its own: Xvfb showing a test picture and
# x11vnc serving it on a free loopback port, both stopped at the end. The
# picture is written to telorus-demo.png (or OUTPUT.png). First, the socket
# component alone: telorus-nc exchanges two lines with a local echo server.
# Then the same snapshot through the Windows build, telorus-snap.exe under
# Wine, into telorus-demo-windows.png (next to OUTPUT.png). Then the ActiveX
# control: TelorusXControl.dll is registered in a Wine prefix and telorus-host
# places it in a window connected to the same server, printing its events; on
# a desktop the window shows the remote screen until it is closed, without one
# it runs for a few seconds on Wine's null display. Last, when a display is
# available (DISPLAY set and answering), telorus-viewer opens on the same
# server: use the remote screen, F8 for its menu; closing the window ends the
# demo. TELORUS_DEMO_VIEWER=0 leaves the viewer out.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target telorus-snap telorus-nc telorus-echo-server telorus-viewer

target=${1:-}
output=${2:-telorus-demo.png}
pids=()
work=$(mktemp -d)
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT

port_file="$work/echo-port"
build/linux/tests/support/telorus-echo-server --port-file "$port_file" >/dev/null &
pids+=($!)
for _ in $(seq 50); do [ -s "$port_file" ] && break; sleep 0.1; done
echo "== telorus-nc and an echo server on 127.0.0.1:$(cat "$port_file")"
printf 'Hello from telorus-nc\nThe second line\n' |
  build/linux/apps/telorus-nc/telorus-nc localhost "$(cat "$port_file")" --events

echo "== telorus-snap"
if [ -z "$target" ]; then
  display=:$((300 + RANDOM % 300))
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
  # The test picture: colour bars, a gradient, text.
  convert -font DejaVu-Sans -size 1024x768 gradient:'#0b1f3a-#3a7bd5' \
    \( -size 1024x96 xc:red xc:orange xc:yellow xc:green xc:cyan xc:blue xc:magenta +append -resize 1024x96! \) \
    -geometry +0+0 -composite \
    -fill white -pointsize 48 -draw "text 60,300 'Telorus remote framebuffer viewer'" \
    -pointsize 24 -draw "text 60,350 'snapshot taken through RFB 3.3 by telorus-snap'" \
    "$work/picture.png"
  DISPLAY=$display display -window root "$work/picture.png" >/dev/null 2>&1 &
  pids+=($!)
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  x11vnc -display "$display" -rfbport "$port" -listen 127.0.0.1 -rfbportv6 -1 -forever -shared \
    -nocursor -noxrecord -nopw -quiet >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null && break; sleep 0.1; done
  sleep 2  # x11vnc polls the screen: let it see the picture
  target=127.0.0.1:$port
  echo "demo server: x11vnc on Xvfb $display, $target"
fi

build/linux/apps/telorus-snap/telorus-snap "$target" -o "$output"
echo "snapshot written to $output"

echo "== telorus-snap.exe under Wine"
cmake --preset windows >/dev/null
cmake --build --preset windows --target telorus-snap telorus-nc TelorusXControl telorus-host
source scripts/wine-prefix.sh
prepare_wine_prefix "$PWD/build/windows/wine-null" null
windows_output="$(dirname "$output")/telorus-demo-windows.png"
WINEPREFIX=$PWD/build/windows/wine-null wine build/windows/apps/telorus-snap/telorus-snap.exe "$target" \
  -o "Z:$(realpath -m "$windows_output" | tr / '\\')"
WINEPREFIX=$PWD/build/windows/wine-null wineserver -k || true
echo "snapshot written to $windows_output"

echo "== the TelorusX ActiveX control in telorus-host under Wine"
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  host_prefix=$PWD/build/windows/wine-demo
  prepare_wine_prefix "$host_prefix" x11
  host_time=()
  echo "close the window to end the demo"
else
  host_prefix=$PWD/build/windows/wine-null
  host_time=(--seconds 3)
fi
dll="Z:$(realpath build/windows/src/control/win32/TelorusXControl.dll | tr / '\\')"
WINEPREFIX=$host_prefix wine regsvr32 /s "$dll"
WINEPREFIX=$host_prefix wine build/windows/apps/telorus-host/telorus-host.exe "${target%:*}" "${target##*:}" \
  "${host_time[@]}" || echo "telorus-host ended with exit code $?"
WINEPREFIX=$host_prefix wine regsvr32 /s /u "$dll"
WINEPREFIX=$host_prefix wineserver -k || true

if [ "${TELORUS_DEMO_VIEWER:-1}" != 0 ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "== telorus-viewer on $target (F8: menu; close the window to end)"
  build/linux/apps/telorus-viewer/telorus-viewer "$target" --autoscroll || true
else
  echo "no display: telorus-viewer not opened (the snapshots above show the remote screen)"
fi
