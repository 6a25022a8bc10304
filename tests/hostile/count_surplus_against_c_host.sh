#!/usr/bin/env bash
# The bounded C host against simulators whose read answers announce K more
# entries than their counts: K = 1 and 100 are read after growing the array
# once, 100,000 and 0xFFFFFFFF are refused at the host's ceiling. In the
# sanitizer build any write past an array aborts the host.
set -euo pipefail
host=$1
simulator=$2
address=127.79.0.1
log=$(mktemp)
sim_pid=
stop_sim() {
  [ -n "$sim_pid" ] && { kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; }
  sim_pid=
}
trap 'stop_sim; rm -f "$log"' EXIT

expect_line() {  # output, expected line
  grep -qxF "$2" <<<"$1" || { echo "missing: $2"; echo "$1"; exit 1; }
}

for surplus in 1 100 100000 4294967295; do
  "$simulator" --listen "$address" --users 3 --admins 2 --io-records 40 --admin-records 5 \
    --count-surplus "$surplus" >"$log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 50); do grep -q "listening" "$log" && break; sleep 0.1; done
  grep -q "listening" "$log" || { echo "simulator did not start"; cat "$log"; exit 1; }
  output=$(timeout 120 "$host" "$address")
  announced=$(( surplus + 40 > 4294967295 ? 4294967295 : surplus + 40 ))
  if [ "$surplus" -le 100 ]; then
    expect_line "$output" "IO log: counted 40, -105 announcing $announced, 0 with $announced entries"
    expect_line "$output" "users: counted 3, -105 announcing $((surplus + 3)), 0 with $((surplus + 3)) entries"
  else
    expect_line "$output" "IO log: counted 40, -105 announcing $announced, above the ceiling of 50000: refused"
  fi
  [ "$(grep -c -- '-105 announcing' <<<"$output")" -eq 7 ] || { echo "every read must meet the surplus"; echo "$output"; exit 1; }
  echo "surplus $surplus: ok"
  stop_sim
done
