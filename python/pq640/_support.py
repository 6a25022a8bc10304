"""What the terminal and its tables share: argument checks made before
anything is sent, batching, progress callbacks that carry the caller's
exceptions across the library, and the decoding of record slots."""
from __future__ import annotations

import ctypes
import re
from typing import Any, Callable, Iterable, List, Optional, Sequence, Type

from ._library import ProgressCallback
from .errors import (INVALID_ARGUMENT, OUT_OF_RANGE, PORT_REFUSED, Error, ProtocolError,
                     TerminalError, argument_error, result_text)
from .records import Query
from .values import LOG_RECORD_SIZE, MAX_BATCH, RECORD_SLOT_SIZE, check_int

Progress = Callable[[int, int], Any]
"""``progress(done, total)``: called on the caller's thread while a long
transfer runs, ``done`` rising from 0 to ``total``."""

# The listing calls' modes: count only, IDs, whole records.
LIST_COUNT, LIST_IDS, LIST_RECORDS = 0, 1, 2
NO_PROGRESS = ProgressCallback()  # a null callback: the library skips it
_ADDRESS = re.compile(r"[0-9]{1,3}(\.[0-9]{1,3}){3}")


def check_ids(name: str, ids: Iterable[int]) -> List[int]:
    if isinstance(ids, (int, str, bytes)):
        raise argument_error(OUT_OF_RANGE, f"{name} must be a sequence of IDs")
    return [check_int(name, i, 0, 0xFFFFFFFF) for i in ids]


def batches(items: Sequence[Any]) -> Iterable[Sequence[Any]]:
    for start in range(0, len(items), MAX_BATCH):
        yield items[start:start + MAX_BATCH]


class Callback:
    """A progress callback for one library call. Exceptions raised by the
    caller's ``progress`` cannot cross the library, so they are kept and
    raised once the call has returned."""

    def __init__(self, report: Optional[Callable[[int, int], None]]) -> None:
        self._report = report
        self.error: Optional[BaseException] = None
        self.largest_total = 0
        self.function = ProgressCallback(self._called)

    def _called(self, total: int, index: int) -> None:
        self.largest_total = max(self.largest_total, total)
        if self._report is None or self.error is not None:
            return
        try:
            self._report(total, index)
        except BaseException as error:  # noqa: BLE001 - re-raised after the call
            self.error = error

    def reraise(self) -> None:
        if self.error is not None:
            raise self.error


def result_byte(command: Callable[[], None]) -> int:
    """The terminal's result byte of one command: 0, or the byte it refused with."""
    try:
        command()
    except TerminalError as error:
        assert error.code is not None
        return error.code
    return 0


def slots(record_type: Type[Any], buffer: Any, count: int) -> List[Any]:
    view = memoryview(buffer).cast("B")
    records = []
    for i in range(count):
        slot = view[i * RECORD_SLOT_SIZE:(i + 1) * RECORD_SLOT_SIZE]
        try:
            records.append(record_type.from_slot(slot))
        except Error as error:
            raise ProtocolError(INVALID_ARGUMENT, result_text(INVALID_ARGUMENT),
                                f"record {i} is malformed ({error.detail})") from None
    return records


def check_address(address: Any) -> str:
    if not isinstance(address, str):
        raise argument_error(INVALID_ARGUMENT, "address must be a str such as '127.0.0.1', got "
                             f"{type(address).__name__}")
    fields = address.split(".")
    # The library's own rule: leading zeros are decimal, and the two
    # broadcast-like addresses are no terminal.
    if (not _ADDRESS.fullmatch(address) or any(int(f) > 255 for f in fields)
            or all(int(f) == 0 for f in fields) or all(int(f) == 255 for f in fields)):
        raise argument_error(INVALID_ARGUMENT,
                             f"address must be four decimal fields 0..255, got {address!r}")
    return address


def check_serial_port(port: Any) -> int:
    if isinstance(port, str):
        match = re.fullmatch(r"COM([1-9][0-9]?)", port)
        if not match:
            raise argument_error(PORT_REFUSED, f"serial port must be COM1..COM10, got {port!r}")
        port = int(match.group(1))
    return check_int("serial port", port, 1, 10, PORT_REFUSED)


def query_bytes(query: Optional[Query], required: bool = False) -> Any:
    if query is None and not required:
        query = Query.all()
    if not isinstance(query, Query):
        raise argument_error(OUT_OF_RANGE, "query must be a pq640.Query (Query.all() for every "
                             f"record, Query(raw) for 18 raw bytes), got {type(query).__name__}")
    return (ctypes.c_uint8 * len(query.raw)).from_buffer_copy(query.raw)


def log_bytes(record: Any, kind: type) -> Any:
    if not isinstance(record, kind):
        raise argument_error(OUT_OF_RANGE, f"record must be a pq640.{kind.__name__}, got "
                             f"{type(record).__name__}")
    return (ctypes.c_uint8 * LOG_RECORD_SIZE).from_buffer_copy(record.to_bytes())
