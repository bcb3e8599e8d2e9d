"""The server's decisions, table-tested: configuration, verify, the limiter,
the roster, grouping and the gateways' requests."""
from __future__ import annotations

import datetime as dt
import json
import sys
import unittest
import urllib.parse
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))

from orvel_exam_server import config, decisions, whatsapp  # noqa: E402
from orvel_exam_server.config import ConfigError, Exam  # noqa: E402

NOW = dt.datetime(2026, 12, 9, 8, 0)
EXAMS = (
    Exam("5A", "K7M2QX", "https://f.example/ujian?nama={studentName}&x=1", "2468",
         dt.datetime(2026, 12, 9, 7, 30), dt.datetime(2026, 12, 9, 10, 0)),
    Exam("5B", "K7M2QX", "https://f.example/5b", ""),          # the same token, another class
    Exam("6A", "LATE01", "https://f.example/6a", "1", opens=dt.datetime(2026, 12, 9, 9, 5)),
    Exam("6B", "EARLY1", "https://f.example/6b", "1", closes=NOW),
)


def req(name="Budi", cls="5A", token="K7M2QX"):
    return {"studentName": name, "className": cls, "token": token}


class Verify(unittest.TestCase):
    def test_answers_byte_for_byte(self):
        table = [
            (req(), '{"ok":true,"formUrl":"https://f.example/ujian?nama=Budi&x=1","proctorPin":"2468"}'),
            (req(cls=" 5a\t", token="k7m2qx "), '{"ok":true,"formUrl":"https://f.example/ujian?nama=Budi&x=1","proctorPin":"2468"}'),
            (req(name='Ä "Q" \\ & é/?'), '{"ok":true,"formUrl":"https://f.example/ujian?nama=%C3%84%20%22Q%22%20%5C%20%26%20%C3%A9%2F%3F&x=1","proctorPin":"2468"}'),
            (req(cls="5B"), '{"ok":true,"formUrl":"https://f.example/5b"}'),  # no PIN: no member
            (req(token="NOPE"), '{"ok":false,"error":"Token tidak valid."}'),
            (req(cls=" 6c "), '{"ok":false,"error":"Token ini bukan untuk kelas 6c."}'),
            (req(cls="5\tÜ"), '{"ok":false,"error":"Token ini bukan untuk kelas 5 Ü."}'),  # no \\u escape reaches the launcher
            (req(cls="5\x7fC"), '{"ok":false,"error":"Token ini bukan untuk kelas 5 C."}'),  # DEL is a control too
            (req(cls="6A", token="LATE01"), '{"ok":false,"error":"Ujian belum dibuka. Mulai pukul 09:05."}'),
            (req(cls="6B", token="EARLY1"), '{"ok":false,"error":"Ujian sudah ditutup."}'),
            (None, '{"ok":false,"error":"Permintaan tidak lengkap."}'),
        ]
        for request, answer in table:
            with self.subTest(request=request):
                self.assertEqual(decisions.verify(request, EXAMS, NOW).answer, answer)
        self.assertTrue(decisions.verify(req(token="NOPE"), EXAMS, NOW).wrong_token)
        self.assertTrue(decisions.verify(req(cls="6C"), EXAMS, NOW).wrong_token)
        self.assertFalse(decisions.verify(req(cls="6A", token="LATE01"), EXAMS, NOW).wrong_token)
        self.assertTrue(decisions.verify(req(cls="6A", token="LATE01"), EXAMS, dt.datetime(2026, 12, 9, 9, 5)).ok,
                        "open from the opening minute on")
        self.assertTrue(decisions.verify(req(), EXAMS, dt.datetime(2026, 12, 9, 9, 59, 59)).ok)
        self.assertFalse(decisions.verify(req(), EXAMS, dt.datetime(2026, 12, 9, 10, 0)).ok)

    def test_only_the_exact_members_are_a_request(self):
        three, five = decisions.VERIFY_MEMBERS, decisions.EVENT_MEMBERS
        ok = '{"studentName":"A\tB","className":"5A","token":"T"}'.encode()
        self.assertEqual(decisions.members(ok, three)["studentName"], "A\tB")  # a raw tab is tolerated
        for bad in [b"", b"null", b"[]", b'{"studentName":"A","className":"5A"}',
                    b'{"studentName":"A","className":"5A","token":1}',
                    b'{"studentName":"A","className":"5A","token":"T","x":"y"}', b"\xff\xfe", b'{"studentName":']:
            with self.subTest(body=bad):
                self.assertIsNone(decisions.members(bad, three))
        event = '{"studentName":"A","className":"5A","token":"T","event":"START","detail":"d"}'.encode()
        self.assertIsNotNone(decisions.members(event, five))
        self.assertIsNone(decisions.members(event, three))


class Limits(unittest.TestCase):
    def test_more_than_ten_failures_a_minute_block_until_the_minute_is_over(self):
        lim = decisions.Limiter()
        for i in range(10):
            self.assertFalse(lim.blocked("10.0.0.5", 100 + i))
            lim.failed("10.0.0.5", 100 + i)
        self.assertTrue(lim.blocked("10.0.0.5", 110))     # the eleventh try
        self.assertFalse(lim.blocked("10.0.0.6", 110))    # another PC is not affected
        self.assertTrue(lim.blocked("10.0.0.5", 159.9))
        self.assertFalse(lim.blocked("10.0.0.5", 160.0))  # the first failure is a minute old
        lim2 = decisions.Limiter()
        for t in range(0, 200, 7):  # a slow typist is never blocked
            self.assertFalse(lim2.blocked("a", t))
            lim2.failed("a", t)


def entry(i, kind, event="", name="Budi", cls="5A", token="K7M2QX", detail=""):
    return {"id": i, "kind": kind, "receivedAt": f"2026-12-09T08:00:{i:02d}.000+07:00", "studentName": name,
            "className": cls, "token": token, "event": event, "detail": detail}


class Roster(unittest.TestCase):
    def test_states_counts_and_order(self):
        entries = [
            entry(1, "verify", name="Siti"),
            entry(2, "verify"),
            entry(3, "report", "START", detail="mulai"),
            entry(4, "report", "VIOLATION", name="budi ", detail="v1"),   # the same student
            entry(5, "report", "START", name="Andi", cls="5b"),
            entry(6, "report", "FINISH", name="Andi", cls="5B"),
            entry(7, "report", "VIOLATION", name="Siti", detail="v1"),
            entry(8, "report", "VIOLATION", name="Budi", detail="v2"),
            entry(9, "report", "START", name="Eko", token="WRONG"),       # unknown token: not in the roster
            entry(10, "report", "VIOLATION", name="Siti", cls="6A", token="K7M2QX"),  # not this class's token
            entry(11, "report", "XYZ", name="Andi", cls="5B", detail="baru"),  # an unknown event changes nothing
        ]
        got = decisions.roster(entries, EXAMS)
        self.assertEqual([(s["studentName"], s["className"], s["state"], s["violations"], s["lastDetail"]) for s in got], [
            ("Budi", "5A", "Mengerjakan", 2, "v2"),
            ("Siti", "5A", "Terverifikasi", 1, "v1"),
            ("Andi", "5B", "Selesai", 0, "baru"),
        ])
        self.assertEqual(got[0]["lastEventAt"], "2026-12-09T08:00:08.000+07:00")
        # A second exam after finishing: working again.
        again = decisions.roster(entries + [entry(12, "verify", name="Andi", cls="5B"),
                                            entry(13, "report", "START", name="Andi", cls="5B")], EXAMS)
        self.assertEqual(next(s["state"] for s in again if s["studentName"] == "Andi"), "Mengerjakan")
        # Equal counts: the newest first; blanks inside a name and its case do
        # not make another student.
        ties = decisions.roster([entry(1, "verify", name="Siti"), entry(2, "verify", name="Budi  Santoso"),
                                 entry(3, "report", "START", name="budi santoso"), entry(4, "verify", name="Andi")],
                                EXAMS)
        self.assertEqual([s["studentName"] for s in ties], ["Andi", "Budi Santoso", "Siti"])

    def test_csv_cells_stay_text(self):
        for cell, out in [("=1+1", "'=1+1"), ("+62", "'+62"), ("-x", "'-x"), ("@a", "'@a"), ("Budi", "Budi"), ("", "")]:
            self.assertEqual(decisions.csv_cell(cell), out)
        for live in ("\t=1+1", "\r=1+1"):  # a spreadsheet skips the blank and reads a formula
            self.assertTrue(decisions.csv_cell(live).startswith("'"), repr(live))


def rep(i, event, name="Budi", cls="5A", detail=None):
    return {"id": i, "event": event, "studentName": name, "className": cls, "token": "K7M2QX",
            "detail": detail or f"{event} {i}"}


class Grouping(unittest.TestCase):
    def test_violations_first_at_once_then_merged_and_summaries_per_class(self):
        g = whatsapp.Grouper(merge=60, summary=120)
        g.add(rep(1, "START"), 0)
        g.add(rep(2, "START", name="Siti"), 1)
        g.add(rep(3, "VIOLATION", detail="Pelanggaran ke-1"), 2)
        self.assertEqual(g.take_due(2), [("PELANGGARAN - Budi (kelas 5A): Pelanggaran ke-1", [3])])
        g.add(rep(4, "VIOLATION", detail="Pelanggaran ke-2"), 10)
        g.add(rep(5, "VIOLATION", name="budi", detail="Pelanggaran ke-3"), 20)
        g.add(rep(6, "VIOLATION", name="Siti", detail="S ke-1"), 21)   # another student: at once
        g.add(rep(7, "FINISH", cls="5a "), 30)
        g.add(rep(8, "START", cls="6B", name="Eko"), 40)
        self.assertEqual(g.take_due(21), [("PELANGGARAN - Siti (kelas 5A): S ke-1", [6])])
        self.assertEqual(g.take_due(61.9), [])
        self.assertEqual(g.take_due(62), [("PELANGGARAN - Budi (kelas 5A), 2 pelanggaran:\n"
                                           "- Pelanggaran ke-2\n- Pelanggaran ke-3", [4, 5])])
        self.assertEqual(g.next_due(), 120)
        self.assertEqual(g.take_due(120), [("5A: 2 mulai, 1 selesai\nMulai: Budi, Siti\nSelesai: Budi", [1, 2, 7])])
        self.assertEqual(g.take_due(160), [("6B: 1 mulai, 0 selesai\nMulai: Eko", [8])])
        # A violation after a quiet minute goes at once again.
        g.add(rep(9, "VIOLATION", detail="Pelanggaran ke-4"), 200)
        self.assertEqual(g.take_due(200), [("PELANGGARAN - Budi (kelas 5A): Pelanggaran ke-4", [9])])
        self.assertIsNone(g.next_due())

    def test_retry_schedule(self):
        self.assertEqual([whatsapp.next_try(n, 0, 100) for n in range(1, 7)], [101, 102, 104, 108, 160, 160])
        self.assertIsNone(whatsapp.next_try(9, 0, 24 * 3600 - 30))


class Presets(unittest.TestCase):
    def w(self, preset, url="https://gw.example/send", headers=None):
        return config.WhatsApp(preset, url, ("081234567890",), headers or {"Authorization": "SECRET"})

    def test_requests_and_what_counts_as_delivered(self):
        fon = whatsapp.build_request(self.w("fonnte"), "081234567890", "Halo & é")
        self.assertEqual(urllib.parse.parse_qs(fon.body.decode()), {"target": ["081234567890"], "message": ["Halo & é"]})
        self.assertEqual(fon.headers["Authorization"], "SECRET")
        wab = whatsapp.build_request(self.w("wablas"), "+62 812-3456-7890", "x")
        self.assertEqual(urllib.parse.parse_qs(wab.body.decode())["phone"], ["6281234567890"])
        waha = whatsapp.build_request(self.w("waha"), "081234567890", "x")
        self.assertEqual(json.loads(waha.body), {"chatId": "6281234567890@c.us", "text": "x", "session": "default"})
        cloud = json.loads(whatsapp.build_request(self.w("cloud-api"), "081234567890", "x").body)
        self.assertEqual((cloud["to"], cloud["type"], cloud["text"]["body"]), ("6281234567890", "text", "x"))
        hook = whatsapp.build_request(self.w("webhook"), "081234567890", "Ä")
        self.assertEqual(hook.body.decode(), '{"to": "081234567890", "text": "Ä"}')
        table = [
            ("fonnte", 200, b'{"status":true,"detail":"sent"}', True),
            ("fonnte", 200, b'{"status":false,"reason":"device offline"}', False),
            ("fonnte", 200, b"<html>", False),
            ("fonnte", 500, b'{"status":true}', False),
            ("wablas", 200, b'{"status":true}', True),
            ("waha", 201, b"{}", True),
            ("waha", 401, b"{}", False),
            ("cloud-api", 200, b'{"messages":[{"id":"wamid.1"}]}', True),
            ("cloud-api", 200, b'{"error":{}}', False),
            ("webhook", 204, b"", True),
            ("webhook", 302, b"", False),
        ]
        for preset, status, body, ok in table:
            with self.subTest(preset=preset, status=status, body=body):
                self.assertEqual(whatsapp.delivered(preset, status, body), ok)

    def test_redaction(self):
        r = whatsapp.Redactor(["SECRET", "SECRET-LONGER", "", "ab"])
        self.assertEqual(r("x SECRET-LONGER y SECRET ab"), "x *** y *** ab")


class Configuration(unittest.TestCase):
    BASE = '[server]\nhost = "cbt.x.sch.id"\nproctor_password = "env:PW"\ndatabase = "data/x.db"\n' \
           '[[exam]]\nclass = "5A"\ntoken = "T1"\nform_url = "https://f/x"\n'

    def parse(self, text, environ=None):
        return config.parse(text, Path("/srv/orvel/server.toml"), {"PW": "sandi-rahasia"} if environ is None else environ)

    def test_paths_environment_and_defaults(self):
        c = self.parse(self.BASE + '[whatsapp]\npreset = "fonnte"\nurl = "https://api.fonnte.com/send"\n'
                                   'to = ["0812"]\nheaders = { Authorization = "env:PW" }\n')
        self.assertEqual((c.database, c.cert_file), (Path("/srv/orvel/data/x.db"), Path("/srv/orvel/certs/server.crt")))
        self.assertEqual((c.listen_host, c.listen_port, c.proctor_password), ("0.0.0.0", 443, "sandi-rahasia"))
        self.assertEqual(c.whatsapp.headers, {"Authorization": "sandi-rahasia"})
        self.assertEqual(c.whatsapp.violation_merge_seconds, 60)
        self.assertIn("sandi-rahasia", c.secrets())

    def test_errors_name_what_is_wrong(self):
        table = [
            (self.BASE, {}, "PW"),
            (self.BASE.replace('"cbt.x.sch.id"', '"https://cbt"'), None, "server.host"),
            (self.BASE.replace('[[exam]]', 'listen = "0.0.0.0"\n[[exam]]'), None, "server.listen"),
            (self.BASE.replace("https://f/x", "ftp://f/x"), None, "form_url"),
            (self.BASE + '[[exam]]\nclass = "5a"\ntoken = "t1"\nform_url = "https://f"\n', None, "already has the token"),
            (self.BASE.replace('form_url', 'opens = "2026-12-09T10:00"\ncloses = "2026-12-09T09:00"\nform_url'), None, "before"),
            (self.BASE.replace('form_url', 'opens = "tomorrow"\nform_url'), None, "opens"),
            (self.BASE + '[whatsapp]\npreset = "telegram"\nurl = "x"\nto = ["1"]\n', None, "whatsapp.preset"),
            (self.BASE + '[whatsapp]\npreset = "webhook"\nurl = "x"\nto = []\n', None, "whatsapp.to"),
            ('[server]\nhost = "h"\n', None, "proctor_password"),
            ("x = = 1", None, "TOML"),
        ]
        for text, environ, words in table:
            with self.subTest(words=words):
                with self.assertRaises(ConfigError) as caught:
                    self.parse(text, environ)
                self.assertIn(words, str(caught.exception))


if __name__ == "__main__":
    unittest.main()
