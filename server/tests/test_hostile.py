"""Hostile values on every route the proctor's page and the launcher post
to, through the running server: each is answered with a 4xx that names the
problem (the field, for the page's forms), never a dropped connection, and
nothing of it is stored."""
from __future__ import annotations

import json
import sys
import unittest
import urllib.parse
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from support import RunningServer, query  # noqa: E402

EXAMS = """
[[exam]]
class = "5A"
token = "ABC123"
form_url = "https://forms.example/5a"
"""
EXAM = {"classes": "7B", "token": "QWERTZ", "formUrl": "https://forms.example/7b"}


class HostileValues(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = RunningServer(EXAMS).start()
        cls.cookie = cls.server.login()

    @classmethod
    def tearDownClass(cls):
        cls.server.remove()

    def post(self, path: str, body: object, cookie: bool = True) -> tuple[int, dict]:
        raw = body if isinstance(body, (str, bytes)) else json.dumps(body)
        headers = {"Content-Type": "application/json", **({"Cookie": self.cookie} if cookie else {})}
        status, _, data = self.server.request("POST", path, raw, headers)
        return status, json.loads(data)

    def assertRefused(self, got: tuple[int, dict], status: int, field: str | None, part: str) -> None:
        self.assertEqual(got[0], status, got)
        if field is not None:
            self.assertEqual(got[1].get("field"), field, got)
        self.assertIn(part, got[1]["error"], got)

    def test_the_page_forms_name_the_wrong_field(self):
        table = [  # (route, body, field, part of the message)
            ("/api/proctor/exam", dict(EXAM, rotateMinutes="\u00b2"), "rotateMinutes", "5 sampai 1440"),
            ("/api/proctor/exam", dict(EXAM, rotateMinutes="9" * 5000), "rotateMinutes", "5 sampai 1440"),
            ("/api/proctor/exam", dict(EXAM, rotateMinutes=-5), "rotateMinutes", "teks"),
            ("/api/proctor/exam", dict(EXAM, opens="0001-01-01T00:00"), "opens", "2026-12-09T07:30"),
            ("/api/proctor/exam", dict(EXAM, classes=",".join(f"K{i}" for i in range(101))), "classes", "100 kelas"),
            ("/api/proctor/exam", dict(EXAM, classes=["7B"]), "classes", "teks"),
            ("/api/proctor/exam", dict(EXAM, id=2 ** 80), "id", "Ujian tidak dikenal"),
            ("/api/proctor/exam", '{"classes":"7B","token":"QWERTZ","formUrl":"https://f/x","classes":"7C"}',
             "form", "Permintaan tidak lengkap."),
            # A lone surrogate: named by its field, beside which the page shows the message.
            ("/api/proctor/exam", '{"classes":"7\\ud800","token":"QWERTZ","formUrl":"https://f/x"}', "classes",
             "karakter yang rusak"),
            ("/api/proctor/exam", '{"classes":"7B","token":"QWERTZ","formUrl":"https://f/x","school":"SD \\udc00"}',
             "school", "karakter yang rusak"),
            ("/api/proctor/exam", '{"classes":"7B","\\ud800":"x","formUrl":"https://f/x"}', "form",
             "Permintaan tidak lengkap."),
            ("/api/proctor/exam", dict(EXAM, school="SD\nSatu"), "school", "karakter kendali"),
            ("/api/proctor/exam", dict(EXAM, school="SD\u202eSatu"), "school", "karakter kendali"),
            ("/api/proctor/exam", dict(EXAM, school="S" * 501), "school", "paling banyak 500"),
            ("/api/proctor/exam", dict(EXAM, school=["SD Satu"]), "school", "teks"),
            ("/api/proctor/exam-token", {"id": 2 ** 80}, "id", "Ujian tidak dikenal"),
            ("/api/proctor/exam-state", {"id": "1", "ended": True}, "id", "Ujian tidak dikenal"),
            ("/api/proctor/proctor", {"name": "Bu Ani", "password": "x" * 60000, "classes": "5A"}, "password",
             "paling banyak 200"),
            ("/api/proctor/proctor", {"name": "Bu \ud800", "password": "x" * 10, "classes": "5A"}, "name",
             "karakter yang rusak"),
            ("/api/proctor/proctor", {"name": "Bu Ani", "password": "x" * 10, "classes": "5A", "school": "SD \ud800"},
             "school", "karakter yang rusak"),
            ("/api/proctor/proctor", {"name": "Bu Ani", "password": "x" * 10, "classes": "5A", "school": "SD\tSatu"},
             "school", "karakter kendali"),
            ("/api/proctor/proctor", {"name": "Bu Ani", "password": "x" * 10, "classes": "5A", "school": "\U0001d412" * 251},
             "school", "paling banyak 500"),
            ("/api/proctor/proctor", {"name": "Bu Ani", "password": "x" * 10,
                                      "classes": ",".join(f"K{i}" for i in range(101))}, "classes", "100 kelas"),
            ("/api/proctor/proctor", {"name": "Bu Ani", "password": 1234567890, "classes": "5A"}, "password", "teks"),
            ("/api/proctor/proctor-remove", {"id": 2 ** 80}, "id", "Pengawas tidak dikenal."),
            ("/api/proctor/proctor-remove", {"id": -1}, "id", "Pengawas tidak dikenal."),
            ("/api/proctor/close-session", {"session": 5}, "session", "Sesi tidak valid."),
            ("/api/proctor/close-session", '{"session":"' + "a" * 32 + '","session":"' + "b" * 32 + '"}', "session",
             "Sesi tidak valid."),
        ]
        for path, body, field, part in table:
            with self.subTest(path=path, body=str(body)[:80]):
                self.assertRefused(self.post(path, body), 400, field, part)
        self.assertEqual(self.server.get_json("/api/proctor/exams", self.cookie)["page"], [])
        self.assertEqual(self.server.get_json("/api/proctor/proctors", self.cookie), [])

    def test_commands_and_the_launcher_refuse_what_no_exam_has(self):
        session = self.server.verify("Budi")
        table = [  # (route, body, status, part of the message)
            ("/api/proctor/command", {"kind": "lock", "className": "K" * 63}, 400, "Nama kelas paling banyak 62"),
            ("/api/proctor/command", {"kind": "lock", "className": "5A", "studentName": "N" * 255}, 400,
             "Nama siswa paling banyak 254"),
            ("/api/proctor/command", {"kind": "lock", "className": "5A", "token": "T" * 63}, 400, "Token paling banyak"),
            ("/api/proctor/command", "[" * 30000 + "]" * 30000, 400, "Perintah tidak dikenal."),
            ("/api/proctor/command", '{"kind":"message","className":"5A","text":"\\udc00"}', 400, "Perintah tidak dikenal."),
            # The launcher's contract: a verify it cannot take is a 200 with ok false.
            ("/api/exam/verify", '{"studentName":"B\\ud800","className":"5A","token":"ABC123"}', 200,
             "Permintaan tidak lengkap."),
            ("/api/exam/verify", '{"studentName":"B","className":"5A","token":"ABC123","token":"ABC123"}', 200,
             "Permintaan tidak lengkap."),
        ]
        for path, body, status, part in table:
            with self.subTest(path=path, body=str(body)[:80]):
                self.assertRefused(self.post(path, body, cookie=path.startswith("/api/proctor/")), status, None, part)
        status, data = self.server.post_json("/api/exam/event", '{"studentName":"Budi","className":"5A","token":"ABC123",'
                                             '"event":"START","detail":"\\ud800"}', "k1", session)
        self.assertEqual((status, json.loads(data)["error"]), (400, "Permintaan tidak lengkap."))
        timeline = self.server.get_json("/api/proctor/timeline?" + urllib.parse.urlencode(
            {"className": "5A", "studentName": "Budi", "token": "ABC123"}), self.cookie)
        self.assertEqual([e["kind"] for e in timeline], ["verify"])

    def test_class_list_names_its_class_once_and_visibly_and_a_strange_cookie_is_no_login(self):
        def upload(query: str) -> tuple[int, dict]:
            status, _, data = self.server.request("POST", "/api/proctor/class-list?" + query, b"Budi\n",
                                                  {"Cookie": self.cookie})
            return status, json.loads(data)
        for query, part in [("className=5A&className=5B", "satu nama kelas"),
                            ("className=%E2%80%8B", "karakter kendali"), ("className=5%0AA", "karakter kendali"),
                            ("className=%FF", "karakter kendali"), ("className=%0A%0A", "Isi nama kelas"),
                            ("className=" + "K" * 63, "paling banyak 62")]:
            with self.subTest(query):
                self.assertRefused(upload(query), 400, "className", part)
        self.assertEqual(self.server.get_json("/api/proctor/class-lists", self.cookie), [])
        # An account id of digits isdigit() takes but int() does not: no login, not a dropped connection.
        for cookie in ("orvel_pengawas=\u00b2.abc", "orvel_pengawas=1234567890123.abc", "orvel_pengawas=.abc"):
            status, _, _ = self.server.request("GET", "/api/proctor/me", headers={"Cookie": cookie})
            self.assertEqual(status, 401, cookie)

    def test_a_padded_resend_under_the_same_key_is_a_report_of_its_own_stored_compact(self):
        # Padding is kept by its hash only: the same members padded otherwise are another body.
        session = self.server.verify("Eko")
        body = json.dumps({"studentName": "Eko", "className": "5A", "token": "ABC123", "event": "VIOLATION",
                           "detail": "(Pelanggaran ke-1)"})
        for sent in (body, body, body[:-1] + " " * 3000 + "}"):
            self.assertEqual(self.server.post_json("/api/exam/event", sent, "kunci-eko", session)[0], 200)
        rows = query(self.server.database, "SELECT length(body) FROM reports WHERE student_name = 'Eko'")
        self.assertEqual(len(rows), 2, "the same body once, the padded one beside it")
        self.assertTrue(all(n < 200 for (n,) in rows), rows)


if __name__ == "__main__":
    unittest.main()
