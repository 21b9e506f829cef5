#!/usr/bin/env bash
# Viewers over a limited link: telorus-viewer, TigerVNC's viewer and
# gtk-vnc's gvncviewer, each on its defaults, against TigerVNC's Xvnc
# serving a changing 1920x1080 scene, at 20 and 100 Mbit/s, in one run.
#
#   sudo bench/link_run.sh [RATES]      (default "20 100", in Mbit/s)
#
# The link is a network namespace of the benchmark's own whose loopback is
# rate-limited with tc's tbf (this kernel has no netem; tbf works, with the
# loopback's MTU lowered to 1500 so that its packets fit the bucket).
# Everything runs inside it: Xvnc, the viewers' Xvfb and the viewers.
#
# The scene, the same for every viewer: a slide show of photograph-like
# pictures (a new one every 0.4 s), then a terminal scrolling text as fast
# as it can, then a still picture. Measured per viewer, on the server's
# side (Xvnc's own count for the connection, printed when it closes):
# updates per second over the scene, bytes per update, the link's use in
# Mbit/s, and at the end the
# picture's error against the server's screen (PSNR of the viewer's display
# against xwd of the server; 99 dB when equal).
set -euo pipefail
cd "$(dirname "$0")/.."
rates=${1:-20 100}

if [ -z "${TELORUS_LINK_INSIDE:-}" ]; then
  [ "$(id -u)" -eq 0 ] || { echo "link_run.sh needs root (ip netns, tc)" >&2; exit 1; }
  source bench/desktop_server.sh
  bench_setup picture-error
  cmake --build --preset linux --target telorus-viewer >/dev/null
  command -v gvncviewer >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq gvncviewer >/dev/null
  # Pictures like photographs, made once.
  for i in 0 1 2 3 4 5; do
    convert -size 1920x1080 plasma:fractal -seed $((11 + i)) -blur 0x1 "$work/photo$i.png"
  done
  status=0
  for rate in $rates; do
    ns=telorus-link-$$-$rate
    ip netns add "$ns"
    ip netns exec "$ns" ip link set lo mtu 1500 up
    ip netns exec "$ns" tc qdisc replace dev lo root tbf rate "${rate}mbit" burst 32kbit latency 50ms
    echo "=== ${rate} Mbit/s"
    TELORUS_LINK_INSIDE=1 TELORUS_LINK_WORK=$work ip netns exec "$ns" bash "$0" "$rate" || status=1
    ip netns delete "$ns"
  done
  exit $status
fi

# ---- Inside the namespace ----
work=$TELORUS_LINK_WORK
bin=build/linux
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT

server=$((60 + RANDOM % 30))
viewers=$((server + 40))
port=$((5900 + server))
Xvnc ":$server" -geometry 1920x1080 -depth 24 -rfbport "$port" -interface 127.0.0.1 -nolisten tcp \
  -AlwaysShared -SecurityTypes None -Log 'EncodeManager:stderr:100' 2>"$work/xvnc.log" &
pids+=($!)
Xvfb ":$viewers" -screen 0 2100x1300x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null && break; sleep 0.1; done
DISPLAY=:$server display -window root "$work/photo0.png" || true

scene() {
  for i in $(seq 0 19); do
    DISPLAY=:$server display -window root "$work/photo$((i % 6)).png" || true
    sleep 0.4
  done
  DISPLAY=:$server xterm -geometry 240x75+0+0 -fa 'DejaVu Sans Mono' -fs 10 \
    -e sh -c 'while :; do cat /usr/share/common-licenses/GPL-3; done' &
  local term=$!
  sleep 8
  kill "$term" 2>/dev/null || true
  wait "$term" 2>/dev/null || true
  DISPLAY=:$server display -window root "$work/photo3.png" || true
  sleep "${STILL_SECONDS:-4}"
}

run_viewer() { # name command...
  local name=$1; shift
  local lines_before
  lines_before=$(wc -l <"$work/xvnc.log")
  DISPLAY=:$viewers "$@" >/dev/null 2>&1 &
  local vp=$!
  sleep 3  # connected and the first picture shown
  local start end
  start=$(date +%s.%N)
  scene
  end=$(date +%s.%N)
  # The pointer leaves the viewer's window: its sprite is not the picture.
  DISPLAY=:$viewers xdotool mousemove 2099 1299 || true
  sleep 0.3
  DISPLAY=:$server xwd -root -silent >"$work/server.xwd"
  DISPLAY=:$viewers xwd -root -silent >"$work/viewer.xwd"
  if [ -n "${LINK_KEEP:-}" ]; then cp "$work/viewer.xwd" "$LINK_KEEP/$name-viewer.xwd"; cp "$work/server.xwd" "$LINK_KEEP/$name-server.xwd"; fi
  kill "$vp" 2>/dev/null || true
  for _ in $(seq 30); do kill -0 "$vp" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$vp" 2>/dev/null || true
  wait "$vp" 2>/dev/null || true
  sleep 1  # Xvnc prints its figures when it sees the connection close
  tail -n +"$((lines_before + 1))" "$work/xvnc.log" >"$work/xvnc.part"
  local figures psnr
  # Xvnc's figures for the connection: updates, and the bytes of all of them.
  figures=$(awk '/Framebuffer updates:/ { u = $NF } /Total:/ { t = 1; next }
       t == 1 { n = $2; unit = $3; t = 0
                m = unit == "KiB" ? 1024 : unit == "MiB" ? 1048576 : unit == "GiB" ? 1073741824 : 1
                b = n * m }
       END { printf "%d %.0f\n", u, b }' "$work/xvnc.part")
  psnr=$("$bin/bench/picture-error" "$work/server.xwd" "$work/viewer.xwd" | awk '{ print $1 }')
  set -- $figures
  awk -v name="$name" -v u="$1" -v b="$2" -v s="$start" -v e="$end" -v p="$psnr" 'BEGIN {
    d = e - s; printf "%-16s %10.1f %14.0f %10.1f %10s\n", name, (d > 0 ? u / d : 0), (u > 0 ? b / u : 0),
                      (d > 0 ? b * 8 / d / 1e6 : 0), p }'
}

printf '%-16s %10s %14s %10s %10s\n' viewer updates/s bytes/update Mbit/s PSNR-dB
for v in ${VIEWERS:-telorus tigervnc gvnc}; do
  case $v in
    telorus) run_viewer telorus-viewer "$bin/apps/telorus-viewer/telorus-viewer" "127.0.0.1:$port" ${TELORUS_ARGS:-} ;;
    tigervnc) run_viewer tigervnc xtigervncviewer "127.0.0.1::$port" ;;
    gvnc) run_viewer gvncviewer gvncviewer "127.0.0.1:$server" ;;
  esac
done
