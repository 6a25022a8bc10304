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
import re
import struct
from typing import Any, Callable, Iterable, List, Optional, Sequence, Type, TypeVar, Union

from . import _library
from ._library import LOCK, ProgressCallback
from .errors import (BUFFER_TOO_SMALL, INVALID_ARGUMENT, OUT_OF_RANGE, PORT_REFUSED,
                     CapacityError, Error, ProtocolError, StateError, TerminalError,
                     argument_error, error_for, result_text)
from .records import (ANY_IN_OUT_STATE, LOG_RECORD_SIZE, MAX_BATCH, RECORD_SLOT_SIZE,
                      SYSTEM_DATA_SIZE, Admin, AdminRecord, IORecord, Query, User,
                      broken_system_data_rule, check_bytes, check_int, date_time_bytes,
                      date_time_from_bytes)

Progress = Callable[[int, int], Any]
"""``progress(done, total)``: called on the caller's thread while a long
transfer runs, ``done`` rising from 0 to ``total``."""

LINK_SERIAL = 0
LINK_TCP = 1
TCP_PORT = 7413

_LIST_COUNT, _LIST_IDS, _LIST_RECORDS = 0, 1, 2
_ADDRESS = re.compile(r"[0-9]{1,3}(\.[0-9]{1,3}){3}")
_active: Optional["Terminal"] = None
_NO_PROGRESS = ProgressCallback()  # a null callback: the library skips it

Record = TypeVar("Record", User, Admin)


MAX_LOG_RECORDS = 1_000_000
"""Default ceiling on the log records one read allocates for
(:attr:`Terminal.max_log_records`)."""
MAX_ENROLMENTS = 100_000
"""Default ceiling on the users or administrators one listing allocates for
(:attr:`Terminal.max_enrolments`)."""
MAX_REREADS = 3
"""Reads asked again when the terminal announces more entries than it just
counted (a punch between the count and the read) before giving up."""


def _check_address(address: Any) -> str:
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


def _check_serial_port(port: Any) -> int:
    if isinstance(port, str):
        match = re.fullmatch(r"COM([1-9][0-9]?)", port)
        if not match:
            raise argument_error(PORT_REFUSED, f"serial port must be COM1..COM10, got {port!r}")
        port = int(match.group(1))
    return check_int("serial port", port, 1, 10, PORT_REFUSED)


def _check_ids(name: str, ids: Iterable[int]) -> List[int]:
    if isinstance(ids, (int, str, bytes)):
        raise argument_error(OUT_OF_RANGE, f"{name} must be a sequence of IDs")
    return [check_int(name, i, 0, 0xFFFFFFFF) for i in ids]


def _batches(items: Sequence[Any]) -> Iterable[Sequence[Any]]:
    for start in range(0, len(items), MAX_BATCH):
        yield items[start:start + MAX_BATCH]


class _Callback:
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
        return cls(LINK_TCP, address=_check_address(address), terminal_id=terminal_id)

    @classmethod
    def serial(cls, port: Union[int, str], baud_code: int = 2, terminal_id: int = 0) -> "Terminal":
        """A terminal on serial port ``port`` (1..10 or "COM1".."COM10"; on
        Linux "/dev/COMn" when it exists, else "/dev/ttyS<n-1>"), at
        ``baud_code`` 0..6 (2400, 4800, 9600, 19200, 38400, 57600, 115200
        baud; default 9600)."""
        return cls(LINK_SERIAL, port=_check_serial_port(port),
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
            callback = _Callback(None if progress is None else
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
        return self._counted("PQ640_GetIORecordNum", _query(query), detail=str(query or Query.all()))

    def io_records(self, query: Optional[Query] = None,
                   progress: Optional[Progress] = None) -> List[IORecord]:
        """The IO records the query selects (default: all), in the terminal's
        order. ProtocolError when a record's time stamp is no real date, or
        when the terminal sends more records than it counted just before."""
        return self._read_log("PQ640_GetIORecordNum", "PQ640_GetIORecordBounded",
                              [_query(query)], IORecord, progress, "IO records")

    def add_io_record(self, record: IORecord) -> None:
        """Adds one IO record."""
        self._call("PQ640_AddIORecord", _log_bytes(record, IORecord))

    def delete_io_records(self, query: Query) -> None:
        """Deletes the IO records the query selects (``Query.all()`` for every one)."""
        self._call("PQ640_DeleteIORecord", _query(query, required=True), detail=str(query))

    def _users_args(self, ids: Iterable[int], start: _dt.datetime, end: _dt.datetime,
                    selector: int) -> List[Any]:
        id_list = _check_ids("user IDs", ids)
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
        return self._counted("PQ640_GetAdminRecordNum", _query(query),
                             detail=str(query or Query.all()))

    def admin_records(self, query: Optional[Query] = None,
                      progress: Optional[Progress] = None) -> List[AdminRecord]:
        """The administrator log records the query selects (default: all)."""
        return self._read_log("PQ640_GetAdminRecordNum", "PQ640_GetAdminRecordBounded",
                              [_query(query)], AdminRecord, progress,
                              "administrator log records")

    def add_admin_record(self, record: AdminRecord) -> None:
        """Adds one administrator log record."""
        self._call("PQ640_AddAdminRecord", _log_bytes(record, AdminRecord))

    def delete_admin_records(self, query: Query) -> None:
        """Deletes the administrator log records the query selects."""
        self._call("PQ640_DeleteAdminRecord", _query(query, required=True), detail=str(query))


def _query(query: Optional[Query], required: bool = False) -> Any:
    if query is None and not required:
        query = Query.all()
    if not isinstance(query, Query):
        raise argument_error(OUT_OF_RANGE, "query must be a pq640.Query (Query.all() for every "
                             f"record, Query(raw) for 18 raw bytes), got {type(query).__name__}")
    return (ctypes.c_uint8 * len(query.raw)).from_buffer_copy(query.raw)


def _log_bytes(record: Any, kind: type) -> Any:
    if not isinstance(record, kind):
        raise argument_error(OUT_OF_RANGE, f"record must be a pq640.{kind.__name__}, got "
                             f"{type(record).__name__}")
    return (ctypes.c_uint8 * LOG_RECORD_SIZE).from_buffer_copy(record.to_bytes())


class Enrolments:
    """The user table (``terminal.users``) or the administrator table
    (``terminal.admins``) of an open terminal. Records are :class:`User` or
    :class:`Admin` values; lists of any length are sent in batches of up to
    1000."""

    def __init__(self, terminal: Terminal, record_type: Type[Any]) -> None:
        self._terminal = terminal
        self._type = record_type
        self._users = record_type is User
        noun = "User" if self._users else "Admin"
        self._get = f"PQ640_Get{noun}Data"
        self._add = f"PQ640_Add{noun}Data"
        self._delete = f"PQ640_Delete{noun}Data"
        self._delete_all = f"PQ640_DeleteAll{noun}Data"
        self._list = f"PQ640_GetAll{noun}DataBounded"
        self._what = "users" if self._users else "administrators"
        self._noun = "user" if self._users else "administrator"

    def count(self) -> int:
        """The number of records held."""
        count = ctypes.c_uint32(0)
        self._terminal._call(self._list, 0, ctypes.byref(count), None, _LIST_COUNT, _NO_PROGRESS)
        return count.value

    def _listing(self, mode: int, entry_size: int,
                 progress: Optional[Progress]) -> "tuple[bytearray, int]":
        counted = self.count()
        if counted == 0:
            return bytearray(), 0
        return self._terminal._read_bounded(self._list, (), (mode,), counted, entry_size,
                                            self._what, "max_enrolments", progress)

    def ids(self) -> List[int]:
        """The IDs held, in the terminal's order."""
        with LOCK:
            buffer, got = self._listing(_LIST_IDS, 4, None)
            return list(struct.unpack_from(f"<{got}I", buffer))

    def all(self, progress: Optional[Progress] = None) -> List[Record]:
        """Every record, templates and codes included."""
        with LOCK:
            buffer, got = self._listing(_LIST_RECORDS, RECORD_SLOT_SIZE, progress)
            if progress is not None:
                progress(got, got)
            return _slots(self._type, buffer, got)

    def get(self, record_id: int) -> Record:
        """The record with this ID. TerminalError when the terminal does not
        hold it (the simulator answers result byte 7)."""
        slot = (ctypes.c_uint8 * RECORD_SLOT_SIZE).from_buffer_copy(
            struct.pack("<I", check_int("ID", record_id, 0, 0xFFFFFFFF)).ljust(RECORD_SLOT_SIZE,
                                                                              b"\0"))
        self._terminal._call(self._get, slot, detail=f"{self._noun} {record_id}")
        return self._type.from_slot(bytes(slot))

    def get_many(self, ids: Iterable[int]) -> List[Record]:
        """The records of these IDs that the terminal holds, in the order
        asked; unknown IDs are left out."""
        id_list = _check_ids("IDs", ids)
        if not self._users:
            return [record for record in (self._get_or_none(i) for i in id_list) if record]
        records: List[Record] = []
        with LOCK:
            for batch in _batches(id_list):
                count = ctypes.c_uint32(len(batch))
                buffer = (ctypes.c_uint8 * (len(batch) * RECORD_SLOT_SIZE))()
                self._terminal._call("PQ640_GetUsersData", ctypes.byref(count),
                                     (ctypes.c_uint32 * len(batch))(*batch), buffer, _NO_PROGRESS)
                records.extend(_slots(self._type, buffer, count.value))
        return records

    def _get_or_none(self, record_id: int) -> Optional[Record]:
        try:
            return self.get(record_id)
        except TerminalError:
            return None

    def _check_record(self, record: Any) -> Any:
        if not isinstance(record, self._type):
            raise argument_error(OUT_OF_RANGE, f"record must be a pq640.{self._type.__name__}, "
                                 f"got {type(record).__name__}")
        return (ctypes.c_uint8 * RECORD_SLOT_SIZE).from_buffer_copy(record.to_slot())

    def add(self, record: Record) -> None:
        """Enrols one record, replacing a record with the same ID."""
        self._terminal._call(self._add, self._check_record(record),
                             detail=f"{self._noun} {record.id}")

    def add_many(self, records: Iterable[Record],
                 progress: Optional[Progress] = None) -> bytes:
        """Enrols many records and returns the terminal's result byte for each,
        in order (0 enrolled; anything else the terminal's refusal, e.g. 8
        table full or 9 malformed in the simulator). A failure of the
        transfer itself raises."""
        slots = [self._check_record(r) for r in records]
        total = len(slots)
        results = bytearray()
        with LOCK:
            self._terminal._require_open(self._add)
            for start in range(0, total, MAX_BATCH):
                batch = slots[start:start + MAX_BATCH]
                if self._users:
                    results += self._add_users(batch, start, total, progress)
                    continue
                for offset, slot in enumerate(batch):
                    if progress is not None:
                        progress(start + offset, total)
                    results.append(_result_byte(lambda: self._terminal._call(self._add, slot)))
            if progress is not None:
                progress(total, total)
        return bytes(results)

    def _add_users(self, batch: List[Any], start: int, total: int,
                   progress: Optional[Progress]) -> bytes:
        n = len(batch)
        buffer = (ctypes.c_uint8 * (n * RECORD_SLOT_SIZE))()
        for i, slot in enumerate(batch):
            ctypes.memmove(ctypes.byref(buffer, i * RECORD_SLOT_SIZE), slot, RECORD_SLOT_SIZE)
        results = (ctypes.c_uint8 * n)()
        calls = [0]

        def report(_: int, index: int) -> None:
            # The library calls twice per record: before sending it, then
            # before reading its result byte. Only the second pass is progress.
            calls[0] += 1
            if calls[0] > n and progress is not None:
                progress(start + index, total)

        callback = _Callback(report)
        try:
            self._terminal._call("PQ640_AddUsersData", n, buffer, results, callback.function)
        finally:
            callback.reraise()
        return bytes(results)

    def delete(self, record_id: int) -> None:
        """Deletes one record. TerminalError when the terminal does not hold it."""
        self._terminal._call(self._delete, check_int("ID", record_id, 0, 0xFFFFFFFF),
                             detail=f"{self._noun} {record_id}")

    def delete_many(self, ids: Iterable[int]) -> bytes:
        """Deletes many records and returns the terminal's result byte for
        each ID, in order (0 deleted; 7 not held, in the simulator)."""
        id_list = _check_ids("IDs", ids)
        results = bytearray()
        with LOCK:
            self._terminal._require_open(self._delete)
            for batch in _batches(id_list):
                if not self._users:
                    results += bytes(_result_byte(
                        lambda i=i: self._terminal._call(self._delete, i)) for i in batch)
                    continue
                out = (ctypes.c_uint8 * len(batch))()
                self._terminal._call("PQ640_DeleteUsersData", len(batch),
                                     (ctypes.c_uint32 * len(batch))(*batch), out, _NO_PROGRESS)
                results += bytes(out)
        return bytes(results)

    def clear(self) -> None:
        """Deletes every record of this table."""
        self._terminal._call(self._delete_all)


def _result_byte(command: Callable[[], None]) -> int:
    """The terminal's result byte of one command: 0, or the byte it refused with."""
    try:
        command()
    except TerminalError as error:
        assert error.code is not None
        return error.code
    return 0


def _slots(record_type: Type[Any], buffer: Any, count: int) -> List[Any]:
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

