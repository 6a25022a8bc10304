"""The package against the simulator, over TCP and over a pseudo-terminal."""
from __future__ import annotations

import datetime as dt
import os
import subprocess
import sys
import threading
from typing import List

import pytest

import pq640

from conftest import LIBRARY, PYTHON_DIR

T = dt.datetime
CLOCK = "26-03-15 12:00:00"
STORE = ("--clock", CLOCK, "--users", "3", "--admins", "2", "--io-records", "30",
         "--admin-records", "6")


def template(seed: int) -> bytes:
    return bytes((seed * 31 + i * 7) % 256 for i in range(480))


def test_control_commands_round_trip(simulators, link: str) -> None:
    sim = simulators(link, "--clock", CLOCK)
    with sim.terminal() as terminal:
        terminal.check_link()
        terminal.set_clock(T(2024, 2, 29, 23, 59, 50))
        assert T(2024, 2, 29, 23, 59, 50) <= terminal.clock <= T(2024, 3, 1, 0, 1)

        block = bytearray(terminal.system_data())
        block[0] = 17 if block[0] != 17 else 18
        terminal.set_system_data(bytes(block))
        assert terminal.system_data() == bytes(block)

        terminal.set_comm_mode(2)
        terminal.set_matching(9)
        terminal.change_terminal_id(42)
        assert terminal.terminal_id == 42
        terminal.check_link()              # only ID 42 is answered now
        if link == "serial":
            terminal.update_comm_state(0x13)   # 19200 baud: the local port follows
            terminal.check_link()
            terminal.wake_up()
        terminal.erase(confirm=True)
        assert terminal.users.count() == 0
    assert sim.transactions()[:3] == ["CheckLink", "SetDateTime", "GetDateTime"]
    assert "SetTermCommMode" in sim.transactions() and "DeleteAllDataRom" in sim.transactions()


def test_user_table_round_trip(simulators, link: str) -> None:
    sim = simulators(link, *STORE)
    mine = [pq640.User(1000 + i, [template(i), template(i + 9)][:i % 3], code=b"4321" * (i % 2),
                       info=bytes(range(i, i + 10))) for i in range(5)]
    progress: List[tuple] = []
    with sim.terminal() as terminal:
        assert terminal.users.count() == 3
        assert terminal.users.ids() == [1, 2, 3]
        generated = terminal.users.all(progress=lambda done, total: progress.append((done, total)))
        assert [u.id for u in generated] == [1, 2, 3]
        assert all(len(u.templates) == 2 and 4 <= len(u.code) <= 10 for u in generated)
        assert progress[0] == (0, 3) and progress[-1] == (3, 3)
        assert terminal.users.get(2) == generated[1]

        terminal.users.add(mine[0])
        assert terminal.users.get(mine[0].id).to_slot() == mine[0].to_slot()
        added: List[tuple] = []
        results = terminal.users.add_many(
            mine[1:] + [pq640.User(5000, code=b"1234")],
            progress=lambda done, total: added.append((done, total)))
        assert results == bytes(5)
        assert added[-1] == (5, 5) and [d for d, _ in added] == sorted(d for d, _ in added)
        # Byte for byte through the slots and the terminal.
        back = terminal.users.get_many([m.id for m in mine] + [999])
        assert [u.to_slot() for u in back] == [m.to_slot() for m in mine]

        assert terminal.users.delete_many([1000, 999]) == b"\x00\x07"
        terminal.users.delete(1001)
        with pytest.raises(pq640.TerminalError) as caught:
            terminal.users.get(1001)
        assert caught.value.code == 7
        assert terminal.users.count() == 3 + 6 - 2
        terminal.users.clear()
        assert terminal.users.ids() == []


def test_admin_table_round_trip(simulators, link: str) -> None:
    sim = simulators(link, *STORE)
    boss = pq640.Admin(50, level=2, templates=[template(5)], code="0000", info=b"boss")
    with sim.terminal() as terminal:
        assert terminal.admins.ids() == [1, 2]
        assert [a.level for a in terminal.admins.all()] == [1, 2]
        terminal.admins.add(boss)
        assert terminal.admins.get(50).to_slot() == boss.to_slot()
        assert terminal.admins.add_many([pq640.Admin(51), pq640.Admin(52, level=1)]) == bytes(2)
        assert [a.id for a in terminal.admins.get_many([52, 9, 50])] == [52, 50]
        assert terminal.admins.delete_many([51, 9]) == b"\x00\x07"
        terminal.admins.delete(52)
        assert terminal.admins.count() == 3
        terminal.admins.clear()
        assert terminal.admins.count() == 0


def test_logs_round_trip(simulators, link: str) -> None:
    sim = simulators(link, *STORE)
    day = T(2026, 3, 15)
    with sim.terminal() as terminal:
        everything = terminal.io_records()
        assert len(everything) == terminal.io_record_count() == 30
        assert everything == sorted(everything, key=lambda r: r.time)
        assert {r.user_id for r in everything} == {1, 2, 3}

        mine = [pq640.IORecord.make(day.replace(hour=8 + i), user_id=7, in_out_state=i % 2,
                                    work_code=i) for i in range(3)]
        for record in mine:
            terminal.add_io_record(record)
        today = pq640.Query.between(day, day.replace(hour=23, minute=59, second=59))
        seen: List[tuple] = []
        assert terminal.io_records(today, progress=lambda d, t: seen.append((d, t))) == mine
        assert seen[-1] == (3, 3)
        assert terminal.users_io_records([7], day, day.replace(hour=23), selector=1) == [mine[1]]
        assert terminal.users_io_record_count([7, 1], T(2026, 1, 1), day.replace(hour=23)) == 13
        terminal.delete_io_records(pq640.Query.user(7))
        assert terminal.io_record_count(today) == 0

        admin_log = terminal.admin_records()
        assert len(admin_log) == terminal.admin_record_count() == 6
        entry = pq640.AdminRecord.make(day.replace(hour=9), admin_id=2, operation=5,
                                       target_user_id=3)
        terminal.add_admin_record(entry)
        assert terminal.admin_records(pq640.Query.user(2, day, day.replace(hour=23))) == [entry]
        terminal.delete_admin_records(pq640.Query.all())
        assert terminal.admin_record_count() == 0
        assert terminal.io_records(today) == []


def test_argument_traps_are_caught_before_the_library(simulators, library_spy) -> None:
    sim = simulators("tcp")
    for make in (lambda: pq640.Terminal.tcp(sim.address.encode()),   # bytes, not str
                 lambda: pq640.Terminal.tcp("127.1"),
                 lambda: pq640.Terminal.tcp(" 127.66.0.1"),
                 lambda: pq640.Terminal.tcp("127.66.0.256"),
                 lambda: pq640.Terminal.tcp("127.٦٦.0.1"),            # non-ASCII digits
                 lambda: pq640.Terminal.tcp("0.0.0.0"),
                 lambda: pq640.Terminal.tcp(sim.address, terminal_id=65537),
                 lambda: pq640.Terminal.serial(11),
                 lambda: pq640.Terminal.serial("COM1 "),
                 lambda: pq640.Terminal.serial(1, baud_code=7)):
        with pytest.raises(pq640.ArgumentError):
            make()
    assert library_spy.calls == []

    with sim.terminal() as terminal:
        opened = len(library_spy.calls)
        block = bytearray(256)
        block[32] = 1
        block[4] = 100                                   # offset 4 is 0..99
        traps = [
            (lambda: terminal.set_clock("2026-01-01 00:00:00"), -104),
            (lambda: terminal.set_clock(T(1999, 1, 1)), -104),
            (lambda: terminal.change_terminal_id(65537), 243),
            (lambda: terminal.set_comm_mode(3), 243),
            (lambda: terminal.set_matching(256), 243),
            (lambda: terminal.update_comm_state(5), -104),
            (lambda: terminal.set_system_data(bytes(block)), 243),
            (lambda: terminal.set_system_data(b"\0" * 255), 243),
            (lambda: terminal.users.get(-1), 243),
            (lambda: terminal.users.add(pq640.Admin(1)), 243),
            (lambda: terminal.users.delete_many("123"), 243),
            (lambda: terminal.users_io_records([], T(2026, 1, 1), T(2026, 1, 2)), 243),
            (lambda: terminal.users_io_records(range(1001), T(2026, 1, 1), T(2026, 1, 2)), 243),
            (lambda: terminal.io_records(bytes(18)), 243),
            (lambda: terminal.add_io_record(bytes(16)), 243),
            (lambda: terminal.erase(), 243),
        ]
        for trap, code in traps:
            with pytest.raises(pq640.ArgumentError) as caught:
                trap()
            assert caught.value.code == code, caught.value
            assert caught.value.text == pq640.result_text(code)
        assert library_spy.calls[opened:] == []
        assert "offset 4" in str(pytest.raises(pq640.ArgumentError,
                                               terminal.set_system_data, bytes(block)).value)
    assert sim.transactions() == []


def test_one_open_terminal_per_process(simulators) -> None:
    first_sim, second_sim = simulators("tcp"), simulators("tcp")
    first, second = first_sim.terminal(), second_sim.terminal()
    with first:
        with pytest.raises(pq640.StateError, match="one connection per process"):
            second.open()
        with pytest.raises(pq640.StateError):
            first.open()
        with pytest.raises(pq640.StateError, match="not open"):
            second.check_link()
        first.check_link()                 # still pointed at the first simulator
    with pytest.raises(pq640.StateError):
        first.check_link()
    with second:
        second.check_link()
    assert first_sim.transactions() == ["CheckLink"]
    assert second_sim.transactions() == ["CheckLink"]


def test_threads_do_not_interleave_transactions(simulators, link: str) -> None:
    sim = simulators(link, "--users", "20")
    rounds = 3 if link == "tcp" else 25
    failures: List[BaseException] = []
    with sim.terminal() as terminal:
        def work(task) -> None:  # type: ignore[no-untyped-def]
            try:
                for _ in range(rounds):
                    task()
            except BaseException as error:  # noqa: BLE001 - reported by the test
                failures.append(error)

        threads = [threading.Thread(target=work, args=(task,)) for task in (
            terminal.check_link, lambda: terminal.clock, lambda: terminal.users.all())]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(timeout=120)
        assert not any(t.is_alive() for t in threads)
    assert failures == []
    commands = sim.transactions()                      # whole request/response pairs only
    assert sorted(set(commands)) == ["CheckLink", "GetAllUserData", "GetDateTime"]
    assert commands.count("CheckLink") == rounds and commands.count("GetDateTime") == rounds
    assert commands.count("GetAllUserData") == 2 * rounds   # count, then records


def test_errors_carry_their_class_and_text(simulators) -> None:
    sim = simulators("tcp", "--id", "5")
    with sim.terminal(terminal_id=5) as terminal:
        with pytest.raises(pq640.TerminalError) as refused:
            terminal.users.delete(123)
        assert refused.value.code == 7 and refused.value.operation == "DeleteUserData"
        assert refused.value.text == "the terminal's own result byte: it refused or failed"
        assert "result code 7" in str(refused.value)
    # Nothing listens on this loopback address: connecting fails.
    with pq640.Terminal.tcp("127.66.254.254") as nowhere:
        with pytest.raises(pq640.LinkError) as silent:
            nowhere.check_link()
        assert silent.value.code == -100 and silent.value.text == pq640.result_text(-100)


def test_progress_errors_surface_after_the_call(simulators) -> None:
    sim = simulators("tcp", "--users", "4")

    def broken(done: int, total: int) -> None:
        raise KeyError("from the callback")

    with sim.terminal() as terminal:
        with pytest.raises(KeyError, match="from the callback"):
            terminal.users.all(progress=broken)
        terminal.check_link()              # the transaction had finished cleanly


def test_a_missing_library_is_reported_with_where_it_looked(tmp_path) -> None:
    missing = tmp_path / "libpq640.so"
    script = ("import pq640\n"
              "try:\n pq640.Terminal.tcp('127.66.254.253').open()\n"
              "except pq640.LibraryError as e:\n print(e)\n")
    env = dict(os.environ, PQ640_LIBRARY=str(missing), PYTHONPATH=str(PYTHON_DIR))
    result = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True,
                            text=True, timeout=30)
    assert result.returncode == 0, result.stderr
    assert str(missing) in result.stdout and "PQ640_LIBRARY" in result.stdout
    assert LIBRARY.exists()


def test_example_pulls_a_day_of_io_records_to_csv(simulators) -> None:
    sim = simulators("tcp", "--clock", CLOCK, "--users", "2", "--io-records", "60")
    script = PYTHON_DIR / "examples/io_records_to_csv.py"
    env = dict(os.environ, PYTHONPATH=str(PYTHON_DIR))
    result = subprocess.run([sys.executable, str(script), "--tcp", sim.address, "--date",
                             "2026-03-14"], env=env, capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    # Two records a day over the 30 days before the clock's date, one per user.
    assert result.stdout.splitlines() == [
        "time,user_id,verification,in_out_state,work_code",
        "2026-03-14 00:00:00,1,1,1,2", "2026-03-14 12:00:00,2,2,1,3"]
    assert sim.transactions() == ["GetIORecordNum", "GetIORecord"]
