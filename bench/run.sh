#!/usr/bin/env bash
# Decoding speed of the viewer against libvncclient, on the same recorded
# 1920x1080 x11vnc stream replayed over loopback, in the same run.
#
#   bench/run.sh [FRAMES] [RUNS]
#
# For each encoding (Raw, RRE, CoRRE, Hextile in the server's 32-bit format;
# Raw and Hextile in the 8-bit format) it records 10 full-screen updates from
# x11vnc, replays them until FRAMES updates (default 300) have been sent, and
# prints frames per second for the viewer and the baseline (median of RUNS,
# default 3) and their ratio. "no-window" is the viewer on a 1 x 1 window,
# without the copy of every rectangle to the screen that the baseline does
# not make. The viewer is also measured reading 256 bytes per data event,
# the size the original design asked for.
set -euo pipefail
cd "$(dirname "$0")/.."
frames=${1:-300}
runs=${2:-3}

scripts/deps.sh >/dev/null
cmake --preset linux >/dev/null
cmake --build --preset linux --target rfb-record rfb-replay telorus-bench-client baseline-vncclient raw-paths >/dev/null
bin=build/linux/bench
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT

display=:$((200 + RANDOM % 300))
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
sleep 1
# A desktop-like picture: gradients, flat panels, text and a photo-like area.
convert -font DejaVu-Sans -size 1920x1080 gradient:'#203050-#6080b0' \
  -fill '#f0f0f0' -draw 'rectangle 80,80 1100,760' \
  -fill '#d0d8e0' -draw 'rectangle 80,80 1100,110' \
  -fill black -pointsize 18 -draw "text 100,150 'Telorus benchmark: a window with some text in it'" \
  -draw "text 100,180 'The quick brown fox jumps over the lazy dog 0123456789'" \
  \( -size 600x400 plasma:fractal -seed 7 \) -geometry +1200+500 -composite \
  "$work/desktop.png"
DISPLAY=$display display -window root "$work/desktop.png" >/dev/null 2>&1 &
pids+=($!)
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])' 2>/dev/null || echo 5977)
x11vnc -display "$display" -rfbport "$port" -listen 127.0.0.1 -rfbportv6 -1 -forever -shared -nocursor \
  -noxrecord -nopw -quiet >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null && break; sleep 0.1; done
sleep 2

# Both clients run on the same processor and the replay server on another,
# when there are two: processors of a virtual machine can differ in speed,
# and a comparison is only fair under the same placement.
client_cpu=() server_cpu=()
if command -v taskset >/dev/null && [ "$(nproc)" -ge 2 ]; then
  client_cpu=(taskset -c 0) server_cpu=(taskset -c 1)
fi

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# fps of one client run against a fresh replay server.
run_client() { # recording repeat extra-args client...
  local rec=$1 repeat=$2 extra=$3; shift 3
  local pf="$work/port.$RANDOM"
  "${server_cpu[@]}" "$bin/rfb-replay" --port-file "$pf" --repeat "$repeat" "$rec" &
  local rp=$!
  for _ in $(seq 100); do [ -s "$pf" ] && break; sleep 0.05; done
  local out
  out=$("${client_cpu[@]}" "$@" "$(cat "$pf")" "$frames" $extra 2>/dev/null || true)
  kill "$rp" 2>/dev/null || true
  wait "$rp" 2>/dev/null || true
  echo "$out" | awk '{ if ($1 > 0 && $2 > 0) printf "%.1f\n", $1/$2; else print 0 }'
}

printf '%-14s %12s %12s %8s %14s %8s %14s\n' encoding telorus baseline ratio no-window ratio telorus-256B
for entry in "raw 0" "rre 2" "corre 4" "hextile 5" "raw-8bit 0 8bit" "hextile-8bit 5 8bit"; do
  set -- $entry
  name=$1 enc=$2 mode=${3:-}
  rec="$work/$name.rec"
  "$bin/rfb-record" --port "$port" --encoding "$enc" ${mode:+--8bit} --requests 10 -o "$rec" 2>/dev/null
  repeat=$(( (frames + 9) / 10 ))
  t=(); b=(); s=(); n=()
  for _ in $(seq "$runs"); do
    t+=("$(run_client "$rec" "$repeat" "" "$bin/telorus-bench-client")")
    b+=("$(run_client "$rec" "$repeat" "$mode" "$bin/baseline-vncclient")")
    n+=("$(run_client "$rec" "$repeat" "--window 1x1" "$bin/telorus-bench-client")")
  done
  s+=("$(run_client "$rec" "$repeat" "--chunk 256" "$bin/telorus-bench-client")")
  tm=$(printf '%s\n' "${t[@]}" | median)
  bm=$(printf '%s\n' "${b[@]}" | median)
  nm=$(printf '%s\n' "${n[@]}" | median)
  ratio=$(awk -v a="$tm" -v b="$bm" 'BEGIN { if (b > 0) printf "%.2f", a/b; else print "n/a" }')
  nratio=$(awk -v a="$nm" -v b="$bm" 'BEGIN { if (b > 0) printf "%.2f", a/b; else print "n/a" }')
  printf '%-14s %12s %12s %8s %14s %8s %14s\n' "$name" "$tm fps" "$bm fps" "$ratio" "$nm fps" "$nratio" "${s[0]} fps"
done

echo
echo "Raw pixels drawn one call per pixel against whole rows converted into memory,"
echo "and the rows with each band copied to a 1920x1080 window (no network in these figures):"
"${client_cpu[@]}" "$bin/raw-paths"
