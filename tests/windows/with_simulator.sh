#!/usr/bin/env bash
# Runs a Windows test program under Wine against the native Linux simulator:
#   with_simulator.sh SIMULATOR tcp ADDRESS  -- PROGRAM [ARGS...]   (ADDRESS: 127.x.y.z)
#   with_simulator.sh SIMULATOR serial N     -- PROGRAM [ARGS...]   (a pty linked as COMn)
# For serial, the simulator's pseudo-terminal is linked as
# $WINEPREFIX/dosdevices/comN, which Wine opens as \\.\COMn. PROGRAM learns the
# link from PQ640_TEST_LINK, PQ640_TEST_ADDRESS or PQ640_TEST_COM_PORT, and
# PQ640_TEST_TERMINAL_ID. The simulator is stopped however PROGRAM ends.
set -euo pipefail
sim=$1 link=$2 where=$3
shift 3
[ "${1:-}" = "--" ] && shift
terminal_id=23
export PQ640_TEST_LINK=$link PQ640_TEST_TERMINAL_ID=$terminal_id
: "${WINEPREFIX:?set WINEPREFIX to the Wine prefix of the tests}"

case $link in
  tcp)
    # Loopback only: nothing here may reach a real network.
    [[ $where =~ ^127\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "not a loopback address: $where"; exit 2; }
    export PQ640_TEST_ADDRESS=$where
    sim_args=(--listen "$where")
    ;;
  serial)
    [[ $where =~ ^[0-9]+$ ]] || { echo "not a COM number: $where"; exit 2; }
    export PQ640_TEST_COM_PORT=$where
    sim_args=(--serial --link "$WINEPREFIX/dosdevices/com$where")
    ;;
  *) echo "usage: see the comment at the top of $0" >&2; exit 2 ;;
esac

log=$(mktemp)
"$sim" "${sim_args[@]}" --id "$terminal_id" >"$log" 2>&1 &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; rm -f "$log"' EXIT
for _ in $(seq 100); do
  grep -q "pq640-sim: \(listening\|serial\)" "$log" && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q "pq640-sim: \(listening\|serial\)" "$log"; then
  echo "the simulator did not start:"
  cat "$log"
  exit 1
fi

"$(dirname "$0")/wine_run.sh" "$@"
