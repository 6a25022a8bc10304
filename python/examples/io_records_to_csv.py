#!/usr/bin/env python3
"""Pull one day's IO records (today by default) from a terminal into CSV.

From the repository's root:

    python3 python/examples/io_records_to_csv.py --tcp 127.0.0.1 > today.csv
    python3 python/examples/io_records_to_csv.py --serial 1 --id 3 --date 2026-03-14 --out day.csv

The CSV is the one every pq640 tool writes (docs/records.md): the header
time,user_id,verification,in_out_state,work_code, the ten bytes after each
time stamp decoded in the layout the simulator documents. An existing --out
file is never overwritten.
"""
from __future__ import annotations

import argparse
import datetime as dt
import os
import sys
from pathlib import Path

try:
    import pq640
except ImportError:  # run from a source checkout: the package is beside this folder
    sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
    import pq640

# In a source checkout, the library of the default build unless told otherwise.
_BUILT = Path(__file__).resolve().parents[2] / "build/default/src/libpq640.so"
if "PQ640_LIBRARY" not in os.environ and _BUILT.exists():
    os.environ["PQ640_LIBRARY"] = str(_BUILT)

PROGRAM = "io_records_to_csv"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    link = parser.add_mutually_exclusive_group(required=True)
    link.add_argument("--tcp", metavar="ADDRESS", help="the terminal's IPv4 address")
    link.add_argument("--serial", metavar="N", help="serial port 1..10 or COM1..COM10")
    parser.add_argument("--id", type=int, default=0, help="terminal ID 0..255 (default 0)")
    parser.add_argument("--date", type=dt.date.fromisoformat, default=dt.date.today(),
                        help="the day, YYYY-MM-DD (default today)")
    parser.add_argument("--out", default="-", help="CSV file to write ('-', the default: stdout)")
    args = parser.parse_args()

    if args.out != "-" and os.path.lexists(args.out):
        print(f"{PROGRAM}: {args.out} exists; not overwritten (remove it or choose another --out)",
              file=sys.stderr)
        return 2
    try:
        port = args.serial if args.serial is None or not args.serial.isdigit() else int(args.serial)
        terminal = (pq640.Terminal.tcp(args.tcp, terminal_id=args.id) if args.tcp else
                    pq640.Terminal.serial(port, terminal_id=args.id))
        with terminal:
            records = terminal.io_records(pq640.Query.between(args.date, args.date))
    except pq640.Error as error:
        print(f"{PROGRAM}: {error}", file=sys.stderr)
        return 1

    try:
        out = sys.stdout if args.out == "-" else open(args.out, "x", newline="")
    except OSError as error:
        print(f"{PROGRAM}: cannot write {args.out}: {error.strerror}", file=sys.stderr)
        return 2
    with out:
        pq640.write_csv(out, records)
    return 0


if __name__ == "__main__":
    sys.exit(main())
