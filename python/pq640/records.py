"""The terminal's records as Python values, and their fixed byte layouts.

User and administrator records travel in 988-byte slots, log records in 16
bytes and log queries in 18: the layouts of the C header. Every record
validates on construction, so a value the terminal cannot hold is refused
before anything is sent, with the result code the library itself would give
(243 out of range, -104 invalid).

The ten bytes after an IO record's time stamp, the administrator log records
and the log query are defined by the terminal; the helpers here decode and
build them in the layout the simulator documents (integers little-endian).
"""
from __future__ import annotations

import datetime as _dt
import struct
from dataclasses import dataclass, field
from typing import Any, Optional, Tuple, Union

from .errors import INVALID_ARGUMENT, OUT_OF_RANGE, argument_error
from .values import (LOG_RECORD_SIZE, MAX_CODE_LENGTH, MAX_TEMPLATES, QUERY_SIZE,
                     RECORD_SLOT_SIZE, TEMPLATE_SIZE, BytesLike, check_bytes, check_int,
                     code_bytes, date_time_bytes, date_time_from_bytes, day_bound,
                     is_valid_date_time, text_bytes)


# ---- Enrolment records -----------------------------------------------------

def _templates(value: Any) -> Tuple[bytes, ...]:
    if isinstance(value, (bytes, bytearray, memoryview, str)):
        raise argument_error(OUT_OF_RANGE, "templates must be a sequence of 480-byte templates, "
                             "not one bytes value")
    items = tuple(value)
    if len(items) > MAX_TEMPLATES:
        raise argument_error(OUT_OF_RANGE, f"at most {MAX_TEMPLATES} templates, got {len(items)}")
    return tuple(check_bytes(f"template {i}", t, (TEMPLATE_SIZE,)) for i, t in enumerate(items))


def _info(value: Any, size: int) -> bytes:
    data = text_bytes("info", value)
    if len(data) > size:
        raise argument_error(OUT_OF_RANGE, f"info must be at most {size} characters (bytes), "
                             f"got {len(data)}: {value!r}")
    return data.ljust(size, b"\0")


def _printable(data: bytes) -> bool:
    return all(0x20 <= b <= 0x7E for b in data) and not data.startswith(b"hex:")


def text_field(fields: dict, key: str, data: bytes) -> None:
    """``key`` as text when printable ASCII, else ``key_hex`` (docs/records.md)."""
    if _printable(data):
        fields[key] = data.decode("ascii")
    else:
        fields[key + "_hex"] = data.hex()


def text_cell(data: bytes) -> str:
    """The CSV cell of a code or info: the text, or "hex:" and the hex digits."""
    return data.decode("ascii") if _printable(data) else "hex:" + data.hex()


def _enrolment_repr(record: Any) -> str:
    # Template bytes would fill a screen: only their number is shown.
    level = f", level={record.level}" if hasattr(record, "level") else ""
    return (f"{type(record).__name__}(id={record.id}{level}, templates=<{len(record.templates)}>, "
            f"code={text_cell(record.code)!r}, info={text_cell(record.info.rstrip(bytes(1)))!r})")


def _pack_body(out: bytearray, offset: int, templates: Tuple[bytes, ...], code: bytes,
               info: bytes, reserved: bytes) -> None:
    out[offset] = len(templates)
    for i, template in enumerate(templates):
        start = offset + 1 + i * TEMPLATE_SIZE
        out[start:start + TEMPLATE_SIZE] = template
    code_at = offset + 1 + MAX_TEMPLATES * TEMPLATE_SIZE
    out[code_at] = len(code)
    out[code_at + 1:code_at + 1 + len(code)] = code
    info_at = code_at + 1 + MAX_CODE_LENGTH
    out[info_at:info_at + len(info)] = info
    out[RECORD_SLOT_SIZE - 2:] = reserved


def _unpack_body(slot: bytes, offset: int, info_size: int) -> dict:
    count = slot[offset]
    code_at = offset + 1 + MAX_TEMPLATES * TEMPLATE_SIZE
    code_length = slot[code_at]
    if count > MAX_TEMPLATES or code_length > MAX_CODE_LENGTH:
        raise argument_error(INVALID_ARGUMENT, f"slot holds template count {count} and code "
                             f"length {code_length}")
    info_at = code_at + 1 + MAX_CODE_LENGTH
    return dict(
        templates=tuple(slot[offset + 1 + i * TEMPLATE_SIZE:offset + 1 + (i + 1) * TEMPLATE_SIZE]
                        for i in range(count)),
        code=slot[code_at + 1:code_at + 1 + code_length],
        info=slot[info_at:info_at + info_size],
        reserved=slot[RECORD_SLOT_SIZE - 2:])


def _slot(value: Any) -> bytes:
    return check_bytes("slot", value, (RECORD_SLOT_SIZE,), INVALID_ARGUMENT)


@dataclass(frozen=True)
class User:
    """An enrolled user.

    ``id``: 0..2**32-1. ``templates``: up to two matching templates of 480
    bytes each. ``code``: the keypad code, empty or 4..10 characters, as
    ASCII ``str`` ("4711" is four bytes) or bytes; held as bytes. ``info``: up
    to ten characters, ``str`` or bytes; held as bytes padded with zeros to
    ten. ``reserved``: the slot's last two bytes. ``repr`` shows the number
    of templates, not their bytes.
    """

    id: int
    templates: Tuple[bytes, ...] = ()
    code: bytes = b""
    info: bytes = bytes(10)
    reserved: bytes = field(default=bytes(2), repr=False)

    INFO_SIZE = 10

    __repr__ = _enrolment_repr

    def __post_init__(self) -> None:
        set_ = object.__setattr__
        set_(self, "id", check_int("user ID", self.id, 0, 0xFFFFFFFF))
        set_(self, "templates", _templates(self.templates))
        set_(self, "code", code_bytes(self.code))
        set_(self, "info", _info(self.info, self.INFO_SIZE))
        set_(self, "reserved", check_bytes("reserved", self.reserved, (2,)))

    def to_slot(self) -> bytes:
        """The record's 988-byte slot (unused template and code bytes zero)."""
        out = bytearray(RECORD_SLOT_SIZE)
        struct.pack_into("<I", out, 0, self.id)
        _pack_body(out, 4, self.templates, self.code, self.info, self.reserved)
        return bytes(out)

    @classmethod
    def from_slot(cls, slot: BytesLike) -> "User":
        """The record in a 988-byte slot (bytes beyond the counts in use are
        ignored)."""
        data = _slot(slot)
        return cls(id=struct.unpack_from("<I", data, 0)[0], **_unpack_body(data, 4, cls.INFO_SIZE))


@dataclass(frozen=True)
class Admin:
    """An enrolled administrator: as :class:`User`, with a ``level`` 0..2 and
    nine bytes of ``info``."""

    id: int
    level: int = 0
    templates: Tuple[bytes, ...] = ()
    code: bytes = b""
    info: bytes = bytes(9)
    reserved: bytes = field(default=bytes(2), repr=False)

    INFO_SIZE = 9

    __repr__ = _enrolment_repr

    def __post_init__(self) -> None:
        set_ = object.__setattr__
        set_(self, "id", check_int("administrator ID", self.id, 0, 0xFFFFFFFF))
        set_(self, "level", check_int("level", self.level, 0, 2))
        set_(self, "templates", _templates(self.templates))
        set_(self, "code", code_bytes(self.code))
        set_(self, "info", _info(self.info, self.INFO_SIZE))
        set_(self, "reserved", check_bytes("reserved", self.reserved, (2,)))

    def to_slot(self) -> bytes:
        """The record's 988-byte slot (unused template and code bytes zero)."""
        out = bytearray(RECORD_SLOT_SIZE)
        struct.pack_into("<IB", out, 0, self.id, self.level)
        _pack_body(out, 5, self.templates, self.code, self.info, self.reserved)
        return bytes(out)

    @classmethod
    def from_slot(cls, slot: BytesLike) -> "Admin":
        """The record in a 988-byte slot."""
        data = _slot(slot)
        record_id, level = struct.unpack_from("<IB", data, 0)
        return cls(id=record_id, level=level, **_unpack_body(data, 5, cls.INFO_SIZE))


# ---- Event logs ------------------------------------------------------------

@dataclass(frozen=True)
class IORecord:
    """An IO log record: a time stamp and ten bytes the terminal defines.

    In the layout the simulator documents those ten bytes are the user ID
    (4), the verification method (1), the in/out state (1) and a work code
    (4); :meth:`make` builds them and the properties read them.
    """

    time: _dt.datetime
    data: bytes = bytes(10)

    def __post_init__(self) -> None:
        date_time_bytes(self.time, "IO record time")
        if self.time.tzinfo is not None or self.time.microsecond:
            object.__setattr__(self, "time", date_time_from_bytes(date_time_bytes(self.time)))
        object.__setattr__(self, "data", check_bytes("IO record data", self.data, (10,)))

    @classmethod
    def make(cls, time: _dt.datetime, user_id: int, verification: int = 0,
             in_out_state: int = 0, work_code: int = 0) -> "IORecord":
        """A record in the simulator's layout."""
        return cls(time, struct.pack(
            "<IBBI", check_int("user ID", user_id, 0, 0xFFFFFFFF),
            check_int("verification", verification, 0, 255),
            check_int("in/out state", in_out_state, 0, 255),
            check_int("work code", work_code, 0, 0xFFFFFFFF)))

    @property
    def user_id(self) -> int:
        return struct.unpack_from("<I", self.data, 0)[0]

    @property
    def verification(self) -> int:
        return self.data[4]

    @property
    def in_out_state(self) -> int:
        return self.data[5]

    @property
    def work_code(self) -> int:
        return struct.unpack_from("<I", self.data, 6)[0]

    def to_bytes(self) -> bytes:
        """The 16 bytes of the record."""
        return date_time_bytes(self.time) + self.data

    @classmethod
    def from_bytes(cls, raw: BytesLike) -> "IORecord":
        """The record of 16 bytes; ArgumentError when its time is no real date."""
        data = check_bytes("IO record", raw, (LOG_RECORD_SIZE,), INVALID_ARGUMENT)
        if not is_valid_date_time(data[:6]):
            raise argument_error(INVALID_ARGUMENT,
                                 f"IO record time is not a valid date: {data[:6].hex(' ')}")
        return cls(date_time_from_bytes(data[:6]), data[6:])


@dataclass(frozen=True)
class AdminRecord:
    """An administrator log record: 16 bytes the terminal defines, passed
    through unchecked. In the simulator's layout: time stamp (6),
    administrator ID (4), operation (1), target user ID (4), reserved (1);
    :meth:`make` builds that and the properties read it."""

    raw: bytes

    def __post_init__(self) -> None:
        object.__setattr__(self, "raw", check_bytes("administrator record", self.raw,
                                                    (LOG_RECORD_SIZE,)))

    @classmethod
    def make(cls, time: _dt.datetime, admin_id: int, operation: int = 0,
             target_user_id: int = 0) -> "AdminRecord":
        """A record in the simulator's layout."""
        return cls(date_time_bytes(time) + struct.pack(
            "<IBIx", check_int("administrator ID", admin_id, 0, 0xFFFFFFFF),
            check_int("operation", operation, 0, 255),
            check_int("target user ID", target_user_id, 0, 0xFFFFFFFF)))

    @property
    def time(self) -> _dt.datetime:
        """The time stamp; ValueError when the bytes are no real date."""
        return date_time_from_bytes(self.raw[:6])

    @property
    def admin_id(self) -> int:
        return struct.unpack_from("<I", self.raw, 6)[0]

    @property
    def operation(self) -> int:
        return self.raw[10]

    @property
    def target_user_id(self) -> int:
        return struct.unpack_from("<I", self.raw, 11)[0]

    def to_bytes(self) -> bytes:
        return self.raw

    @classmethod
    def from_bytes(cls, raw: BytesLike) -> "AdminRecord":
        return cls(bytes(raw))


@dataclass(frozen=True)
class Query:
    """The 18-byte log query. The terminal interprets it; build it with
    :meth:`all`, :meth:`between` or :meth:`user` in the simulator's layout
    (kind, from, to, user ID, reserved), or give the raw bytes for a terminal
    that defines them differently: ``Query(raw)``."""

    raw: bytes = bytes(QUERY_SIZE)

    ALL = 0
    TIME_RANGE = 1
    ONE_USER = 2
    ONE_USER_IN_TIME_RANGE = 3

    def __post_init__(self) -> None:
        object.__setattr__(self, "raw", check_bytes("query", self.raw, (QUERY_SIZE,)))

    @classmethod
    def _build(cls, kind: int, start: Optional[_dt.datetime], end: Optional[_dt.datetime],
               user_id: int) -> "Query":
        times = (date_time_bytes(start, "start") + date_time_bytes(end, "end")
                 if start is not None and end is not None else bytes(12))
        return cls(bytes((kind,)) + times
                   + struct.pack("<Ix", check_int("user ID", user_id, 0, 0xFFFFFFFF)))

    @classmethod
    def all(cls) -> "Query":
        """Every record."""
        return cls._build(cls.ALL, None, None, 0)

    @classmethod
    def between(cls, start: Union[_dt.date, _dt.datetime],
                end: Union[_dt.date, _dt.datetime]) -> "Query":
        """Records from ``start`` to ``end``, both included. A date as
        ``start`` means its first second, as ``end`` its last:
        ``Query.between(day, day)`` is that whole day."""
        return cls._build(cls.TIME_RANGE, day_bound(start, False), day_bound(end, True), 0)

    @classmethod
    def user(cls, user_id: int, start: Optional[_dt.datetime] = None,
             end: Optional[_dt.datetime] = None) -> "Query":
        """Records of one user (administrator, in the administrator log),
        optionally from ``start`` to ``end`` (give both or neither)."""
        if (start is None) != (end is None):
            raise argument_error(INVALID_ARGUMENT, "give both start and end, or neither")
        kind = cls.ONE_USER if start is None else cls.ONE_USER_IN_TIME_RANGE
        return cls._build(kind, None if start is None else day_bound(start, False),
                          None if end is None else day_bound(end, True), user_id)

    @property
    def kind(self) -> int:
        return self.raw[0]

    def __str__(self) -> str:
        """What the query selects, in the simulator's layout (for messages)."""
        def when(at: int) -> str:
            raw = self.raw[at:at + 6]
            return (date_time_from_bytes(raw).isoformat(sep=" ") if is_valid_date_time(raw)
                    else raw.hex())
        user = struct.unpack_from("<I", self.raw, 13)[0]
        span = f"from {when(1)} to {when(7)}"
        return {self.ALL: "query: every record", self.TIME_RANGE: f"query: {span}",
                self.ONE_USER: f"query: user {user}",
                self.ONE_USER_IN_TIME_RANGE: f"query: user {user} {span}"}.get(
                    self.kind, f"query {self.raw.hex()}")
