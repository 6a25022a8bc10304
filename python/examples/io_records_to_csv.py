#!/usr/bin/env python3
"""Pull one day's IO records (today by default) from a terminal into CSV.

    io_records_to_csv.py --tcp 127.0.0.1 > today.csv
    io_records_to_csv.py --serial 1 --id 3 --date 2026-03-14 --out day.csv

The ten bytes after each time stamp are decoded in the layout the simulator
documents: user ID, verification method, in/out state, work code.
"""
from __future__ import annotations

import argparse
import csv
import datetime as dt
import sys

import pq640


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    link = parser.add_mutually_exclusive_group(required=True)
    link.add_argument("--tcp", metavar="ADDRESS", help="the terminal's IPv4 address")
    link.add_argument("--serial", metavar="N", help="serial port 1..10 (COM1..COM10)")
    parser.add_argument("--id", type=int, default=0, help="terminal ID 0..255 (default 0)")
    parser.add_argument("--date", type=dt.date.fromisoformat, default=dt.date.today(),
                        help="the day, YYYY-MM-DD (default today)")
    parser.add_argument("--out", default="-", help="CSV file to write ('-', the default: stdout)")
    args = parser.parse_args()

    start = dt.datetime.combine(args.date, dt.time())
    end = start.replace(hour=23, minute=59, second=59)
    try:
        terminal = (pq640.Terminal.tcp(args.tcp, terminal_id=args.id) if args.tcp else
                    pq640.Terminal.serial(int(args.serial), terminal_id=args.id))
        with terminal:
            records = terminal.io_records(pq640.Query.between(start, end))
    except (pq640.Error, ValueError) as error:
        print(f"io_records_to_csv: {error}", file=sys.stderr)
        return 1

    out = sys.stdout if args.out == "-" else open(args.out, "x", newline="")
    with out:
        writer = csv.writer(out)
        writer.writerow(["time", "user_id", "verification", "in_out_state", "work_code"])
        for record in records:
            writer.writerow([record.time.isoformat(sep=" "), record.user_id, record.verification,
                             record.in_out_state, record.work_code])
    return 0


if __name__ == "__main__":
    sys.exit(main())
