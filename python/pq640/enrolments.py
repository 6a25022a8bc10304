"""A terminal's user table and administrator table."""
from __future__ import annotations

import ctypes
import struct
from typing import TYPE_CHECKING, Any, Iterable, List, Optional, Type, TypeVar

from ._library import LOCK
from ._support import (LIST_COUNT, LIST_IDS, LIST_RECORDS, NO_PROGRESS, Callback, Progress,
                       batches, check_ids, result_byte, slots)
from .errors import OUT_OF_RANGE, TerminalError, argument_error
from .records import Admin, User
from .values import MAX_BATCH, RECORD_SLOT_SIZE, check_int

if TYPE_CHECKING:
    from .terminal import Terminal

Record = TypeVar("Record", User, Admin)


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
        self._terminal._call(self._list, 0, ctypes.byref(count), None, LIST_COUNT, NO_PROGRESS)
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
            buffer, got = self._listing(LIST_IDS, 4, None)
            return list(struct.unpack_from(f"<{got}I", buffer))

    def all(self, progress: Optional[Progress] = None) -> List[Record]:
        """Every record, templates and codes included."""
        with LOCK:
            buffer, got = self._listing(LIST_RECORDS, RECORD_SLOT_SIZE, progress)
            if progress is not None:
                progress(got, got)
            return slots(self._type, buffer, got)

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
        id_list = check_ids("IDs", ids)
        if not self._users:
            return [record for record in (self._get_or_none(i) for i in id_list) if record]
        records: List[Record] = []
        with LOCK:
            for batch in batches(id_list):
                count = ctypes.c_uint32(len(batch))
                buffer = (ctypes.c_uint8 * (len(batch) * RECORD_SLOT_SIZE))()
                self._terminal._call("PQ640_GetUsersData", ctypes.byref(count),
                                     (ctypes.c_uint32 * len(batch))(*batch), buffer, NO_PROGRESS)
                records.extend(slots(self._type, buffer, count.value))
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
                    results.append(result_byte(lambda: self._terminal._call(self._add, slot)))
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

        callback = Callback(report)
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
        id_list = check_ids("IDs", ids)
        results = bytearray()
        with LOCK:
            self._terminal._require_open(self._delete)
            for batch in batches(id_list):
                if not self._users:
                    results += bytes(result_byte(
                        lambda i=i: self._terminal._call(self._delete, i)) for i in batch)
                    continue
                out = (ctypes.c_uint8 * len(batch))()
                self._terminal._call("PQ640_DeleteUsersData", len(batch),
                                     (ctypes.c_uint32 * len(batch))(*batch), out, NO_PROGRESS)
                results += bytes(out)
        return bytes(results)

    def clear(self) -> None:
        """Deletes every record of this table."""
        self._terminal._call(self._delete_all)
