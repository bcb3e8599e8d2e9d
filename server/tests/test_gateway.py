"""WhatsApp forwarding against a fake gateway on loopback: answers that say
"not sent" and outages are retried, messages arrive in order and grouped, and
the gateway's token shows nowhere."""
from __future__ import annotations

import json
import secrets
import sys
import threading
import time
import unittest
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from support import RunningServer, event_body, stream_events, wait_for  # noqa: E402

GW_TOKEN = "gw-" + secrets.token_hex(8)


class FakeGateway:
    """Answers from a script (one per request, the last repeating) and keeps
    what it was sent."""

    def __init__(self, script: list[tuple[int, str]]) -> None:
        self.script, self.received, self.lock = list(script), [], threading.Lock()
        gateway = self

        class Handler(BaseHTTPRequestHandler):
            def do_POST(self):
                body = self.rfile.read(int(self.headers["Content-Length"]))
                with gateway.lock:
                    status, answer = gateway.script.pop(0) if len(gateway.script) > 1 else gateway.script[0]
                    gateway.received.append({"headers": dict(self.headers), "body": body, "at": time.monotonic(),
                                             "status": status, "answer": answer})
                data = answer.encode()
                self.send_response(status)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

            def log_message(self, *_):
                pass

        self.http = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.http.serve_forever, daemon=True).start()
        self.url = f"http://127.0.0.1:{self.http.server_address[1]}/send"

    def close(self):
        self.http.shutdown()
        self.http.server_close()

    def delivered(self) -> list[dict]:
        """The messages the gateway took, as Fonnte form fields."""
        with self.lock:
            return [{k: v[0] for k, v in urllib.parse.parse_qs(r["body"].decode()).items()}
                    for r in self.received if r["status"] == 200 and '"status":true' in r["answer"]]


def whatsapp(url: str, merge: float = 60, summary: float = 120, to: str = '["081111", "082222"]') -> str:
    return (f'[whatsapp]\npreset = "fonnte"\nurl = "{url}"\nto = {to}\nheaders = {{ Authorization = "env:GW_TOKEN" }}\n'
            f"violation_merge_seconds = {merge}\nsummary_seconds = {summary}\n")


class Forwarding(unittest.TestCase):
    def serve(self, gateway: FakeGateway, server: str = 'database = "exam.db"\n', **kw) -> RunningServer:
        s = RunningServer(whatsapp=whatsapp(gateway.url, **kw), extra_env={"GW_TOKEN": GW_TOKEN}, server=server).start()
        self.addCleanup(s.remove)
        self.addCleanup(gateway.close)
        return s

    def test_refusals_and_an_outage_are_retried_in_order_and_the_token_stays_secret(self):
        ok, no = (200, '{"status":true}'), (200, '{"status":false,"reason":"device not connected"}')
        gw = FakeGateway([no, (503, "{}"), no] + [ok])
        s = self.serve(gw, to='["081111"]')
        sessions = {name: s.verify(name) for name in ("Budi", "Siti")}
        for i in range(1, 4):  # one student: the first at once, then merged; another student at once
            name = "Budi" if i < 3 else "Siti"
            self.assertEqual(s.report(sessions[name], name, "VIOLATION", f"Siswa mencoba beralih (Pelanggaran ke-{i})")[0], 200)
        self.assertTrue(wait_for(lambda: len(gw.delivered()) == 2, 30), gw.received)
        texts = [m["message"] for m in gw.delivered()]
        self.assertEqual(texts, ["PELANGGARAN - Budi (kelas 5A): Siswa mencoba beralih (Pelanggaran ke-1)",
                                 "PELANGGARAN - Siti (kelas 5A): Siswa mencoba beralih (Pelanggaran ke-3)"])
        self.assertEqual([r["headers"]["Authorization"] for r in gw.received], [GW_TOKEN] * len(gw.received))
        self.assertEqual(gw.delivered()[0]["target"], "081111")
        tries = [r["at"] for r in gw.received]
        self.assertGreaterEqual(tries[1] - tries[0], 0.9, "a second before the first try again")
        self.assertGreaterEqual(tries[2] - tries[1], 1.9, "then two")
        cookie = s.login()
        status = s.get_json("/api/proctor/status", cookie)["whatsapp"]
        self.assertEqual((status["sent"], status["failed"], status["pending"]), (2, 0, 0))
        self.assertIn("device not connected", status["lastError"])
        # Nothing a proctor or a log file sees holds the token.
        _, _, page = s.request("GET", "/pengawas", headers={"Cookie": cookie})
        _, _, csv = s.request("GET", "/api/proctor/export.csv", headers={"Cookie": cookie})
        self.assertEqual(s.stop(), 0)
        log = "".join(s.log)
        self.assertIn("not delivered", log)
        for seen in (log, json.dumps(status), page.decode(), csv.decode()):
            self.assertNotIn(GW_TOKEN, seen)
            self.assertNotIn(s.password, seen)

    @staticmethod
    def report(s: RunningServer, name: str, detail: str) -> int:
        """A violation as the launcher sends it: verified first, with the
        exam's session when the server hands one out."""
        _, data = s.post_json("/api/exam/verify", json.dumps({"studentName": name, "className": "5A", "token": "ABC123"}))
        session = json.loads(data).get("session")
        headers = {"Content-Type": "application/json; charset=UTF-8", "Idempotency-Key": secrets.token_hex(16)}
        if session:
            headers["Exam-Session"] = session
        return s.request("POST", "/api/exam/event", event_body(name, "VIOLATION", detail), headers)[0]

    def test_a_message_the_gateway_refuses_fails_for_good_and_the_next_goes_at_once(self):
        refused = (400, '{"status":false,"reason":"invalid target"}')
        gw = FakeGateway([refused, (200, '{"status":true}')])
        s = self.serve(gw, to='["081111"]')
        for name in ("Budi", "Siti"):
            self.assertEqual(self.report(s, name, "Siswa mencoba beralih (Pelanggaran ke-1)"), 200)
        self.assertTrue(wait_for(lambda: len(gw.delivered()) == 1, 30), gw.received)
        first = urllib.parse.parse_qs(gw.received[0]["body"].decode())["message"][0]
        self.assertEqual(first, "PELANGGARAN - Budi (kelas 5A): Siswa mencoba beralih (Pelanggaran ke-1)")
        self.assertEqual(gw.delivered()[0]["message"], "PELANGGARAN - Siti (kelas 5A): Siswa mencoba beralih (Pelanggaran ke-1)")
        cookie = s.login()
        status = s.get_json("/api/proctor/status", cookie)["whatsapp"]
        self.assertEqual((status["sent"], status["failed"], status["pending"]), (1, 1, 0))
        self.assertIn("HTTP 400", status["lastError"])
        self.assertEqual(s.stop(), 0)
        s.start()  # nor is it tried again after a restart: a message queued now goes next
        self.assertEqual(s.request("POST", "/api/proctor/test-message", b"", {"Cookie": s.login()})[0], 200)
        self.assertTrue(wait_for(lambda: len(gw.delivered()) == 2, 10), gw.received)
        self.assertEqual(len(gw.received), 3, "one try each: the refused message was not tried again")

    def test_grouping_summaries_and_the_test_message_reach_every_number(self):
        gw = FakeGateway([(200, '{"status":true}')])
        # The second violation must come while the first's turn lasts, after
        # the summary: windows wide enough that a busy machine's slow requests
        # do not split what the PCs sent together.
        s = self.serve(gw, merge=6, summary=2)
        sessions = {name: s.verify(name) for name in ("Budi", "Siti")}
        post = lambda name, event, detail: s.report(sessions[name], name, event, detail)
        post("Budi", "START", "mulai")
        post("Siti", "START", "mulai")
        post("Budi", "VIOLATION", "(Pelanggaran ke-1)")
        self.assertTrue(wait_for(lambda: len(gw.delivered()) >= 4, 10), "the first violation, then the summary")
        post("Budi", "VIOLATION", "(Pelanggaran ke-2)")
        post("Budi", "VIOLATION", "(Pelanggaran ke-3)")
        post("Siti", "FINISH", "selesai")
        self.assertTrue(wait_for(lambda: len(gw.delivered()) >= 8, 15))
        cookie = s.login()
        status, _, data = s.request("POST", "/api/proctor/test-message", b"", {"Cookie": cookie})
        self.assertEqual((status, data), (200, b'{"ok":true}'))
        # Settled: no report waits to be grouped and no message to be sent, so
        # nothing more can come; stopped, the server cannot make more either.
        idle = lambda w: (w["grouping"], w["pending"]) == (0, 0)
        self.assertTrue(wait_for(lambda: idle(s.get_json("/api/proctor/status", cookie)["whatsapp"]), 10))
        self.assertEqual(s.stop(), 0)
        by_number = {}
        for m in gw.delivered():
            by_number.setdefault(m["target"], []).append(m["message"])
        self.assertEqual(set(by_number), {"081111", "082222"})
        for texts in by_number.values():
            self.assertEqual(len(texts), 5, texts)
            self.assertEqual(texts[0], "PELANGGARAN - Budi (kelas 5A): (Pelanggaran ke-1)")
            self.assertEqual(sorted(texts[1:4]), sorted([
                "5A: 2 mulai, 0 selesai\nMulai: Budi, Siti",
                "PELANGGARAN - Budi (kelas 5A), 2 pelanggaran:\n- (Pelanggaran ke-2)\n- (Pelanggaran ke-3)",
                "5A: 0 mulai, 1 selesai\nSelesai: Siti"]))
            self.assertIn("Pesan uji", texts[4])

    def test_silence_and_return_each_send_one_message_and_reports_without_a_session_only_a_count(self):
        gw = FakeGateway([(200, '{"status":true}')])
        s = self.serve(gw, merge=1, summary=3, to='["081111"]',
                       server='database = "exam.db"\nmissing_after_seconds = 2\n')
        cookie = s.login()
        budi = "Budi\u2067 Santoso"  # a bidi isolate: not shown, not sent
        b, siti = s.verify(budi), s.verify("Siti")
        self.assertEqual(s.report(b, budi, "START", "mulai")[0], 200)
        self.assertEqual(s.report(siti, "Siti", "START", "mulai")[0], 200)
        self.assertEqual(s.report(siti, "Siti", "FINISH", "selesai")[0], 200)
        # Anyone with the token: a forged FINISH for Budi and an "announcement", without a session.
        for name, event, detail in [(budi, "FINISH", "selesai"), ("Nama Palsu", "VIOLATION", "PENGUMUMAN: buka http://x")]:
            self.assertEqual(s.post_json("/api/exam/event", event_body(name, event, detail), secrets.token_hex(16))[0], 200)
        state = lambda name: next(x["state"] for x in s.get_json("/api/proctor/roster", cookie) if x["studentName"] == name)
        self.assertEqual(state("Budi Santoso"), "Mengerjakan")
        # Budi's launcher stops sending: the server itself tells the open page.
        events = stream_events(s, cookie, lambda ev: any(e == "presence" for e, _ in ev))
        presence = [d for e, d in events if e == "presence"]
        self.assertEqual([(d["studentName"], d["state"]) for d in presence], [("Budi Santoso", "Hilang")])
        self.assertEqual(state("Budi Santoso"), "Hilang")
        self.assertEqual(state("Siti"), "Selesai", "a finished exam is never missed")
        # The page's list of last contacts matches its rows by key: only Budi's exam still runs.
        row = next(x for x in s.get_json("/api/proctor/roster", cookie) if x["studentName"] == "Budi Santoso")
        self.assertEqual([(h["key"], h["missing"]) for h in s.get_json("/api/proctor/heard", cookie)], [(row["key"], True)])
        missing = lambda: [m["message"] for m in gw.delivered() if "tidak terdengar" in m["message"]]
        self.assertTrue(wait_for(lambda: missing(), 10), gw.received)
        self.assertRegex(missing()[0], r"^TIDAK TERDENGAR - Budi Santoso \(kelas 5A\): tidak terdengar sejak pukul "
                                       r"\d\d:\d\d:\d\d\. Kemungkinan: aplikasi ujian ditutup paksa, PC mati, atau "
                                       r"jaringan putus\.")
        # A heartbeat: working again at once, and one message.
        self.assertEqual(s.heartbeat(b), (200, b'{"ok":true}'))
        self.assertEqual(state("Budi Santoso"), "Mengerjakan")
        back = lambda: [m["message"] for m in gw.delivered() if "terhubung lagi" in m["message"]]
        self.assertTrue(wait_for(lambda: back(), 10), gw.received)
        self.assertRegex(back()[0], r"^TERHUBUNG LAGI - Budi Santoso \(kelas 5A\): terhubung lagi setelah \d+ detik "
                                    r"tidak terdengar\.$")
        # The summary names the verified exams only; the forged reports go as a number.
        self.assertTrue(wait_for(lambda: len(gw.delivered()) >= 4, 15), gw.received)
        texts = sorted(m["message"] for m in gw.delivered())
        self.assertEqual(len(texts), 4, texts)
        self.assertEqual(texts[0], "5A: 2 mulai, 1 selesai\nMulai: Budi Santoso, Siti\nSelesai: Siti")
        self.assertTrue(texts[1].startswith("LAPORAN TANPA SESI: 2 laporan dalam 3 detik terakhir"), texts[1])
        self.assertFalse([t for t in texts if "PENGUMUMAN" in t or "Palsu" in t or "\u2067" in t], texts)
        # The heartbeats left no row: the timeline holds what the launcher reported.
        mine = s.get_json("/api/proctor/timeline?className=5A&studentName=Budi+Santoso&token=ABC123", cookie)
        self.assertEqual([e["event"] for e in mine], ["", "START"])

    def test_a_second_pc_in_a_working_students_name_is_an_incident_and_closing_it_ends_the_watch(self):
        gw = FakeGateway([(200, '{"status":true}')])
        s = self.serve(gw, merge=1, summary=60, to='["081111"]',
                       server='database = "exam.db"\nmissing_after_seconds = 2\n')
        cookie = s.login()

        def send(path: str, body: dict, session: str, source: str) -> dict:
            headers = {"Content-Type": "application/json", "User-Agent": "ORVELSelvaroCBT/1.0",
                       "Exam-Session": session, "Idempotency-Key": secrets.token_hex(16)}
            status, _, data = s.request("POST", path, json.dumps(body), headers, source=source)
            self.assertEqual(status, 200, data)
            return json.loads(data)

        def event(session: str, name: str, ev: str, source: str) -> None:
            send("/api/exam/event", json.loads(event_body(name, ev, ev.lower())), session, source)

        budi = s.verify("Budi")  # from 127.0.0.1
        event(budi, "Budi", "START", "127.0.0.1")
        # A classmate's phone, the name with a zero-width space.
        phone = send("/api/exam/verify", {"studentName": "Budi\u200b", "className": "5A", "token": "ABC123"},
                     "", "127.0.0.2")["session"]
        event(phone, "Budi\u200b", "START", "127.0.0.2")
        row = lambda: next(x for x in s.get_json("/api/proctor/roster", cookie) if x["className"] == "5A")
        self.assertEqual(len(s.get_json("/api/proctor/roster", cookie)), 1, "one row for the name")
        r = row()
        self.assertEqual((r["state"], r["twoSessions"]), ("Mengerjakan", ["127.0.0.1", "127.0.0.2"]))
        self.assertEqual([(x["address"], x["state"]) for x in r["sessions"]],
                         [("127.0.0.1", "Mengerjakan"), ("127.0.0.2", "Mengerjakan")], "the first exam goes on")
        twice = lambda: [m["message"] for m in gw.delivered() if "dua sesi" in m["message"]]
        self.assertTrue(wait_for(lambda: twice(), 10), gw.received)
        self.assertEqual(len(twice()), 1)
        for part in ("Budi (kelas 5A)", "127.0.0.2 dan 127.0.0.1"):
            self.assertIn(part, twice()[0])
        # Budi's PC is heard, the phone falls silent: "Hilang", naming the phone.
        def budi_heard_and(cond) -> bool:
            self.assertEqual(s.heartbeat(budi)[0], 200)
            return cond()
        self.assertTrue(wait_for(lambda: budi_heard_and(lambda: row()["state"] == "Hilang"), 15, 0.3))
        self.assertEqual(row()["missingAddresses"], ["127.0.0.2"])
        # Closed from the page: what was wrong is named, then the watch on it ends.
        close = lambda body: s.request("POST", "/api/proctor/close-session", body,
                                       {"Cookie": cookie, "Content-Type": "application/json"})
        for bad in ('{"session": "x"}', '{}', '[1]'):
            status, _, data = close(bad)
            self.assertEqual((status, json.loads(data)["field"]), (400, "session"), bad)
        status, _, data = close(json.dumps({"session": "f" * 32}))
        self.assertEqual(status, 404, data)
        self.assertEqual(close(json.dumps({"session": phone}))[0], 200)
        r = row()
        self.assertEqual((r["state"], r["twoSessions"], r["missingAddresses"]), ("Mengerjakan", [], []))
        self.assertTrue(budi_heard_and(lambda: row()["state"] == "Mengerjakan"), "and stays so")
        event(phone, "Budi\u200b", "VIOLATION", "127.0.0.2")
        event(budi, "Budi", "FINISH", "127.0.0.1")
        r = row()
        self.assertEqual((r["state"], r["violations"]), ("Selesai", 0), "the closed session counts no more")
        mine = s.get_json("/api/proctor/timeline?className=5A&studentName=Budi&token=ABC123", cookie)
        self.assertEqual([(e["kind"], e["event"], e["address"], e.get("twoSessions"), e.get("closedSession"))
                          for e in mine][2:], [
            ("verify", "", "127.0.0.2", ["127.0.0.2", "127.0.0.1"], None), ("report", "START", "127.0.0.2", None, None),
            ("close", "", "127.0.0.1", None, None), ("report", "VIOLATION", "127.0.0.2", None, True),
            ("report", "FINISH", "127.0.0.1", None, None)])


if __name__ == "__main__":
    unittest.main()
