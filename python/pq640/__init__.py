"""pq640 — the enrolment and attendance terminal from Python.

A safe layer over the pq640 shared library: one :class:`Terminal` per
process, records as validated dataclasses, result codes as exceptions.

>>> import pq640
>>> with pq640.Terminal.tcp("127.0.0.1") as terminal:
...     terminal.check_link()
...     for user in terminal.users.all():
...         print(user.id, len(user.templates))

The shared library is found through ``PQ640_LIBRARY`` when set, then as a
copy installed beside this package, then on the system's library path.
"""
from .errors import (BUFFER_TOO_SMALL, ArgumentError, CapacityError, Error, LibraryError,
                     LinkError, ProtocolError, StateError, TerminalError, result_text)
from .export import (ADMIN_RECORD_COLUMNS, IO_RECORD_COLUMNS, enrolment_from_fields,
                     record_fields, to_json, write_csv)
from .records import Admin, AdminRecord, IORecord, Query, User
from .values import ANY_IN_OUT_STATE, MAX_BATCH, broken_system_data_rule
from .terminal import MAX_ENROLMENTS, MAX_LOG_RECORDS, Enrolments, Progress, Terminal

__version__ = "1.0.0"

__all__ = [
    "ADMIN_RECORD_COLUMNS", "ANY_IN_OUT_STATE", "BUFFER_TOO_SMALL", "IO_RECORD_COLUMNS",
    "MAX_BATCH", "MAX_ENROLMENTS", "MAX_LOG_RECORDS", "Admin", "AdminRecord", "ArgumentError",
    "CapacityError", "Enrolments", "Error", "IORecord", "LibraryError", "LinkError", "Progress",
    "ProtocolError", "Query", "StateError", "Terminal", "TerminalError", "User",
    "broken_system_data_rule", "enrolment_from_fields", "record_fields", "result_text",
    "to_json", "write_csv",
]
