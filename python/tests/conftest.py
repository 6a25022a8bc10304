"""Test fixtures: the library and the simulator, found through PQ640_LIBRARY
and PQ640_SIM (set by the ctest hook), else in the default build tree.

Every simulator is a subprocess on its own loopback address (TCP) or behind a
/dev/COMn symlink (serial), started with a bounded wait for its ready line and
killed at teardown."""
from __future__ import annotations

import itertools
import os
import queue
import re
import subprocess
import sys
import threading
import time
from pathlib import Path
from typing import Callable, Iterator, List, Optional

import pytest

PYTHON_DIR = Path(__file__).resolve().parents[1]
SOURCE_DIR = PYTHON_DIR.parent
LIBRARY = Path(os.environ.get("PQ640_LIBRARY") or
               SOURCE_DIR / "build/default/src/libpq640.so").resolve()
SIMULATOR = Path(os.environ.get("PQ640_SIM") or SOURCE_DIR / "build/default/sim/pq640-sim")
HEADER = SOURCE_DIR / "include/pq640/pq640.h"

# The package under test is the one in this tree, on the library under test.
os.environ["PQ640_LIBRARY"] = str(LIBRARY)
sys.path.insert(0, str(PYTHON_DIR))

import pq640  # noqa: E402
from pq640 import _library  # noqa: E402

SERIAL_PORT = 6                      # an unusual number, unlikely to be a real port
SERIAL_LINK = Path(f"/dev/COM{SERIAL_PORT}")
READY_SECONDS = 10.0
STOP_SECONDS = 5.0
TRACE_SETTLE_SECONDS = 2.0
_addresses = itertools.count(1)


def pytest_sessionstart(session: pytest.Session) -> None:
    # A missing build is a failure, not a reason to skip everything.
    for what, path in (("library (PQ640_LIBRARY)", LIBRARY), ("simulator (PQ640_SIM)", SIMULATOR)):
        if not path.exists():
            raise pytest.UsageError(f"the {what} is not at {path}: build it first")


def pytest_sessionfinish(session: pytest.Session, exitstatus: int) -> None:
    # "No tests ran" must never pass for a green run.
    if exitstatus == pytest.ExitCode.NO_TESTS_COLLECTED:
        print("\npq640: no tests were collected", file=sys.stderr)
        session.exitstatus = pytest.ExitCode.TESTS_FAILED


def next_address() -> str:
    n = next(_addresses)
    return f"127.66.{n // 250}.{n % 250 + 1}"


class Simulator:
    """A running pq640-sim with its trace lines collected."""

    def __init__(self, link: str, *args: str) -> None:
        self.link = link
        self.address = next_address() if link == "tcp" else None
        where = ["--listen", self.address] if link == "tcp" else [
            "--serial", "--link", str(SERIAL_LINK)]
        self.process = subprocess.Popen([str(SIMULATOR), *where, "--trace", *args],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        text=True)
        self._lines: "queue.Queue[Optional[str]]" = queue.Queue()
        self.trace: List[str] = []
        threading.Thread(target=self._read, daemon=True).start()
        try:
            ready = self._lines.get(timeout=READY_SECONDS)
        except queue.Empty:
            ready = None
        if not ready or not ready.startswith("pq640-sim: "):
            self.stop()
            raise RuntimeError(f"pq640-sim did not start: {ready!r} {self.process.stderr.read()}")

    def _read(self) -> None:
        assert self.process.stdout is not None
        for line in self.process.stdout:
            line = line.rstrip("\n")
            if line.startswith(("request", "response")):
                self.trace.append(line)
            else:
                self._lines.put(line)
        self._lines.put(None)

    def terminal(self, terminal_id: int = 0) -> pq640.Terminal:
        if self.link == "tcp":
            assert self.address is not None
            return pq640.Terminal.tcp(self.address, terminal_id=terminal_id)
        return pq640.Terminal.serial(SERIAL_PORT, terminal_id=terminal_id)

    def transactions(self) -> List[str]:
        """The commands of the trace, checking that every request is followed
        by its own response and nothing else."""
        commands = []
        pattern = re.compile(r"(request|response) +(\w+) \(0x[0-9A-F]{2}\): [0-9A-F ]+$")
        # The reader thread may still be taking the last lines in: wait
        # (bounded) until the trace has stopped growing.
        deadline = time.monotonic() + TRACE_SETTLE_SECONDS
        seen = -1
        while time.monotonic() < deadline and seen != len(self.trace):
            seen = len(self.trace)
            time.sleep(0.05)
        lines = list(self.trace)
        assert len(lines) % 2 == 0, lines[-2:]
        for request, response in zip(lines[::2], lines[1::2]):
            first, second = pattern.match(request), pattern.match(response)
            assert first and second, (request, response)
            assert (first.group(1), second.group(1)) == ("request", "response"), (request, response)
            assert first.group(2) == second.group(2), (request, response)
            commands.append(first.group(2))
        return commands

    def stop(self) -> None:
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=STOP_SECONDS)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=STOP_SECONDS)


def _serial_skip_reason() -> Optional[str]:
    if os.geteuid() != 0:
        return f"serial tests create {SERIAL_LINK} and need root"
    if SERIAL_LINK.exists() or SERIAL_LINK.is_symlink():
        target = os.readlink(SERIAL_LINK) if SERIAL_LINK.is_symlink() else ""
        if not target.startswith("/dev/pts/"):
            return f"{SERIAL_LINK} exists and is not a simulator's link: left alone"
    return None


@pytest.fixture
def simulators() -> Iterator[Callable[..., Simulator]]:
    """Starts simulators: ``simulators("tcp", "--users", "3")``. Stops them, and
    closes whatever terminal is left open, at teardown."""
    started: List[Simulator] = []

    def start(link: str, *args: str) -> Simulator:
        if link == "serial":
            reason = _serial_skip_reason()
            if reason:
                pytest.skip(reason)
        sim = Simulator(link, *args)
        started.append(sim)
        return sim

    yield start
    active = pq640.terminal._active
    if active is not None:
        active.close()
    for sim in started:
        sim.stop()
    if any(s.link == "serial" for s in started) and SERIAL_LINK.is_symlink():
        SERIAL_LINK.unlink()          # the simulator removes it; a killed one may not


@pytest.fixture(params=["tcp", "serial"])
def link(request: pytest.FixtureRequest) -> str:
    return request.param


class LibrarySpy:
    """Records every library function the package looks up."""

    def __init__(self) -> None:
        self.calls: List[str] = []


@pytest.fixture
def library_spy(monkeypatch: pytest.MonkeyPatch) -> LibrarySpy:
    spy = LibrarySpy()
    real = _library.function

    def looked_up(name: str):  # type: ignore[no-untyped-def]
        spy.calls.append(name)
        return real(name)

    monkeypatch.setattr(_library, "function", looked_up)
    return spy
