"""Result codes, their meaning in words, and the exceptions that carry them.

Every library function returns a result code: 0 for success, 1 to 255 for a
result byte the terminal sent back, negative values for failures the library
met itself. The package turns every non-zero code into an exception whose
class says who failed and whose text is the same wording the C header's
``PQ640_ResultText`` gives, so a Python host and a C host report a failure
the same way.
"""
from __future__ import annotations

from typing import Dict, Optional

OK = 0
SHORT_READ = 242
OUT_OF_RANGE = 243
OPEN_FAILED = -1
CLOSE_FAILED = -2
PORT_REFUSED = -3
NO_SERIAL_PORT = -4
SOCKET_FAILED = -10
TCP_FAILED = -12
NO_SOCKET = -13
SEND_FAILED = -14
READ_FAILED = -100
WRONG_TERMINAL = -101
BAD_CHECKSUM = -102
INVALID_ARGUMENT = -104
BUFFER_TOO_SMALL = -105

# The one result-text table. It must read exactly as PQ640_ResultText in
# include/pq640/pq640.h (a test compiles the header and compares).
_TEXTS: Dict[int, str] = {
    OK: "success",
    SHORT_READ: "the answer was cut short (a serial read timed out part-way), or the terminal's "
    "result byte 242",
    OUT_OF_RANGE: "an argument is out of range (terminal ID, communication mode, settings block, "
    "record field or batch size), or the terminal's result byte 243",
    OPEN_FAILED: "the serial port could not be opened",
    CLOSE_FAILED: "there was nothing to close, or closing failed",
    PORT_REFUSED: "the serial port refused its settings or is not open, or the link settings are "
    "invalid",
    NO_SERIAL_PORT: "no serial port number is set",
    SOCKET_FAILED: "no TCP socket could be created",
    TCP_FAILED: "the terminal did not answer in time, or the socket layer failed",
    NO_SOCKET: "there is no TCP connection",
    SEND_FAILED: "sending to the terminal failed",
    READ_FAILED: "connecting failed, the connection was closed, or nothing could be read",
    WRONG_TERMINAL: "a terminal with another ID answered",
    BAD_CHECKSUM: "the answer's checksum did not match",
    INVALID_ARGUMENT: "an invalid argument (address, line settings or date), or the terminal sent a "
    "value out of range",
    BUFFER_TOO_SMALL: "the terminal announced more entries than the array holds; the count says "
    "how many (records may have arrived since the count was read)",
}

_LINK_CODES = frozenset(
    {OPEN_FAILED, CLOSE_FAILED, PORT_REFUSED, NO_SERIAL_PORT, SOCKET_FAILED, TCP_FAILED,
     NO_SOCKET, SEND_FAILED, READ_FAILED})
_PROTOCOL_CODES = frozenset({WRONG_TERMINAL, BAD_CHECKSUM, INVALID_ARGUMENT, BUFFER_TOO_SMALL})


def result_text(code: int) -> str:
    """The meaning of a result code in words, as the C header words it."""
    text = _TEXTS.get(code)
    if text is not None:
        return text
    if 0 < code <= 255:
        return "the terminal's own result byte: it refused or failed"
    return "an unknown result code"


class Error(Exception):
    """Base class of every failure the package reports.

    ``code`` is the library's result code (``None`` for a failure that has
    none, such as a second open terminal), ``text`` its meaning in words,
    ``detail`` what went wrong in the caller's terms (may be empty), and
    ``operation`` the library function or package method that failed.
    """

    def __init__(self, code: Optional[int], text: str, detail: str = "",
                 operation: str = "") -> None:
        self.code = code
        self.text = text
        self.detail = detail
        self.operation = operation
        super().__init__(self._message())

    def _message(self) -> str:
        parts = []
        if self.operation:
            parts.append(f"{self.operation}: ")
        if self.detail:
            parts.append(f"{self.detail}: ")
        parts.append(self.text)
        if self.code is not None:
            parts.append(f" (result code {self.code})")
        return "".join(parts)


class TerminalError(Error):
    """The terminal answered with a non-zero result byte (1 to 255): it refused
    or failed the command. What each byte means is the terminal's own."""


class LinkError(Error):
    """No answer, the connection failed or the serial port could not be used."""


class ProtocolError(Error):
    """The answer was wrong: another terminal ID, a bad checksum, data out of
    range (an invalid clock, settings block, record or time stamp), or a
    terminal announcing more entries than the package will hold (code -105:
    above the ceiling, or more than it counted, again and again)."""


class ArgumentError(Error, ValueError):
    """An argument was rejected before anything was sent. ``code`` is the code
    the library gives for the same fault (243 out of range, -104 invalid)."""


class StateError(Error):
    """The call does not fit the package's state: a second terminal opened
    while one is open (the library holds one connection per process), or a
    command on a terminal that is not open."""


class CapacityError(Error, MemoryError):
    """The host had no memory for the entries the terminal announced (a
    ``MemoryError`` caught while sizing the array); nothing was read."""


class LibraryError(Error, OSError):
    """The shared library could not be found or loaded; the text says where
    the package looked."""


def error_for(code: int, operation: str = "", detail: str = "") -> Error:
    """The exception for a non-zero result code returned by the library."""
    if 0 < code <= 255:
        cls = TerminalError
    elif code in _LINK_CODES:
        cls = LinkError
    elif code in _PROTOCOL_CODES:
        cls = ProtocolError
    else:
        cls = Error
    return cls(code, result_text(code), detail, operation)


def argument_error(code: int, detail: str, operation: str = "") -> ArgumentError:
    """An argument rejected before sending, worded with the code's text."""
    return ArgumentError(code, result_text(code), detail, operation)
