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
#
# The compressed encodings (Zlib, lossless Tight, ZRLE) keep zlib streams
# for the whole connection, so their recordings cannot be replayed twice in
# one connection: COMPRESSED_FRAMES (default 60) full-screen updates are
# recorded and each replayed once.
set -euo pipefail
cd "$(dirname "$0")/.."
frames=${1:-300}
runs=${2:-3}

source bench/desktop_server.sh
bench_setup rfb-record rfb-replay telorus-bench-client baseline-vncclient raw-paths
start_desktop_server :$((200 + RANDOM % 300))

# fps of one client run against a fresh replay server.
run_client() { # recording repeat extra-args client...
  local rec=$1 repeat=$2 extra=$3; shift 3
  local pf="$work/port.$RANDOM"
  "${server_cpu[@]}" "$bin/rfb-replay" --port-file "$pf" --repeat "$repeat" "$rec" &
  local rp=$!
  for _ in $(seq 100); do [ -s "$pf" ] && break; sleep 0.05; done
  local out
  out=$("${client_cpu[@]}" "$@" "$(cat "$pf")" "${want:-$frames}" $extra 2>/dev/null || true)
  kill "$rp" 2>/dev/null || true
  wait "$rp" 2>/dev/null || true
  echo "$out" | awk '{ if ($1 > 0 && $2 > 0) printf "%.1f\n", $1/$2; else print 0 }'
}

printf '%-14s %12s %12s %8s %14s %8s %14s\n' encoding telorus baseline ratio no-window ratio telorus-256B
compressed=${COMPRESSED_FRAMES:-60}
for entry in "raw 0" "rre 2" "corre 4" "hextile 5" "raw-8bit 0 8bit" "hextile-8bit 5 8bit" \
             "zlib 6 - once" "tight 7 - once" "zrle 16 - once" "zrle-8bit 16 8bit once"; do
  set -- $entry
  name=$1 enc=$2 mode=${3:-} once=${4:-}
  [ "$mode" = - ] && mode=
  rec="$work/$name.rec"
  if [ -n "$once" ]; then
    want=$compressed repeat=1
    "$bin/rfb-record" --port "$port" --encoding "$enc" ${mode:+--8bit} --requests "$want" --quiet 200 \
      -o "$rec" 2>/dev/null
  else
    want=$frames repeat=$(( (frames + 9) / 10 ))
    "$bin/rfb-record" --port "$port" --encoding "$enc" ${mode:+--8bit} --requests 10 -o "$rec" 2>/dev/null
  fi
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
