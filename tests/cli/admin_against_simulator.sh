#!/usr/bin/env bash
# pq640-admin end to end against two pq640-sim processes, each on a loopback
# address of this test's own: output and exit status of every command group,
# JSON and CSV shapes, backup -> restore -> backup, copy-users, the progress
# bar only on a terminal, and bad input refused with nothing changed.
set -euo pipefail
admin=$1
simulator=$2
# shellcheck source=admin_test_lib.sh
. "$(dirname "$0")/admin_test_lib.sh"

address=127.77.12.1
second=127.77.12.2
silent=127.77.12.3   # nothing listens here
sim_id=7
start_simulator "$address" "$work/sim1.log" --id "$sim_id" --clock "26-12-08 10:00:00" \
  --users 12 --admins 3 --io-records 30 --admin-records 6
start_simulator "$second" "$work/sim2.log"

hex_line() { grep "^$1:" <<<"$out" || true; }

link=(--tcp "$address" --id "$sim_id")
other=(--tcp "$second")   # ID 0: the simulator's default and the library's

# ---- Link and versions --------------------------------------------------------
expect 0 "${link[@]}" check
out_is "the terminal answers"
expect 0 "${other[@]}" check
expect 0 --version
out_matches '^pq640-admin [0-9]+\.[0-9]+\.[0-9]+$'
expect 1 --tcp "$silent" check
err_contains "-100 ("
err_contains "check the address"
expect 1 --tcp "$address" --id 9 check
err_contains "-12 (the terminal did not answer in time"
err_contains "check the address and the terminal ID (--id)"

# ---- Clock: ISO 8601 out, both forms in, impossible dates refused ---------------
expect 0 "${link[@]}" time set "2024-02-29 12:34:50"
out_is "clock set to 2024-02-29 12:34:50"
expect 0 "${link[@]}" time get
out_matches '^2024-02-29 12:34:5[0-9]$'
expect 0 "${link[@]}" time set "26-12-08 10:00:00"
out_is "clock set to 2026-12-08 10:00:00"
expect 2 "${link[@]}" time set "2023-02-29 12:00:00"
err_contains "not a real date and time (months 1..12, days of that month"
expect 2 "${link[@]}" time set "29.02.2024 12:00"
err_contains 'expected "YYYY-MM-DD hh:mm:ss"'
expect 0 "${link[@]}" time get
out_matches '^2026-12-08 10:00:0[0-9]$'   # the refused dates did not reach it

# ---- Settings: hex, raw file, rule check with the offset, --force ---------------
expect 0 "${link[@]}" settings get
[ "$(wc -l <<<"$out")" -eq 16 ] || fail "hex dump is not 16 lines"
[ "$(hex_line 00)" = "00: 0a 01 00 00 01 00 00 00 00 00 00 00 00 00 00 00" ] || fail "line 00"
default_dump=$out
block=$work/block.bin
expect 0 "${link[@]}" settings get --out "$block"
[ "$(stat -c %s "$block")" -eq 256 ] || fail "saved block is not 256 bytes"
expect 2 "${link[@]}" settings get --out "$block"
err_contains "exists; add --force"
expect 0 "${link[@]}" settings get --out "$block" --force
printf '\x0b' | dd of="$block" bs=1 seek=68 conv=notrunc status=none
expect 2 "${link[@]}" settings set "$block"
err_contains "offset 68 (4-byte field) holds 11, but must be at most 5, the value at offset 32"
head -c 255 "$block" >"$work/short.bin"
expect 2 "${link[@]}" settings set "$work/short.bin"
err_contains "255 bytes long, not a 256-byte settings block"
expect 2 "${link[@]}" settings set "$work/missing.bin"
err_contains "No such file or directory"
expect 0 "${link[@]}" settings get
[ "$out" = "$default_dump" ] || fail "a refused block changed the settings"

# ---- Control values refused before sending --------------------------------------
expect 2 "${link[@]}" change-id 256
err_contains "terminal IDs are 0..255, got 256"
expect 2 "${link[@]}" comm-mode 3
expect 2 "${link[@]}" comm-state 6
err_contains "the baud code must be 0..4"
expect 0 "${link[@]}" comm-mode 1
out_is "communication mode set to 1"

# ---- Users and administrators ----------------------------------------------------
expect 0 "${link[@]}" users count
out_is "12"
expect 0 "${link[@]}" users list
[ "$(head -1 <<<"$out" | tr -s ' ')" = "id template_count code_length info" ] || fail "table header"
[ "$(wc -l <<<"$out")" -eq 13 ] || fail "users table is not 12 rows and a header"
expect 0 "${link[@]}" --csv users list --full
[ "$(head -1 <<<"$out")" = "id,template_count,code_length,info,code,template_1,template_2" ] || fail "csv header"
[ "$(sed -n 2p <<<"$out" | cut -d, -f1-3)" = "1,2,5" ] || fail "csv row of user 1"
expect 0 "${link[@]}" --json users get 3 5
[ "$(json 'len(d), d[0]["id"], d[1]["id"], len(d[0]["templates"])')" = "2 3 5 2" ] || fail "json get"
user_file=$work/user.json
python3 - "$work/out" "$user_file" <<'PY'
import json, sys
users = json.load(open(sys.argv[1]))
users[0]["id"] = 500
users[0]["code"] = "987654"   # a PIN is its digits
json.dump(users[0], open(sys.argv[2], "w"))
PY
expect 0 "${link[@]}" users add "$user_file"
out_is "users: 1 enrolled, 0 refused, 0 skipped"
expect 0 "${link[@]}" --json users get 500
[ "$(json 'd[0]["code"]')" = "987654" ] || fail "enrolled user not read back"
expect 1 "${link[@]}" users get 500 999
err_contains "user 999 is not enrolled"
expect 1 "${link[@]}" users delete 500 999
err_contains "user 999 was refused by the terminal: result byte 7"
out_is "users: 1 deleted, 1 refused (result byte 7: 1), 0 skipped"
expect 0 "${link[@]}" users count
out_is "12"
python3 -c "import json; u=json.load(open('$user_file')); u['code']='123'; json.dump(u, open('$work/bad_user.json','w'))"
expect 2 "${link[@]}" users add "$work/bad_user.json"
err_contains '"code" must be empty or 4 to 10 characters (bytes), not 3'
echo '{"id": 1,' >"$work/broken.json"
expect 2 "${link[@]}" users add "$work/broken.json"
err_contains "not valid JSON"
expect 2 "${link[@]}" users add "$work/none.json"
err_contains "No such file or directory"
expect 2 "${link[@]}" users delete --all
err_contains "add --yes"
expect 0 "${link[@]}" admins list --csv
[ "$(head -1 <<<"$out")" = "id,level,template_count,code_length,info" ] || fail "admins csv header"
[ "$(wc -l <<<"$out")" -eq 4 ] || fail "admins csv rows"

# ---- Logs: the documented query layout, CSV and JSON ------------------------------
expect 0 "${link[@]}" logs io count
out_is "30"
expect 0 "${link[@]}" --csv logs io get --from 2026-12-01 --to 2026-12-01
[ "$(head -1 <<<"$out")" = "time,user_id,verification,in_out_state,work_code" ] || fail "io csv header"
day_rows=$(tail -n +2 <<<"$out")
[ -n "$day_rows" ] || fail "no IO records on 2026-12-01"
[ -z "$(grep -v '^2026-12-01 ' <<<"$day_rows" || true)" ] || fail "records outside the day"
expect 0 "${link[@]}" --json logs io get --user 4
[ "$(json 'sorted(set(r["user_id"] for r in d))')" = "[4]" ] || fail "--user selected other users"
user4=$(json 'len(d)')
expect 0 "${link[@]}" logs io count --query-hex "020000000000000000000000000400000000"
out_is "$user4"
expect 0 "${link[@]}" logs io users 4 --from "2026-11-01 00:00:00" --to "2026-12-31 23:59:59" --count
out_is "$user4"
expect 2 "${link[@]}" logs io get --from "2026-13-01"
err_contains "is not a real date and time"
expect 2 "${link[@]}" logs io get --from 2026-12-02 --to 2026-12-01
err_contains "is before --from"
expect 2 "${link[@]}" logs io delete --user 4
err_contains "add --yes"
expect 0 "${link[@]}" logs io delete --user 4 --yes
out_is "deleted $user4 IO records"
expect 0 "${link[@]}" logs io count
out_is "$((30 - user4))"
expect 0 "${link[@]}" logs admin count
out_is "6"

# ---- Progress bar: drawn on a terminal only ----------------------------------------
script -qec "$admin --tcp $address --id $sim_id users list" "$work/tty.txt" >/dev/null </dev/null || true
grep -q "reading users \[" "$work/tty.txt" || { echo "FAIL: no progress bar on a terminal"; failures=$((failures + 1)); }
script -qec "$admin --tcp $address --id $sim_id --quiet users list" "$work/tty_quiet.txt" >/dev/null </dev/null || true
! grep -q "reading users \[" "$work/tty_quiet.txt" || { echo "FAIL: progress bar despite --quiet"; failures=$((failures + 1)); }
expect 0 "${link[@]}" users list
[ -z "$err" ] || fail "progress drawn although stderr is not a terminal"

# ---- Backup -> restore into the second simulator -> backup ---------------------------
expect 0 "${link[@]}" backup "$work/a.json"
[ "$(python3 -c "import json; d=json.load(open('$work/a.json')); print(list(d))")" = \
  "['format', 'clock', 'settings', 'users', 'admins', 'io_records', 'admin_records']" ] || fail "backup keys"
expect 2 "${link[@]}" backup "$work/a.json"
err_contains "exists; add --force"
expect 0 "${other[@]}" restore "$work/a.json"
out_is "users: 12 enrolled, 0 refused, 0 skipped
administrators: 3 enrolled, 0 refused, 0 skipped
settings block: 1 written, 0 refused, 0 skipped"
expect 2 "${other[@]}" restore "$work/a.json"
err_contains "already holds 12 users (1, 2, 3, 4, 5, 6, 7, 8, 9, 10, ...) and 3 administrators (1, 2, 3) that restore would replace"
expect 0 "${other[@]}" backup "$work/b.json"
same=$(python3 -c "
import json
a, b = json.load(open('$work/a.json')), json.load(open('$work/b.json'))
print(all(a[k] == b[k] for k in ('users', 'admins', 'settings')))")
[ "$same" = "True" ] || fail "restore then backup differs in users, admins or settings"
expect 0 "${other[@]}" --quiet restore "$work/a.json" --yes --logs
err_contains "one command each"
expect 0 "${other[@]}" logs admin count
out_is "6"

# ---- copy-users: from the first simulator onto the second (cleared first) -------------
expect 0 "${other[@]}" users delete --all --yes
expect 0 "${other[@]}" admins delete --all --yes
expect 0 "${link[@]}" copy-users --to "$second"
out_is "users: 12 enrolled, 0 refused, 0 skipped
administrators: 3 enrolled, 0 refused, 0 skipped"
expect 0 "${other[@]}" --json users list --full
copied=$(cat "$work/out")
expect 0 "${link[@]}" --json users list --full
[ "$out" = "$copied" ] || fail "copied users differ"
expect 1 "${link[@]}" copy-users --to "$silent"
err_contains "-100 ("
expect 2 "${link[@]}" copy-users --to 300.1.2.3
expect 2 "${link[@]}" copy-users --to "$second" --to-id 256

# ---- Usage errors -------------------------------------------------------------------
expect 2 check
err_contains "Exactly 1 option from [--tcp,--serial] is required"
expect 2 --tcp 300.1.1.1 check
err_contains '"300.1.1.1": expected a dotted IPv4 address'
expect 2 "${link[@]}" --json --csv users list
expect 2 "${link[@]}" no-such-command
expect 0 "${link[@]}" users add --help
[[ "$out" == *"FILE"* ]] || fail "users add --help"

# ---- The simulator's own options --------------------------------------------------------
status=0; timeout 10 "$simulator" --listen "$silent" --id 300 >/dev/null 2>&1 || status=$?
[ "$status" -eq 2 ] || { echo "FAIL: simulator --id 300 exited $status, not 2"; failures=$((failures + 1)); }
status=0; timeout 10 "$simulator" --no-such-option >/dev/null 2>&1 || status=$?
[ "$status" -eq 2 ] || { echo "FAIL: simulator bad option exited $status, not 2"; failures=$((failures + 1)); }

finish "pq640-admin"
