#!/usr/bin/env python3
"""The wake-up's quiet period on the line, as the terminal would see it.

    quiet_period.py COM-NUMBER -- WINE-RUN PROGRAM [ARGS...]

Links a pseudo-terminal as $WINEPREFIX/dosdevices/comN, runs PROGRAM (which
wakes the terminal twice: 2048 zero bytes, then at least 3 s of quiet, twice)
and times every byte as it arrives. The pause between the first wake-up's last
zero and the second one's first must be at least 3 s: a write that returned
before its bytes had left the port would shorten it.
"""
import os
import select
import subprocess
import sys
import time
import tty

WAKE_BYTES = 2048
QUIET_MS = 3000
RUN_LIMIT_S = 120  # the whole run, however the program behaves


def main():
    if len(sys.argv) < 4 or sys.argv[2] != "--" or not sys.argv[1].isdigit():
        sys.exit(__doc__)
    link = os.path.join(os.environ["WINEPREFIX"], "dosdevices", "com" + sys.argv[1])
    master, slave = os.openpty()
    tty.setraw(slave)
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(os.ttyname(slave), link)
    program = subprocess.Popen(sys.argv[3:])
    arrivals = []  # (seconds, byte count so far) for each read
    received = bytearray()
    deadline = time.monotonic() + RUN_LIMIT_S
    try:
        while time.monotonic() < deadline:
            ready, _, _ = select.select([master], [], [], 0.05)
            if ready:
                chunk = os.read(master, 4096)
                arrivals.append((time.monotonic(), len(received), len(chunk)))
                received += chunk
            elif program.poll() is not None:
                break
    finally:
        if program.poll() is None:
            program.kill()
        program.wait()
        os.remove(link)
        os.close(master)
        os.close(slave)

    if program.returncode != 0:
        sys.exit(f"the program failed (exit {program.returncode})")
    if len(received) != 2 * WAKE_BYTES or any(received):
        sys.exit(f"expected {2 * WAKE_BYTES} zero bytes, got {len(received)} bytes")
    # The read that held byte 2048 (the first wake-up's last) and the one
    # that brought byte 2049.
    last_of_first = next(t for t, before, n in arrivals if before + n >= WAKE_BYTES)
    first_of_second = next(t for t, before, n in arrivals if before + n > WAKE_BYTES)
    quiet_ms = (first_of_second - last_of_first) * 1000
    print(f"quiet after the last wake-up zero: {quiet_ms:.0f} ms")
    if quiet_ms < QUIET_MS:
        sys.exit(f"the quiet period is under {QUIET_MS} ms")


if __name__ == "__main__":
    main()
