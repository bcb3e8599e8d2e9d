"""The proctor's commands through the running server: posted by the
logged-in proctor, answered in the heartbeats of that student's exam only,
repeated until named done, gone after; a class message for each working
exam; the timeline's states and the roster's "Dikunci"; a restart keeps them."""
from __future__ import annotations

import json
import sys
import unittest
import urllib.parse
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from support import RunningServer  # noqa: E402

START = "Siswa memulai ujian di aplikasi PC."
EXAMS = """
[[exam]]
class = "5A"
token = "ABC123"
form_url = "https://forms.example/5a"

[[exam]]
class = "5B"
token = "NOPIN1"
form_url = "https://forms.example/5b"
"""


class ProctorCommands(unittest.TestCase):
    def setUp(self):
        self.server = RunningServer(EXAMS).start()
        self.cookie = self.server.login()

    def tearDown(self):
        self.server.remove()

    def working(self, name, cls="5A", token="ABC123"):
        session = self.server.verify(name, cls, token)
        self.assertEqual(self.server.report(session, name, "START", START, cls, token)[0], 200)
        return session

    def post(self, cookie=None, **members):
        s = self.server
        status, _, data = s.request("POST", "/api/proctor/command", json.dumps(members),
                                    {"Cookie": self.cookie if cookie is None else cookie,
                                     "Content-Type": "application/json"})
        return status, json.loads(data) if data.startswith(b"{") else data

    def beat(self, session, done=None):
        body = {"session": session} if done is None else {"session": session, "done": done}
        status, data = self.server.post_json("/api/exam/heartbeat", json.dumps(body), session=session)
        self.assertEqual(status, 200, data)
        return json.loads(data)

    def timeline(self, name, cls="5A", token="ABC123"):
        q = urllib.parse.urlencode({"className": cls, "studentName": name, "token": token})
        return [(e["command"], e["text"], e["state"]) for e in
                self.server.get_json("/api/proctor/timeline?" + q, self.cookie) if e["kind"] == "command"]

    def roster(self):
        return {x["studentName"]: x for x in self.server.get_json("/api/proctor/roster", self.cookie)}

    def test_a_command_reaches_that_students_heartbeat_only_is_repeated_until_done_and_is_gone_after(self):
        budi, siti = self.working("Budi"), self.working("Siti")
        self.assertEqual(self.post(className="5a", studentName="budi ", kind="message", text="Sepuluh menit lagi."),
                         (200, {"ok": True, "sent": 1}), "class and name as the roster matches them")
        self.assertEqual(self.timeline("Budi"), [("message", "Sepuluh menit lagi.", "menunggu")])
        self.assertEqual(self.beat(siti), {"ok": True}, "not for another student")
        first = self.beat(budi)
        self.assertEqual((first["command"], first["text"]), ("message", "Sepuluh menit lagi."))
        self.assertRegex(first["commandId"], r"\A[0-9A-Za-z_-]{1,32}\Z")
        self.assertEqual(self.timeline("Budi"), [("message", "Sepuluh menit lagi.", "terkirim")])
        self.assertEqual(self.beat(budi), first, "repeated until a heartbeat names it done")
        # The byte form the launcher's exact scans read.
        _, raw = self.server.post_json("/api/exam/heartbeat", json.dumps({"session": budi}), session=budi)
        self.assertEqual(raw, ('{"ok":true,"command":"message","commandId":"%s","text":"Sepuluh menit lagi."}'
                               % first["commandId"]).encode())
        self.assertEqual(self.beat(budi, first["commandId"]), {"ok": True})
        self.assertEqual(self.beat(budi), {"ok": True}, "gone once done")
        self.assertEqual(self.timeline("Budi"), [("message", "Sepuluh menit lagi.", "dilakukan")])
        self.assertEqual(self.timeline("Siti"), [])

        # Lock, then unlock: one at a time, the next in the done heartbeat's answer; "Dikunci" in between.
        self.assertEqual(self.post(className="5A", studentName="Budi", kind="lock")[0], 200)
        self.assertEqual(self.post(className="5A", studentName="Budi", kind="unlock")[0], 200)
        lock = self.beat(budi)
        self.assertEqual(lock["command"], "lock")
        self.assertFalse(self.roster()["Budi"]["locked"], "not before it is done")
        unlock = self.beat(budi, lock["commandId"])
        self.assertEqual(unlock["command"], "unlock")
        self.assertTrue(self.roster()["Budi"]["locked"])
        self.assertFalse(self.roster()["Siti"]["locked"])
        self.assertEqual(self.beat(budi, unlock["commandId"]), {"ok": True})
        self.assertFalse(self.roster()["Budi"]["locked"])

        # The end: the FINISH it leads to drops whatever still waits.
        self.assertEqual(self.post(className="5A", studentName="Budi", kind="end")[0], 200)
        self.assertEqual(self.post(className="5A", studentName="Budi", kind="message", text="terlambat")[0], 200)
        end = self.beat(budi)
        self.assertEqual(end["command"], "end")
        self.assertEqual(self.beat(budi, end["commandId"])["command"], "message")
        self.assertEqual(self.server.report(budi, "Budi", "FINISH", "Ujian diakhiri oleh pengawas dari halaman pengawas.")[0],
                         200)
        self.assertEqual(self.beat(budi), {"ok": True}, "nothing after the exam's end")
        self.assertEqual(self.timeline("Budi")[-2:], [("end", "", "dilakukan"), ("message", "terlambat", "kedaluwarsa")])
        self.assertEqual(self.post(className="5A", studentName="Budi", kind="lock"),
                         (404, {"ok": False, "error": "Tidak ada ujian yang sedang berjalan untuk siswa ini."}))

    def test_a_class_message_reaches_each_working_exam_of_the_class(self):
        a, b = self.working("Ani"), self.working("Bayu")
        other_class = self.working("Citra", "5B", "NOPIN1")
        verified_only = self.server.verify("Dodi")  # no START: not working
        finished = self.working("Eka")
        self.server.report(finished, "Eka", "FINISH", "selesai")
        self.assertEqual(self.post(className="5A", kind="message", text="Waktu tinggal 5 menit.\nPeriksa lagi."),
                         (200, {"ok": True, "sent": 2}))
        for session in (a, b):
            got = self.beat(session)
            self.assertEqual((got["command"], got["text"]), ("message", "Waktu tinggal 5 menit.\nPeriksa lagi."))
        for session in (other_class, verified_only, finished):
            self.assertEqual(self.beat(session), {"ok": True})
        self.assertEqual(self.post(className="6C", kind="message", text="x"),
                         (404, {"ok": False, "error": "Tidak ada ujian yang sedang berjalan untuk kelas ini."}))

    def test_only_the_logged_in_proctor_of_this_page_and_only_good_commands(self):
        self.working("Budi")
        for cookie in ("", "orvel_pengawas=palsu"):
            with self.subTest(cookie=cookie):
                self.assertEqual(self.post(cookie, className="5A", kind="lock")[0], 401)
        s = self.server
        status, _, _ = s.request("POST", "/api/proctor/command", json.dumps({"className": "5A", "kind": "lock"}),
                                 {"Cookie": self.cookie, "Origin": "https://evil.example"})
        self.assertEqual(status, 403)
        for members, error in [({"className": "5A", "kind": "reboot"}, "Perintah tidak dikenal."),
                               ({"className": "5A", "kind": "message", "text": ""}, "Pesan kosong atau lebih dari 300 karakter."),
                               ({"className": "5A", "kind": "message", "text": "x" * 301},
                                "Pesan kosong atau lebih dari 300 karakter."),
                               ({"kind": "lock"}, "Kelas belum diisi.")]:
            with self.subTest(members=str(members)[:50]):
                self.assertEqual(self.post(**members), (400, {"ok": False, "error": error}))
        self.assertEqual(self.post(className="5A", studentName="Nobody", kind="lock")[0], 404)

    def test_a_restart_keeps_the_commands_and_a_bad_done_is_refused(self):
        budi = self.working("Budi")
        self.assertEqual(self.post(className="5A", studentName="Budi", kind="lock")[0], 200)
        first = self.beat(budi)
        self.assertEqual(self.server.stop(), 0)
        self.server.start()
        self.assertEqual(self.beat(budi), first, "the same command, still waiting for its done")
        status, _ = self.server.post_json("/api/exam/heartbeat", json.dumps({"session": budi, "done": "a b"}),
                                          session=budi)
        self.assertEqual(status, 400)
        self.assertEqual(self.beat(budi, first["commandId"]), {"ok": True})
        self.assertEqual(self.timeline("Budi"), [("lock", "", "dilakukan")])


if __name__ == "__main__":
    unittest.main()
