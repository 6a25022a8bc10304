#!/usr/bin/env bash
# pq640-admin says what it did and speaks the records' one vocabulary: a PIN
# typed into a user file round trip, a listing fed back in byte-identical,
# true totals from a restore into a terminal too small for it, a log restore
# run twice and after an interruption leaving each record once, copy-users
# asking --yes, the same CSV as the Python package, and every message with
# the tool's prefix and the rule it broke.
set -euo pipefail
admin=$1
simulator=$2
library=$3   # "-": skip what needs the Python package
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=admin_test_lib.sh
. "$(dirname "$0")/admin_test_lib.sh"

big=127.77.14.1 small=127.77.14.2 logs=127.77.14.3 copy=127.77.14.4
start_simulator "$big" "$work/big.log" --clock "26-03-20 12:00:00" --users 8 --admins 1 \
  --io-records 6 --admin-records 0
start_simulator "$small" "$work/small.log" --max-users 3
start_simulator "$logs" "$work/logs.log"
start_simulator "$copy" "$work/copy.log"

# ---- 1. A PIN typed into a user file is its digits; a listing comes back identical
printf '%s\n' '{"id": 500, "code": "12345678", "info": "Demo user"}' >"$work/pin.json"
expect 0 --tcp "$logs" users add "$work/pin.json"
out_is "users: 1 enrolled, 0 refused, 0 skipped"
expect 0 --tcp "$logs" --json users get 500
[ "$(json 'd[0]["code"], d[0]["info"], d[0]["templates"]')" = "12345678 Demo user []" ] ||
  fail "the PIN or the info did not come back as typed"
expect 0 --tcp "$logs" --csv users list --full
[ "$(sed -n 2p <<<"$out")" = "500,0,8,Demo user,12345678,," ] || fail "CSV row of user 500"
expect 0 --tcp "$big" --json users list --full
cp "$work/out" "$work/listing.json"
expect 0 --tcp "$logs" users add "$work/listing.json"
expect 0 --tcp "$logs" users delete 500
expect 0 --tcp "$logs" --json users list --full
cmp -s "$work/out" "$work/listing.json" || fail "a listing fed back in does not come back identical"

# ---- 2. Restore into a terminal too small for it: true totals, exit 1 --------
expect 0 --tcp "$big" backup "$work/big.json"
expect 1 --tcp "$small" restore "$work/big.json"
out_is "users: 3 enrolled, 5 refused (result byte 8: 5), 0 skipped
administrators: 1 enrolled, 0 refused, 0 skipped
settings block: 1 written, 0 refused, 0 skipped"
err_contains "user 4 was refused by the terminal: result byte 8"
err_prefixed

# ---- 3. restore --logs adds only what is missing --------------------------------
expect 0 --tcp "$logs" --quiet restore "$work/big.json" --logs --yes
[[ "$out" == *"IO records: 6 added, 0 refused, 0 skipped"* ]] || fail "first log restore"
expect 0 --tcp "$logs" --quiet restore "$work/big.json" --logs --yes
[[ "$out" == *"IO records: 0 added, 0 refused, 6 skipped (already on the terminal)"* ]] ||
  fail "second log restore added records"
expect 0 --tcp "$logs" logs io count
out_is "6"
# Interrupted: only two of six got there; two identical punches are two.
python3 - "$work/big.json" "$work/partial.json" "$work/twice.json" <<'PY'
import json, sys
backup = json.load(open(sys.argv[1]))
json.dump(backup["io_records"][:2], open(sys.argv[2], "w"))
backup["io_records"].append(backup["io_records"][0])
json.dump(backup, open(sys.argv[3], "w"))
PY
expect 0 --tcp "$logs" logs io delete --yes
expect 0 --tcp "$logs" --quiet logs io add "$work/partial.json"
expect 0 --tcp "$logs" restore "$work/twice.json" --logs --yes --dry-run
[[ "$out" == *"add 5 IO records (2 already there)"* ]] || fail "dry run count"
expect 0 --tcp "$logs" logs io count
out_is "2"
expect 0 --tcp "$logs" --quiet restore "$work/twice.json" --logs --yes
[[ "$out" == *"IO records: 5 added, 0 refused, 2 skipped (already on the terminal)"* ]] || fail "re-run after interruption"
expect 0 --tcp "$logs" --json logs io get
[ "$(json 'len(d)')" = "7" ] || fail "each record once, the repeated punch twice"

# ---- 4. copy-users asks before replacing IDs on the target -----------------------
printf '%s\n' '{"id": 5, "code": "9999"}' >"$work/five.json"
expect 0 --tcp "$copy" users add "$work/five.json"
expect 2 --tcp "$big" copy-users --to "$copy"
err_contains "already holds 1 user (5) that copy-users would replace. Add --yes"
expect 0 --tcp "$copy" --json users get 5
[ "$(json 'd[0]["code"]')" = "9999" ] || fail "copy-users replaced user 5 without --yes"
expect 0 --tcp "$big" --quiet copy-users --to "$copy" --yes
out_is "users: 8 enrolled, 0 refused, 0 skipped
administrators: 1 enrolled, 0 refused, 0 skipped"

# ---- 8. The same CSV from the admin tool and the Python package ------------------
# (library "-": a sanitizer build, whose library the interpreter cannot load)
compare_with_python() {
  expect 0 --tcp "$big" --csv logs io get --from 2026-03-01 --to 2026-03-20
  admin_csv=$out
  python_csv=$(PQ640_LIBRARY=$library python3 "$source_dir/python/examples/io_records_to_csv.py" \
    --tcp "$big" --date 2026-03-01 2>&1 | head -1)
  [ "$python_csv" = "time,user_id,verification,in_out_state,work_code" ] || fail "python header: $python_csv"
  PQ640_LIBRARY=$library PYTHONPATH="$source_dir/python" python3 - "$big" >"$work/python.csv" <<'PY'
import datetime as dt, sys
import pq640
with pq640.Terminal.tcp(sys.argv[1]) as terminal:
    records = terminal.io_records(pq640.Query.between(dt.date(2026, 3, 1), dt.date(2026, 3, 20)))
pq640.write_csv(sys.stdout, records)
PY
  [ "$admin_csv" = "$(cat "$work/python.csv")" ] || fail "the admin tool's and the package's CSV differ"
}
if [ "$library" != "-" ]; then
  compare_with_python
else
  echo "skipped: the CSV comparison with the Python package (no library the interpreter can load)"
fi

# ---- 6. Messages: the prefix, the rule broken, never a generic code text ---------
usage=(
  "--tcp $big chek" "--tcp $big users lst" "--tcp $big users get 4294967296"
  "--tcp $big time set 1999-12-31T23:59:59" "--tcp localhost check" "--tcp 127.0.1.1:7413 check"
  "--serial COM11 check" "--tcp $big --id 256 check" "--tcp $big logs io get --from 2026-02-30"
  "--tcp $big logs io users 1 --from 2026-01-01 --to 2026-01-02 --selector 300" "check"
  "--tcp $big comm-mode 3" "--tcp $big users delete --all")
for args in "${usage[@]}"; do
  # shellcheck disable=SC2086
  expect 2 ${args//T23/ 23}
  err_prefixed
  err_lacks "an argument is out of range"
  err_lacks "an invalid argument (address"
done
expect 2 --tcp "$big" chek
err_contains 'unknown command "chek"; did you mean "check"?'
expect 2 --tcp "$big" users lst
err_contains 'unknown command "lst" of "users"; did you mean "list"?'
expect 2 --tcp "$big" time set "1999-12-31 23:59:59"
err_contains "the terminal's clock holds the years 2000..2099, not 1999"
expect 2 --tcp 127.0.1.1:7413 check
err_contains "without a port: the port is always 7413"
expect 2 --tcp "$big" users get 4294967296
err_contains "user IDs are 0..4294967295, got 4294967296"
expect 1 --serial COM3 check   # accepted as written; no such port here
err_prefixed
expect 0 --tcp "$big" --json check
[ "$(json 'd["answers"]')" = "True" ] || fail "--json check"
for command in "time get" "users count" "logs io count" "settings get"; do
  # shellcheck disable=SC2086
  expect 0 --tcp "$big" --json $command
  json 'len(d)' >/dev/null 2>&1 || fail "--json $command is not JSON"
done
# A failure part-way through a transfer ends the progress bar first.
script -qec "$admin --tcp $small restore $work/big.json --yes" "$work/tty.txt" >/dev/null </dev/null || true
grep -q $'\033\[Kpq640-admin: user 4 was refused' "$work/tty.txt" ||
  fail "the progress line was not cleared before a message"

finish "pq640-admin tells the truth"
