"""The fixed sizes of the C header's layouts, and the checks a value passes
before anything is sent: whole numbers and byte strings of the allowed sizes,
text as ASCII, the clock's six bytes, and the settings block's range rules.
A refused value raises ArgumentError with the result code the library itself
would give (243 out of range, -104 invalid).
"""
from __future__ import annotations

import datetime as _dt
from typing import Any, Optional, Sequence, Tuple, Union

from .errors import INVALID_ARGUMENT, OUT_OF_RANGE, argument_error

TEMPLATE_SIZE = 480
MAX_TEMPLATES = 2
MAX_CODE_LENGTH = 10
RECORD_SLOT_SIZE = 988
SYSTEM_DATA_SIZE = 256
LOG_RECORD_SIZE = 16
QUERY_SIZE = 18
MAX_BATCH = 1000
ANY_IN_OUT_STATE = 0xFF

BytesLike = Union[bytes, bytearray, memoryview]


# ---- Argument checks -------------------------------------------------------

def check_int(name: str, value: Any, low: int, high: int, code: int = OUT_OF_RANGE) -> int:
    """``value`` as an int within low..high, or ArgumentError. Booleans and
    floats are refused: ctypes would pass them on as something else."""
    if isinstance(value, bool) or not isinstance(value, int):
        raise argument_error(code, f"{name} must be an int, got {type(value).__name__}")
    if not low <= value <= high:
        raise argument_error(code, f"{name} must be {low}..{high}, got {value}")
    return value


def check_bytes(name: str, value: Any, sizes: Sequence[int], code: int = OUT_OF_RANGE) -> bytes:
    """``value`` as bytes of one of the allowed sizes. A ``str`` is refused:
    its encoding would be a guess."""
    if not isinstance(value, (bytes, bytearray, memoryview)):
        raise argument_error(code, f"{name} must be bytes, got {type(value).__name__}")
    data = bytes(value)
    if len(data) not in sizes:
        wanted = " or ".join(str(s) for s in sizes) if len(sizes) < 4 else (
            f"{min(sizes)}..{max(sizes)}")
        raise argument_error(code, f"{name} must be {wanted} bytes long, got {len(data)}")
    return data


def text_bytes(name: str, value: Any) -> bytes:
    """``str`` (ASCII: a PIN is its digits) or bytes, as bytes."""
    if isinstance(value, str):
        if not value.isascii():
            raise argument_error(OUT_OF_RANGE, f"{name} must be ASCII text or bytes, got "
                                 f"{value!r}")
        return value.encode("ascii")
    if not isinstance(value, (bytes, bytearray, memoryview)):
        raise argument_error(OUT_OF_RANGE, f"{name} must be str (ASCII) or bytes, got "
                             f"{type(value).__name__}")
    return bytes(value)


def code_bytes(value: Any) -> bytes:
    # The code is what a person types on the keypad: "4711" is four bytes.
    data = text_bytes("code", value)
    if len(data) != 0 and not 4 <= len(data) <= MAX_CODE_LENGTH:
        raise argument_error(OUT_OF_RANGE, f"code must be empty or 4..{MAX_CODE_LENGTH} "
                             f"characters (bytes), got {len(data)}: {value!r}")
    return data


# ---- Clock -----------------------------------------------------------------

def is_valid_date_time(raw: BytesLike) -> bool:
    """True when six clock bytes are a real date and time, 2000..2099 (the
    rule the library applies)."""
    year, month, day, hour, minute, second = bytes(raw)
    if hour > 23 or minute > 59 or second > 59 or year > 99 or not 1 <= month <= 12 or day < 1:
        return False
    if month in (4, 6, 9, 11):
        days = 30
    elif month == 2:
        days = 29 if year % 4 == 0 else 28
    else:
        days = 31
    return day <= days


def date_time_bytes(value: Any, name: str = "time") -> bytes:
    """The six clock bytes (YY MM DD hh mm ss) of a datetime in 2000..2099.

    Seconds' fractions are dropped; an aware datetime is first converted to
    the host's local time, the terminal's clock having no zone."""
    if not isinstance(value, _dt.datetime):
        raise argument_error(INVALID_ARGUMENT,
                             f"{name} must be a datetime, got {type(value).__name__}")
    if value.tzinfo is not None:
        value = value.astimezone().replace(tzinfo=None)
    if not 2000 <= value.year <= 2099:
        raise argument_error(INVALID_ARGUMENT, f"{name} must lie in 2000..2099, got {value}")
    return bytes((value.year - 2000, value.month, value.day, value.hour, value.minute,
                  value.second))


def day_bound(value: Any, end: bool) -> Any:
    """A date as the first (or, for an ``end``, the last) second of that day;
    a datetime, or anything else, unchanged (checked later)."""
    if isinstance(value, _dt.date) and not isinstance(value, _dt.datetime):
        return _dt.datetime.combine(value, _dt.time(23, 59, 59) if end else _dt.time())
    return value


def date_time_from_bytes(raw: BytesLike) -> _dt.datetime:
    """The datetime of six clock bytes; ValueError when they are no real date."""
    data = bytes(raw)
    if len(data) != 6 or not is_valid_date_time(data):
        raise ValueError(f"not a valid date and time: {data.hex(' ')}")
    return _dt.datetime(2000 + data[0], data[1], data[2], data[3], data[4], data[5])


# ---- Settings block --------------------------------------------------------

# (offset, width, limit offset or None, low, high): the field at offset lies in
# low..high, high being the 4-byte field at the limit offset when one is given.
# The order is the library's, so the first broken rule is the one it sees.
SYSTEM_DATA_RULES: Tuple[Tuple[int, int, Optional[int], int, int], ...] = (
    (0, 1, None, 0, 30), (1, 1, None, 0, 1), (2, 1, None, 0, 2), (4, 2, None, 0, 99),
    (32, 4, None, 1, 10), (36, 4, 32, 0, 0), (68, 4, 32, 0, 0), (40, 4, None, 0, 1000),
    (44, 4, 40, 0, 0), (64, 4, None, 0, 1000), (48, 4, None, 0, 1000), (52, 4, 48, 0, 0),
    (56, 4, None, 0, 50000), (60, 4, 56, 0, 0))


def _field(block: bytes, offset: int, width: int) -> int:
    return int.from_bytes(block[offset:offset + width], "little")


def broken_system_data_rule(block: BytesLike) -> Optional[str]:
    """Words for the first range rule a 256-byte settings block breaks, or
    None when it keeps them all (the terminal refuses such a block, and the
    library will not send it)."""
    data = check_bytes("settings block", block, (SYSTEM_DATA_SIZE,))
    for offset, width, limit, low, high in SYSTEM_DATA_RULES:
        if limit is not None:
            high = _field(data, limit, 4)
        value = _field(data, offset, width)
        if not low <= value <= high:
            bound = f" (the field at offset {limit})" if limit is not None else ""
            return (f"the {width}-byte field at offset {offset} is {value}, "
                    f"outside {low}..{high}{bound}")
    return None
