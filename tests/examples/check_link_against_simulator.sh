#!/usr/bin/env bash
# The C example against pq640-sim on a loopback address of its own: a working
# link check, then the same with a terminal ID nobody answers to.
set -euo pipefail
example=$1
simulator=$2
address=127.78.0.1
log=$(mktemp)
"$simulator" --listen "$address" --id 3 >"$log" 2>&1 &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; rm -f "$log"' EXIT
for _ in $(seq 50); do
  grep -q "listening" "$log" && break
  sleep 0.1
done
grep -q "listening" "$log" || { echo "simulator did not start"; cat "$log"; exit 1; }

output=$(timeout 20 "$example" "$address" 3)
[ "$output" = "CheckLink on $address: 0 (the terminal answered)" ] || { echo "got: $output"; exit 1; }

status=0
output=$(timeout 20 "$example" "$address" 4) || status=$?
[ "$status" -eq 1 ] || { echo "wrong ID exited $status"; exit 1; }
grep -q ": -12 " <<<"$output" || { echo "wrong ID printed: $output"; exit 1; }
echo "example: ok"
