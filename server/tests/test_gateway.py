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
from support import RunningServer, event_body, wait_for  # noqa: E402

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
    def serve(self, gateway: FakeGateway, **kw) -> RunningServer:
        s = RunningServer(whatsapp=whatsapp(gateway.url, **kw), extra_env={"GW_TOKEN": GW_TOKEN}).start()
        self.addCleanup(s.remove)
        self.addCleanup(gateway.close)
        return s

    def test_refusals_and_an_outage_are_retried_in_order_and_the_token_stays_secret(self):
        ok, no = (200, '{"status":true}'), (200, '{"status":false,"reason":"device not connected"}')
        gw = FakeGateway([no, (503, "{}"), no] + [ok])
        s = self.serve(gw, to='["081111"]')
        for i in range(1, 4):  # one student: the first at once, then merged; another student at once
            body = event_body("Budi" if i < 3 else "Siti", "VIOLATION", f"Siswa mencoba beralih (Pelanggaran ke-{i})")
            self.assertEqual(s.post_json("/api/exam/event", body, secrets.token_hex(16))[0], 200)
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

    def test_grouping_summaries_and_the_test_message_reach_every_number(self):
        gw = FakeGateway([(200, '{"status":true}')])
        s = self.serve(gw, merge=1.5, summary=1.0)
        post = lambda name, event, detail: s.post_json("/api/exam/event", event_body(name, event, detail),
                                                      secrets.token_hex(16))
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


if __name__ == "__main__":
    unittest.main()
