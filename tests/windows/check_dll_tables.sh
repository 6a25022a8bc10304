#!/usr/bin/env bash
# The DLL's tables, as objdump -p shows them:
#   check_dll_tables.sh exports DLL OBJDUMP EXPECTED  exactly the names in EXPECTED, undecorated
#   check_dll_tables.sh imports DLL OBJDUMP           only DLLs every Windows system has
#   check_dll_tables.sh def DEF EXPECTED              the .def file lists exactly EXPECTED
set -euo pipefail
mode=$1

compare() {  # compare WHAT EXPECTED-FILE ACTUAL-LINES
  if ! diff <(sort "$2") <(printf '%s\n' "$3" | sort); then
    echo "$1 differ from $2 (< expected, > found)"
    exit 1
  fi
  echo "$1: $(wc -l < "$2") names, as expected"
}

case $mode in
  exports)
    dll=$2 objdump=$3 expected=$4
    # The name table lists "[ordinal] name"; it ends at the first blank line.
    # (awk reads to the end: an early exit would fail the pipeline on SIGPIPE.)
    names=$("$objdump" -p "$dll" |
      awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next} NF == 0 {on = 0} on {print $NF}')
    compare "exports of $dll" "$expected" "$names"
    ;;
  imports)
    dll=$2 objdump=$3
    imported=$("$objdump" -p "$dll" | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
    [ -n "$imported" ] || { echo "no import table found in $dll"; exit 1; }
    status=0
    for name in $imported; do
      case $name in
        kernel32.dll | ws2_32.dll | msvcrt.dll) echo "imports $name" ;;
        *) echo "imports $name, which is not a system DLL"; status=1 ;;
      esac
    done
    exit $status
    ;;
  def)
    def=$2 expected=$3
    names=$(awk '/^EXPORTS/ {on = 1; next} on && NF > 0 && $1 !~ /^;/ {print $1}' "$def")
    compare "exports in $def" "$expected" "$names"
    ;;
  *) echo "usage: see the comment at the top of $0" >&2; exit 2 ;;
esac
