"""The running server over its real interface: the launcher's contract byte
for byte, replays, the limits, the proctor's API, and reports surviving a
kill -9."""
from __future__ import annotations

import datetime as dt
import http.client
import json
import os
import re
import secrets
import shlex
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from support import RunningServer, env, event_body, wait_for  # noqa: E402

TODAY = dt.datetime.now()
EXAMS = f"""
[[exam]]
class = "5A"
token = "ABC123"
form_url = "https://forms.example/ujian?usp=pp_url&entry.1={{studentName}}"
proctor_pin = "2468"
opens = "{(TODAY - dt.timedelta(hours=1)):%Y-%m-%dT%H:%M}"
closes = "{(TODAY + dt.timedelta(hours=2)):%Y-%m-%dT%H:%M}"

[[exam]]
class = "5B"
token = "NOPIN1"
form_url = "https://forms.example/5b"

[[exam]]
class = "6A"
token = "LATER1"
form_url = "https://forms.example/6a"
opens = "{(TODAY + dt.timedelta(days=1)):%Y-%m-%d}T07:30"
"""
START = "Siswa memulai ujian di aplikasi PC."


def verify_body(name: str, cls: str, token: str) -> str:
    return json.dumps({"studentName": name, "className": cls, "token": token}, ensure_ascii=False, separators=(",", ":"))


class Contract(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = RunningServer(EXAMS).start()

    @classmethod
    def tearDownClass(cls):
        code = cls.server.stop()
        cls.server.remove()
        assert code == 0, "SIGTERM closes cleanly"

    def test_verify_answers_byte_for_byte(self):
        # The launcher's own escapes: \" and \\ in the values, raw UTF-8, a tab as \u0009.
        table = [
            ('{"studentName":"Budi \\"Bu\\" \\\\ Ñoño 王","className":"5A","token":"ABC123"}',
             '{"ok":true,"formUrl":"https://forms.example/ujian?usp=pp_url&entry.1=Budi%20%22Bu%22%20%5C%20%C3%91o%C3%B1o%20%E7%8E%8B","proctorPin":"2468"}'),
            (verify_body("Siti", " 5b ", "NOPIN1"), '{"ok":true,"formUrl":"https://forms.example/5b"}'),
            (verify_body("Siti", "5A", "SALAH1"), '{"ok":false,"error":"Token tidak valid."}'),
            ('{"studentName":"Siti","className":" 5\\u0009C ","token":"ABC123"}', '{"ok":false,"error":"Token ini bukan untuk kelas 5 C."}'),
            (verify_body("Siti", "6A", "LATER1"), '{"ok":false,"error":"Ujian belum dibuka. Mulai pukul 07:30."}'),
            ('{"studentName":"Siti","className":"5A"}', '{"ok":false,"error":"Permintaan tidak lengkap."}'),
            ("bukan json", '{"ok":false,"error":"Permintaan tidak lengkap."}'),
            (verify_body("N" * 255, "5A", "ABC123"), '{"ok":false,"error":"Permintaan tidak lengkap."}'),
        ]
        sessions = set()
        for body, answer in table:
            with self.subTest(body=body):
                status, data = self.server.post_json("/api/exam/verify", body)
                text = data.decode("utf-8")
                # An acceptance ends with its exam session, the other members as before.
                found = re.fullmatch(r'(.*),"session":"([0-9a-f]{32})"}', text)
                if answer.startswith('{"ok":true'):
                    self.assertIsNotNone(found, text)
                    text = found.group(1) + "}"
                    sessions.add(found.group(2))
                else:
                    self.assertIsNone(found, text)
                self.assertEqual((status, text), (200, answer))
        self.assertEqual(len(sessions), 2, "a new session for every acceptance")

    def test_reports_are_kept_once_per_key_and_body_and_streamed_in_order(self):
        s = self.server
        cookie = s.login()
        name = 'Rudi "R" \\ Ünal ' + secrets.token_hex(3)
        session = s.verify(name)
        key1, key2 = secrets.token_hex(16), secrets.token_hex(16)
        bodies = [event_body(name, "START", START), event_body(name, "VIOLATION", "Siswa mencoba beralih (Pelanggaran ke-1)"),
                  event_body(name, "VIOLATION", "Siswa mencoba beralih (Pelanggaran ke-2)")]
        post = lambda body, key=None: s.post_json("/api/exam/event", body, key, session)
        self.assertEqual(post(bodies[0], key1), (200, b'{"ok":true}'))
        self.assertEqual(post(bodies[0], key1), (200, b'{"ok":true}'))  # a replay
        self.assertEqual(post(bodies[1], key2), (200, b'{"ok":true}'))
        self.assertEqual(post(bodies[1]), (200, b'{"ok":true}'))  # no key: kept again
        # A key used again with another body: a report of its own, and a replay of that one is kept once.
        self.assertEqual(post(bodies[2], key2), (200, b'{"ok":true}'))
        self.assertEqual(post(bodies[2], key2), (200, b'{"ok":true}'))
        mine = [r for r in self.export(cookie) if r[4] == name]
        self.assertEqual([r[6] for r in mine], ["START", "VIOLATION", "VIOLATION", "VIOLATION"])
        self.assertEqual(mine[3][7], "Siswa mencoba beralih (Pelanggaran ke-2)")
        self.assertTrue(wait_for(lambda: any(f"report {mine[3][0]} stored as a report of its own" in l
                                             for l in s.log), 5), "the reused key is logged")
        roster = [x for x in s.get_json("/api/proctor/roster", cookie) if x["studentName"] == name]
        self.assertEqual([(x["state"], x["violations"], x["className"]) for x in roster], [("Mengerjakan", 3, "5A")])
        # Resume after the START: the violations come, with the five members, id and time.
        first = int(mine[0][0])
        events = self.read_stream(cookie, first, 3)
        self.assertEqual([e["id"] for e in events], [int(r[0]) for r in mine[1:]])
        self.assertEqual({k: events[0]["data"][k] for k in ("studentName", "className", "token", "event", "detail")},
                         json.loads(bodies[1]))
        self.assertEqual((events[0]["data"]["id"], events[0]["data"]["session"]), (events[0]["id"], True))
        dt.datetime.fromisoformat(events[0]["data"]["receivedAt"])

    def test_only_the_contract_is_taken(self):
        s = self.server
        incomplete = b'{"ok":false,"error":"Permintaan tidak lengkap."}'
        session = s.verify("Kontrak")
        good = {"studentName": "Kontrak", "className": "5A", "token": "ABC123", "event": "VIOLATION", "detail": "d"}
        table = [
            ({"event": "PENGUMUMAN"}, 400),
            ({"event": "start"}, 400),
            ({"detail": "x" * 301}, 400),
            ({"detail": "x" * 300}, 200),
            ({"detail": ""}, 200),
            ({"studentName": "N" * 255}, 400),   # not this session's name either: the limit answers first
            ({"className": "5" * 63}, 400),
            ({"token": "T" * 63}, 400),
            ({"detail": 5}, 400),
            ({"extra": "x"}, 400),
        ]
        for change, status in table:
            with self.subTest(change=change):
                body = json.dumps(dict(good, **change), ensure_ascii=False)
                got = s.post_json("/api/exam/event", body, secrets.token_hex(16), session)
                self.assertEqual(got, (status, incomplete if status == 400 else b'{"ok":true}'))
        for bad in ["[]", "", '{"studentName":"A","className":"5A","token":"ABC123","event":"START"}',
                    "[" * 20000 + "]" * 20000, '{"a":' * 10000 + "1" + "}" * 10000]:
            with self.subTest(body=bad[:40]):
                self.assertEqual(s.post_json("/api/exam/event", bad, None, session), (400, incomplete))
        self.assertEqual([l for l in s.log if "Recursion" in l or "Traceback" in l], [])
        # Not UTF-8 in one byte: kept with a replacement letter, not dropped.
        status, _ = s.post_json("/api/exam/event", b'{"studentName":"A\xffB","className":"5A","token":"ABC123",'
                                b'"event":"START","detail":"x"}', secrets.token_hex(16))
        self.assertEqual(status, 200)

    def test_a_session_binds_its_reports_and_reports_without_one_are_kept_apart(self):
        s = self.server
        cookie = s.login()
        name = "Budi Sesi " + secrets.token_hex(2)
        session = s.verify(name)
        self.assertEqual(s.report(session, name, "START", START)[0], 200)
        # Forged: a FINISH with no session, one with an invented session, and a
        # flood of invented names. Kept, answered, and the roster does not move.
        forged = [(None, name, "FINISH"), ("0" * 32, name, "FINISH"), (None, "Nama Palsu 1", "VIOLATION")]
        for sid, who, event in forged:
            self.assertEqual(s.post_json("/api/exam/event", event_body(who, event, "palsu"), secrets.token_hex(16), sid),
                             (200, b'{"ok":true}'))
        # The session's values or nothing: another name, class or token is refused.
        for who, cls, token in [("Siti", "5A", "ABC123"), (name, "5B", "ABC123"), (name, "5A", "NOPIN1"),
                                (name + " ", "5A", "ABC123")]:
            with self.subTest(who=who, cls=cls, token=token):
                self.assertEqual(s.report(session, who, "FINISH", "x", cls, token)[0], 400)
        roster = {x["studentName"]: x for x in s.get_json("/api/proctor/roster", cookie)}
        self.assertEqual(roster[name]["state"], "Mengerjakan")
        self.assertNotIn("Nama Palsu 1", roster)
        apart = s.get_json("/api/proctor/timeline?nosession=1", cookie)
        self.assertEqual(sum(1 for e in apart if e["studentName"] in (name, "Nama Palsu 1")), 3)
        self.assertEqual({e["session"] for e in apart}, {False})
        mine = s.get_json("/api/proctor/timeline?" + urllib.parse.urlencode(
            {"className": "5A", "studentName": name, "token": "ABC123"}), cookie)
        self.assertEqual([(e["kind"], e["event"]) for e in mine], [("verify", ""), ("report", "START")])
        # Heartbeats: known 200 and no timeline row, unknown 404, a body naming another session 400.
        self.assertEqual(s.heartbeat(session), (200, b'{"ok":true}'))
        self.assertEqual(s.heartbeat("f" * 32)[0], 404)
        self.assertEqual(s.post_json("/api/exam/heartbeat", json.dumps({"session": session}))[0], 200)
        self.assertEqual(s.post_json("/api/exam/heartbeat", json.dumps({"session": "f" * 32}), session=session)[0], 400)
        self.assertEqual(len(s.get_json("/api/proctor/timeline?" + urllib.parse.urlencode(
            {"className": "5A", "studentName": name, "token": "ABC123"}), cookie)), 2)
        self.assertEqual(s.report(session, name, "FINISH", "selesai")[0], 200)
        roster = {x["studentName"]: x for x in s.get_json("/api/proctor/roster", cookie)}
        self.assertEqual((roster[name]["state"], roster[name]["heardAgo"]), ("Selesai", None))

    def test_names_are_shown_without_format_characters_and_stored_as_sent(self):
        s = self.server
        cookie = s.login()
        tag = secrets.token_hex(2)
        raw = f"Budi\u202e{tag}\u200b gnirts"   # a right-to-left override and a zero-width space
        session = s.verify(raw)
        body = event_body(raw, "VIOLATION", "keluar\u2066 (Pelanggaran ke-1)")
        self.assertEqual(s.post_json("/api/exam/event", body, secrets.token_hex(16), session)[0], 200)
        roster = [x for x in s.get_json("/api/proctor/roster", cookie) if tag in x["studentName"]]
        self.assertEqual([(x["studentName"], x["lastDetail"]) for x in roster],
                         [(f"Budi{tag} gnirts", "keluar (Pelanggaran ke-1)")])
        # The stored body stays as it came, byte for byte.
        path = self.server.folder / "exam.db"
        import sqlite3
        with sqlite3.connect(f"file:{path}?mode=ro", uri=True) as db:
            self.assertIn(body, [r[0] for r in db.execute("SELECT body FROM reports")])

    def test_proctor_paths_need_the_session(self):
        s = self.server
        for method, path in [("GET", "/api/proctor/roster"), ("GET", "/api/proctor/stream"), ("GET", "/api/proctor/export.csv"),
                             ("GET", "/api/proctor/timeline"), ("GET", "/api/proctor/status"), ("GET", "/api/proctor/heard"),
                             ("POST", "/api/proctor/test-message")]:
            for cookie in ("", "orvel_pengawas=forged", "orvel_pengawas="):
                with self.subTest(path=path, cookie=cookie):
                    status, _, _ = s.request(method, path, b"" if method == "POST" else None, {"Cookie": cookie})
                    self.assertEqual(status, 401)
        status, _, page = s.request("GET", "/pengawas")
        self.assertIn(b'name="password"', page)
        status, headers, page = s.request("POST", "/pengawas/login", "password=salah", {"Content-Type": "application/x-www-form-urlencoded"})
        self.assertEqual(status, 401)
        self.assertNotIn("set-cookie", headers)
        status, headers, _ = s.request("POST", "/pengawas/login", "password=" + s.password)
        self.assertEqual((status, headers["location"]), (303, "/pengawas"))
        self.assertEqual(sorted(p.strip() for p in headers["set-cookie"].split(";")[1:]),
                         ["HttpOnly", "Max-Age=43200", "Path=/", "SameSite=Strict", "Secure"])
        cookie = headers["set-cookie"].split(";")[0]
        _, _, page = s.request("GET", "/pengawas", headers={"Cookie": cookie})
        self.assertIn("Kirim pesan uji".encode(), page)
        s.request("POST", "/pengawas/logout", b"", {"Cookie": cookie})
        self.assertEqual(s.request("GET", "/api/proctor/roster", headers={"Cookie": cookie})[0], 401)

    def test_limits_on_size_and_time(self):
        s = self.server
        raw = socket.create_connection(("127.0.0.1", s.port))
        with s.context().wrap_socket(raw, server_hostname="localhost") as tls:
            tls.sendall(b"POST /api/exam/event HTTP/1.1\r\nHost: x\r\nContent-Length: 65537\r\n\r\n")
            self.assertTrue(tls.recv(100).startswith(b"HTTP/1.1 413 "))
        status, _, _ = s.request("GET", "/pengawas", headers={"X-Pad": "a" * 17000})
        self.assertEqual(status, 431)
        # A client that sends half a request and waits is cut off, and the
        # server goes on answering others meanwhile.
        raw = socket.create_connection(("127.0.0.1", s.port))
        tls = s.context().wrap_socket(raw, server_hostname="localhost")
        tls.sendall(b"POST /api/exam/event HTTP/1.1\r\nHost: x\r\nContent-Length: 50\r\n\r\n{")
        self.assertEqual(s.post_json("/api/exam/verify", verify_body("A", "5B", "NOPIN1"))[0], 200)
        tls.settimeout(20)
        began = time.monotonic()
        self.assertEqual(tls.recv(100), b"")
        self.assertLess(time.monotonic() - began, 15)
        tls.close()

    def export(self, cookie):
        status, headers, data = self.server.request("GET", "/api/proctor/export.csv", headers={"Cookie": cookie})
        self.assertEqual(status, 200)
        self.assertTrue(data.startswith("\ufeffid,".encode()))
        import csv
        import io
        return list(csv.reader(io.StringIO(data.decode("utf-8-sig"))))[1:]

    def read_stream(self, cookie, after, n):
        s = self.server
        raw = socket.create_connection(("127.0.0.1", s.port))
        tls = s.context().wrap_socket(raw, server_hostname="localhost")
        tls.sendall(f"GET /api/proctor/stream HTTP/1.1\r\nHost: localhost\r\nCookie: {cookie}\r\nLast-Event-ID: {after}\r\n\r\n".encode())
        tls.settimeout(10)
        buf, events = b"", []
        while len(events) < n:
            chunk = tls.recv(65536)
            if not chunk:
                break
            buf += chunk
            while b"\n\n" in buf:
                block, buf = buf.split(b"\n\n", 1)
                fields = dict(l.split(": ", 1) for l in block.decode().split("\n") if ": " in l and not l.startswith(":"))
                if fields.get("event") == "report":
                    events.append({"id": int(fields["id"]), "data": json.loads(fields["data"])})
        tls.close()
        return events


class TooManyTries(unittest.TestCase):
    def test_eleventh_wrong_token_in_a_minute_is_429_and_the_login_is_limited_too(self):
        s = RunningServer(EXAMS).start()
        self.addCleanup(s.remove)
        for i in range(10):
            self.assertEqual(s.post_json("/api/exam/verify", verify_body("A", "5A", f"SALAH{i}")),
                             (200, '{"ok":false,"error":"Token tidak valid."}'.encode()))
        too_many = '{"ok":false,"error":"Terlalu banyak percobaan. Tunggu satu menit."}'.encode()
        self.assertEqual(s.post_json("/api/exam/verify", verify_body("A", "5A", "SALAH")), (429, too_many))
        self.assertEqual(s.post_json("/api/exam/verify", verify_body("A", "5A", "ABC123")), (429, too_many))
        # Reports are never refused for it.
        self.assertEqual(s.post_json("/api/exam/event", event_body("A", "START", START))[0], 200)
        for i in range(10):
            self.assertEqual(s.request("POST", "/pengawas/login", "password=x")[0], 401)
        self.assertEqual(s.request("POST", "/pengawas/login", "password=" + s.password)[0], 429)

    def test_reports_are_limited_per_address_without_a_session_and_per_session_with_one(self):
        s = RunningServer(EXAMS).start()
        self.addCleanup(s.remove)
        too_many = (429, '{"ok":false,"error":"Terlalu banyak percobaan. Tunggu satu menit."}'.encode())
        for i in range(20):
            self.assertEqual(s.post_json("/api/exam/event", event_body(f"Palsu {i}", "VIOLATION", "x"))[0], 200)
        self.assertEqual(s.post_json("/api/exam/event", event_body("Palsu", "VIOLATION", "x")), too_many)
        self.assertEqual(s.post_json("/api/exam/event", event_body("Palsu", "VIOLATION", "x"), None, "0" * 32),
                         too_many, "an invented session counts as none")
        # A verified exam is not held back by the address's flood, and has a limit of its own.
        budi, siti = s.verify("Budi"), s.verify("Siti")
        for i in range(30):
            self.assertEqual(s.report(budi, "Budi", "VIOLATION", f"(Pelanggaran ke-{i + 1})")[0], 200)
        self.assertEqual(s.report(budi, "Budi", "VIOLATION", "(Pelanggaran ke-31)"), too_many)
        self.assertEqual(s.report(siti, "Siti", "START", START)[0], 200)
        cookie = s.login()
        roster = {x["studentName"]: x["violations"] for x in s.get_json("/api/proctor/roster", cookie)}
        self.assertEqual(roster, {"Budi": 30, "Siti": 0})


class Crash(unittest.TestCase):
    def test_every_answered_report_survives_kill_9_exactly_once(self):
        s = RunningServer(EXAMS).start()
        self.addCleanup(s.remove)
        answered: dict[str, str] = {}
        tried: dict[str, tuple[int, str]] = {}
        lock = threading.Lock()
        stop = threading.Event()

        sessions = {n: s.verify(f"PC {n}") for n in range(12)}

        def pc(n: int) -> None:
            # Below the limit of a session's reports in a minute, so every try is taken.
            for i in range(1, 26):
                if stop.is_set():
                    return
                key, body = secrets.token_hex(16), event_body(f"PC {n}", "VIOLATION", f"Pelanggaran ke-{i}")
                with lock:
                    tried[key] = (n, body)
                try:
                    status, _ = s.post_json("/api/exam/event", body, key, sessions[n])
                except (OSError, http.client.HTTPException):
                    return  # the server is gone, maybe in the middle of an answer
                if status == 200:
                    with lock:
                        answered[key] = body

        threads = [threading.Thread(target=pc, args=(n,)) for n in sessions]
        for t in threads:
            t.start()
        self.assertTrue(wait_for(lambda: len(answered) >= 60, 30))
        s.stop(signal.SIGKILL)
        stop.set()
        for t in threads:
            t.join()
        s.start()
        # The launcher tries an unanswered report again: each is stored once
        # more at most, under its session, which the restart kept.
        for key, (n, body) in tried.items():
            self.assertEqual(s.post_json("/api/exam/event", body, key, sessions[n])[0], 200)
        cookie = s.login()
        status, _, data = s.request("GET", "/api/proctor/export.csv", headers={"Cookie": cookie})
        rows = data.decode("utf-8-sig").splitlines()[1:]
        details = [(r.split(",")[4], r.split(",")[7]) for r in rows]
        self.assertEqual(len(details), len(tried), "every report once, answered or only tried")
        self.assertEqual(len(set(details)), len(details))
        for body in answered.values():
            b = json.loads(body)
            self.assertIn((b["studentName"], b["detail"]), details)
        self.assertEqual({x["state"] for x in s.get_json("/api/proctor/roster", cookie)}, {"Terverifikasi"},
                         "the reports count for their students: none is kept apart")
        self.assertEqual(s.get_json("/api/proctor/timeline?nosession=1", cookie), [])
        self.assertEqual(s.stop(), 0)


class DiskFull(unittest.TestCase):
    def test_a_full_disk_answers_503_while_verify_and_the_proctor_go_on_and_held_writes_follow(self):
        if os.geteuid() != 0 or subprocess.run(["unshare", "-m", "true"], capture_output=True).returncode != 0:
            self.skipTest("a file system of its own needs root (unshare -m, mount -t tmpfs)")
        folder = Path(tempfile.mkdtemp(prefix="orvel-server."))
        data = folder / "data"
        data.mkdir()
        # The database on a 2 MB file system that only the server's process sees.
        s = RunningServer(EXAMS, folder=folder, server='database = "data/exam.db"\n',
                          wrap=["unshare", "-m", "sh", "-c",
                                f"mount -t tmpfs -o size=2m tmpfs {shlex.quote(str(data))} && exec {{command}}"])
        self.addCleanup(s.remove)
        s.start()
        self.assertTrue(any("kurang dari 1 GB" in l for l in s.log), s.log)
        budi = s.verify("Budi")
        self.assertEqual(s.report(budi, "Budi", "START", START)[0], 200)
        filler = Path(f"/proc/{s.proc.pid}/root{data}/filler")
        with open(filler, "wb") as f:
            try:
                while True:
                    f.write(b"\0" * 65536)
                    f.flush()
            except OSError:
                pass
        body, key = event_body("Budi", "VIOLATION", "(Pelanggaran ke-1)"), secrets.token_hex(16)
        for _ in range(3):
            status, data_ = s.post_json("/api/exam/event", body, key, budi)
            self.assertEqual((status, json.loads(data_)["ok"]), (503, False))
        # Verify answers and hands out a session; the proctor logs in and reads.
        siti = s.verify("Siti")
        cookie = s.login()
        roster = {x["studentName"]: x["state"] for x in s.get_json("/api/proctor/roster", cookie)}
        self.assertEqual(roster, {"Budi": "Mengerjakan"})
        self.assertTrue(wait_for(lambda: any("tidak bisa ditulis" in l for l in s.log), 10))
        causes = [l for l in s.log if "tidak bisa ditulis" in l]
        self.assertEqual(len(causes), 1, causes)
        self.assertIn("basis data tidak bisa ditulis: disk penuh?", causes[0])
        # Room again: Siti's verification is written by itself, her exam is known, Budi's report goes in.
        filler.unlink()
        self.assertTrue(wait_for(lambda: "Siti" in [x["studentName"] for x in s.get_json("/api/proctor/roster", cookie)], 15))
        self.assertEqual(s.report(siti, "Siti", "START", START)[0], 200)
        self.assertEqual(s.post_json("/api/exam/event", body, key, budi)[0], 200)
        roster = {x["studentName"]: (x["state"], x["violations"]) for x in s.get_json("/api/proctor/roster", cookie)}
        self.assertEqual(roster, {"Budi": ("Mengerjakan", 1), "Siti": ("Mengerjakan", 0)})
        self.assertEqual(s.stop(), 0)
        self.assertNotIn("Traceback", "".join(s.log))


class CommandLine(unittest.TestCase):
    def run_cli(self, *args, environ=None):
        e = env()
        e.update(environ or {})
        return subprocess.run([sys.executable, "-m", "orvel_exam_server", *args], env=e, capture_output=True, text=True)

    def test_check_prints_the_exams_or_names_the_fault(self):
        example = Path(__file__).resolve().parent.parent / "example.toml"
        r = self.run_cli("check", "--config", str(example))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("class 5A: token K7M2QX", r.stdout)
        s = RunningServer(EXAMS, whatsapp='[whatsapp]\npreset = "fonnte"\nurl = "https://x"\nto = ["0812"]\n'
                                            'headers = { Authorization = "env:ORVEL_TEST_GW_TOKEN" }\n')
        self.addCleanup(s.remove)
        r = self.run_cli("check", "--config", str(s.config))
        self.assertEqual(r.returncode, 1)
        self.assertIn("ORVEL_TEST_GW_TOKEN", r.stderr)
        r = self.run_cli("run", "--config", str(s.config) + ".missing")
        self.assertEqual(r.returncode, 1)
        self.assertIn("cannot read", r.stderr)

    def test_init_makes_a_ca_and_a_certificate_that_clients_accept_for_the_host(self):
        sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
        from orvel_exam_server import certs
        import importlib.util
        import shutil
        import tempfile
        backends = [b for b, there in (("openssl", shutil.which("openssl")),
                                       ("cryptography", importlib.util.find_spec("cryptography"))) if there]
        self.assertTrue(backends, "neither openssl nor cryptography: init could only print the steps")
        for backend in backends:
            with self.subTest(backend=backend), tempfile.TemporaryDirectory() as tmp:
                folder = Path(tmp) / "certs"
                ok, text = certs.init("cbt.sekolah.sch.id", folder / "server.crt", folder / "server.key", backend)
                self.assertTrue(ok, text)
                self.assertIn(b'certutil -addstore -f Root "%~dp0ca.crt"\r\n', (folder / "trust-ca.cmd").read_bytes())
                self.assertEqual(os.stat(folder / "server.key").st_mode & 0o077, 0)
                self.assertFalse(certs.init("cbt.sekolah.sch.id", folder / "server.crt", folder / "server.key")[0],
                                 "never overwrites: the PCs trust the CA already made")
                server_ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
                server_ctx.load_cert_chain(folder / "server.crt", folder / "server.key")
                for host, good in (("cbt.sekolah.sch.id", True), ("localhost", True), ("other.sch.id", False)):
                    a, b = socket.socketpair()
                    client = ssl.create_default_context(cafile=str(folder / "ca.crt")).wrap_socket(
                        a, server_hostname=host, do_handshake_on_connect=False)
                    srv = server_ctx.wrap_socket(b, server_side=True, do_handshake_on_connect=False)
                    t = threading.Thread(target=lambda: self.swallow(srv.do_handshake))
                    t.start()
                    try:
                        client.do_handshake()
                        accepted = True
                    except ssl.SSLCertVerificationError:
                        accepted = False
                    client.close()
                    srv.close()
                    t.join()
                    self.assertEqual(accepted, good, host)

    @staticmethod
    def swallow(fn):
        try:
            fn()
        except (OSError, ssl.SSLError):
            pass


if __name__ == "__main__":
    unittest.main()
