"""The store and the presence watch against a real database (a SQLite file,
or PostgreSQL with ORVEL_TEST_ENGINE=postgres), faults injected through the
store's own interface: a piece that fails, a broken connection, a writer
held up, a database that cannot grow."""
from __future__ import annotations

import json
import shutil
import sqlite3
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
sys.path.insert(0, str(Path(__file__).resolve().parent))

from unittest import mock  # noqa: E402

from orvel_exam_server import database, decisions  # noqa: E402
from orvel_exam_server.answers import Answers, shown_entry  # noqa: E402
from orvel_exam_server.config import Exam  # noqa: E402
from orvel_exam_server.database import HELD_RETRY, Store, WriteFailed, body_hash  # noqa: E402
from orvel_exam_server.logins import Logins  # noqa: E402
from orvel_exam_server.presence import Presence  # noqa: E402
from support import ON_POSTGRES, SQLITE_ONLY, store_database, wait_for  # noqa: E402


def report(n: int, detail: str = "d") -> dict[str, str]:
    return {"studentName": f"PC {n}", "className": "5A", "token": "T", "event": "VIOLATION", "detail": detail}


class StoreCase(unittest.TestCase):
    def setUp(self):
        self.folder = Path(tempfile.mkdtemp(prefix="orvel-store."))
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.logged: list[str] = []
        self.store = self.open()

    def open(self) -> Store:
        store = Store(store_database(self.folder), self.logged.append)
        self.addCleanup(store.close)
        return store

    def hold_writer(self) -> threading.Event:
        """Keeps the writer busy until the returned event is set."""
        gate, busy = threading.Event(), threading.Event()
        threading.Thread(target=self.store.write, args=(lambda c: (busy.set(), gate.wait(10)),), daemon=True).start()
        busy.wait(5)
        self.addCleanup(gate.set)
        return gate


class Writer(StoreCase):
    def test_pieces_queued_together_commit_together_and_a_failing_one_fails_alone(self):
        gate = self.hold_writer()
        outcomes: dict[str, object] = {}

        def run(name, work):
            try:
                outcomes[name] = work()
            except Exception as e:
                outcomes[name] = e
        jobs = [(f"r{n}", lambda n=n: self.store.add_report("t", "a", f"k{n}", "{}", report(n), False)) for n in range(3)]
        jobs.insert(1, ("bad", lambda: self.store.write(lambda c: c.execute("INSERT INTO exam_sessions (id) VALUES ('x')"))))
        threads = [threading.Thread(target=run, args=job) for job in jobs]
        for t in threads:
            t.start()
        self.assertTrue(wait_for(lambda: self.store._queue.qsize() == 4, 5))
        gate.set()
        for t in threads:
            t.join(10)
        self.assertNotIsInstance(outcomes["bad"], WriteFailed)
        self.assertIn("created_at", str(outcomes["bad"]), "the engine's own error, naming the column")
        self.assertEqual(sorted(outcomes[f"r{n}"][1:] for n in range(3)), [(False, False)] * 3)
        self.assertEqual(self.store.report_count(), 3)
        self.assertEqual(self.logged, [], "a fault of the program is not a fault of the disk")

    @unittest.skipUnless(ON_POSTGRES, "notifications reach other processes only through PostgreSQL")
    def test_what_a_batch_tells_is_heard_once_committed_in_order_and_not_from_a_piece_undone(self):
        heard: list[str] = []
        self.store.on_notice(database.REPORT_STORED, heard.append)
        self.store.start_listening()
        # Reports until the listener, which starts on its own, hears the last.
        keys, last = iter(range(1000)), [0]

        def warm() -> bool:
            last[0] = self.store.add_report("t", "a", f"w{next(keys)}", "{}", report(0), False)[0]
            return str(last[0]) in heard
        self.assertTrue(wait_for(warm, 5))
        gate = self.hold_writer()
        results: dict[str, object] = {}

        def told_then_failed(c):
            self.store.tell(c, database.REPORT_STORED, "999999")
            c.execute("INSERT INTO exam_sessions (id) VALUES ('x')")

        def run(name, work):
            try:
                results[name] = work()
            except Exception as e:
                results[name] = e
        jobs = [(f"r{n}", lambda n=n: self.store.add_report("t", "a", f"k{n}", "{}", report(n), False)[0])
                for n in range(1, 4)]
        jobs.insert(1, ("bad", lambda: self.store.write(told_then_failed)))
        for job in jobs:  # one after another, so that the batch holds them in this order
            threading.Thread(target=run, args=job, daemon=True).start()
            self.assertTrue(wait_for(lambda: self.store._queue.qsize() == jobs.index(job) + 1, 5))
        gate.set()
        after = lambda: [h for h in heard if int(h) > last[0]]  # noqa: E731
        self.assertTrue(wait_for(lambda: len(after()) >= 3, 5), heard)
        self.assertIsInstance(results["bad"], Exception)
        self.assertEqual(after(), [str(results[f"r{n}"]) for n in range(1, 4)])

    def test_the_writer_survives_a_broken_connection_and_a_late_write_fails_in_time_and_never_runs(self):
        def breaks(c):
            c.close()  # nothing can be rolled back on it any more
            raise RuntimeError("broken")
        with self.assertRaises(Exception):
            self.store.write(breaks)
        if not ON_POSTGRES:  # a closed PostgreSQL connection is known broken and simply replaced
            self.assertTrue(any("rollback failed" in l for l in self.logged), self.logged)
        self.assertEqual(self.store.add_report("t", "a", "k1", "{}", report(1), False)[1:], (False, False))
        # A write the writer does not reach in time: WriteFailed at the deadline, and not done later.
        gate = self.hold_writer()
        began = time.monotonic()
        with self.assertRaises(WriteFailed) as caught:
            self.store.write(lambda c: c.execute("INSERT INTO sessions VALUES ('late', 1)"), wait=0.3)
        self.assertLess(time.monotonic() - began, 3)
        self.assertIn("terkunci", str(caught.exception))
        gate.set()
        self.store.add_report("t", "a", "k2", "{}", report(2), False)
        self.assertEqual(self.store.read(lambda c: c.execute("SELECT count(*) FROM sessions").fetchone()[0]), 0)

    @unittest.skipIf(ON_POSTGRES, SQLITE_ONLY)
    def test_a_full_database_fails_writes_names_the_cause_once_and_holds_what_must_not_be_lost(self):
        # The writer's own connection may not grow the file: SQLite answers "database or disk is full".
        pages = self.store.write(lambda c: c.execute("PRAGMA page_count").fetchone()[0])
        self.store.write(lambda c: c.execute(f"PRAGMA max_page_count = {pages}"))
        failures = 0
        for n in range(200):
            try:
                self.store.add_report("t", "a", f"k{n}", "{}", report(n, "x" * 300), False)
            except WriteFailed as e:
                failures += 1
                self.assertEqual(str(e), "basis data tidak bisa ditulis: disk penuh? (database or disk is full)")
                if failures == 3:
                    break
        self.assertEqual(failures, 3)
        self.assertEqual([l for l in self.logged if "tidak bisa ditulis" in l],
                         ["basis data tidak bisa ditulis: disk penuh? (database or disk is full)"], "once a minute")
        # A verification and a proctor's login are held in memory meanwhile
        # (each table is filled up to its first refusal).
        request = {"studentName": "Budi", "className": "5A", "token": "T"}
        sid = next(f"{n:032x}" for n in range(500) if not self.store.add_verification("t", "a", request, f"{n:032x}", 1.0))
        logins = Logins(self.store)
        login = next(f"hash{n}" for n in range(500) if logins.add(f"hash{n}", time.time() + 60)
                     or self.store.held_writes() == 2)
        self.assertTrue(logins.valid(login, time.time()))
        self.assertEqual(len([l for l in self.logged if "tidak bisa ditulis" in l]), 1, "once a minute")
        version = self.store.notifier.version
        # Room again: the held writes follow by themselves, in order.
        self.store.write(lambda c: c.execute("PRAGMA max_page_count = 1000000"))
        self.assertTrue(wait_for(lambda: self.store.held_writes() == 0, HELD_RETRY + 5))
        self.assertEqual([s["id"] for s in self.store.exam_sessions()][-1], sid)
        self.assertEqual([e["session"] for e in self.store.timeline() if e["kind"] == "verify"][-1], sid)
        self.assertGreater(self.store.notifier.version, version, "the pages are told of the late verification")
        self.assertIn((login,), self.store.read(lambda c: c.execute("SELECT token_hash FROM sessions").fetchall()))


    @unittest.skipIf(ON_POSTGRES, SQLITE_ONLY)
    def test_held_writes_are_capped_and_retried_in_bounded_batches_in_order(self):
        pages = self.store.write(lambda c: c.execute("PRAGMA page_count").fetchone()[0])
        self.store.write(lambda c: c.execute(f"PRAGMA max_page_count = {pages}"))
        request = {"studentName": "Budi", "className": "5A", "token": "T"}
        batches: list[int] = []
        commit = self.store._commit
        self.store._commit = lambda conn, pieces: (batches.append(len(pieces)), commit(conn, pieces))[1]
        with mock.patch.object(database, "HELD_MAX", 7), mock.patch.object(database, "HELD_BATCH", 3):
            held = []
            for n in range(400):                              # each table filled up to its first refusal
                if not self.store.add_verification("t", "a", request, f"{n:032x}", 1.0):
                    held.append(f"{n:032x}")
                    if len(held) == 7:
                        break
            self.assertEqual(self.store.held_writes(), 7)
            with self.assertRaises(WriteFailed):          # the cap: the caller answers 503
                self.store.add_verification("t", "a", request, "f" * 32, 1.0)
            logins = Logins(self.store)                       # the proctor's logins are held beyond it
            for n in range(400):
                logins.add(f"hash{n}", time.time() + 60)
                if self.store.held_writes() == 8:
                    break
            self.assertEqual(self.store.held_writes(), 8)
            batches.clear()
            self.store.write(lambda c: c.execute("PRAGMA max_page_count = 1000000"))
            self.assertTrue(wait_for(lambda: self.store.held_writes() == 0, HELD_RETRY + 5))
        self.assertLessEqual(max(batches), 3 + 1, "three held writes a try, beside the new ones")
        self.assertEqual([s["id"] for s in self.store.exam_sessions()][-7:], held, "in the order they were held")

    def test_a_report_is_stored_compact_and_known_again_by_the_hash_of_the_body_as_it_came(self):
        m = report(1)
        raw = decisions.compact(m)[:-1] + " " * 4000 + "}"   # padded: the same members
        compact = decisions.compact(m)
        first = self.store.add_report("t", "a", "k1", compact, m, False, digest=body_hash(raw))
        self.assertEqual(first[1:], (False, False))
        self.assertEqual(self.store.add_report("t", "a", "k1", compact, m, False, digest=body_hash(raw)),
                         (first[0], True, False), "the same body again")
        other = self.store.add_report("t", "a", "k1", compact, m, False, digest=body_hash(raw + " "))
        self.assertEqual(other[1:], (False, True), "another body with the key: a report of its own")
        self.assertEqual(self.store.read(lambda c: c.execute("SELECT max(length(body)) FROM reports").fetchone()[0]),
                         len(compact.encode()))
        # A report stored before the hash was kept: its body as it came is hashed when compared.
        self.store.write(lambda c: c.execute(
            "INSERT INTO reports (received_at, address, idempotency_key, body, student_name, class_name, token,"
            " event, detail) VALUES ('t', 'a', 'old', ?, 'PC 1', '5A', 'T', 'VIOLATION', 'd')", (raw,)))
        self.assertEqual(self.store.add_report("t", "a", "old", compact, m, False, digest=body_hash(raw))[1], True)


class Views(StoreCase):
    def test_the_roster_and_timelines_are_made_once_per_change_and_equal_a_full_read(self):
        exams = (Exam("5A", "T", "https://f.example/"), Exam("5B", "U", "https://f.example/b"))
        answers = Answers(self.store, exams)
        rows = [("Budi", "5A", "T"), ("Siti", "5A", "T"), ("Andi", "5B", "U"), ("Lain", "5A", "X")]
        for n, (name, cls, token) in enumerate(rows):
            sid = f"{n:032x}"
            self.store.add_verification("t%02d" % n, "a", {"studentName": name, "className": cls, "token": token},
                                        sid, 1.0)
            for event in ("START", "VIOLATION"):
                self.store.add_report("t%02d" % n, "a", None, "{}", dict(report(0), studentName=name, className=cls,
                                                                      token=token, event=event), False, sid)
        self.store.add_report("t09", "a", None, "{}", report(5), False)   # without a session
        budi = decisions.student_key("5A", "Budi", "T")

        def full():
            entries = self.store.timeline()
            return (decisions.roster(entries, exams, {}),
                    [shown_entry(e) for e in entries if e["kind"] == "report" and e["session"] is None],
                    [shown_entry(e) for e in entries if e["kind"] == "report" and e["session"] is not None
                     and decisions.exam_of(e, exams) is None],
                    [shown_entry(e) for e in entries if (e["kind"] == "verify" or e["session"] is not None)
                     and decisions.exam_of(e, exams) is not None
                     and decisions.student_key(e["className"], e["studentName"], e["token"]) == budi])

        def made():
            return (answers.roster({}), json.loads(answers.timeline(nosession=True)),
                    json.loads(answers.timeline(unknown=True)), json.loads(answers.timeline(student=budi)))
        self.assertEqual(made(), full())
        for _ in range(20):                                  # twenty pages after one event: one read
            made()
        self.assertEqual(answers.reads, 1)
        # New rows, read alone and folded in: the same as reading everything again.
        self.store.add_report("t10", "a", None, "{}", dict(report(0), studentName="Budi", event="FINISH"), False,
                              "0" * 32)
        self.store.add_verification("t11", "a", {"studentName": "Baru", "className": "5B", "token": "U"},
                                    "9" * 32, 1.0)
        self.assertEqual(made(), full())
        self.assertEqual(answers.reads, 2)
        heard = {budi: {"missing": True, "lastContactAt": "x", "heardAgo": 50}}
        self.assertEqual(answers.roster(heard), decisions.roster(self.store.timeline(), exams, heard))
        self.assertEqual(answers.roster({})[0]["state"], decisions.roster(self.store.timeline(), exams, {})[0]["state"],
                         "who is heard now does not stay in what is kept")

    def test_new_exams_sort_the_stored_rows_again_and_a_new_token_keeps_the_students_timeline(self):
        exams = [(Exam("5A", "T", "https://f.example/"),)]
        answers = Answers(self.store, lambda: exams[0])
        first = {"studentName": "Budi", "className": "7B", "token": "OLD"}
        self.store.add_verification("t1", "a", first, "1" * 32, 1.0)
        self.store.add_report("t2", "a", None, "{}", dict(first, event="START", detail="mulai"), False, "1" * 32)
        self.assertEqual(answers.roster({}), [], "7B has no exam yet")
        self.assertEqual(len(json.loads(answers.timeline(unknown=True))), 1)
        # The page makes 7B's exam: the rows stored before are its now, without a new row.
        exams[0] = exams[0] + (Exam("7B", "OLD", "https://f.example/7b", page_id=1),)
        self.assertEqual([(r["studentName"], r["state"]) for r in answers.roster({})], [("Budi", "Mengerjakan")])
        self.assertEqual(json.loads(answers.timeline(unknown=True)), [])
        # "Ganti token": a report with the new token is the same student's, in the same timeline.
        exams[0] = exams[0][:1] + (Exam("7B", "NEW", "https://f.example/7b", page_id=1, earlier_tokens=("OLD",)),)
        self.store.add_report("t3", "a", None, "{}", dict(first, token="NEW", event="VIOLATION", detail="v"), False,
                              "1" * 32)
        self.assertEqual([(r["studentName"], r["violations"], r["token"]) for r in answers.roster({})],
                         [("Budi", 1, "OLD")])
        line = json.loads(answers.timeline(student=decisions.student_key("7B", "Budi", "OLD")))
        self.assertEqual([(e["event"], e["token"]) for e in line], [("", "OLD"), ("START", "OLD"), ("VIOLATION", "NEW")])


@unittest.skipIf(ON_POSTGRES, "a SQLite file of the version before")
class Upgrade(unittest.TestCase):
    def test_reports_of_a_database_from_before_sessions_keep_counting_for_their_students(self):
        folder = Path(tempfile.mkdtemp(prefix="orvel-store."))
        self.addCleanup(shutil.rmtree, folder, True)
        with sqlite3.connect(folder / "exam.db") as db:  # the tables as the previous version made them
            db.executescript(
                "CREATE TABLE reports (id INTEGER PRIMARY KEY, received_at TEXT NOT NULL, address TEXT NOT NULL,"
                " idempotency_key TEXT UNIQUE, body TEXT NOT NULL, student_name TEXT NOT NULL, class_name TEXT NOT NULL,"
                " token TEXT NOT NULL, event TEXT NOT NULL, detail TEXT NOT NULL);"
                "CREATE TABLE verifications (id INTEGER PRIMARY KEY, received_at TEXT NOT NULL, address TEXT NOT NULL,"
                " student_name TEXT NOT NULL, class_name TEXT NOT NULL, token TEXT NOT NULL);"
                "INSERT INTO reports VALUES (1, '2026-12-08T08:00:00.000+07:00', 'a', 'k1', '{}', 'Budi', '5A', 'T',"
                " 'START', 'mulai');")
        db.close()
        store = Store(folder / "exam.db")
        self.addCleanup(store.close)
        exams = (Exam("5A", "T", "https://f.example/"),)
        self.assertEqual([(x["studentName"], x["state"]) for x in decisions.roster(store.timeline(), exams)],
                         [("Budi", "Mengerjakan")])
        self.assertEqual(store.add_report("t", "a", "k1", "{}", report(1), False)[1:], (True, False))
        self.assertEqual(store.add_report("t", "a", "k1", '{"n":1}', report(1), False)[1:], (False, True),
                         "an old key with another body")


class UpgradeSchools(unittest.TestCase):
    def test_page_exams_and_accounts_of_a_database_from_before_schools_name_none(self):
        folder = Path(tempfile.mkdtemp(prefix="orvel-store."))
        self.addCleanup(shutil.rmtree, folder, True)
        database = store_database(folder)
        key = "BIGSERIAL PRIMARY KEY" if ON_POSTGRES else "INTEGER PRIMARY KEY"
        before = [  # the two tables as the previous version made them, a row in each
            f"CREATE TABLE page_exams (id {key}, classes TEXT NOT NULL, form_url TEXT NOT NULL, proctor_pin TEXT NOT NULL"
            " DEFAULT '', opens TEXT NOT NULL DEFAULT '', closes TEXT NOT NULL DEFAULT '', rotate_minutes INTEGER NOT NULL"
            " DEFAULT 0, ended INTEGER NOT NULL DEFAULT 0, created_at TEXT NOT NULL)",
            "INSERT INTO page_exams (classes, form_url, created_at) VALUES ('[\"5A\"]', 'https://f.example/', 't')",
            f"CREATE TABLE proctors (id {key}, name TEXT NOT NULL, name_key TEXT NOT NULL UNIQUE, salt TEXT NOT NULL,"
            " password_hash TEXT NOT NULL, classes TEXT NOT NULL, created_at TEXT NOT NULL)",
            "INSERT INTO proctors (name, name_key, salt, password_hash, classes, created_at)"
            " VALUES ('Bu Rina', 'bu rina', '00', 'ff', '[\"5A\"]', 't')"]
        if ON_POSTGRES:
            import psycopg
            with psycopg.connect(database) as c:
                for sql in before:
                    c.execute(sql)
        else:
            with sqlite3.connect(database) as db:
                for sql in before:
                    db.execute(sql)
            db.close()
        store = Store(database)
        self.addCleanup(store.close)
        self.assertEqual([(e["classes"], e["school"]) for e in store.page_exams()], [(["5A"], "")])
        self.assertEqual([(p["name"], p["school"]) for p in store.proctors()], [("Bu Rina", "")])
        # And both take a school from now on.
        store.save_proctor(1, "Bu Rina", "bu rina", ("5A",), None, "t", "SD Satu")
        self.assertEqual(store.proctor("bu rina")["school"], "SD Satu")


class Watch(StoreCase):
    # What the routes do: a verification opens a session, a report is stored and heard.
    def verify(self, p: Presence, sid: str, name: str, t: float, address: str = "a") -> None:
        request = {"studentName": name, "className": "5A", "token": "T"}
        self.store.add_verification(f"t{t:09.3f}", address, request, sid, t)
        p.open(sid, request, t, address)

    def report(self, p: Presence, sid: str, name: str, event: str, t: float, address: str = "a") -> None:
        m = dict(report(0), studentName=name, event=event)
        rowid = self.store.add_report(f"t{t:09.3f}", address, None, "{}", m, False, sid)[0]
        p.heard(sid, t, event, rowid)

    def test_a_second_pc_is_watched_beside_the_first_told_once_and_closed_from_the_page(self):
        p = Presence(self.store, 45, True, self.logged.append, clock=lambda: 1000.0)
        answers = Answers(self.store, (Exam("5A", "T", "https://f.example/"),))
        budi, phone = "a" * 32, "b" * 32
        self.verify(p, budi, "Budi", 1000, "10.0.0.5")
        self.report(p, budi, "Budi", "START", 1001, "10.0.0.5")
        self.verify(p, phone, "BUDI\u200b", 1010, "10.0.0.9")
        self.report(p, phone, "budi", "START", 1011, "10.0.0.9")
        p.write_notices()
        self.assertEqual([(n["kind"], n["addresses"]) for n in self.store.outbox_notices()],
                         [("twice", "10.0.0.9, 10.0.0.5")], "told once, with both PCs")
        (row,) = answers.roster(p.view(1020))
        self.assertEqual((row["state"], row["twoSessions"], [x["state"] for x in row["sessions"]]),
                         ("Mengerjakan", ["10.0.0.5", "10.0.0.9"], ["Mengerjakan", "Mengerjakan"]),
                         "the first exam goes on")
        # Budi's PC is heard, the phone falls silent: missing, and which one.
        p.heard(budi, 1070)
        self.assertEqual(p.check(1070), 1)
        (row,) = answers.roster(p.view(1070))
        self.assertEqual((row["state"], row["missingAddresses"], row["heardAgo"]), ("Hilang", ["10.0.0.9"], 59))
        # Closed from the page: no longer watched, and a restart knows it.
        self.assertTrue(self.store.close_session("t01080.000", "10.0.0.1", phone))
        self.assertFalse(self.store.close_session("t01080.000", "10.0.0.1", "c" * 32), "an unknown session")
        self.assertTrue(p.close(phone))
        self.assertEqual(p.changes_after(0)[1][-1]["state"], "Mengerjakan")
        self.report(p, phone, "Budi", "VIOLATION", 1090, "10.0.0.9")
        (row,) = answers.roster(p.view(1090))
        self.assertEqual((row["state"], row["twoSessions"], row["violations"]), ("Mengerjakan", [], 0))
        self.assertEqual(p.check(5000), 1, "only Budi's own PC is watched now")
        line = json.loads(answers.timeline(student=decisions.student_key("5A", "Budi", "T")))
        self.assertEqual([(e["kind"], e["address"], e.get("twoSessions"), e.get("closedSession")) for e in line], [
            ("verify", "10.0.0.5", None, None), ("report", "10.0.0.5", None, None),
            ("verify", "10.0.0.9", ["10.0.0.9", "10.0.0.5"], None), ("report", "10.0.0.9", None, None),
            ("close", "10.0.0.1", None, None), ("report", "10.0.0.9", None, True)])
        p.write_notices()
        p.save_contacts()
        later = Presence(self.store, 45, True, self.logged.append, clock=lambda: 6000.0)
        self.assertEqual(later.check(6046), 0, "Budi's PC was told missing before the restart")
        self.assertEqual(list(later.view(6046).values())[0]["missingAddresses"], ["10.0.0.5"],
                         "the closed one stays closed after a restart")
        later.write_notices()
        self.assertNotIn("twice", [n["kind"] for n in self.store.outbox_notices()][1:], "not told again")

    def test_commands_go_to_the_latest_running_session_and_another_process_learns_of_a_close(self):
        p = Presence(self.store, 45, True, self.logged.append, clock=lambda: 1000.0)
        pc1, pc2, again = "a" * 32, "b" * 32, "c" * 32
        self.verify(p, pc1, "Budi", 1000, "10.0.0.5")
        self.report(p, pc1, "Budi", "START", 1001, "10.0.0.5")
        self.assertEqual(([s.id for s in p.working()], p.ended(pc1)), ([pc1], False))
        # A second PC in his name: both watched, the commands go to the newer.
        other = Presence(self.store, 45, True, self.logged.append, clock=lambda: 1000.0)
        other.shared = True  # as on a database several processes share
        self.verify(p, pc2, "Budi", 1010, "10.0.0.9")
        self.report(p, pc2, "Budi", "START", 1011, "10.0.0.9")
        self.assertEqual(([s.id for s in p.working()], p.ended(pc1), p.ended(pc2)), ([pc2], True, False))
        self.assertEqual(other.verified_as(pc2), ("Budi", "5A", "T"))
        # The proctor closes the newer one: the first is the one commands reach again.
        self.assertTrue(self.store.close_session("t01020.000", "10.0.0.1", pc2))
        self.assertTrue(p.close(pc2))
        self.assertEqual(([s.id for s in p.working()], p.ended(pc1), p.ended(pc2)), ([pc1], False, True))
        # The program started again on the first PC: the old session is replaced.
        self.verify(p, again, "Budi", 1030, "10.0.0.5")
        self.report(p, again, "Budi", "START", 1031, "10.0.0.5")
        self.assertEqual(([s.id for s in p.working()], p.ended(pc1), p.ended(again)), ([again], True, False))
        # Another process, which knew the newer one before it was closed, reads
        # the close and the new START from the database.
        other.sync(1040)
        self.assertEqual(([s.id for s in other.working()], other.ended(pc2), other.ended(pc1)), ([again], True, True))
        self.assertEqual(other.check(1040), 0)
        self.assertEqual(other.check(1100), 1, "only the running session is watched there")
        self.report(p, again, "Budi", "FINISH", 1101, "10.0.0.5")
        other.sync(1102)
        self.assertEqual((other.working(), other.ended(again)), ([], True))

    def test_silence_marks_the_latest_started_exam_once_and_contact_brings_it_back(self):
        p = Presence(self.store, 45, True, self.logged.append, clock=lambda: 1000.0)
        a, c, d, e = "a" * 32, "c" * 32, "d" * 32, "e" * 32
        self.verify(p, a, "Budi", 1000)
        self.report(p, a, "Budi", "START", 1001)
        self.assertEqual((p.check(1046), p.check(1046.5), p.check(1100)), (0, 1, 0))
        self.assertEqual([c["state"] for c in p.changes_after(0)[1]], ["Hilang"])
        self.assertTrue(next(iter(p.view(1100).values()))["missing"])
        self.assertFalse(p.heard("b" * 32, 1100), "an unknown session")
        p.heard(a, 1200)
        self.assertEqual([c["state"] for c in p.changes_after(0)[1]], ["Hilang", "Mengerjakan"])
        p.write_notices()
        self.assertEqual([(n["kind"], n["lastContact"], n["gone"]) for n in self.store.outbox_notices()],
                         [("missing", 1001, 45.5), ("back", 1001, 199)])
        # The program started again: the newer exam is the one watched. A
        # verification from elsewhere (no START) does not take its place.
        self.verify(p, c, "Budi", 1300)
        self.report(p, c, "Budi", "START", 1301)
        self.verify(p, d, "budi", 1302)
        self.assertEqual(p.check(1400), 1)
        self.assertEqual(p.check(1400), 0)
        self.assertEqual(p.changes_after(2)[1][0]["state"], "Hilang")
        self.verify(p, e, "Siti", 1000)
        self.report(p, e, "Siti", "START", 1000)
        p.write_notices()
        p.save_contacts()
        # A restart remembers who was missing (the proctor is not told twice)
        # and gives the others time to be heard by the new server.
        p2 = Presence(self.store, 45, True, self.logged.append, clock=lambda: 5000.0)
        self.assertEqual((p2.check(5040), p2.check(5046)), (0, 1))
        self.assertEqual([c["studentName"] for c in p2.changes_after(0)[1]], ["Siti"])
        p2.heard(c, 5050)
        self.report(p2, e, "Siti", "FINISH", 5050)
        self.assertEqual(p2.check(5060), 0, "heard again")
        self.assertEqual(p2.check(9000), 1, "Budi silent again; Siti finished")
        self.assertEqual(p2.changes_after(2)[1][-1]["studentName"], "Budi")
        p2.write_notices()
        self.assertEqual([(n["kind"], n["studentName"]) for n in self.store.outbox_notices()][2:],
                         [("missing", "Budi"), ("missing", "Siti"), ("back", "Budi"), ("back", "Siti"),
                          ("missing", "Budi")])


    def test_sessions_of_ended_and_never_started_exams_leave_memory_after_a_day(self):
        day = decisions.FORGET_AFTER
        table = [  # started, finished, silent for: forgotten
            (True, True, day + 1, True), (False, False, day + 1, True), (True, False, day * 3, False),
            (True, True, day - 1, False), (False, False, 10, False)]
        for started, finished, silent, want in table:
            with self.subTest(started=started, finished=finished, silent=silent):
                self.assertEqual(decisions.forgotten(started, finished, 1000.0, 1000.0 + silent), want)
        p = Presence(self.store, 45, False, self.logged.append, clock=lambda: 1000.0)
        done, idle, working = "a" * 32, "b" * 32, "c" * 32
        for sid, name in ((done, "Budi"), (idle, "Siti"), (working, "Andi")):
            self.verify(p, sid, name, 1000)
        self.report(p, done, "Budi", "START", 1000)
        self.report(p, done, "Budi", "FINISH", 1001)
        self.report(p, working, "Andi", "START", 1001)
        self.assertEqual(p.sweep(1001 + day - 5), 0)
        self.assertEqual(p.sweep(1002 + day), 2)
        self.assertEqual(sorted(p.sessions), [working], "a working exam stays")
        if ON_POSTGRES:  # processes sharing the database look up a session they do not hold
            self.assertEqual(p.verified_as(done), ("Budi", "5A", "T"), "found again in the database")
        else:
            self.assertEqual((p.verified_as(done), p.verified_as(idle)), (None, None))
        self.assertEqual(len(self.store.exam_sessions()), 3, "the database keeps them")
        p.save_contacts()
        later = Presence(self.store, 45, False, self.logged.append, clock=lambda: 1002 + day)
        self.assertEqual(sorted(later.sessions), [working], "not loaded again after a restart")


class Rotation(unittest.TestCase):
    def test_a_token_due_changes_once_at_the_next_look_and_the_old_one_stays_for_its_exams(self):
        from orvel_exam_server import app as app_module, config, exams
        folder = Path(tempfile.mkdtemp(prefix="orvel-rotate."))
        self.addCleanup(shutil.rmtree, folder, True)
        cfg = config.parse('[server]\nhost = "cbt.sekolah.sch.id"\nproctor_password = "sandi-yang-panjang"\ndatabase = "exam.db"\n'
                           '[[exam]]\nclass = "5A"\ntoken = "ABC123"\nform_url = "https://f.example/"\n',
                           folder / "server.toml", {})
        clock = [1000.0]
        with mock.patch.object(app_module.time, "time", lambda: clock[0]):
            app = app_module.App(cfg, log=lambda line: None)
            self.addCleanup(app.close)
            form, _ = exams.check_form({"classes": "7B", "token": "QWERTZ", "formUrl": "https://f.example/7b",
                                        "rotateMinutes": "15"}, app.taken_tokens(), editing=False)
            app.store.save_exam(None, form, "t", clock[0])
            self.assertEqual([e.token for e in app.exams()], ["ABC123", "QWERTZ"])
            clock[0] = 1000 + 15 * 60 - 1
            self.assertEqual(app.exams()[1].token, "QWERTZ")
            clock[0] = 1000 + 15 * 60
            rotated = app.exams()[1]
            self.assertNotEqual(rotated.token, "QWERTZ")
            self.assertEqual((rotated.earlier_tokens, rotated.ident), (("QWERTZ",), "QWERTZ"))
            self.assertEqual(app.exams()[1].token, rotated.token, "once")
            # Another process on the database found it due at the same moment: it rotates once in all.
            self.assertFalse(app.store.new_exam_token(rotated.page_id, "ZZZZZZ", clock[0], due_before=clock[0] - 900))
            self.assertEqual(app.exams()[0].token, "ABC123", "the file's exam never rotates")
            self.assertEqual(app.ident_of("7b", "qwertz"), "QWERTZ")

if __name__ == "__main__":
    unittest.main()
