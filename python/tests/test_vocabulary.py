"""The records' one vocabulary (docs/records.md) and the package's own words:
PINs and info as text, repr without template bytes, dates in queries, errors
that name what they were about, and the example's CSV."""
from __future__ import annotations

import datetime as dt
import io
import os
import subprocess
import sys

import pytest

import pq640

from conftest import PYTHON_DIR


def template(seed: int) -> bytes:
    return bytes((seed * 11 + i) % 256 for i in range(480))


def test_code_and_info_take_text_and_bytes_alike() -> None:
    assert pq640.User(20, code="12345678").code == b"12345678"     # a PIN is its digits
    assert pq640.User(20, code="1234").code == b"1234"
    assert pq640.User(5, info="Alice") == pq640.User(5, info=b"Alice")
    assert pq640.Admin(5, info="Boss").info == b"Boss" + bytes(5)
    with pytest.raises(pq640.ArgumentError, match=r"code must be empty or 4\.\.10 characters"):
        pq640.User(5, code="12")
    with pytest.raises(pq640.ArgumentError, match=r"info must be at most 9 characters"):
        pq640.Admin(5, info="ten chars!")
    with pytest.raises(pq640.ArgumentError, match="ASCII"):
        pq640.User(5, info="café")


def test_repr_counts_templates_instead_of_dumping_them() -> None:
    user = pq640.User(7, (template(1), template(2)), code="4711", info="Demo user")
    assert repr(user) == "User(id=7, templates=<2>, code='4711', info='Demo user')"
    assert repr(pq640.Admin(1, 2, code=b"\x01\x02\x03\x04")) == (
        "Admin(id=1, level=2, templates=<0>, code='hex:01020304', info='')")


def test_between_takes_dates_as_whole_days() -> None:
    day = dt.date(2026, 3, 14)
    assert pq640.Query.between(day, day) == pq640.Query.between(
        dt.datetime(2026, 3, 14), dt.datetime(2026, 3, 14, 23, 59, 59))
    assert str(pq640.Query.between(day, day)) == (
        "query: from 2026-03-14 00:00:00 to 2026-03-14 23:59:59")


def test_fields_and_csv_follow_the_documented_vocabulary() -> None:
    record = pq640.IORecord.make(dt.datetime(2026, 3, 14, 8, 0, 5), 42, 1, 0, 7)
    assert pq640.record_fields(record) == {
        "time": "2026-03-14 08:00:05", "user_id": 42, "verification": 1, "in_out_state": 0,
        "work_code": 7}
    out = io.StringIO()
    assert pq640.write_csv(out, [record]) == 1
    assert out.getvalue() == ("time,user_id,verification,in_out_state,work_code\n"
                              "2026-03-14 08:00:05,42,1,0,7\n")
    odd = pq640.AdminRecord(bytes(range(0xE0, 0xF0)))           # time bytes that are no date
    out = io.StringIO()
    pq640.write_csv(out, [odd])
    assert out.getvalue().splitlines()[1] == "e0e1e2e3e4e5,3924355046,234,4008570091,239"
    assert pq640.record_fields(odd)["time_hex"] == "e0e1e2e3e4e5"


def test_enrolment_fields_come_back_identical() -> None:
    for record in (pq640.User(7, (template(3),), code="4711", info="Demo user"),
                   pq640.Admin(2, 1, code=b"\x00\x01\x02\x03", info=b"\xff\x00abc"),
                   pq640.User(9, info="hex:41")):            # text that looks like the hex form
        fields = pq640.record_fields(record)
        assert pq640.enrolment_from_fields(fields) == record
    assert pq640.record_fields(pq640.User(7, code="4711", info="Demo user")) == {
        "id": 7, "templates": [], "code": "4711", "info": "Demo user"}
    assert pq640.record_fields(pq640.User(9, info="hex:41"))["info_hex"] == "6865783a3431"


def test_errors_name_the_id_and_the_query(simulators) -> None:
    sim = simulators("tcp", "--users", "2")
    with sim.terminal() as terminal:
        with pytest.raises(pq640.TerminalError) as caught:
            terminal.users.get(999999)
        assert "GetUserData: user 999999:" in str(caught.value)
        with pytest.raises(pq640.TerminalError, match="administrator 77"):
            terminal.admins.delete(77)


def _example(*args: str) -> subprocess.CompletedProcess:  # type: ignore[type-arg]
    env = dict(os.environ)
    env.pop("PYTHONPATH", None)     # the example finds the package beside itself
    return subprocess.run([sys.executable, str(PYTHON_DIR / "examples/io_records_to_csv.py"),
                           *args], env=env, capture_output=True, text=True, timeout=60)


def test_example_refuses_to_overwrite_with_a_message(simulators, tmp_path) -> None:
    sim = simulators("tcp", "--io-records", "5")
    target = tmp_path / "day.csv"
    target.write_text("keep me\n")
    result = _example("--tcp", sim.address, "--out", str(target))
    assert result.returncode == 2
    assert result.stderr == f"io_records_to_csv: {target} exists; not overwritten (remove it or " \
                            "choose another --out)\n"
    assert target.read_text() == "keep me\n"
    assert sim.transactions() == []                           # checked before any contact
    fresh = tmp_path / "fresh.csv"
    assert _example("--tcp", sim.address, "--out", str(fresh)).returncode == 0
    assert fresh.read_text().startswith("time,user_id,verification,in_out_state,work_code\n")
