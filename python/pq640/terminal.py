"""One terminal, over TCP or a serial line, as a Python object.

The library holds a single connection state for the whole process, so only
one :class:`Terminal` may be open at a time: opening a second one raises
:class:`~pq640.StateError` instead of silently re-pointing the first. Every
call into the library, and every operation made of several calls (count,
then read), holds one process-wide lock, so threads sharing a terminal
cannot interleave their transactions.
"""
from __future__ import annotations

import ctypes
import datetime as _dt
from typing import Any, Iterable, List, Optional, Sequence, Type, Union

from . import _library
from ._library import LOCK
from ._support import (Callback, Progress, check_address, check_ids, check_serial_port, log_bytes,
                       query_bytes)
from .enrolments import Enrolments
from .errors import (BUFFER_TOO_SMALL, INVALID_ARGUMENT, OUT_OF_RANGE, PORT_REFUSED,
                     CapacityError, Error, ProtocolError, StateError, argument_error, error_for,
                     result_text)
from .records import Admin, AdminRecord, IORecord, Query, User
from .values import (ANY_IN_OUT_STATE, LOG_RECORD_SIZE, MAX_BATCH, SYSTEM_DATA_SIZE,
                     broken_system_data_rule, check_bytes, check_int, date_time_bytes,
                     date_time_from_bytes)

__all__ = ["Enrolments", "LINK_SERIAL", "LINK_TCP", "MAX_ENROLMENTS", "MAX_LOG_RECORDS",
           "MAX_REREADS", "Progress", "TCP_PORT", "Terminal"]

LINK_SERIAL = 0
LINK_TCP = 1
TCP_PORT = 7413

_active: Optional["Terminal"] = None


MAX_LOG_RECORDS = 1_000_000
"""Default ceiling on the log records one read allocates for
(:attr:`Terminal.max_log_records`)."""
MAX_ENROLMENTS = 100_000
"""Default ceiling on the users or administrators one listing allocates for
(:attr:`Terminal.max_enrolments`)."""
MAX_REREADS = 3
"""Reads asked again when the terminal announces more entries than it just
counted (a punch between the count and the read) before giving up."""


class Terminal:
    """A terminal reached over TCP or a serial line.

    Create it with :meth:`tcp` or :meth:`serial` and use it as a context
    manager: the port opens on entry and closes on exit. Every method raises
    a subclass of :class:`~pq640.Error` on failure and returns only on
    success.

    >>> with pq640.Terminal.tcp("127.0.0.1") as terminal:
    ...     terminal.check_link()
    ...     print(terminal.clock)
    """

    def __init__(self, link: int, *, address: Optional[str] = None, port: int = 0,
                 comm_state: int = 0, terminal_id: int = 0) -> None:
        """Use :meth:`tcp` or :meth:`serial`."""
        self._link = link
        self._address = address
        self._port = port
        self._comm_state = comm_state
        self._terminal_id = check_int("terminal ID", terminal_id, 0, 255)
        self.max_log_records = MAX_LOG_RECORDS
        """The most log records one read allocates for; a terminal announcing
        more is refused (ProtocolError, code -105). Raise it for a bigger log."""
        self.max_enrolments = MAX_ENROLMENTS
        """The most users or administrators one listing allocates for."""
        self.users = Enrolments(self, User)
        """The user table: see :class:`Enrolments`."""
        self.admins = Enrolments(self, Admin)
        """The administrator table: see :class:`Enrolments`."""

    @classmethod
    def tcp(cls, address: str, terminal_id: int = 0) -> "Terminal":
        """A terminal at an IPv4 ``address`` (dotted decimal; there is no
        default), port 7413. ``terminal_id`` 0..255 must match the
        terminal's own ID."""
        return cls(LINK_TCP, address=check_address(address), terminal_id=terminal_id)

    @classmethod
    def serial(cls, port: Union[int, str], baud_code: int = 2, terminal_id: int = 0) -> "Terminal":
        """A terminal on serial port ``port`` (1..10 or "COM1".."COM10"; on
        Linux "/dev/COMn" when it exists, else "/dev/ttyS<n-1>"), at
        ``baud_code`` 0..6 (2400, 4800, 9600, 19200, 38400, 57600, 115200
        baud; default 9600)."""
        return cls(LINK_SERIAL, port=check_serial_port(port),
                   comm_state=check_int("baud code", baud_code, 0, 6, PORT_REFUSED),
                   terminal_id=terminal_id)

    # ---- Port lifecycle ----------------------------------------------------

    @property
    def is_open(self) -> bool:
        return _active is self

    @property
    def terminal_id(self) -> int:
        """The ID requests are addressed to (follows :meth:`change_terminal_id`)."""
        return self._terminal_id

    @property
    def comm_state(self) -> int:
        """The line-setting word of the serial port (follows :meth:`update_comm_state`)."""
        return self._comm_state

    def open(self) -> "Terminal":
        """Selects the link and opens the port. Raises StateError when a
        terminal is already open in this process, LinkError when the port
        cannot be opened (nothing stays open then)."""
        global _active
        with LOCK:
            if _active is not None:
                which = "this terminal is" if _active is self else f"{_active!r} is"
                raise StateError(None, "the library holds one connection per process: close the "
                                 "open terminal first", f"{which} already open", "open")
            self._raw("PQ640_SetPortAndCommState", self._link, self._port, self._comm_state)
            self._raw("PQ640_SetTerminalID", self._terminal_id)
            if self._link == LINK_TCP:
                # Always set: the library's own default address must never be used.
                assert self._address is not None
                self._raw("PQ640_SetTerminalIPAddr", self._address.encode("ascii"))
            self._raw("PQ640_OpenPort")
            _active = self
        return self

    def close(self) -> None:
        """Closes the port. The terminal may be opened again later."""
        global _active
        with LOCK:
            if _active is not self:
                return
            _active = None
            self._raw("PQ640_ClosePort")

    def __enter__(self) -> "Terminal":
        return self.open()

    def __exit__(self, kind: Optional[Type[BaseException]], *rest: Any) -> None:
        try:
            self.close()
        except Error:
            if kind is None:
                raise

    def __repr__(self) -> str:
        where = self._address if self._link == LINK_TCP else f"COM{self._port}"
        state = "open" if self.is_open else "closed"
        return f"<pq640.Terminal {where} id {self._terminal_id} {state}>"

    # ---- Calling the library ----------------------------------------------

    def _raw(self, name: str, *args: Any, detail: str = "") -> None:
        with LOCK:
            code = _library.function(name)(*args)
        if code != 0:
            raise error_for(code, name[len("PQ640_"):], detail)

    def _call(self, name: str, *args: Any, detail: str = "") -> None:
        """One library call on this open terminal; ``detail`` names what it
        was about (an ID, a query) in the error."""
        with LOCK:
            self._require_open(name)
            self._raw(name, *args, detail=detail)

    def _require_open(self, name: str) -> None:
        if _active is not self:
            raise StateError(None, "open it first (use it in a with block)",
                             "the terminal is not open", name[len("PQ640_"):])

    def _counted(self, name: str, *args: Any, detail: str = "") -> int:
        count = ctypes.c_uint32(0)
        self._call(name, *args, ctypes.byref(count), detail=detail)
        return count.value

    def _where(self) -> str:
        where = self._address if self._link == LINK_TCP else f"COM{self._port}"
        return f"the terminal at {where}, terminal ID {self._terminal_id}"

    def _read_bounded(self, name: str, leading: Sequence[Any], trailing: Sequence[Any],
                      counted: int, entry_size: int, what: str, ceiling_name: str,
                      progress: Optional[Progress]) -> "tuple[bytearray, int]":
        """One Bounded read into an array sized from ``counted``: the bytes and
        the number of entries read. The call is ``name(*leading, capacity,
        count, array, *trailing, callback)``. When the terminal announces more
        than the array holds, the array is resized to the announced count
        (within the ceiling) and the read asked again, at most MAX_REREADS
        times. The array is handed back as is: records are decoded from it
        without copying it whole."""
        operation = name[len("PQ640_"):]
        ceiling = getattr(self, ceiling_name)
        wanted = counted
        for _ in range(MAX_REREADS + 1):
            if wanted > ceiling:
                raise ProtocolError(
                    BUFFER_TOO_SMALL, result_text(BUFFER_TOO_SMALL),
                    f"{self._where()} announces {wanted} {what}, more than the ceiling of "
                    f"{ceiling} (raise Terminal.{ceiling_name} if that many are real)", operation)
            try:
                buffer = bytearray(max(wanted, 1) * entry_size)
            except MemoryError:
                raise CapacityError(None, "not enough memory",
                                    f"no room for the {wanted} {what} {self._where()} announces",
                                    operation) from None
            array = (ctypes.c_uint8 * len(buffer)).from_buffer(buffer)
            count = ctypes.c_uint32(0)
            callback = Callback(None if progress is None else
                                 (lambda total, index: progress(index, total)))
            with LOCK:
                self._require_open(name)
                code = _library.function(name)(*leading, wanted, ctypes.byref(count), array,
                                               *trailing, callback.function)
            del array  # releases the bytearray's export
            callback.reraise()
            if code == BUFFER_TOO_SMALL:
                wanted = count.value
                continue
            if code != 0:
                raise error_for(code, operation, f"reading {what} from {self._where()}")
            return buffer, min(count.value, wanted)
        raise ProtocolError(BUFFER_TOO_SMALL, result_text(BUFFER_TOO_SMALL),
                            f"{self._where()} announced more {what} than it counted "
                            f"{MAX_REREADS + 1} times in a row (last {wanted})", operation)

    def _read_log(self, num: str, get: str, args: Sequence[Any], record_type: Type[Any],
                  progress: Optional[Progress], what: str) -> List[Any]:
        """Counts, then reads with the Bounded call (the count call's
        arguments, then the capacity)."""
        with LOCK:
            counted = self._counted(num, *args, detail=f"counting {what}")
            if counted == 0:
                if progress is not None:
                    progress(0, 0)
                return []
            buffer, got = self._read_bounded(get, args, (), counted, LOG_RECORD_SIZE, what,
                                             "max_log_records", progress)
            view = memoryview(buffer)
            try:
                return [record_type.from_bytes(view[i * LOG_RECORD_SIZE:(i + 1) * LOG_RECORD_SIZE])
                        for i in range(got)]
            except MemoryError:
                raise CapacityError(None, "not enough memory", f"decoding {got} {what}",
                                    get[len("PQ640_"):]) from None

    # ---- Link and terminal control ---------------------------------------

    def check_link(self) -> None:
        """Runs a bare transaction: returns when the terminal answers."""
        self._call("PQ640_CheckLink")

    def wake_up(self) -> None:
        """Wakes a sleeping terminal on a serial line (takes about 5 s);
        returns at once over TCP."""
        self._call("PQ640_WakeUp")

    @property
    def clock(self) -> _dt.datetime:
        """The terminal's clock, as a naive datetime (the terminal has no
        time zone). ProtocolError when the terminal reports an invalid one."""
        raw = (ctypes.c_uint8 * 6)()
        self._call("PQ640_GetDateTime", raw)
        return date_time_from_bytes(bytes(raw))

    def set_clock(self, when: _dt.datetime) -> None:
        """Sets the terminal's clock to ``when`` (2000..2099; fractions of a
        second are dropped). For the host's time: ``set_clock(datetime.now())``."""
        raw = (ctypes.c_uint8 * 6).from_buffer_copy(date_time_bytes(when, "clock"))
        self._call("PQ640_SetDateTime", raw)

    def system_data(self) -> bytes:
        """The terminal's 256-byte settings block (numbers little-endian).
        ProtocolError when the block read breaks a range rule."""
        raw = (ctypes.c_uint8 * SYSTEM_DATA_SIZE)()
        self._call("PQ640_GetSystemData", raw)
        return bytes(raw)

    def set_system_data(self, block: bytes) -> None:
        """Writes the 256-byte settings block. A block that breaks a range rule
        is refused before sending (ArgumentError naming the offset)."""
        data = check_bytes("settings block", block, (SYSTEM_DATA_SIZE,))
        broken = broken_system_data_rule(data)
        if broken:
            raise argument_error(OUT_OF_RANGE, broken, "set_system_data")
        self._call("PQ640_SetSystemData", (ctypes.c_uint8 * SYSTEM_DATA_SIZE).from_buffer_copy(data))

    def update_comm_state(self, comm_state: int) -> None:
        """Gives the terminal a new line-setting word: baud code 0..4 in bits
        0-3, a field 0..4 in bits 4-6 and a field 0..1 in bits 7-8. Once the
        terminal accepts it the local serial port follows."""
        check_int("line-setting word", comm_state, 0, 0x1FF, INVALID_ARGUMENT)
        if comm_state & 0xF > 4 or (comm_state >> 4) & 0x7 > 4 or comm_state >> 7 > 1:
            raise argument_error(INVALID_ARGUMENT, f"line-setting word {comm_state:#x}: baud code "
                                 "0..4, bits 4-6 0..4, bits 7-8 0..1")
        self._call("PQ640_UpdateCommState", comm_state)
        self._comm_state = comm_state

    def change_terminal_id(self, new_id: int) -> None:
        """Gives the terminal a new ID 0..255; later requests use it."""
        check_int("terminal ID", new_id, 0, 255)
        self._call("PQ640_ChangeTerminalID", new_id)
        self._terminal_id = new_id

    def set_comm_mode(self, mode: int) -> None:
        """The terminal's communication mode, 0..2."""
        self._call("PQ640_SetTermCommMode", check_int("communication mode", mode, 0, 2))

    def set_matching(self, value: int) -> None:
        """The terminal's matching-performance value (one byte, passed on as is)."""
        self._call("PQ640_SetMatchingPerform", check_int("matching value", value, 0, 255))

    def erase(self, *, confirm: bool = False) -> None:
        """Erases everything the terminal stores: users, administrators, both
        logs and its settings. Refused unless ``confirm=True``."""
        if confirm is not True:
            raise argument_error(OUT_OF_RANGE, "erase() wipes the terminal: pass confirm=True",
                                 "erase")
        self._call("PQ640_DeleteAllDataRom")

    # ---- IO log -----------------------------------------------------------

    def io_record_count(self, query: Optional[Query] = None) -> int:
        """The number of IO records the query selects (default: all)."""
        return self._counted("PQ640_GetIORecordNum", query_bytes(query),
                             detail=str(query or Query.all()))

    def io_records(self, query: Optional[Query] = None,
                   progress: Optional[Progress] = None) -> List[IORecord]:
        """The IO records the query selects (default: all), in the terminal's
        order. ProtocolError when a record's time stamp is no real date, or
        when the terminal sends more records than it counted just before."""
        return self._read_log("PQ640_GetIORecordNum", "PQ640_GetIORecordBounded",
                              [query_bytes(query)], IORecord, progress, "IO records")

    def add_io_record(self, record: IORecord) -> None:
        """Adds one IO record."""
        self._call("PQ640_AddIORecord", log_bytes(record, IORecord))

    def delete_io_records(self, query: Query) -> None:
        """Deletes the IO records the query selects (``Query.all()`` for every one)."""
        self._call("PQ640_DeleteIORecord", query_bytes(query, required=True), detail=str(query))

    def _users_args(self, ids: Iterable[int], start: _dt.datetime, end: _dt.datetime,
                    selector: int) -> List[Any]:
        id_list = check_ids("user IDs", ids)
        if not 1 <= len(id_list) <= MAX_BATCH:
            raise argument_error(OUT_OF_RANGE, f"give 1..{MAX_BATCH} user IDs, got {len(id_list)}")
        return [len(id_list), (ctypes.c_uint32 * len(id_list))(*id_list),
                check_int("selector", selector, 0, 255),
                (ctypes.c_uint8 * 6).from_buffer_copy(date_time_bytes(start, "start")),
                (ctypes.c_uint8 * 6).from_buffer_copy(date_time_bytes(end, "end"))]

    def users_io_record_count(self, ids: Iterable[int], start: _dt.datetime, end: _dt.datetime,
                              selector: int = ANY_IN_OUT_STATE) -> int:
        """The number of IO records :meth:`users_io_records` would read."""
        return self._counted("PQ640_GetUsersIORecordNum",
                             *self._users_args(ids, start, end, selector))

    def users_io_records(self, ids: Iterable[int], start: _dt.datetime, end: _dt.datetime,
                         selector: int = ANY_IN_OUT_STATE,
                         progress: Optional[Progress] = None) -> List[IORecord]:
        """The IO records of 1..1000 users from ``start`` to ``end``. The
        terminal filters by ``selector``; in the simulator's layout 0xFF
        takes any in/out state and another value only that state."""
        args = self._users_args(ids, start, end, selector)
        return self._read_log("PQ640_GetUsersIORecordNum", "PQ640_GetUsersIORecordBounded",
                              args, IORecord, progress, "IO records")

    # ---- Administrator log ------------------------------------------------

    def admin_record_count(self, query: Optional[Query] = None) -> int:
        """The number of administrator log records the query selects."""
        return self._counted("PQ640_GetAdminRecordNum", query_bytes(query),
                             detail=str(query or Query.all()))

    def admin_records(self, query: Optional[Query] = None,
                      progress: Optional[Progress] = None) -> List[AdminRecord]:
        """The administrator log records the query selects (default: all)."""
        return self._read_log("PQ640_GetAdminRecordNum", "PQ640_GetAdminRecordBounded",
                              [query_bytes(query)], AdminRecord, progress,
                              "administrator log records")

    def add_admin_record(self, record: AdminRecord) -> None:
        """Adds one administrator log record."""
        self._call("PQ640_AddAdminRecord", log_bytes(record, AdminRecord))

    def delete_admin_records(self, query: Query) -> None:
        """Deletes the administrator log records the query selects."""
        self._call("PQ640_DeleteAdminRecord", query_bytes(query, required=True), detail=str(query))
