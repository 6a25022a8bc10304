#!/usr/bin/env bash
# pq640-admin against terminals whose reads announce K more entries than
# their counts gave (pq640-sim --count-surplus K, as if punches arrived
# between the count and the read): every listing and backup either reads the
# resized answer or fails that command with a message naming the terminal,
# the count and the ceiling; never a crash, never an overflow.
set -euo pipefail
admin=$1
simulator=$2

# shellcheck source=admin_test_lib.sh
. "$(dirname "$0")/admin_test_lib.sh"

start_one() {  # start_one ADDRESS K
  start_simulator "$1" "$work/sim-$1.log" --users "$users" --admins "$admins" --io-records "$io" \
    --admin-records "$admin_log" --count-surplus "$2"
}
expect_prefixed() { expect "$@"; err_prefixed; }
users=4 admins=2 io=30 admin_log=5

# ---- A few punches between count and read: resized and read -------------------
n=0
for k in 1 100; do
  n=$((n + 1))
  at=127.77.13.$n
  start_one "$at" "$k"
  link=(--tcp "$at" --csv)
  expect_prefixed 0 "${link[@]}" users list
  [ "$(rows)" -eq $((users + k)) ] || fail "users list: $(rows) rows, expected $((users + k))"
  expect_prefixed 0 "${link[@]}" admins list
  [ "$(rows)" -eq $((admins + k)) ] || fail "admins list rows"
  expect_prefixed 0 "${link[@]}" logs io get
  [ "$(rows)" -eq $((io + k)) ] || fail "logs io get rows"
  expect_prefixed 0 "${link[@]}" logs admin get
  [ "$(rows)" -eq $((admin_log + k)) ] || fail "logs admin get rows"
  expect_prefixed 0 "${link[@]}" logs io users 1 2 3 4 --from 2000-01-01 --to 2099-12-31
  expect_prefixed 0 --tcp "$at" backup "$work/backup-$k.json"
done

# ---- A count above a ceiling: refused, naming the terminal, count, ceiling -------
at=127.77.13.3
start_one "$at" 4294967295
for listing in "users list" "admins list" "logs io get" "logs admin get"; do
  # shellcheck disable=SC2086
  expect_prefixed 1 --tcp "$at" $listing
  err_contains "the terminal at $at:7413, terminal ID 0 announces 4294967295"
  err_contains "more than this tool's ceiling of"
done
expect_prefixed 1 --tcp "$at" backup "$work/never.json"
err_contains "ceiling of 100000 (raise it with --max-enrolments"
[ ! -e "$work/never.json" ] || fail "a failed backup left a file"

at=127.77.13.4
start_one "$at" 100000
expect_prefixed 1 --tcp "$at" users list
err_contains "announces 100004 users, more than this tool's ceiling of 100000"
# Within the log ceiling the array is resized; the simulator then cuts the
# answer short, which fails that command and nothing else.
expect_prefixed 1 --tcp "$at" logs admin get
err_contains "reading the administrator log records failed"
expect_prefixed 0 --tcp "$at" check
expect_prefixed 0 --tcp "$at" --max-enrolments 0x200000 --quiet users count

# ---- The ceiling is a setting --------------------------------------------------
at=127.77.13.5
start_one "$at" 0
expect_prefixed 1 --tcp "$at" --max-log-records 10 logs io get
err_contains "announces 30 IO records, more than this tool's ceiling of 10 (raise it with --max-log-records"
expect_prefixed 0 --tcp "$at" --max-log-records 30 --csv logs io get
[ "$(rows)" -eq "$io" ] || fail "30 records at a ceiling of 30"

finish "pq640-admin against count surpluses"
