"""Records in the project's one vocabulary (docs/records.md): the field names,
CSV columns and JSON objects the admin tool and the collector use too, so the
same records give byte-identical CSV from every tool.

>>> pq640.write_csv(sys.stdout, terminal.io_records())
time,user_id,verification,in_out_state,work_code
2026-12-07 08:00:00,1,0,0,0
"""
from __future__ import annotations

import base64
import binascii
import csv
import json
from typing import Any, Dict, Iterable, List, TextIO, Union

from .errors import OUT_OF_RANGE, argument_error
from .records import Admin, AdminRecord, IORecord, User, text_cell, text_field
from .values import is_valid_date_time

IO_RECORD_COLUMNS = ("time", "user_id", "verification", "in_out_state", "work_code")
ADMIN_RECORD_COLUMNS = ("time", "admin_id", "operation", "target_user_id", "reserved")

_TIME = "%Y-%m-%d %H:%M:%S"
LogRecord = Union[IORecord, AdminRecord]


def record_fields(record: Union[LogRecord, User, Admin]) -> Dict[str, Any]:
    """The record's JSON object, keys in the documented order."""
    if isinstance(record, IORecord):
        return {"time": record.time.strftime(_TIME), "user_id": record.user_id,
                "verification": record.verification, "in_out_state": record.in_out_state,
                "work_code": record.work_code}
    if isinstance(record, AdminRecord):
        fields: Dict[str, Any] = {}
        if is_valid_date_time(record.raw[:6]):
            fields["time"] = record.time.strftime(_TIME)
        else:
            fields["time_hex"] = record.raw[:6].hex()
        fields.update(admin_id=record.admin_id, operation=record.operation,
                      target_user_id=record.target_user_id, reserved=record.raw[15])
        return fields
    if isinstance(record, (User, Admin)):
        fields = {"id": record.id}
        if isinstance(record, Admin):
            fields["level"] = record.level
        fields["templates"] = [base64.b64encode(t).decode("ascii") for t in record.templates]
        text_field(fields, "code", record.code)
        text_field(fields, "info", record.info.rstrip(b"\0"))
        return fields
    raise argument_error(OUT_OF_RANGE, f"not a pq640 record: {type(record).__name__}")


def _text(fields: Dict[str, Any], key: str) -> Union[str, bytes]:
    if key in fields and key + "_hex" in fields:
        raise argument_error(OUT_OF_RANGE, f"give {key!r} or {key + '_hex'!r}, not both")
    if key + "_hex" in fields:
        try:
            return bytes.fromhex(fields[key + "_hex"])
        except (TypeError, ValueError):
            raise argument_error(OUT_OF_RANGE, f"{key}_hex must be hex digits") from None
    value = fields.get(key, "")
    if not isinstance(value, str):
        raise argument_error(OUT_OF_RANGE, f"{key} must be text")
    return value  # the record checks that it is ASCII


def enrolment_from_fields(fields: Dict[str, Any]) -> Union[User, Admin]:
    """A User (or an Admin, when ``level`` is present) from its JSON object."""
    try:
        templates = [base64.b64decode(t, validate=True) for t in fields.get("templates", [])]
    except (TypeError, binascii.Error):
        raise argument_error(OUT_OF_RANGE, "templates must be base64 strings") from None
    common = dict(id=fields.get("id"), templates=templates, code=_text(fields, "code"),
                  info=_text(fields, "info"))
    if "level" in fields:
        return Admin(level=fields["level"], **common)
    return User(**common)


def _row(record: LogRecord) -> List[Any]:
    fields = record_fields(record)
    if "time_hex" in fields:
        fields["time"] = fields.pop("time_hex")
    columns = IO_RECORD_COLUMNS if isinstance(record, IORecord) else ADMIN_RECORD_COLUMNS
    return [fields[c] for c in columns]


def write_csv(out: TextIO, records: Iterable[LogRecord], admin: bool = False) -> int:
    """Writes the header and one line per record (LF line ends); returns the
    number of records. ``admin`` picks the administrator log's header when
    there may be no records to tell the kind by."""
    items = list(records)
    if items:
        admin = isinstance(items[0], AdminRecord)
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(ADMIN_RECORD_COLUMNS if admin else IO_RECORD_COLUMNS)
    for record in items:
        writer.writerow(_row(record))
    return len(items)


def to_json(records: Iterable[Union[LogRecord, User, Admin]], indent: int = 2) -> str:
    """The records as a JSON array of their objects."""
    return json.dumps([record_fields(r) for r in records], indent=indent)


__all__ = ["ADMIN_RECORD_COLUMNS", "IO_RECORD_COLUMNS", "enrolment_from_fields", "record_fields",
           "text_cell", "to_json", "write_csv"]
