"""The server under the attack tool's attacks (server/tools/attack.py), each
from other loopback addresses while a launcher on 127.0.0.1 verifies: what
must be refused is refused, and the launcher and the proctor are answered
throughout. The attack tool prints the figures; these tests never fail on a
time."""
from __future__ import annotations

import sys
import threading
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from support import RunningServer  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tools"))
import attack  # noqa: E402
from load import CLASS, TOKEN  # noqa: E402

EXAMS = f'[[exam]]\nclass = "{CLASS}"\ntoken = "{TOKEN}"\nform_url = "https://f.example/x?n={{studentName}}"\n'


class Attacks(unittest.TestCase):
    def serve(self, **kw) -> RunningServer:
        s = RunningServer(EXAMS, **kw).start()
        self.addCleanup(s.remove)
        return s

    def verifying(self, s: RunningServer) -> attack.Verifier:
        v = attack.Verifier(s.port, s.context())
        v.start()
        self.addCleanup(v.join)
        self.addCleanup(v.stop.set)
        return v

    def assertAnswered(self, v: attack.Verifier, at_least: int) -> None:
        v.stop.set()
        v.join()
        print(f"\n  {self.id().rsplit('.', 1)[-1]}: {v.line()}", file=sys.stderr)
        self.assertEqual(v.failures, [])
        self.assertGreaterEqual(len(v.took), at_least, "the launcher's verifies went on during the attack")

    # The counts asked for below are what a machine under load still gives
    # (a verify every half second, each taking up to a second or two).

    def test_a_report_in_single_byte_records_is_refused_while_another_address_verifies(self):
        s = self.serve()
        v = self.verifying(s)
        found = attack.tiny(s.port, s.context(), 2, 4.0)
        self.assertGreater(sum(found["statuses"].values()), 0)
        self.assertNotIn(200, found["statuses"], "256 receives are the most one request may take")
        self.assertAnswered(v, 2)
        # A report in a few records, as a client may split it, is read as ever.
        session = s.verify("Rekaman", CLASS, TOKEN)
        status, _ = attack.post(s.port, s.context(), "/api/exam/event", attack.report_body("Rekaman", 2000),
                                {"Exam-Session": session}, record=64)
        self.assertEqual(status, 200)

    def test_padding_is_refused_and_a_padded_report_stored_compact(self):
        s = self.serve()
        found = attack.padding(s.port, s.context(), s.database, 3.0)
        print(f"\n  {found}", file=sys.stderr)
        self.assertEqual(found["big"], 413, "64 KiB of padding")
        self.assertGreater(found["stored"], 0)
        self.assertEqual(set(found["statuses"]) - {0, 200, 429}, set(), found["statuses"])  # 0: a reset by the meter
        self.assertLess(found["largest body"], 300, "sent 8,000 bytes, stored its members only")
        # Sent again with its key, the same padded body is known as a repeat.
        session = s.verify("Ulang", CLASS, TOKEN)
        headers = {"Exam-Session": session, "Idempotency-Key": "k" * 32}
        for _ in range(2):
            self.assertEqual(attack.post(s.port, s.context(), "/api/exam/event", attack.report_body("Ulang", 5000),
                                         headers)[0], 200)
        cookie = s.login()
        rows = s.get_json("/api/proctor/roster", cookie)
        self.assertEqual([r["violations"] for r in rows if r["studentName"] == "Ulang"], [1])

    def test_verifies_are_limited_per_address_and_per_student(self):
        s = self.serve()
        many, one = attack.verifies(s.port, s.context(), 125, 7)
        self.assertEqual((many, one), ({200: 120, 429: 5}, {200: 5, 429: 2}))
        status, headers, body = s.request("POST", "/api/exam/verify",
                                          attack.verify_body("Banjir Lagi"), source="127.0.0.4")
        self.assertEqual((status, headers.get("retry-after")), (429, "60"))
        self.assertEqual(body, '{"ok":false,"error":"Terlalu banyak percobaan. Tunggu satu menit."}'.encode())
        s.verify("Orang Lain", CLASS, TOKEN)  # from another address: answered 200, ok

    def test_a_handshake_flood_from_one_address_is_cut_while_another_verifies(self):
        s = self.serve()
        v = self.verifying(s)
        found = attack.handshakes(s.port, s.context(), 600, 4.0)
        self.assertAnswered(v, 2)
        print(f"  {found}", file=sys.stderr)
        # 200 at once and 50 a second after: the rest closed before a handshake.
        self.assertLessEqual(found["answered"], 200 + 50 * 5 + 20)
        self.assertGreater(found["cut"], found["answered"])

    def test_idle_connections_up_to_the_file_limit_leave_the_proctor_reading(self):
        s = self.serve(wrap=["sh", "-c", "ulimit -n 1024 && exec {command}"])
        self.assertTrue(any("open files at most 1024" in l for l in s.log), s.log)
        cookie = s.login()
        out: dict = {}
        stop = threading.Event()
        reader = threading.Thread(target=attack.roster_reader, args=(s.port, s.context(), cookie, stop, out))
        reader.start()
        self.addCleanup(reader.join)
        self.addCleanup(stop.set)
        v = self.verifying(s)
        found = attack.idle_tcp(s.port, 256, 4, 8.0)
        stop.set()
        reader.join()
        self.assertAnswered(v, 3)
        print(f"  {found}, roster asked {len(out['took'])}", file=sys.stderr)
        self.assertGreater(found["cut"], 0, "beyond the cap the oldest idle connections go")
        self.assertEqual(out["failures"], [])
        self.assertGreaterEqual(len(out["took"]), 3)
        self.assertEqual([l for l in s.log if "error" in l], [])

    def test_one_stream_per_login_and_a_closed_one_gives_its_slot_back(self):
        s = self.serve()
        found = attack.deaf_streams(s.port, s.context(), s.login(), 20)
        self.assertEqual(found, {"older ended": 19, "of": 19, "newest open": True})
        freed = attack.closed_streams(s.port, s.context(), [s.login() for _ in range(17)])
        self.assertIsNotNone(freed, "the slots of closed streams come back")


if __name__ == "__main__":
    unittest.main()
