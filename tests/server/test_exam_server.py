"""The local test exam server, tested end to end over TLS from Linux.

    python3 -m unittest tests/server/test_exam_server.py      (from the repository root)

Every test starts its own server on a free high port with certificates from
make_certs.sh, and talks to it as a client that trusts only the run's test CA.
"""
import hashlib
import http.client
import json
import os
import re
import select
import shutil
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
CERTS = ""


def setUpModule():
    global CERTS
    CERTS = tempfile.mkdtemp(prefix="orvel-certs.")
    subprocess.run(["bash", os.path.join(HERE, "make_certs.sh"), CERTS], check=True)


def tearDownModule():
    shutil.rmtree(CERTS, ignore_errors=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def client_context(check_hostname=True):
    ctx = ssl.create_default_context(cafile=os.path.join(CERTS, "ca.crt"))
    ctx.check_hostname = check_hostname
    return ctx


class ServerTest(unittest.TestCase):
    demo = False
    extra_args = ()

    def setUp(self):
        self.ctrl = tempfile.mkdtemp(prefix="orvel-server.")
        self.port = free_port()
        args = [sys.executable, os.path.join(HERE, "exam_server.py"), "--dir", self.ctrl,
                "--certs", CERTS, "--port", str(self.port)] + (["--demo"] if self.demo else []) + list(self.extra_args)
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, text=True, encoding="utf-8")
        self.assertEqual(self.proc.stdout.readline(), "ready\n")

    def tearDown(self):
        self.proc.terminate()
        try:  # SIGTERM must end it cleanly and soon
            self.assertEqual(self.proc.wait(timeout=5), 0)
        finally:
            self.proc.kill()
            self.proc.stdout.close()
            shutil.rmtree(self.ctrl, ignore_errors=True)

    def control(self, name, content):
        path = os.path.join(self.ctrl, name)
        with open(path + ".new", "w", encoding="utf-8") as f:
            f.write(content if isinstance(content, str) else json.dumps(content))
        os.replace(path + ".new", path)

    def request(self, method, path, body=None, ctx=None):
        conn = http.client.HTTPSConnection("localhost", self.port, context=ctx or client_context(), timeout=20)
        try:
            conn.request(method, path, body=body, headers={"Content-Type": "application/json; charset=UTF-8"})
            resp = conn.getresponse()
            return resp.status, {k.lower(): v for k, v in resp.getheaders()}, resp.read()
        finally:
            conn.close()

    def raw(self, data, timed=False):
        """Sends bytes as they are and returns the whole raw response
        (and, if timed, the seconds from its first bytes to its end)."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=20) as s:
            with client_context().wrap_socket(s, server_hostname="localhost") as tls:
                tls.sendall(data)
                out = tls.recv(65536)
                first = time.monotonic()
                while chunk := tls.recv(65536):
                    out += chunk
                return (out, time.monotonic() - first) if timed else out

    def recorded(self):
        folder = os.path.join(self.ctrl, "requests")
        names = sorted(os.listdir(folder))
        heads = [n for n in names if n.endswith(".head")]
        self.assertEqual(names, sorted(heads + [h[:-5] + ".body" for h in heads]), "stray or missing files")
        self.assertEqual(heads, ["%06d.head" % i for i in range(1, len(heads) + 1)])

        def read(name):
            with open(os.path.join(folder, name), "rb") as f:
                return f.read()
        return [(read(h), read(h[:-5] + ".body")) for h in heads]


class RecordingTest(ServerTest):
    def test_requests_are_recorded_byte_for_byte(self):
        body = b'{"studentName":"Sit\xc3\xad\x00\xff","detail":"a\tb"}\r\n'
        head1 = (b"POST /api/exam/event HTTP/1.1\r\nHost: localhost\r\nX-Odd:  spaced  value \r\n"
                 b"X-Name: Sit\xc3\xad\r\nContent-Length: %d\r\n\r\n" % len(body))
        resp = self.raw(head1 + body)
        self.assertTrue(resp.startswith(b"HTTP/1.1 200 "), resp)
        self.assertTrue(resp.endswith(b'\r\n\r\n{"ok":true}'), resp)

        head2 = b"POST /api/exam/verify HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: chunked\r\n\r\n"
        chunks = b"5;ext=1\r\nhello\r\n3\r\n\x00\xe9!\r\n0\r\nX-Trailer: 1\r\n\r\n"
        self.raw(head2 + chunks)

        head3 = b"GET /lain?x=1 HTTP/1.1\r\nHost: localhost\r\n\r\n"
        self.assertTrue(self.raw(head3).startswith(b"HTTP/1.1 404 "))

        self.assertEqual(self.recorded(), [(head1, body), (head2, b"hello\x00\xe9!"), (head3, b"")])

    def test_request_is_recorded_before_a_delayed_answer(self):
        self.control("answers.json", {"/api/exam/event": {"delay_ms": 1500}})
        with socket.create_connection(("127.0.0.1", self.port), timeout=20) as s:
            with client_context().wrap_socket(s, server_hostname="localhost") as tls:
                tls.sendall(b"POST /api/exam/event HTTP/1.1\r\nHost: localhost\r\nContent-Length: 2\r\n\r\n{}")
                deadline = time.monotonic() + 1.0
                while not os.path.exists(os.path.join(self.ctrl, "requests", "000001.head")):
                    self.assertLess(time.monotonic(), deadline, "not recorded while the answer waits")
                    time.sleep(0.02)
                self.assertEqual(self.recorded()[0][1], b"{}")
                self.assertTrue(tls.recv(100).startswith(b"HTTP/1.1 200 "))

    def test_arrival_times_give_the_spacing_of_requests(self):
        sent = []
        for pause in (0.0, 0.6):
            time.sleep(pause)
            sent.append(time.monotonic())
            self.request("POST", "/api/exam/heartbeat", b"{}")

        def arrived(n):
            with open(os.path.join(self.ctrl, "arrived", "%06d" % n), encoding="ascii") as f:
                text = f.read()
            self.assertRegex(text, r"^[0-9]+\.[0-9]{3}$")
            return float(text)
        first, second = arrived(1), arrived(2)
        # The server's clock is this machine's monotonic clock.
        self.assertGreaterEqual(first, sent[0] - 0.001)
        self.assertLessEqual(second, time.monotonic() + 0.001)
        self.assertGreaterEqual(second - first, 0.6 - 0.002)
        self.assertEqual(len(self.recorded()), 2)


class AnswersTest(ServerTest):
    def assert_answer(self, got, status, body):
        self.assertEqual((got[0], got[2]), (status, body))
        self.assertEqual(got[1].get("content-length"), str(len(body)))
        self.assertEqual(got[1].get("connection"), "close")

    def test_defaults_without_answers(self):
        self.assert_answer(self.request("POST", "/api/exam/verify", b"{}"), 200,
                           b'{"ok":false,"error":"Token tidak dikenal."}')
        self.assert_answer(self.request("POST", "/api/exam/event", b"{}"), 200, b'{"ok":true}')
        self.assert_answer(self.request("POST", "/api/exam/heartbeat", b'{"session":"x"}'), 200, b'{"ok":true}')
        status, _, body = self.request("GET", "/")
        self.assertEqual(status, 404)
        self.assertTrue(body)

    def test_answers_from_the_file_read_at_every_request(self):
        self.control("answers.json", {
            "/api/exam/verify": {"status": 500, "body": "Galat: server penuh é"},
            "/api/exam/event": {"body_hex": "7b00ff7d", "content_type": "application/octet-stream"},
            "/kosong": {"status": 204, "body": ""},
            "/rusak": {"body_hex": "zz"},
        })
        self.assert_answer(self.request("POST", "/api/exam/verify?x=1", b"{}"), 500, "Galat: server penuh é".encode())
        got = self.request("POST", "/api/exam/event", b"{}")
        self.assert_answer(got, 200, b"{\x00\xff}")
        self.assertEqual(got[1]["content-type"], "application/octet-stream")
        self.assertEqual(self.raw(b"POST /kosong HTTP/1.1\r\nHost: localhost\r\nContent-Length: 0\r\n\r\n"),
                         b"HTTP/1.1 204 No Content\r\nContent-Type: application/json; charset=UTF-8\r\n"
                         b"Connection: close\r\nContent-Length: 0\r\n\r\n")
        status, _, body = self.request("POST", "/rusak", b"{}")  # a broken answer is a 500, not silence
        self.assertEqual(status, 500)
        self.assertIn(b"/rusak", body)
        self.control("answers.json", {"/api/exam/verify": {"status": 201, "body": "baru"}})
        self.assert_answer(self.request("POST", "/api/exam/verify", b"{}"), 201, b"baru")
        self.assert_answer(self.request("POST", "/api/exam/event", b"{}"), 200, b'{"ok":true}')

    def test_a_list_is_used_in_turn_and_its_last_answer_repeats(self):
        turns = {"/api/exam/verify": [{"body": "satu"}, {"status": 500, "body": "dua"}, {"body": "tiga"}]}
        self.control("answers.json", turns)
        seen = [self.request("POST", "/api/exam/verify", b"{}")[:3:2] for _ in range(4)]
        self.assertEqual(seen, [(200, b"satu"), (500, b"dua"), (200, b"tiga"), (200, b"tiga")])
        self.assertEqual(self.request("POST", "/api/exam/event", b"{}")[2], b'{"ok":true}')
        self.control("answers.json", turns)  # rewritten: the list starts again
        self.assertEqual(self.request("POST", "/api/exam/verify", b"{}")[2], b"satu")

    def test_heartbeat_commands_repeat_until_named_done_and_dones_outlive_a_rewrite(self):
        lock = {"command": "lock", "commandId": "l1"}
        message = {"command": "message", "commandId": "m-2", "text": "Lima menit lagi.\nSelesaikan."}
        self.control("answers.json", {"/api/exam/heartbeat": {"commands": [lock, message], "body_hex": "", "delay_ms": 10}})
        beat = lambda body: json.loads(self.request("POST", "/api/exam/heartbeat", body)[2])
        self.assertEqual(beat(b'{"session":"s"}'), {"ok": True, **lock})
        self.assertEqual(beat(b'{"session":"s"}'), {"ok": True, **lock}, "repeated until done")
        self.assertEqual(beat(b'{"session":"s","done":"zz"}'), {"ok": True, **lock}, "another id's done")
        self.assertEqual(beat(b'{"session":"s","done":"l1"}'), {"ok": True, **message},
                         "the done heartbeat's answer carries the next")
        self.assertEqual(sorted(os.listdir(os.path.join(self.ctrl, "done"))), ["l1", "zz"])
        self.control("answers.json", {"/api/exam/heartbeat": {"commands": [lock, message]}})
        self.assertEqual(beat(b'{"session":"s"}'), {"ok": True, **message}, "a rewrite keeps what was done")
        status, _, raw = self.request("POST", "/api/exam/heartbeat", b'{"session":"s","done":"m-2"}')
        self.assertEqual((status, raw), (200, b'{"ok":true}'))
        self.request("POST", "/api/exam/heartbeat", b'{"session":"s","done":"../x"}')
        self.assertFalse(os.path.exists(os.path.join(self.ctrl, "x")), "no name with a path in it")
        self.assertEqual(self.request("POST", "/api/exam/event", b"{}")[2], b'{"ok":true}', "other paths as before")

    def test_chunked_answer_arrives_in_its_pieces(self):
        pieces = ["7b226f6b223a", "00", "", "747275657d"]
        self.control("answers.json", {"/api/exam/verify": {"chunks_hex": pieces}})
        resp, spread = self.raw(b"POST /api/exam/verify HTTP/1.1\r\nHost: localhost\r\nContent-Length: 0\r\n\r\n",
                                timed=True)
        self.assertGreaterEqual(spread, 0.12, "the three chunks and the end came at once")
        head, _, rest = resp.partition(b"\r\n\r\n")
        self.assertIn(b"\r\nTransfer-Encoding: chunked", head)
        self.assertNotIn(b"Content-Length", head)
        framed = b"".join(b"%x\r\n%s\r\n" % (len(p), p) for p in map(bytes.fromhex, pieces) if p)
        self.assertEqual(rest, framed + b"0\r\n\r\n")
        self.assertEqual(self.request("POST", "/api/exam/verify", b"{}")[2], b'{"ok":\x00true}')

    def test_delay_and_close_without_answer(self):
        self.control("answers.json", {"/api/exam/verify": [{"delay_ms": 400, "body": "lambat"},
                                                           {"close": True, "delay_ms": 400}]})
        start = time.monotonic()
        self.assertEqual(self.request("POST", "/api/exam/verify", b"{}")[2], b"lambat")
        self.assertGreaterEqual(time.monotonic() - start, 0.4)
        start = time.monotonic()
        with self.assertRaises((OSError, http.client.HTTPException)):
            self.request("POST", "/api/exam/verify", b'{"token":"X"}')
        self.assertGreaterEqual(time.monotonic() - start, 0.4)
        self.assertEqual(self.recorded()[1][1], b'{"token":"X"}')


    def held_call(self, result):
        """Starts a request to /api/exam/event on a thread of its own; its
        reply (or error) lands in result. Returns the thread once the server
        has recorded the request."""
        def call():
            try:
                result["reply"] = self.raw(b"POST /api/exam/event HTTP/1.1\r\nHost: x\r\n"
                                           b"Content-Length: 2\r\n\r\n{}")
            except OSError as e:
                result["error"] = e
        t = threading.Thread(target=call)
        t.start()
        # A .head is written last: once it is there, the whole request is.
        head = os.path.join(self.ctrl, "requests", "000001.head")
        deadline = time.monotonic() + 5
        while not os.path.exists(head) and time.monotonic() < deadline:
            time.sleep(0.02)
        self.assertEqual(len(self.recorded()), 1, "recorded while held")
        return t

    def test_a_held_answer_is_not_sent_before_the_server_ends(self):
        self.control("answers.json", {"/api/exam/event": {"hold_until": "go", "body": "0123456789"}})
        result = {}
        t = self.held_call(result)
        # Ended while it holds the answer: what it sent until then is final.
        self.proc.terminate()
        self.assertEqual(self.proc.wait(timeout=10), 0)
        t.join(10)
        self.assertFalse(t.is_alive())
        self.assertEqual(result.get("reply", b""), b"", "nothing sent while held")
        self.assertFalse(os.path.exists(os.path.join(self.ctrl, "answered", "000001")), "not answered while held")

    def test_hold_until_released_cut_short_and_marked_answered(self):
        self.control("answers.json", {"/api/exam/event": {"hold_until": "go", "body": "0123456789",
                                                          "cut_after": 50}})
        answered = os.path.join(self.ctrl, "answered", "000001")
        result = {}
        t = self.held_call(result)
        self.control("go", "")
        t.join(10)
        self.assertTrue(os.path.exists(answered))
        reply = result.get("reply", b"")
        self.assertEqual(len(reply), 50, result)
        self.assertTrue(reply.startswith(b"HTTP/1.1 200 OK\r\n"))
        with open(answered, "rb") as f:
            self.assertEqual(f.read(), b"cut", "the mark says what was sent")
        # A whole answer is marked with its status.
        self.control("answers.json", {"/api/exam/event": {"status": 503, "body": "x"}})
        self.request("POST", "/api/exam/event", b"{}")
        second = os.path.join(self.ctrl, "answered", "000002")
        deadline = time.monotonic() + 5  # marked just after the client has its answer
        while not os.path.exists(second) and time.monotonic() < deadline:
            time.sleep(0.02)
        with open(second, "rb") as f:
            self.assertEqual(f.read(), b"503")


class TlsTest(ServerTest):
    def handshake(self, ctx):
        with socket.create_connection(("127.0.0.1", self.port), timeout=20) as s:
            with ctx.wrap_socket(s, server_hostname="localhost") as tls:
                return tls.version(), tls.getpeercert()

    def test_certificate_chosen_per_connection(self):
        tls12 = client_context()
        tls12.maximum_version = ssl.TLSVersion.TLSv1_2
        version, cert = self.handshake(tls12)
        self.assertEqual(version, "TLSv1.2")
        self.assertIn(("DNS", "localhost"), cert["subjectAltName"])
        self.assertIn(("DNS", "127.0.0.1"), cert["subjectAltName"])

        self.control("tls", "untrusted\n")
        for check_hostname in (True, False):
            with self.assertRaises(ssl.SSLCertVerificationError) as caught:
                self.handshake(client_context(check_hostname))
            self.assertEqual(caught.exception.verify_code, 18)  # self-signed

        self.control("tls", "wronghost")
        with self.assertRaises(ssl.SSLCertVerificationError) as caught:
            self.handshake(client_context())
        self.assertEqual(caught.exception.verify_code, 62)  # host name mismatch
        _, cert = self.handshake(client_context(check_hostname=False))  # but signed by the CA
        self.assertEqual(cert["subjectAltName"], (("DNS", "otherhost.invalid"),))

        self.control("tls", "good")
        self.assertEqual(self.request("POST", "/api/exam/event", b"{}")[0], 200)
        self.assertEqual(len(self.recorded()), 1)

    def test_trust_file_holds_the_ca_as_a_serialized_certificate(self):
        with open(os.path.join(CERTS, "ca.crt")) as f:
            der = ssl.PEM_cert_to_DER_cert(f.read())
        with open(os.path.join(CERTS, "trust-ca.reg"), "rb") as f:
            text = f.read().decode("ascii")
        self.assertTrue(text.startswith("REGEDIT4\r\n\r\n"))
        key = hashlib.sha1(der).hexdigest().upper()
        self.assertIn("\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\"
                      + key + "]\r\n", text)
        hexes = re.search(r'"Blob"=hex:((?:[0-9a-f]{2}(?:,|,\\\r\n  )?)+)\r\n', text).group(1)
        blob = bytes.fromhex(re.sub(r"[^0-9a-f]", "", hexes))
        self.assertEqual(struct.unpack("<III", blob[:12]), (0x20, 1, len(der)))
        self.assertEqual(blob[12:], der)
        out = subprocess.run(["openssl", "x509", "-in", os.path.join(CERTS, "ca.crt"), "-noout", "-subject", "-text"],
                             capture_output=True, text=True, check=True).stdout
        self.assertRegex(out, r"subject=CN = ORVEL Test CA \w+")
        self.assertIn("Signature Algorithm: sha256WithRSAEncryption", out)
        self.assertIn("CA:TRUE", out)


class DemoTest(ServerTest):
    demo = True

    def verify(self, body):
        return self.request("POST", "/api/exam/verify", body.encode())[2]

    def test_demo_token_form_and_event_log(self):
        # Each acceptance hands out a session of its own, in the exact form the
        # program scans for.
        sessions = []
        for _ in range(2):
            reply = self.verify('{"studentName":"Siti\tA","className":"4 A/B","token":"DEMO123"}')
            found = re.fullmatch(rb'\{"ok":true,"formUrl":"https://localhost/demo/form\?kelas=4%20A%2FB",'
                                 rb'"proctorPin":"2468","session":"([0-9a-f]{32})"\}', reply)
            self.assertIsNotNone(found, reply)
            sessions.append(found.group(1))
        self.assertNotEqual(sessions[0], sessions[1])
        for token in ("demo123", "DEMO123 ", ""):
            self.assertEqual(self.verify('{"studentName":"S","className":"4A","token":"%s"}' % token),
                             b'{"ok":false,"error":"Token tidak valid untuk ujian hari ini."}')

        status, headers, page = self.request("GET", "/demo/form?kelas=%3Cb%3E4A")
        self.assertEqual((status, headers["content-type"]), (200, "text/html; charset=UTF-8"))
        page = page.decode("utf-8")
        self.assertIn("<title>Ujian Demo ORVEL Selvaro</title>", page)
        self.assertIn("Kelas &lt;b&gt;4A", page)
        self.assertIn(">KIRIM</button>", page)
        self.assertGreaterEqual(page.count('type="radio"'), 8)

        event = '{"studentName":"Budi","className":"4A","token":"DEMO123","event":"VIOLATION","detail":"ke-1\\nlagi"}'
        self.assertEqual(self.request("POST", "/api/exam/event", event.encode())[2], b'{"ok":true}')
        ready, _, _ = select.select([self.proc.stdout], [], [], 5)
        self.assertTrue(ready, "no event line")
        self.assertEqual(self.proc.stdout.readline(), "event VIOLATION | Budi | 4A | DEMO123 | ke-1 lagi\n")

        self.control("answers.json", {"/api/exam/verify": {"body": '{"ok":false,"error":"Diganti."}'}})
        self.assertEqual(self.verify('{"token":"DEMO123"}'), b'{"ok":false,"error":"Diganti."}')


if __name__ == "__main__":
    unittest.main()


class DemoHttpTest(ServerTest):
    demo = True

    def setUp(self):
        self.http_port = free_port()
        self.extra_args = ("--demo-http-port", str(self.http_port))
        super().setUp()

    def test_form_over_plain_http_and_the_answers_printed(self):
        _, _, reply = self.request("POST", "/api/exam/verify",
                                   b'{"studentName":"S","className":"5A","token":"DEMO123"}')
        form = json.loads(reply)["formUrl"]
        self.assertEqual(form, "http://localhost:%d/demo/form?kelas=5A" % self.http_port)
        conn = http.client.HTTPConnection("127.0.0.1", self.http_port, timeout=10)
        conn.request("GET", "/demo/form?kelas=5A")
        resp = conn.getresponse()
        self.assertEqual(resp.status, 200)
        self.assertIn(b">KIRIM</button>", resp.read())
        conn.close()
        conn = http.client.HTTPConnection("127.0.0.1", self.http_port, timeout=10)
        conn.request("POST", "/demo/kirim", body=b"soal2=A&soal1=B",
                     headers={"Content-Type": "application/x-www-form-urlencoded"})
        resp = conn.getresponse()
        self.assertEqual(resp.status, 200)
        self.assertIn("Jawaban terkirim", resp.read().decode("utf-8"))
        conn.close()
        ready, _, _ = select.select([self.proc.stdout], [], [], 5)
        self.assertTrue(ready, "no answers line")
        self.assertEqual(self.proc.stdout.readline(), "answers soal1=B soal2=A\n")
        conn = http.client.HTTPConnection("127.0.0.1", self.http_port, timeout=10)
        conn.request("GET", "/api/exam/verify")
        self.assertEqual(conn.getresponse().status, 404, "only the demo pages go over plain HTTP")
        conn.close()
