#!/usr/bin/env bash
# The GTK viewer on screen against the headless viewer, libvncclient and
# TigerVNC's own viewer, on the same recorded 1920x1080 x11vnc streams
# replayed over loopback, in the same run.
#
#   bench/gtk_run.sh [FRAMES] [RUNS]
#
# For Raw, RRE, CoRRE and Hextile it records 10 full-screen updates from
# x11vnc and replays them until FRAMES updates (default 200) have gone out
# (lossless Tight and ZRLE: COMPRESSED_FRAMES updates, default 60, recorded
# and replayed once, since their zlib streams live as long as the connection),
# to: the headless viewer without its window copy, the GTK viewer one to one
# in a 1920x1080 window and stretched into 1280x720 (both on an Xvfb of
# their own), the libvncclient baseline, and TigerVNC's vncviewer drawing
# on the same Xvfb as the GTK viewer. Every client is timed the same way, on
# the replay side: bytes leave only as fast as the client reads them. Prints
# updates per second (median of RUNS, default 3) and the ratios, and for the
# GTK viewer the rectangles it was given against its paints and the frames
# of its frame clock. A ratio is the median of the ratios within each round
# (the clients of a round run one after the other), so that the machine's
# slow changes of speed between rounds cancel out.
set -euo pipefail
cd "$(dirname "$0")/.."
frames=${1:-200}
runs=${2:-3}

source bench/desktop_server.sh
bench_setup rfb-record rfb-replay telorus-bench-client telorus-gtk-bench-client baseline-vncclient
client_display=:$((550 + RANDOM % 300))
Xvfb "$client_display" -screen 0 2000x1200x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
start_desktop_server :$((200 + RANDOM % 300))

# Updates per second of one client against a fresh replay server, timed on
# the replay side. The client's own output goes to $work/client.out.
run_client() { # recording repeat kill-after client...
  local rec=$1 repeat=$2 kill_after=$3; shift 3
  local pf="$work/port.$RANDOM" tf="$work/time.$RANDOM"
  "${server_cpu[@]}" "$bin/rfb-replay" --port-file "$pf" --time-file "$tf" --repeat "$repeat" "$rec" &
  local rp=$!
  for _ in $(seq 100); do [ -s "$pf" ] && break; sleep 0.05; done
  local p
  p=$(cat "$pf")
  if [ "$kill_after" = yes ]; then
    # A client that never ends by itself: stopped once everything is sent.
    "${client_cpu[@]}" "${@/PORT/$p}" >/dev/null 2>&1 &
    local cp=$!
    for _ in $(seq 1200); do [ -s "$tf" ] && break; sleep 0.1; done
    # vncviewer ends at SIGTERM only from its main loop, not from an error
    # dialog.
    kill "$cp" 2>/dev/null || true
    for _ in $(seq 20); do kill -0 "$cp" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$cp" 2>/dev/null || true
    wait "$cp" 2>/dev/null || true
  else
    "${client_cpu[@]}" "${@/PORT/$p}" >"$work/client.out" 2>/dev/null || true
    # The client can be done with the last update before the replay has
    # returned from sending it and written its time.
    for _ in $(seq 50); do [ -s "$tf" ] && break; sleep 0.1; done
  fi
  kill "$rp" 2>/dev/null || true
  wait "$rp" 2>/dev/null || true
  if [ -s "$tf" ]; then awk '{ if ($2 > 0) printf "%.1f\n", $1 * $3 / $2; else print 0 }' "$tf"; else echo 0; fi
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a/b; else print "n/a" }'; }
# The median of the ratios of two lists of the same length, pair by pair.
paired_ratio() { # "a1 a2 ..." "b1 b2 ..."
  local -a a=($1) b=($2)
  local i out=()
  for i in "${!a[@]}"; do out+=("$(ratio "${a[$i]}" "${b[$i]}")"); done
  if printf '%s\n' "${out[@]}" | grep -q n/a; then echo n/a; else printf '%s\n' "${out[@]}" | median; fi
}

printf '%-8s %10s %10s %10s %10s %10s %9s %9s %9s %22s\n' encoding headless gtk gtk-720p baseline tigervnc \
  gtk/head 720p/head gtk/tiger "rects/paints/frames"
compressed=${COMPRESSED_FRAMES:-60}
for entry in "raw 0" "rre 2" "corre 4" "hextile 5" "tight 7 once" "zrle 16 once"; do
  set -- $entry
  name=$1 enc=$2 once=${3:-}
  rec="$work/$name.rec"
  if [ -n "$once" ]; then
    # A zlib stream lives as long as its connection: recorded updates are
    # replayed once.
    want=$compressed repeat=1
    "$bin/rfb-record" --port "$port" --encoding "$enc" --requests "$want" --quiet 200 -o "$rec" 2>/dev/null
  else
    want=$frames repeat=$(( (frames + 9) / 10 ))
    "$bin/rfb-record" --port "$port" --encoding "$enc" --requests 10 -o "$rec" 2>/dev/null
  fi
  h=(); g=(); s=(); b=(); t=()
  counts=""
  for _ in $(seq "$runs"); do
    h+=("$(run_client "$rec" "$repeat" no "$bin/telorus-bench-client" PORT "$want" --window 1x1)")
    g+=("$(DISPLAY=$client_display run_client "$rec" "$repeat" no "$bin/telorus-gtk-bench-client" PORT "$want")")
    counts=$(awk '{ print $3 "/" $4 "/" $5 }' "$work/client.out")
    s+=("$(DISPLAY=$client_display run_client "$rec" "$repeat" no "$bin/telorus-gtk-bench-client" PORT "$want" \
      --window 1280x720 --stretch)")
    b+=("$(run_client "$rec" "$repeat" no "$bin/baseline-vncclient" PORT "$want")")
    if [ "$name" = corre ]; then
      t+=(0)  # TigerVNC's viewer has no CoRRE
    else
      t+=("$(DISPLAY=$client_display run_client "$rec" "$repeat" yes vncviewer -AutoSelect=0 -FullColor \
        -PreferredEncoding=hextile -Shared 127.0.0.1::PORT)")
    fi
  done
  hm=$(printf '%s\n' "${h[@]}" | median)
  gm=$(printf '%s\n' "${g[@]}" | median)
  sm=$(printf '%s\n' "${s[@]}" | median)
  bm=$(printf '%s\n' "${b[@]}" | median)
  tm=$(printf '%s\n' "${t[@]}" | median)
  printf '%-8s %10s %10s %10s %10s %10s %9s %9s %9s %22s\n' "$name" "$hm" "$gm" "$sm" "$bm" "$tm" \
    "$(paired_ratio "${g[*]}" "${h[*]}")" "$(paired_ratio "${s[*]}" "${h[*]}")" \
    "$(paired_ratio "${g[*]}" "${t[*]}")" "$counts"
done
echo "(updates per second, timed on the replay side, medians; ratios: medians of the ratios within a round;"
echo " rects/paints/frames: the GTK viewer's last one-to-one run)"
