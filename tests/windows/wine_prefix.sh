#!/usr/bin/env bash
# wine_prefix.sh start|stop PREFIX: makes the tests' Wine prefix (once; it is
# kept in the build folder between runs) or stops its wineserver.
set -euo pipefail
action=$1
export WINEPREFIX=$2 WINEDEBUG=-all
case $action in
  start)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      mkdir -p "$WINEPREFIX"
      wineboot --init >/dev/null 2>&1
    fi
    wineserver --wait
    [ -f "$WINEPREFIX/system.reg" ] || { echo "wineboot made no prefix in $WINEPREFIX"; exit 1; }
    # One server for all the tests, detached from every test's output: a
    # server started by a test would hold that test's output open until it
    # exits, and ctest waits for that.
    wineserver --persistent </dev/null >/dev/null 2>&1
    echo "Wine prefix ready: $WINEPREFIX"
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    ;;
  *) echo "usage: $0 start|stop PREFIX" >&2; exit 2 ;;
esac
