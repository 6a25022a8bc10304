# Shared by the pq640-admin end-to-end scripts: simulators on loopback
# addresses of the script's own (stopped at exit), a bounded run of the tool
# leaving $status, $out and $err, and the checks. Source it after setting
# $admin and $simulator.
work=$(mktemp -d)
failures=0
pids=()
last_args=""

stop_simulators() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap stop_simulators EXIT

# start_simulator ADDRESS LOG ARGS...: waits (bounded) for the ready line.
start_simulator() {
  local at=$1 log=$2
  shift 2
  "$simulator" --listen "$at" "$@" >"$log" 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do
    grep -q "listening on $at" "$log" && return 0
    sleep 0.1
  done
  echo "simulator on $at did not start:"
  cat "$log"
  exit 1
}

# Runs pq640-admin, leaving $status, $out and $err. Each run is bounded.
run() {
  status=0
  timeout 60 "$admin" "$@" >"$work/out" 2>"$work/err" </dev/null || status=$?
  out=$(cat "$work/out")
  err=$(cat "$work/err")
}
fail() {
  echo "FAIL: $1"
  echo "  command: pq640-admin ${last_args}"
  echo "  status $status; stdout: ${out:0:400}"
  echo "  stderr: ${err:0:400}"
  failures=$((failures + 1))
}
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
err_lacks() { [[ "$err" != *"$1"* ]] || fail "stderr has '$1'"; }
# Every line on stderr is the tool's own message.
err_prefixed() {
  if [ -n "$err" ] && grep -qv '^pq640-admin: ' <<<"$err"; then fail "stderr line without the prefix"; fi
}
json() { python3 -c "import json,sys; d=json.load(sys.stdin); print($1)" <<<"$out"; }
rows() { tail -n +2 <<<"$out" | grep -c . || true; }

# Ends the script: fails when a check failed or a simulator died.
finish() {
  for pid in "${pids[@]}"; do
    kill -0 "$pid" 2>/dev/null || { echo "FAIL: a simulator died"; failures=$((failures + 1)); }
  done
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
  fi
  echo "$1: all checks passed"
}
