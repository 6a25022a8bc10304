#!/usr/bin/env bash
# pq640-admin against terminals whose reads announce K more entries than
# their counts gave (pq640-sim --count-surplus K, as if punches arrived
# between the count and the read): every listing and backup either reads the
# resized answer or fails that command with a message naming the terminal,
# the count and the ceiling; never a crash, never an overflow.
set -euo pipefail
admin=$1
simulator=$2

work=$(mktemp -d)
failures=0
pids=()
stop_simulators() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap stop_simulators EXIT

start_simulator() {
  local at=$1
  shift
  "$simulator" --listen "$at" "$@" >"$work/sim-$at.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do
    grep -q "listening on $at" "$work/sim-$at.log" && return 0
    sleep 0.1
  done
  echo "simulator on $at did not start:"
  cat "$work/sim-$at.log"
  exit 1
}

run() {
  status=0
  timeout 60 "$admin" "$@" >"$work/out" 2>"$work/err" </dev/null || status=$?
  out=$(cat "$work/out")
  err=$(cat "$work/err")
}
fail() {
  echo "FAIL: $1"
  echo "  command: pq640-admin ${last_args}"
  echo "  status $status; stdout: ${out:0:300}"
  echo "  stderr: ${err:0:400}"
  failures=$((failures + 1))
}
expect() {
  local want=$1
  shift
  last_args="$*"
  run "$@"
  [ "$status" -eq "$want" ] || fail "exit status $status, expected $want"
  # Every message on stderr is the tool's own.
  if [ -n "$err" ] && grep -qv '^pq640-admin: ' <<<"$err"; then fail "stderr line without the prefix"; fi
}
err_contains() { [[ "$err" == *"$1"* ]] || fail "stderr lacks '$1'"; }
rows() { tail -n +2 <<<"$out" | grep -c . || true; }

users=4 admins=2 io=30 admin_log=5
start_one() {  # start_one ADDRESS K
  start_simulator "$1" --users "$users" --admins "$admins" --io-records "$io" \
    --admin-records "$admin_log" --count-surplus "$2"
}

# ---- A few punches between count and read: resized and read -------------------
n=0
for k in 1 100; do
  n=$((n + 1))
  at=127.77.13.$n
  start_one "$at" "$k"
  link=(--tcp "$at" --csv)
  expect 0 "${link[@]}" users list
  [ "$(rows)" -eq $((users + k)) ] || fail "users list: $(rows) rows, expected $((users + k))"
  expect 0 "${link[@]}" admins list
  [ "$(rows)" -eq $((admins + k)) ] || fail "admins list rows"
  expect 0 "${link[@]}" logs io get
  [ "$(rows)" -eq $((io + k)) ] || fail "logs io get rows"
  expect 0 "${link[@]}" logs admin get
  [ "$(rows)" -eq $((admin_log + k)) ] || fail "logs admin get rows"
  expect 0 "${link[@]}" logs io users 1 2 3 4 --from 2000-01-01 --to 2099-12-31
  expect 0 --tcp "$at" backup "$work/backup-$k.json"
done

# ---- A count above a ceiling: refused, naming the terminal, count, ceiling -------
at=127.77.13.3
start_one "$at" 4294967295
for listing in "users list" "admins list" "logs io get" "logs admin get"; do
  # shellcheck disable=SC2086
  expect 1 --tcp "$at" $listing
  err_contains "the terminal at $at:7413, terminal ID 0 announces 4294967295"
  err_contains "more than this tool's ceiling of"
done
expect 1 --tcp "$at" backup "$work/never.json"
err_contains "ceiling of 100000 (raise it with --max-enrolments"
[ ! -e "$work/never.json" ] || fail "a failed backup left a file"

at=127.77.13.4
start_one "$at" 100000
expect 1 --tcp "$at" users list
err_contains "announces 100004 users, more than this tool's ceiling of 100000"
# Within the log ceiling the array is resized; the simulator then cuts the
# answer short, which fails that command and nothing else.
expect 1 --tcp "$at" logs admin get
err_contains "reading the administrator log records failed"
expect 0 --tcp "$at" check
expect 0 --tcp "$at" --max-enrolments 0x200000 --quiet users count

# ---- The ceiling is a setting --------------------------------------------------
at=127.77.13.5
start_one "$at" 0
expect 1 --tcp "$at" --max-log-records 10 logs io get
err_contains "announces 30 IO records, more than this tool's ceiling of 10 (raise it with --max-log-records"
expect 0 --tcp "$at" --max-log-records 30 --csv logs io get
[ "$(rows)" -eq "$io" ] || fail "30 records at a ceiling of 30"

for pid in "${pids[@]}"; do
  kill -0 "$pid" 2>/dev/null || { echo "FAIL: a simulator died"; failures=$((failures + 1)); }
done
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "pq640-admin against count surpluses: all checks passed"
