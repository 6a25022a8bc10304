"""Answers the simulator never gives, from a scripted fake terminal on a
loopback address: wrong terminal ID, bad checksum, out-of-range data, more
records than counted."""
from __future__ import annotations

import functools
import socket
import threading
import time
from typing import Dict, Iterator

import pytest

import pq640

from conftest import next_address

PREAMBLE = b"QQAVRENPROTOCOL\x7f"
CHECK_LINK, GET_DATE_TIME, GET_IO_RECORD, GET_IO_RECORD_NUM = 0x01, 0x08, 0x48, 0x49


def frame(payload: bytes = b"", terminal_id: int = 0, result: int = 0,
          checksum_error: int = 0) -> bytes:
    body = bytes((terminal_id, 0, result)) + payload
    return b"\x7f" + body + bytes((functools.reduce(lambda a, b: a ^ b, body, 0)
                                   ^ checksum_error,))


class FakeTerminal:
    """Answers each request's command with a scripted frame."""

    def __init__(self, answers: Dict[int, bytes]) -> None:
        self.address = next_address()
        self.answers = answers
        self.listener = socket.create_server((self.address, pq640.terminal.TCP_PORT))
        self.listener.settimeout(0.1)
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self) -> None:
        while not self.stopping.is_set():
            try:
                connection, _ = self.listener.accept()
            except socket.timeout:
                continue
            with connection:
                connection.settimeout(0.1)
                request = b""
                deadline = time.monotonic() + 5
                while len(request) < len(PREAMBLE) + 4 and time.monotonic() < deadline:
                    try:
                        chunk = connection.recv(4096)
                    except socket.timeout:
                        continue
                    if not chunk:
                        break
                    request += chunk
                start = request.find(PREAMBLE)
                if start >= 0 and len(request) > start + len(PREAMBLE) + 2:
                    command = request[start + len(PREAMBLE) + 2]
                    connection.sendall(self.answers.get(command, frame(result=1)))
                    time.sleep(0.05)

    def stop(self) -> None:
        self.stopping.set()
        self.thread.join(timeout=5)
        self.listener.close()


@pytest.fixture
def fake_terminal() -> Iterator:  # type: ignore[type-arg]
    fakes = []

    def start(answers: Dict[int, bytes]) -> pq640.Terminal:
        fakes.append(FakeTerminal(answers))
        return pq640.Terminal.tcp(fakes[-1].address)

    yield start
    active = pq640.terminal._active
    if active is not None:
        active.close()
    for fake in fakes:
        fake.stop()


def test_wrong_terminal_and_bad_checksum_are_protocol_errors(fake_terminal) -> None:
    with fake_terminal({CHECK_LINK: frame(terminal_id=5)}) as terminal:
        with pytest.raises(pq640.ProtocolError) as wrong:
            terminal.check_link()
        assert wrong.value.code == -101
        assert wrong.value.text == "a terminal with another ID answered"
    with fake_terminal({CHECK_LINK: frame(checksum_error=0xFF)}) as terminal:
        with pytest.raises(pq640.ProtocolError) as checksum:
            terminal.check_link()
        assert checksum.value.code == -102


def test_invalid_clock_is_a_protocol_error(fake_terminal) -> None:
    with fake_terminal({GET_DATE_TIME: frame(bytes((26, 13, 1, 0, 0, 0)))}) as terminal:
        with pytest.raises(pq640.ProtocolError) as caught:
            terminal.clock
        assert caught.value.code == -104


def test_more_records_than_counted_are_read_into_a_resized_array(fake_terminal) -> None:
    # The count says 1, every read announces 2 (a punch arrived in between):
    # the array is resized to the announced count and the read asked again.
    record = bytes((26, 3, 15, 8, 0, 0)) + bytes(10)
    answers = {GET_IO_RECORD_NUM: frame((1).to_bytes(4, "little")),
               GET_IO_RECORD: frame((2).to_bytes(4, "little") + record * 2)}
    with fake_terminal(answers) as terminal:
        assert len(terminal.io_records()) == 2


def test_a_count_above_the_ceiling_is_refused_before_allocating(fake_terminal) -> None:
    answers = {GET_IO_RECORD_NUM: frame((0xFFFFFFFF).to_bytes(4, "little"))}
    with fake_terminal(answers) as terminal:
        with pytest.raises(pq640.ProtocolError) as caught:
            terminal.io_records()
        assert caught.value.code == pq640.BUFFER_TOO_SMALL
        assert "announces 4294967295 IO records, more than the ceiling of 1000000" in str(caught.value)
        assert f"the terminal at {terminal._address}, terminal ID 0" in str(caught.value)
