"""Records and their byte layouts, without a terminal."""
from __future__ import annotations

import datetime as dt
import struct

import pytest

import pq640
from pq640.values import RECORD_SLOT_SIZE, date_time_bytes

T = dt.datetime


def template(seed: int) -> bytes:
    return bytes((seed * 7 + i) % 256 for i in range(480))


def test_user_slot_layout_and_round_trip() -> None:
    user = pq640.User(0x01020304, (template(1), template(2)), code="123456",
                      info=b"0123456789", reserved=b"\xaa\xbb")
    slot = user.to_slot()
    # Offsets of PQ640_UserData in the public header.
    assert len(slot) == RECORD_SLOT_SIZE
    assert slot[0:4] == b"\x04\x03\x02\x01" and slot[4] == 2
    assert slot[5:485] == template(1) and slot[485:965] == template(2)
    assert slot[965] == 6 and slot[966:976] == b"123456\0\0\0\0"
    assert slot[976:986] == b"0123456789" and slot[986:988] == b"\xaa\xbb"
    assert pq640.User.from_slot(slot) == user
    assert pq640.User.from_slot(slot).to_slot() == slot


def test_admin_slot_layout_and_round_trip() -> None:
    admin = pq640.Admin(77, level=2, templates=[template(3)], code=b"9999", info=b"abc")
    slot = admin.to_slot()
    assert struct.unpack_from("<IBB", slot) == (77, 2, 1)
    assert slot[6:486] == template(3) and slot[486:966] == bytes(480)
    assert slot[966] == 4 and slot[967:971] == b"9999"
    assert slot[977:986] == b"abc" + bytes(6)
    assert pq640.Admin.from_slot(slot) == admin


@pytest.mark.parametrize("make", [
    lambda: pq640.User(1, [template(0)] * 3),                 # three templates
    lambda: pq640.User(1, [template(0)[:479]]),               # short template
    lambda: pq640.User(1, template(0)),                       # one bytes value, not a list
    lambda: pq640.User(1, ["x" * 480]),                       # str template
    lambda: pq640.User(1, code=b"123"),                       # code of 1..3
    lambda: pq640.User(1, code=b"12345678901"),               # code above 10
    lambda: pq640.User(1, info=bytes(11)),
    lambda: pq640.User(2 ** 32),
    lambda: pq640.User(-1),
    lambda: pq640.User(True),                                 # a bool is no ID
    lambda: pq640.User(1.0),                                  # nor a float
    lambda: pq640.Admin(1, level=3),
    lambda: pq640.Admin(1, info=bytes(10)),
    lambda: pq640.IORecord(T(2026, 1, 1), bytes(9)),
    lambda: pq640.AdminRecord(bytes(15)),
    lambda: pq640.Query(bytes(17)),
    lambda: pq640.IORecord.make(T(2026, 1, 1), 2 ** 32),
])
def test_records_refuse_what_the_terminal_cannot_hold(make) -> None:  # type: ignore[no-untyped-def]
    with pytest.raises(pq640.ArgumentError) as caught:
        make()
    assert caught.value.code == 243
    assert caught.value.text == pq640.result_text(243)


def test_times_outside_the_terminals_century_are_refused() -> None:
    for value in (T(1999, 12, 31, 23, 59, 59), T(2100, 1, 1), "2026-01-01 00:00:00"):
        with pytest.raises(pq640.ArgumentError) as caught:
            date_time_bytes(value)
        assert caught.value.code == -104
    assert date_time_bytes(T(2099, 12, 31, 23, 59, 59, 999999)) == bytes((99, 12, 31, 23, 59, 59))


def test_io_record_in_the_simulator_layout() -> None:
    record = pq640.IORecord.make(T(2024, 2, 29, 8, 30, 5), user_id=0x0A0B0C0D, verification=2,
                                 in_out_state=1, work_code=0x01020304)
    raw = record.to_bytes()
    assert raw == bytes((24, 2, 29, 8, 30, 5, 0x0D, 0x0C, 0x0B, 0x0A, 2, 1, 4, 3, 2, 1))
    back = pq640.IORecord.from_bytes(raw)
    assert (back.time, back.user_id, back.verification, back.in_out_state, back.work_code) == (
        T(2024, 2, 29, 8, 30, 5), 0x0A0B0C0D, 2, 1, 0x01020304)
    with pytest.raises(pq640.ArgumentError):
        pq640.IORecord.from_bytes(bytes((23, 2, 29)) + bytes(13))    # 2023 had no 29 February


def test_admin_record_and_queries_in_the_simulator_layout() -> None:
    record = pq640.AdminRecord.make(T(2026, 3, 1, 12), admin_id=3, operation=7, target_user_id=9)
    assert record.raw == bytes((26, 3, 1, 12, 0, 0, 3, 0, 0, 0, 7, 9, 0, 0, 0, 0))
    assert (record.time, record.admin_id, record.operation, record.target_user_id) == (
        T(2026, 3, 1, 12), 3, 7, 9)

    start, end = T(2026, 3, 1), T(2026, 3, 2, 23, 59, 59)
    assert pq640.Query.all().raw == bytes(18)
    assert pq640.Query.between(start, end).raw == (
        b"\x01" + bytes((26, 3, 1, 0, 0, 0, 26, 3, 2, 23, 59, 59)) + bytes(5))
    assert pq640.Query.user(0x0102).raw == b"\x02" + bytes(12) + b"\x02\x01\0\0\0"
    assert pq640.Query.user(5, start, end).raw[0] == 3
    with pytest.raises(pq640.ArgumentError):
        pq640.Query.user(5, start)


def test_settings_block_rules_name_the_broken_field() -> None:
    block = bytearray(256)
    block[32] = 5            # the group limit at offset 32 must be 1..10
    assert pq640.broken_system_data_rule(bytes(block)) is None
    block[36] = 6            # limited by the field at offset 32
    assert "offset 36" in pq640.broken_system_data_rule(bytes(block))
    block[0] = 31
    assert "offset 0" in pq640.broken_system_data_rule(bytes(block))   # first rule first
