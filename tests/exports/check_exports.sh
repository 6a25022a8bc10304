#!/usr/bin/env bash
# The shared library exports exactly the PQ640_ functions implemented so far.
set -euo pipefail
library=$1
expected=$2
actual=$(nm -D --defined-only "$library" | awk '{print $NF}' | sort)
if ! diff <(sort "$expected") <(printf '%s\n' "$actual"); then
  echo "exported symbols differ from $expected (< expected, > exported)"
  exit 1
fi
echo "$(wc -l < "$expected") symbols, all PQ640_"
