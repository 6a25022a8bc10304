#!/usr/bin/env bash
# pq640-admin end to end: every subcommand against pq640-sim serving TCP on a
# loopback address of this test's own, checking output and exit status.
set -euo pipefail
admin=$1
simulator=$2

address=127.77.0.1
sim_id=7
work=$(mktemp -d)
sim_log=$work/sim.log
failures=0

"$simulator" --listen "$address" --id "$sim_id" >"$sim_log" 2>&1 &
sim_pid=$!

stop_simulator() {
  kill "$sim_pid" 2>/dev/null || true
  for _ in $(seq 20); do
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -9 "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap stop_simulator EXIT

for _ in $(seq 50); do
  grep -q "listening on $address" "$sim_log" && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q "listening on $address" "$sim_log"; then
  echo "simulator did not start:"
  cat "$sim_log"
  exit 1
fi

# Runs pq640-admin, leaving $status, $out and $err. Each run is bounded.
run() {
  status=0
  timeout 20 "$admin" "$@" >"$work/out" 2>"$work/err" || status=$?
  out=$(cat "$work/out")
  err=$(cat "$work/err")
}
fail() {
  echo "FAIL: $1"
  echo "  command: pq640-admin ${last_args}"
  echo "  status $status; stdout: ${out}"
  echo "  stderr: ${err}"
  failures=$((failures + 1))
}
# expect STATUS ARGS...: runs and checks the exit status.
expect() {
  local want=$1
  shift
  last_args="$*"
  run "$@"
  [ "$status" -eq "$want" ] || fail "exit status $status, expected $want"
}
out_is() { [ "$out" = "$1" ] || fail "stdout is not '$1'"; }
out_matches() { [[ "$out" =~ $1 ]] || fail "stdout does not match '$1'"; }
err_contains() { [[ "$err" == *"$1"* ]] || fail "stderr lacks '$1'"; }
# The line of a hex dump that starts with the given offset.
hex_line() { grep "^$1:" <<<"$out" || true; }

link=(--tcp "$address" --id "$sim_id")

# Link check, with the right ID and with one no terminal answers to.
expect 0 "${link[@]}" check
out_is "the terminal answers"

# Clock: set, read back (it runs on), a date that does not exist, a bad form.
expect 0 "${link[@]}" time set "24-02-29 12:34:50"
out_is "clock set to 24-02-29 12:34:50"
expect 0 "${link[@]}" time get
out_matches '^24-02-29 12:34:5[0-9]$'
expect 1 "${link[@]}" time set "23-02-29 12:00:00"
err_contains "-104 (invalid argument"
expect 2 "${link[@]}" time set "2024-02-29 12:00:00"
err_contains 'expected "YY-MM-DD hh:mm:ss"'

# Clock from the host: the terminal then reads within a few seconds of it.
expect 0 "${link[@]}" time sync
out_matches '^clock set to [0-9]{2}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}$'
expect 0 "${link[@]}" time get
terminal_seconds=$(date -d "20$out" +%s 2>/dev/null || echo 0)
drift=$(($(date +%s) - terminal_seconds))
[ "${drift#-}" -le 5 ] || fail "terminal clock '$out' is ${drift} s off the host's"

# Settings block: the defaults as hex, saved raw, edited, written, read back.
expect 0 "${link[@]}" settings get
[ "$(wc -l <<<"$out")" -eq 16 ] || fail "hex dump is not 16 lines"
[ "$(hex_line 00)" = "00: 0a 01 00 00 01 00 00 00 00 00 00 00 00 00 00 00" ] || fail "line 00"
[ "$(hex_line 40)" = "40: 64 00 00 00 02 00 00 00 48 49 4a 4b 4c 4d 4e 4f" ] || fail "line 40"
default_dump=$out
block=$work/block.bin
expect 0 "${link[@]}" settings get --out "$block"
out_is "settings block saved to $block"
[ "$(stat -c %s "$block")" -eq 256 ] || fail "saved block is not 256 bytes"
[ "$(od -An -v -tx1 "$block" | tr -s ' \n' ' ')" = "$(cut -d: -f2- <<<"$default_dump" | tr -s ' \n' ' ')" ] \
  || fail "saved block differs from the hex dump"
printf '\x5a' | dd of="$block" bs=1 seek=200 conv=notrunc status=none
expect 0 "${link[@]}" settings set "$block"
out_is "settings block written from $block"
expect 0 "${link[@]}" settings get
[ "$(hex_line c0)" = "c0: c0 c1 c2 c3 c4 c5 c6 c7 5a c9 ca cb cc cd ce cf" ] || fail "edited byte not read back"

# A block that breaks a range rule is refused before sending; a file of the
# wrong size is a usage error.
rejected=$work/rejected.bin
cp "$block" "$rejected"
printf '\x1f' | dd of="$rejected" bs=1 seek=0 conv=notrunc status=none
expect 1 "${link[@]}" settings set "$rejected"
err_contains "243 (an argument is out of range)"
head -c 255 "$block" >"$work/short.bin"
expect 2 "${link[@]}" settings set "$work/short.bin"
err_contains "is not a 256-byte settings block"

# Control commands, and the values the library refuses.
expect 0 "${link[@]}" comm-mode 1
out_is "communication mode set to 1"
expect 1 "${link[@]}" comm-mode 3
err_contains "243 (an argument is out of range)"
expect 0 "${link[@]}" matching 5
out_is "matching value set to 5"
expect 0 "${link[@]}" comm-state 0x2
out_is "line-setting word set to 2"
expect 1 "${link[@]}" comm-state 5
err_contains "-104 (invalid argument"

# A new ID: the terminal answers to it, and no longer to the old one.
expect 0 "${link[@]}" change-id 9
out_is "terminal ID changed to 9; use --id 9 from now on"
expect 0 --tcp "$address" --id 9 check
out_is "the terminal answers"
expect 1 --tcp "$address" --id "$sim_id" check
err_contains "-12 (the socket layer failed, or the terminal did not answer in time)"
expect 1 --tcp "$address" --id 9 change-id 256
err_contains "243 (an argument is out of range)"
# Leading zeros are decimal, not octal.
expect 0 --tcp "$address" --id 009 check
link=(--tcp "$address" --id 9)

# Erasing needs --yes, and brings the settings block back to its defaults.
expect 2 "${link[@]}" erase
err_contains "add --yes to confirm"
expect 0 "${link[@]}" settings get
[ "$(hex_line c0)" = "c0: c0 c1 c2 c3 c4 c5 c6 c7 5a c9 ca cb cc cd ce cf" ] || fail "erase without --yes erased"
expect 0 "${link[@]}" erase --yes
out_is "terminal erased"
expect 0 "${link[@]}" settings get
[ "$out" = "$default_dump" ] || fail "settings block not back to the defaults after erase"

# Usage errors: nothing is sent, exit status 2.
expect 2 check
err_contains "Exactly 1 option from [--tcp,--serial] is required"
expect 2 --tcp "$address" --serial 1 check
expect 2 --tcp 300.1.1.1 check
err_contains "--tcp 300.1.1.1 rejected: -104"
expect 2 --tcp "$address" --id 256 check
err_contains "--id 256 rejected: 243"
expect 2 --tcp "$address" --wake check
expect 2 "${link[@]}" comm-mode 256
expect 2 "${link[@]}" time
expect 2 "${link[@]}" no-such-command
expect 0 --help
[[ "$out" == *"Usage: pq640-admin"* ]] || fail "help text missing"

kill -0 "$sim_pid" 2>/dev/null || { echo "FAIL: simulator died"; failures=$((failures + 1)); }
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "pq640-admin: all checks passed"
