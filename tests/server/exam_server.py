#!/usr/bin/env python3
"""A local HTTPS stand-in for the school's exam server, for the tests and the demo.

    exam_server.py --dir CTRL --certs CERTDIR [--port 443] [--demo]

Listens on 127.0.0.1, one request per connection, always "Connection: close";
no connection is held longer than 15 s.

CTRL/requests/NNNNNN.head  request line and header lines exactly as received
CTRL/requests/NNNNNN.body  the body as received (a chunked body de-chunked)
CTRL/arrived/NNNNNN  when the whole request had arrived: seconds of the
    server's monotonic clock, as decimal text with milliseconds ("1234.567"),
    for the spacing of requests.
    NNNNNN counts from 000001 per server run; all three are written before the
    answer, each atomically, the .head last, so a .head means all are there.
CTRL/answered/NNNNNN  written once the server is done with request NNNNNN:
    the status it sent in full ("200"), "cut" for an answer cut off, empty
    when it closed without answering.
CTRL/answers.json  read afresh at every request (write it atomically):
    {"/path": ANSWER or [ANSWER, ...]}, the path without any query. A list is
    used one element per request to that path, the last one repeating; every
    rewrite of the file starts its lists again. ANSWER is an object with
    "status" (200), "body" (UTF-8 text) or "body_hex", or "chunks_hex" (a list:
    sent chunked, ~50 ms between chunks, empty elements skipped), "delay_ms"
    (at most 15000), "close" (true: no answer at all, the connection is closed
    after delay_ms), "hold_until" (a file name: the answer waits until
    CTRL/<name> exists, before delay_ms), "cut_after" (send only the first N
    bytes of the answer, then close), "stall_ms" (with cut_after: wait this
    long before closing) and "content_type". A broken file or
    answer gives a 500 that names the fault.
    For /api/exam/heartbeat an ANSWER may hold "commands", a list of the
    proctor's commands ({"command":"message","commandId":"m1","text":"..."}):
    it is answered {"ok":true,...} with the first one not yet named done, as
    the school's server repeats a command until a heartbeat's "done" names
    it, and {"ok":true} once all are; "status" and "delay_ms" still apply.
CTRL/done/ID  written when a heartbeat body names the command ID done
    ("done":"ID"), before its answer; a rewrite of answers.json keeps them.
CTRL/tls  "good" (default), "untrusted" or "wronghost", read at every handshake.

Paths with no answer set: /api/exam/verify refuses every token, /api/exam/event
and /api/exam/heartbeat say ok, anything else is 404. --demo accepts the token
DEMO123 (its answer holds a new session, 32 lower-case hex digits), serves the
exam form at /demo/form, prints each event report as one line and the answers
sent with the form's KIRIM button ("answers ..."). --demo-http-port N also
serves the form over plain HTTP on 127.0.0.1:N and hands out that address
(a browser outside the Wine prefix does not trust the test CA).
"""
import argparse
import html
import http
import http.server
import json
import os
import secrets
import signal
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import ThreadingHTTPServer

# Under Wine, WinHTTP waits for an answer without any time limit, so a slow or
# silent answer must end by itself: no connection is held longer than this.
MAX_HOLD_S = 15.0
MAX_HEAD = 64 * 1024
JSON_TYPE = "application/json; charset=UTF-8"
HTML_TYPE = "text/html; charset=UTF-8"
VERIFY, EVENT, HEARTBEAT = "/api/exam/verify", "/api/exam/event", "/api/exam/heartbeat"
DEMO_TOKEN = "DEMO123"


def compact(obj):
    # The program reads replies with a strict scanner: no blank around the
    # colon and no \u escapes, so UTF-8 text is written as is.
    return json.dumps(obj, ensure_ascii=False, separators=(",", ":"))


DEFAULTS = {
    VERIFY: {"body": compact({"ok": False, "error": "Token tidak dikenal."})},
    EVENT: {"body": compact({"ok": True})},
    HEARTBEAT: {"body": compact({"ok": True})},
}
NOT_FOUND = {"status": 404, "body": "Tidak ditemukan.\n", "content_type": "text/plain; charset=UTF-8"}


def write_atomic(path, data):
    with open(path + ".tmp", "wb") as f:
        f.write(data)
    os.replace(path + ".tmp", path)


def json_members(body):
    # The program sends control bytes such as a tab unescaped: not strict JSON.
    try:
        obj = json.loads(body.decode("utf-8", "replace"), strict=False)
    except ValueError:
        return {}
    return obj if isinstance(obj, dict) else {}


class Reader:
    """Reads a request from a socket, every read bounded by the connection's deadline."""

    def __init__(self, sock, deadline):
        self.sock, self.deadline = sock, deadline
        self.file = sock.makefile("rb")

    def _arm(self):
        self.sock.settimeout(max(0.05, self.deadline - time.monotonic()))

    def line(self):
        self._arm()
        return self.file.readline(MAX_HEAD)

    def read(self, n):  # what arrived before a time-out or the end is kept
        out = b""
        try:
            while len(out) < n:
                self._arm()
                piece = self.file.read1(n - len(out))
                if not piece:
                    break
                out += piece
        except OSError:
            pass
        return out


def read_request(reader):
    """Returns (head bytes, body bytes, complete)."""
    head, body = b"", b""
    try:
        while True:
            line = reader.line()
            head += line
            if not line:
                return head, body, False
            if line in (b"\r\n", b"\n"):
                break
            if len(head) > MAX_HEAD:
                return head, body, False
        fields = {}
        for raw in head.split(b"\n")[1:]:
            name, sep, value = raw.partition(b":")
            if sep:
                fields[name.strip().lower()] = value.strip()
        if b"chunked" in fields.get(b"transfer-encoding", b"").lower():
            while True:
                size = int(reader.line().split(b";")[0].strip(), 16)
                if size == 0:
                    while reader.line() not in (b"\r\n", b"\n", b""):
                        pass  # trailer fields are dropped
                    return head, body, True
                data = reader.read(size + 2)
                body += data[:size]
                if len(data) < size + 2:
                    return head, body, False
        length = int(fields.get(b"content-length", b"0"))
        body = reader.read(length) if length > 0 else b""
        return head, body, len(body) == length
    except (OSError, ValueError):  # time-out, reset, or a malformed length
        return head, body, False


class ExamServer(ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 64

    def __init__(self, port, ctrl, certs, demo):
        self.ctrl, self.demo = ctrl, demo
        self.requests_dir = os.path.join(ctrl, "requests")
        self.answered_dir = os.path.join(ctrl, "answered")
        self.arrived_dir = os.path.join(ctrl, "arrived")
        self.done_dir = os.path.join(ctrl, "done")
        for folder in (self.requests_dir, self.answered_dir, self.arrived_dir, self.done_dir):
            os.makedirs(folder, exist_ok=True)
        self.lock = threading.Lock()
        self.seq = 0
        self.turns = {}
        self.contexts = {}
        for name in ("good", "untrusted", "wronghost"):
            ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            ctx.minimum_version = ssl.TLSVersion.TLSv1_2  # what Wine's WinHTTP speaks
            ctx.load_cert_chain(os.path.join(certs, name + ".crt"), os.path.join(certs, name + ".key"))
            self.contexts[name] = ctx
        self.contexts["good"].sni_callback = self.choose_certificate
        super().__init__(("127.0.0.1", port), Connection)

    def choose_certificate(self, sslsock, server_name, _ctx):
        try:
            with open(os.path.join(self.ctrl, "tls")) as f:
                choice = f.read().strip() or "good"
        except FileNotFoundError:
            choice = "good"
        if choice not in self.contexts:
            print(f"exam_server: unknown tls choice {choice!r}, using good", file=sys.stderr, flush=True)
            choice = "good"
        sslsock.context = self.contexts[choice]

    def record(self, head, body):
        arrived = time.monotonic()
        with self.lock:  # one at a time, so the numbers appear in order
            self.seq += 1
            base = os.path.join(self.requests_dir, "%06d" % self.seq)
            write_atomic(os.path.join(self.arrived_dir, "%06d" % self.seq), b"%.3f" % arrived)
            write_atomic(base + ".body", body)
            write_atomic(base + ".head", head)
            return self.seq

    def mark_answered(self, seq, outcome=b""):
        write_atomic(os.path.join(self.answered_dir, "%06d" % seq), outcome)

    def answer_for(self, path, query, body):
        try:
            with open(os.path.join(self.ctrl, "answers.json"), "rb") as f:
                stat, text = os.fstat(f.fileno()), f.read()
            answers = json.loads(text)
        except FileNotFoundError:
            answers = {}
        except ValueError as e:
            return self.broken(f"answers.json: {e}")
        if not isinstance(answers, dict):
            return self.broken("answers.json: not an object")
        answer = answers.get(path)
        if isinstance(answer, list) and answer:
            key = (path, stat.st_ino, stat.st_mtime_ns, text)
            with self.lock:
                turn = self.turns.get(key, 0)
                self.turns[key] = turn + 1
            answer = answer[min(turn, len(answer) - 1)]
        if answer is None and self.demo:
            answer = demo_answer(path, query, body)
        if answer is None:
            answer = DEFAULTS.get(path, NOT_FOUND)
        if not isinstance(answer, dict):
            return self.broken(f"answers.json: the answer for {path} is not an object")
        if path == HEARTBEAT and "commands" in answer:
            return self.command_answer(answer, body)
        return answer

    def command_answer(self, answer, body):
        """The heartbeat's answer with the first command not yet named done."""
        commands = answer["commands"]
        if not isinstance(commands, list) or not all(isinstance(c, dict) for c in commands):
            return self.broken("answers.json: commands is not a list of objects")
        done = json_members(body).get("done")
        # A name that is a command id can be a file name (no path in it).
        if isinstance(done, str) and done and all(c.isalnum() or c in "_-" for c in done):
            write_atomic(os.path.join(self.done_dir, done), b"")
        waiting = [c for c in commands if not os.path.exists(os.path.join(self.done_dir, str(c.get("commandId", ""))))]
        reply = {k: v for k, v in answer.items() if k not in ("commands", "body_hex", "chunks_hex")}
        reply["body"] = compact({"ok": True, **waiting[0]} if waiting else {"ok": True})
        return reply

    @staticmethod
    def broken(message):
        print("exam_server: " + message, file=sys.stderr, flush=True)
        return {"status": 500, "body": message + "\n", "content_type": "text/plain; charset=UTF-8"}


class Connection(socketserver.BaseRequestHandler):
    def handle(self):
        deadline = time.monotonic() + MAX_HOLD_S
        self.request.settimeout(MAX_HOLD_S)
        try:
            sock = self.server.contexts["good"].wrap_socket(self.request, server_side=True)
        except OSError:
            return  # the client gave up the handshake, e.g. an untrusted certificate
        reader = Reader(sock, deadline)
        try:
            self.serve(sock, reader, deadline)
        except OSError:
            pass  # the client went away
        finally:
            reader.file.close()
            sock.close()

    def serve(self, sock, reader, deadline):
        head, body, complete = read_request(reader)
        if not head:
            return
        seq = self.server.record(head, body)
        outcome = b""
        try:
            outcome = self.answer(sock, head, body, complete, deadline)
        finally:
            self.server.mark_answered(seq, outcome)

    def answer(self, sock, head, body, complete, deadline):
        """Sends the answer; what was sent, as the answered mark records it."""
        target = head.split(b"\n")[0].split()
        url = urllib.parse.urlsplit(target[1].decode("latin-1") if len(target) > 1 else "/")
        if self.server.demo and url.path == EVENT:
            log_event(json_members(body))
        answer = self.server.answer_for(url.path, url.query, body)
        try:
            delay = min(float(answer.get("delay_ms", 0)), MAX_HOLD_S * 1000) / 1000
            parts = render(answer)
        except (ValueError, TypeError) as e:
            answer, delay = {}, 0
            parts = render(self.server.broken(f"answers.json: bad answer for {url.path}: {e}"))
        hold = answer.get("hold_until")
        if hold:
            release = os.path.join(self.server.ctrl, os.path.basename(str(hold)))
            while not os.path.exists(release) and time.monotonic() < deadline:
                time.sleep(0.02)
        time.sleep(max(0.0, min(delay, deadline - time.monotonic())))
        if answer.get("close") or not complete:
            return b""
        cut = answer.get("cut_after")
        if cut is not None:
            parts = [b"".join(parts)[:int(cut)]]
        sock.settimeout(5)
        for i, part in enumerate(parts):
            if i:
                time.sleep(0.05)  # chunks apart in time, each in a TLS record of its own
            sock.sendall(part)
        if cut is not None:
            stall = min(float(answer.get("stall_ms", 0)) / 1000, max(0.0, deadline - time.monotonic()))
            time.sleep(stall)
            return b"cut"
        return parts[0].split(b" ", 2)[1]


def render(answer):
    """The answer as the byte strings to send; a chunked one has a piece per chunk."""
    status = int(answer.get("status", 200))
    try:
        reason = http.HTTPStatus(status).phrase
    except ValueError:
        reason = "Status"
    head = (f"HTTP/1.1 {status} {reason}\r\nContent-Type: {answer.get('content_type', JSON_TYPE)}\r\n"
            "Connection: close\r\n")
    if "chunks_hex" in answer:
        pieces = [bytes.fromhex(h) for h in answer["chunks_hex"]]
        return ([(head + "Transfer-Encoding: chunked\r\n\r\n").encode("latin-1")]
                + [b"%x\r\n%s\r\n" % (len(p), p) for p in pieces if p] + [b"0\r\n\r\n"])
    if "body_hex" in answer:
        body = bytes.fromhex(answer["body_hex"])
    else:
        body = str(answer.get("body", "")).encode("utf-8")
    return [(head + f"Content-Length: {len(body)}\r\n\r\n").encode("latin-1") + body]


def log_event(members):
    parts = [members.get(k, "") for k in ("event", "studentName", "className", "token", "detail")]
    print("event " + " | ".join(" ".join(str(p).split()) for p in parts), flush=True)


DEMO_FORM_BASE = ["https://localhost"]  # or the plain HTTP address, with --demo-http-port


def demo_answer(path, query, body):
    if path == VERIFY:
        request = json_members(body)
        if request.get("token") == DEMO_TOKEN:
            kelas = urllib.parse.quote(str(request.get("className", "")), safe="")
            return {"body": compact({"ok": True, "formUrl": DEMO_FORM_BASE[0] + "/demo/form?kelas=" + kelas,
                                     "proctorPin": "2468", "session": secrets.token_hex(16)})}
        return {"body": compact({"ok": False, "error": "Token tidak valid untuk ujian hari ini."})}
    if path == "/demo/form":
        kelas = urllib.parse.parse_qs(query).get("kelas", [""])[0]
        return {"body": DEMO_FORM.replace("{kelas}", html.escape(kelas or "-")), "content_type": HTML_TYPE}
    if path == "/demo/kirim":
        fields = urllib.parse.parse_qs(body.decode("utf-8", "replace"))
        print("answers " + " ".join(f"{k}={v[0]}" for k, v in sorted(fields.items())), flush=True)
        return {"body": DEMO_SENT, "content_type": HTML_TYPE}
    return None


class DemoHttp(http.server.BaseHTTPRequestHandler):
    """The demo form over plain HTTP on loopback, for a browser outside Wine."""

    def answer(self, body):
        url = urllib.parse.urlsplit(self.path)
        found = demo_answer(url.path, url.query, body) if url.path.startswith("/demo/") else None
        found = found or NOT_FOUND
        data = str(found.get("body", "")).encode("utf-8")
        self.send_response(int(found.get("status", 200)))
        self.send_header("Content-Type", found.get("content_type", HTML_TYPE))
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        self.answer(b"")

    def do_POST(self):
        length = min(int(self.headers.get("Content-Length", "0") or 0), MAX_HEAD)
        self.answer(self.rfile.read(length))

    def log_message(self, *_):
        pass


DEMO_QUESTIONS = [
    ("Berapakah hasil dari 7 × 8?", ["54", "56", "58", "64"]),
    ("Ibu kota provinsi Jawa Barat adalah ...", ["Bandung", "Semarang", "Surabaya", "Serang"]),
    ("Hewan yang berkembang biak dengan bertelur adalah ...", ["Kucing", "Sapi", "Ayam", "Kambing"]),
    ("Sila pertama Pancasila berbunyi ...", ["Ketuhanan Yang Maha Esa", "Persatuan Indonesia",
                                            "Kemanusiaan yang adil dan beradab", "Keadilan sosial"]),
]
PAGE = """<!DOCTYPE html>
<html lang="id"><head><meta charset="utf-8"><title>Ujian Demo ORVEL Selvaro</title>
<style>
body {{ font-family: sans-serif; background: #eef4fb; color: #1d2b3a; margin: 0; }}
header {{ background: #1f5fa8; color: #fff; padding: 18px 32px; }}
main {{ max-width: 760px; margin: 24px auto; padding: 0 16px; }}
fieldset {{ background: #fff; border: 1px solid #c9d8ea; border-radius: 10px; margin: 0 0 16px; padding: 14px 20px; }}
legend {{ font-weight: bold; padding: 0 6px; }}
label {{ display: block; margin: 6px 0; cursor: pointer; }}
button {{ background: #f0a020; border: 0; border-radius: 8px; color: #fff; font-size: 18px;
          font-weight: bold; padding: 12px 48px; cursor: pointer; }}
</style></head>
<body><header><h1>Ujian Demo ORVEL Selvaro</h1>{sub}</header><main>{content}</main></body></html>
"""
DEMO_FORM = PAGE.format(
    sub="<div>Kelas {kelas} - Pilih satu jawaban yang paling tepat.</div>",
    content='<form method="post" action="/demo/kirim">' + "".join(
        f"<fieldset><legend>{n}. {html.escape(q)}</legend>" + "".join(
            f'<label><input type="radio" name="soal{n}" value="{v}" required> {v}. {html.escape(c)}</label>'
            for v, c in zip("ABCD", choices)) + "</fieldset>"
        for n, (q, choices) in enumerate(DEMO_QUESTIONS, 1)) + "<button type=\"submit\">KIRIM</button></form>")
DEMO_SENT = PAGE.format(
    sub="<div>Jawaban terkirim.</div>",
    content="<fieldset><legend>Terima kasih!</legend>Jawabanmu sudah terkirim. "
            "Tekan &quot;Selesai Ujian&quot; di bilah atas untuk mengakhiri ujian.</fieldset>")


def main():
    parser = argparse.ArgumentParser(description="Local HTTPS test exam server.")
    parser.add_argument("--dir", required=True, help="control folder")
    parser.add_argument("--certs", required=True, help="folder made by make_certs.sh")
    parser.add_argument("--port", type=int, default=443)
    parser.add_argument("--demo", action="store_true")
    parser.add_argument("--demo-http-port", type=int, default=0)
    args = parser.parse_args()
    sys.stdout.reconfigure(encoding="utf-8", errors="replace")
    try:
        server = ExamServer(args.port, args.dir, args.certs, args.demo)
    except OSError as e:
        sys.exit(f"exam_server: cannot listen on 127.0.0.1:{args.port}: {e}")
    # shutdown() waits for serve_forever(), so it must run on another thread.
    stop = lambda *_: threading.Thread(target=server.shutdown).start()
    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    if args.demo and args.demo_http_port:
        plain = ThreadingHTTPServer(("127.0.0.1", args.demo_http_port), DemoHttp)
        threading.Thread(target=plain.serve_forever, daemon=True).start()
        DEMO_FORM_BASE[0] = f"http://localhost:{args.demo_http_port}"
    print("ready", flush=True)
    server.serve_forever(poll_interval=0.2)
    server.server_close()


if __name__ == "__main__":
    main()
