"""The proctor's commands: the page's request read, and the queue's rules
(order, repeated until done, expiry, the end of the exam), on plain values."""
from __future__ import annotations

import json
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
from orvel_exam_server import commands  # noqa: E402
from orvel_exam_server.commands import Command, Commands  # noqa: E402

S1, S2 = "a" * 32, "b" * 32


def body(**members) -> bytes:
    return json.dumps(members).encode()


class ReadRequest(unittest.TestCase):
    def test_each_kind_and_what_is_refused(self):
        rows = [
            (body(className="5A", studentName="Budi", kind="lock"),
             {"kind": "lock", "className": "5A", "studentName": "Budi", "text": ""}),
            (body(className="5A", kind="message", text="Sepuluh menit\r\nlagi"),
             {"kind": "message", "className": "5A", "studentName": "", "text": "Sepuluh menit\nlagi"}),
            (body(className="5A", studentName="Budi", kind="end", text="abaikan"),
             {"kind": "end", "className": "5A", "studentName": "Budi", "text": ""}),
            (body(className="5A", kind="message", text="é" * 300),
             {"kind": "message", "className": "5A", "studentName": "", "text": "é" * 300}),
            (body(className="5A", kind="message", text="x" * 301), commands.BAD_TEXT),
            (body(className="5A", kind="message", text=" \n "), commands.BAD_TEXT),
            (body(className="5A", kind="message"), commands.BAD_TEXT),
            (body(className="5A", kind="message", text=7), commands.BAD_TEXT),
            (body(className="5A", kind="reboot"), commands.BAD_KIND),
            (body(className="5A", kind="LOCK"), commands.BAD_KIND),
            (body(className="5A"), commands.BAD_KIND),
            (body(className=" ", kind="lock"), commands.NO_CLASS),
            (body(kind="lock"), commands.NO_CLASS),
            (body(className="5A", studentName=3, kind="lock"), commands.BAD_KIND),
            (b"[]", commands.BAD_KIND),
            (b"{", commands.BAD_KIND),
            (b"\xff", commands.BAD_KIND),
            (body(className="5A", studentName="Budi", token="ABC123", school="", kind="lock"),
             {"kind": "lock", "className": "5A", "studentName": "Budi", "text": "", "token": "ABC123"}),
            (body(className="5A", school="SD Negeri 2", kind="unlock"),
             {"kind": "unlock", "className": "5A", "studentName": "", "text": "", "school": "SD Negeri 2"}),
            (body(className="5A", token=5, kind="lock"), commands.BAD_KIND),
            # Hostile shapes: each member as a type of its own, named twice, nested deep, unwritable.
            (body(className=["5A"], kind="lock"), commands.NO_CLASS),
            (body(className="5A", kind=["lock"]), commands.BAD_KIND),
            (body(className="5A", kind={"lock": 1}), commands.BAD_KIND),
            (body(className="5A", school={}, kind="lock"), commands.BAD_KIND),
            (b'{"className":"5A","kind":"lock","kind":"end"}', commands.BAD_KIND),
            (b"[" * 30000 + b"]" * 30000, commands.BAD_KIND),
            (body(className="5A", kind="message", text="\ud800"), commands.BAD_KIND),
            # Longer than any exam's class, name, token or school: named, never searched for.
            (body(className="K" * 62, kind="lock"),
             {"kind": "lock", "className": "K" * 62, "studentName": "", "text": ""}),
            (body(className="K" * 61 + "\U0001F600", kind="lock"), commands.TOO_LONG["className"]),
            (body(className="5A", studentName="N" * 254, kind="end"),
             {"kind": "end", "className": "5A", "studentName": "N" * 254, "text": ""}),
            (body(className="5A", studentName="N" * 255, kind="end"), commands.TOO_LONG["studentName"]),
            (body(className="5A", token="T" * 63, kind="end"), commands.TOO_LONG["token"]),
            (body(className="5A", school="S" * 501, kind="end"), commands.TOO_LONG["school"]),
            (body(className="5A", school="S" * 500, kind="end"),
             {"kind": "end", "className": "5A", "studentName": "", "text": "", "school": "S" * 500}),
        ]
        for raw, expected in rows:
            with self.subTest(raw=raw[:60]):
                self.assertEqual(commands.read_request(raw), expected)


class Queue(unittest.TestCase):
    def setUp(self):
        self.added, self.changed, self.pokes = [], [], 0

        def poke():
            self.pokes += 1
        self.q = Commands([], lambda made: self.added.extend(c.id for c in made),
                          lambda c: self.changed.append((c.id, c.sent, c.done)), poke)

    def queue(self, session, kind, text="", at=0.0):
        return self.q.queue([(session, "5A", "Budi", "ABC123")], kind, text, at)[0]

    def test_one_at_a_time_in_order_repeated_until_done_then_the_next(self):
        m = self.queue(S1, "message", "Halo", 100)
        lock = self.queue(S1, "lock", at=101)
        other = self.queue(S2, "end", at=102)
        self.assertEqual(self.added, [m.id, lock.id, other.id], "stored as queued")
        steps = [
            # (session, done named, now, the command answered)
            (S1, None, 110, m),
            (S1, None, 125, m),            # repeated until done
            (S1, "salah", 126, m),         # an id it does not know
            (S1, other.id, 127, m),        # another session's command is not this one's to name
            (S1, m.id, 128, lock),         # the done heartbeat's answer carries the next
            (S1, m.id, 129, lock),         # named again: nothing changes
            (S1, lock.id, 140, None),
            (S2, None, 141, other),        # the other PC had its own all along
        ]
        for session, done, now, expected in steps:
            with self.subTest(session=session[0], done=done, now=now):
                self.assertEqual(self.q.heartbeat(session, done, False, now), commands.answer(expected))
        self.assertEqual(commands.answer(m), {"ok": True, "command": "message", "commandId": m.id, "text": "Halo"})
        self.assertEqual(commands.answer(lock), {"ok": True, "command": "lock", "commandId": lock.id})
        # Each change of state written once: sent, done; sent, done; sent.
        self.assertEqual(self.changed, [(m.id, 110, None), (m.id, 110, 128), (lock.id, 128, None),
                                        (lock.id, 128, 140), (other.id, 141, None)])
        self.assertEqual([commands.state(c, 150, False) for c in (m, lock, other)],
                         [commands.DONE, commands.DONE, commands.SENT])
        self.assertEqual(other.done, None)
        self.assertEqual(self.pokes, 3 + 4, "the pages are told of each queued one and each heartbeat that changed one")

    def test_expiry_after_ten_minutes_and_the_end_of_the_exam(self):
        old = self.queue(S1, "message", "lama", 0)
        new = self.queue(S1, "lock", at=400)
        self.assertEqual(commands.state(old, 0, False), commands.WAITING)
        self.assertEqual(commands.state(old, 599.9, False), commands.WAITING)
        self.assertEqual(commands.state(old, 600, False), commands.EXPIRED)
        # The PC was not heard for ten minutes: the old one is never answered.
        self.assertEqual(self.q.heartbeat(S1, None, False, 700), commands.answer(new))
        self.assertEqual(commands.state(new, 700, False), commands.SENT)
        self.assertEqual(self.q.heartbeat(S1, None, False, 1000), {"ok": True}, "the second expired too, though sent")
        self.assertEqual(commands.state(new, 1000, False), commands.EXPIRED)
        # A done that comes late is still the truth.
        self.q.heartbeat(S1, new.id, False, 1001)
        self.assertEqual(commands.state(new, 1001, False), commands.DONE)
        # The exam ended: nothing is answered, whatever waits; the page says expired.
        end = self.queue(S2, "end", at=2000)
        self.assertEqual(self.q.heartbeat(S2, None, True, 2001), {"ok": True})
        self.assertEqual(commands.state(end, 2001, True), commands.EXPIRED)
        self.assertIsNone(end.sent)

    def test_a_restart_keeps_the_queue_and_its_order(self):
        a, b = self.queue(S1, "lock", at=10), self.queue(S1, "unlock", at=11)
        self.q.heartbeat(S1, None, False, 12)
        rows = [Command(c.id, c.seq, c.session, c.className, c.studentName, c.token, c.kind, c.text, c.created,
                        c.sent, c.done) for c in (b, a)]  # in any order from the store
        again = Commands(rows, lambda made: None, lambda c: None)
        self.assertEqual(again.heartbeat(S1, a.id, False, 20), commands.answer(b))
        self.assertGreater(again.queue([(S1, "5A", "Budi", "ABC123")], "end", "", 21)[0].seq, b.seq)

    def test_locked_while_the_last_done_of_the_locks_and_unlocks_is_a_lock(self):
        def cmd(seq, kind, done):
            return Command(str(seq), seq, S1, "5A", "Budi", "ABC123", kind, "", 0.0, None, done)
        rows = [
            ([], False),
            ([cmd(1, "lock", None)], False),                                   # queued, not done
            ([cmd(1, "lock", 5.0)], True),
            ([cmd(1, "lock", 5.0), cmd(2, "unlock", None)], True),             # the unlock not done yet
            ([cmd(1, "lock", 5.0), cmd(2, "unlock", 6.0)], False),
            ([cmd(1, "lock", 5.0), cmd(2, "unlock", 6.0), cmd(3, "lock", 7.0)], True),
            ([cmd(1, "lock", 5.0), cmd(2, "message", 9.0)], True),             # a message changes nothing
            ([cmd(1, "unlock", 8.0), cmd(2, "lock", 7.0)], False),             # done order, not queue order
        ]
        for given, expected in rows:
            with self.subTest(given=[(c.kind, c.done) for c in given]):
                self.assertEqual(commands.locked(given), expected)

    def test_the_exams_a_request_is_for_told_apart_by_school_and_token(self):
        from types import SimpleNamespace as Working
        from orvel_exam_server.config import Exam
        exams = (Exam("5A", "SATU11", "https://f/1", school="SD Satu"), Exam("5A", "DUA222", "https://f/2", school="SD Dua"),
                 Exam("5B", "LIMA55", "https://f/3"))
        budi1 = Working(className="5A", studentName="Budi", token="SATU11", started=3)
        budi2 = Working(className="5a", studentName="budi ", token="dua222", started=9)
        siti1 = Working(className="5A", studentName="Siti", token="SATU11", started=4)
        andi = Working(className="5B", studentName="Andi", token="LIMA55", started=5)
        working = [budi1, budi2, siti1, andi]
        rows = [
            ({"className": "5A", "studentName": ""}, [budi1, budi2, siti1]),      # both schools' 5A
            ({"className": "5A", "studentName": "", "school": "SD Satu"}, [budi1, siti1]),
            ({"className": "5A", "studentName": "", "school": "SD Tiga"}, []),
            ({"className": "5A", "studentName": "Budi"}, [budi2]),                # the latest of the two
            ({"className": "5A", "studentName": "Budi", "token": "satu11"}, [budi1]),  # the row's own exam
            ({"className": "5B", "studentName": "", "school": "SD Satu"}, []),
            ({"className": "5C", "studentName": ""}, []),
        ]
        for request, expected in rows:
            with self.subTest(request=request):
                self.assertEqual(commands.chosen(working, request, exams), expected)

    def test_a_command_of_another_process_is_merged_once_and_keeps_the_first_times(self):
        changed = []
        q = Commands([], lambda made: None, lambda c: None, lambda: changed.append(1))
        mine = q.queue([(S1, "5A", "Budi", "ABC123")], "lock", "", 10.0)[0]
        changed.clear()
        theirs = Command("X" * 16, mine.seq + 1, S1, "5A", "Budi", "ABC123", "message", "Halo", 11.0)
        steps = [
            (theirs, 1, None),                                   # new here: kept, the page told
            (Command(**{**vars(theirs)}), 1, None),              # heard again as it was: nothing
            (Command(**{**vars(theirs), "sent": 12.0}), 2, 12.0),
            (Command(**{**vars(theirs), "sent": 15.0, "done": 16.0}), 3, 12.0),  # the first sent stays
            (Command(**{**vars(mine)}), 3, 12.0),                # this process's own, back from the database
        ]
        for given, pokes, sent in steps:
            q.merge(given)
            self.assertEqual((len(changed), q.by_id[theirs.id].sent), (pokes, sent))
        self.assertEqual([c.id for c in q.of_session(S1)], [mine.id, theirs.id])
        self.assertEqual(q.heartbeat(S1, mine.id, False, 17.0), {"ok": True}, "the other's was done elsewhere")

    def test_ids_are_what_the_launcher_takes(self):
        ids = {commands.new_command_id() for _ in range(200)}
        self.assertEqual(len(ids), 200)
        for i in ids:
            self.assertRegex(i, r"\A[0-9A-Za-z_-]{1,32}\Z")


if __name__ == "__main__":
    unittest.main()
