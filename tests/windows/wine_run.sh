#!/usr/bin/env bash
# wine_run.sh PROGRAM [ARGS...]: runs a Windows program under Wine's loader
# $WINELOADER (the one for the program's architecture) and shows its output
# afterwards. The output goes through a file, not the caller's pipe: Wine's
# helper processes (the device services a COM port starts) live on after the
# program and would hold a pipe open, and ctest waits for it.
set -uo pipefail
output=$(mktemp)
trap 'rm -f "$output"' EXIT
timeout 600 "${WINELOADER:-wine}" "$@" </dev/null >"$output" 2>&1
status=$?
cat "$output"
exit $status
