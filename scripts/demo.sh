#!/usr/bin/env bash
# The main job: builds telorus-nc and shows it exchanging data with a local
# echo server that this script starts on a free loopback port.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target telorus-nc telorus-echo-server

bin=build/linux
port_file=$(mktemp)
"$bin/tests/support/telorus-echo-server" --port-file "$port_file" &
server=$!
trap 'kill $server 2>/dev/null || true; rm -f "$port_file"' EXIT
for _ in $(seq 50); do [ -s "$port_file" ] && break; sleep 0.1; done
port=$(cat "$port_file")

echo "echo server on 127.0.0.1:$port; telorus-nc sends two lines and prints what comes back:"
printf 'Hello from telorus-nc\nThe second line\n' | "$bin/apps/telorus-nc/telorus-nc" localhost "$port" --events
