"""Reads against a terminal that announces more entries than it counted
(the simulator's --count-surplus K, as if punches arrived between the count
and the read): no overflow, no crash, a resized read or a clear error; and
the memory a large read takes."""
from __future__ import annotations

import datetime as dt
import tracemalloc

import pytest

import pq640

USERS, ADMINS, IO_RECORDS, ADMIN_RECORDS = 5, 2, 40, 6


def _reads(terminal: pq640.Terminal):  # type: ignore[no-untyped-def]
    return {
        "io_records": (terminal.io_records, IO_RECORDS, "IO records", "max_log_records"),
        "admin_records": (terminal.admin_records, ADMIN_RECORDS, "administrator log records",
                          "max_log_records"),
        "users_io_records": (lambda: terminal.users_io_records(
            range(1, USERS + 1), dt.datetime(2000, 1, 1), dt.datetime(2099, 12, 31)),
            None, "IO records", "max_log_records"),
        "users": (terminal.users.all, USERS, "users", "max_enrolments"),
        "user_ids": (terminal.users.ids, USERS, "users", "max_enrolments"),
        "admins": (terminal.admins.all, ADMINS, "administrators", "max_enrolments"),
    }


@pytest.mark.parametrize("surplus", [1, 100])
def test_a_small_surplus_is_read_after_resizing(simulators, surplus: int) -> None:
    sim = simulators("tcp", "--users", str(USERS), "--admins", str(ADMINS), "--io-records",
                     str(IO_RECORDS), "--admin-records", str(ADMIN_RECORDS),
                     "--count-surplus", str(surplus))
    with sim.terminal() as terminal:
        for name, (read, counted, _, _) in _reads(terminal).items():
            got = read()
            if counted is not None:
                # The simulator repeats its last entry as the surplus.
                assert len(got) == counted + surplus, name
                assert got[-1] == got[counted - 1], name
        terminal.check_link()          # the link is fine after every read


@pytest.mark.parametrize("surplus", [100_000, 0xFFFFFFFF])
def test_a_huge_surplus_fails_that_read_clearly(simulators, surplus: int) -> None:
    sim = simulators("tcp", "--users", str(USERS), "--admins", str(ADMINS), "--io-records",
                     str(IO_RECORDS), "--admin-records", str(ADMIN_RECORDS),
                     "--count-surplus", str(surplus))
    with sim.terminal() as terminal:
        for name, (read, counted, what, ceiling) in _reads(terminal).items():
            if name == "users_io_records" and surplus == 100_000:
                continue  # a stall there waits out the command's 30 s read wait
            with pytest.raises(pq640.Error) as caught:
                read()
            announced = min((counted or 0) + surplus, 0xFFFFFFFF)
            if announced > getattr(terminal, ceiling):
                # Refused before allocating, naming terminal, count and ceiling.
                assert caught.value.code == pq640.BUFFER_TOO_SMALL, name
                assert f"{what}, more than the ceiling of {getattr(terminal, ceiling)}" in str(
                    caught.value), name
                assert sim.address in str(caught.value)
            else:
                # Within the ceiling: resized, then the answer ends short.
                assert isinstance(caught.value, (pq640.LinkError, pq640.ProtocolError)), name
        terminal.check_link()


def test_a_raised_ceiling_that_memory_cannot_meet_is_a_package_error(simulators) -> None:
    sim = simulators("tcp", "--io-records", "3", "--count-surplus", str(0xFFFFFFFF))
    with sim.terminal() as terminal:
        terminal.max_log_records = 2 ** 40
        with pytest.raises(pq640.Error) as caught:
            terminal.io_records()
        # Either the 64 GiB array cannot be had, or the answer ends short.
        assert isinstance(caught.value, (pq640.CapacityError, pq640.LinkError)), caught.value


def test_a_large_read_is_decoded_without_copying_the_array(simulators) -> None:
    count = 100_000
    sim = simulators("tcp", "--io-records", str(count), "--max-io-records", str(count))
    with sim.terminal() as terminal:
        tracemalloc.start()
        try:
            records = terminal.io_records()
            held, peak = tracemalloc.get_traced_memory()
        finally:
            tracemalloc.stop()
    assert len(records) == count
    raw = count * 16
    # What the read needs beyond the records it returns: the array itself and
    # no whole copy of it (a copy would make it at least 2x).
    transient = peak - held
    print(f"\n100,000 IO records: array {raw / 1e6:.2f} MB, transient peak "
          f"{transient / 1e6:.2f} MB ({transient / raw:.2f}x), records held {held / 1e6:.1f} MB")
    assert transient <= 1.5 * raw
