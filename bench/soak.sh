#!/usr/bin/env bash
# Session soak: one viewer in one process runs SESSIONS sessions (default
# 1000) against TigerVNC's Xvnc on loopback, started here with a VNC
# password: connect, log on, one whole update, disconnect. Every 10th logon
# uses a wrong password and every 25th goes to a closed port. It prints the
# open descriptors and the heap in use every 100 sessions and every failure.
# A benchmark, not a test: CI does not run it.
#
#   bench/soak.sh [SESSIONS] [x11vnc]
#
# With "x11vnc" as the second argument the server is x11vnc on Xvfb; it can
# take up to about 5 s to serve the next client after one leaves, so that
# soak takes far longer.
set -euo pipefail
cd "$(dirname "$0")/.."
sessions=${1:-1000}
server=${2:-xvnc}

scripts/deps.sh >/dev/null
cmake --preset linux >/dev/null
cmake --build --preset linux --target telorus-session-soak >/dev/null
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
port=$(free_port)
closed_port=$(free_port)  # bound and released: nobody listens there
password=soakpass
display=:$((200 + RANDOM % 300))
if [ "$server" = x11vnc ]; then
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  sleep 1
  x11vnc -storepasswd "$password" "$work/passwd" >/dev/null 2>&1
  x11vnc -display "$display" -rfbport "$port" -listen 127.0.0.1 -rfbportv6 -1 -forever -shared -nocursor \
    -noxrecord -rfbauth "$work/passwd" -quiet >/dev/null 2>&1 &
  pids+=($!)
else
  printf '%s\n' "$password" | vncpasswd -f >"$work/passwd"
  # Wrong passwords are part of the soak: without a high threshold Xvnc
  # refuses the host for a while after 5 of them.
  Xvnc "$display" -geometry 1024x768 -depth 24 -rfbport "$port" -interface 127.0.0.1 -nolisten tcp \
    -AlwaysShared -desktop soak -SecurityTypes VncAuth -PasswordFile "$work/passwd" \
    -BlacklistThreshold 1000000 >"$work/server.log" 2>&1 &
  pids+=($!)
fi
for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null && break; sleep 0.1; done
sleep 1
# Something on the screen, so an update carries more than one flat colour.
DISPLAY=$display xsetroot -solid '#336699' >/dev/null 2>&1 || true

echo "soak: $sessions sessions against $server on 127.0.0.1:$port (closed port $closed_port)"
build/linux/bench/telorus-session-soak "$port" "$password" "$closed_port" "$sessions"
