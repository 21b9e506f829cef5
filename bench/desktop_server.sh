# Sourced by the benchmark scripts: their set-up, the recorded desktop and
# the processors the programs run on.
#
# bench_setup TARGET... installs what is missing, builds the targets in the
# linux preset, and sets `bin` (where they are), `work` (a scratch folder)
# and `pids` (processes killed, and the folder removed, when the script
# exits).
#
# start_desktop_server DISPLAY starts Xvfb on DISPLAY (1920x1080) showing a
# desktop-like picture (gradients, flat panels, text and a photo-like area)
# and x11vnc serving it on loopback; it sets `port` and adds the processes
# to `pids` (the caller's cleanup kills them) and uses the caller's `work`.
# Also: `median` (of numbers on standard input), and `client_cpu` and
# `server_cpu`, the processors the clients and the replay server run on
# when there are two: processors of a virtual machine can differ in speed,
# and a comparison is only fair under the same placement.

bench_setup() {
  scripts/deps.sh >/dev/null
  cmake --preset linux >/dev/null
  cmake --build --preset linux --target "$@" >/dev/null
  bin=build/linux/bench
  work=$(mktemp -d)
  pids=()
  trap bench_cleanup EXIT
}

bench_cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}

start_desktop_server() {
  local display=$1
  Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  sleep 1
  convert -font DejaVu-Sans -size 1920x1080 gradient:'#203050-#6080b0' \
    -fill '#f0f0f0' -draw 'rectangle 80,80 1100,760' \
    -fill '#d0d8e0' -draw 'rectangle 80,80 1100,110' \
    -fill black -pointsize 18 -draw "text 100,150 'Telorus benchmark: a window with some text in it'" \
    -draw "text 100,180 'The quick brown fox jumps over the lazy dog 0123456789'" \
    \( -size 600x400 plasma:fractal -seed 7 \) -geometry +1200+500 -composite \
    "$work/desktop.png"
  DISPLAY=$display display -window root "$work/desktop.png" >/dev/null 2>&1 &
  pids+=($!)
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])' \
    2>/dev/null || echo 5977)
  x11vnc -display "$display" -rfbport "$port" -listen 127.0.0.1 -rfbportv6 -1 -forever -shared -nocursor \
    -noxrecord -nopw -quiet >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null && break; sleep 0.1; done
  sleep 2
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

client_cpu=() server_cpu=()
if command -v taskset >/dev/null && [ "$(nproc)" -ge 2 ]; then
  client_cpu=(taskset -c 0) server_cpu=(taskset -c 1)
fi
