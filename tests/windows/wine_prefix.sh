#!/usr/bin/env bash
# wine_prefix.sh start|stop: makes the tests' Wine prefix $WINEPREFIX for
# $WINEARCH with the loader $WINELOADER (once; it is kept in the build folder
# between runs, and made again when it is for the other architecture), or
# stops its wineserver.
set -euo pipefail
action=$1
: "${WINEPREFIX:?}" "${WINEARCH:?}" "${WINELOADER:?}"
export WINEDEBUG=-all
case $action in
  start)
    # A prefix records its architecture in system.reg ("#arch=win64").
    if [ -f "$WINEPREFIX/system.reg" ] && ! grep -qx "#arch=$WINEARCH" "$WINEPREFIX/system.reg"; then
      wineserver -k 2>/dev/null || true
      rm -rf "${WINEPREFIX:?}"
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      mkdir -p "$WINEPREFIX"
      # The loader itself, not Debian's `wine`: that one starts the 32-bit
      # loader whenever it is installed, which fails where the kernel runs no
      # 32-bit programs.
      "$WINELOADER" wineboot --init >/dev/null 2>&1
    fi
    wineserver --wait
    [ -f "$WINEPREFIX/system.reg" ] || { echo "wineboot made no prefix in $WINEPREFIX"; exit 1; }
    # One server for all the tests, detached from every test's output: a
    # server started by a test would hold that test's output open until it
    # exits, and ctest waits for that.
    wineserver --persistent </dev/null >/dev/null 2>&1
    echo "Wine prefix ready ($WINEARCH, $WINELOADER): $WINEPREFIX"
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
