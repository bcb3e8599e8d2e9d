"""The HTTPS server: strict limits, one function per route.

Every connection is handled on one of a fixed number of worker threads
(TLS handshake included, so a slow client never holds up the accepting
thread); the request line and headers may take 16 KiB, a body 64 KiB, and
a connection that stalls is closed.
"""
from __future__ import annotations

import csv
import datetime as dt
import hashlib
import io
import json
import queue
import secrets
import shutil
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse
from http import HTTPStatus
from http.server import BaseHTTPRequestHandler

from . import decisions, page
from .config import Config
from .database import Store, WriteFailed
from .presence import Presence, new_session_id
from .whatsapp import Forwarder, Redactor

MAX_HEAD = 16 * 1024
MAX_BODY = 64 * 1024
CONNECTION_SECONDS = 10.0   # to send a whole request
WORKERS = 48
MAX_STREAMS = 16            # of the workers, at most this many hold a proctor stream
KEEPALIVE_SECONDS = 15.0
SESSION_SECONDS = 12 * 3600.0
COOKIE = "orvel_pengawas"
JSON = "application/json; charset=UTF-8"
REPORTS_PER_SESSION = 30   # a minute: far above what a launcher sends
REPORTS_PER_ADDRESS = 20   # a minute, without an exam session
LOW_DISK = 1 << 30
NOT_STORED = "Laporan belum bisa disimpan. Coba lagi."


def now_iso() -> str:
    # Fixed width (milliseconds, the local offset): text order is time order.
    return dt.datetime.now().astimezone().isoformat(timespec="milliseconds")


class App:
    """What the routes share: the configuration, the store, the limiters."""

    def __init__(self, config: Config, log=None) -> None:
        self.config = config
        self.redact = Redactor(config.secrets())
        self._log = log or (lambda line: print(line, file=sys.stderr, flush=True))
        self.store = Store(config.database, self.log)
        self.log_free_space()
        self.token_limiter = decisions.Limiter()
        self.login_limiter = decisions.Limiter()
        self.session_reports = decisions.RateLimiter(REPORTS_PER_SESSION)
        self.address_reports = decisions.RateLimiter(REPORTS_PER_ADDRESS)
        self.limit_lock = threading.Lock()
        self.stopping = threading.Event()
        self.streams = threading.BoundedSemaphore(MAX_STREAMS)
        self.forwarder = Forwarder(self.store, config.whatsapp, self.log, self.redact) if config.whatsapp else None
        self.presence = Presence(self.store, config.missing_after_seconds, self.forwarder is not None, self.log,
                                 self.forwarder.wake.set if self.forwarder else lambda: None)

    def log(self, line: str) -> None:
        self._log(f"{dt.datetime.now():%Y-%m-%d %H:%M:%S} {self.redact(line)}")

    def log_free_space(self) -> None:
        try:
            free = shutil.disk_usage(self.config.database.parent).free
        except OSError as e:
            self.log(f"ruang kosong di disk basis data tidak terbaca: {e}")
            return
        size = f"{free / (1 << 30):.1f} GB" if free >= LOW_DISK else f"{free / (1 << 20):.0f} MB"
        self.log(f"basis data {self.config.database}: ruang kosong di disknya {size}")
        if free < LOW_DISK:
            self.log("PERINGATAN: ruang kosong di disk basis data kurang dari 1 GB; saat disk penuh, "
                     "laporan tidak bisa disimpan")

    def start(self) -> None:
        if self.forwarder:
            self.forwarder.start()
        self.presence.start()

    def close(self) -> None:
        self.stopping.set()
        with self.store.changed:
            self.store.changed.notify_all()
        self.presence.stop()
        if self.forwarder:
            self.forwarder.stop()
        self.store.close()

    def session_ok(self, cookie_header: str | None) -> bool:
        token = cookie_value(cookie_header, COOKIE)
        return bool(token) and self.store.session_valid(hash_token(token), time.time())


def hash_token(token: str) -> str:
    # Only the hash is stored: a copy of the database lets nobody in.
    return hashlib.sha256(token.encode()).hexdigest()


def cookie_value(header: str | None, name: str) -> str:
    for part in (header or "").split(";"):
        k, _, v = part.strip().partition("=")
        if k == name:
            return v
    return ""


class Server(socketserver.TCPServer):
    allow_reuse_address = True
    request_queue_size = 128

    def __init__(self, app: App, address: tuple[str, int], context: ssl.SSLContext | None) -> None:
        self.app, self.context = app, context
        self.jobs: queue.Queue = queue.Queue(maxsize=WORKERS * 4)
        super().__init__(address, Handler)
        self.workers = [threading.Thread(target=self._work, name=f"http-{i}", daemon=True) for i in range(WORKERS)]
        for t in self.workers:
            t.start()

    def process_request(self, request, client_address) -> None:
        try:
            self.jobs.put(((request, client_address)), timeout=CONNECTION_SECONDS)
        except queue.Full:  # every worker busy for that long: shed the connection
            self.shutdown_request(request)

    def _work(self) -> None:
        while True:
            job = self.jobs.get()
            if job is None:
                return
            sock, address = job
            try:
                sock.settimeout(CONNECTION_SECONDS)
                if self.context is not None:
                    sock = self.context.wrap_socket(sock, server_side=True)
                self.finish_request(sock, address)
            except (OSError, ssl.SSLError):
                pass  # a failed handshake or a client gone
            except Exception as e:
                self.app.log(f"error: {type(e).__name__}: {e}")
            finally:
                self.shutdown_request(sock)

    def server_close(self) -> None:
        super().server_close()
        for _ in self.workers:
            self.jobs.put(None)


class Handler(BaseHTTPRequestHandler):
    server: Server
    protocol_version = "HTTP/1.1"

    def version_string(self) -> str:
        return "OrvelExamServer"

    def setup(self) -> None:
        super().setup()
        self.deadline = time.monotonic() + CONNECTION_SECONDS

    # Reading, within the limits.
    def handle(self) -> None:
        self.close_connection = True  # one request per connection: WinHTTP opens a new one anyway
        self.handle_one_request()

    def handle_one_request(self) -> None:
        head = b""
        while True:
            if time.monotonic() > self.deadline:
                return
            line = self.rfile.readline(MAX_HEAD + 1 - len(head))
            if not line:
                return
            head += line
            if line in (b"\r\n", b"\n") and len(head) > len(line):
                break
            if len(head) > MAX_HEAD:
                self.requestline, self.request_version, self.command = "", "HTTP/1.1", ""
                self.send_error(HTTPStatus.REQUEST_HEADER_FIELDS_TOO_LARGE)
                return
        first, _, rest = head.partition(b"\n")
        self.raw_requestline = first + b"\n"
        real = self.rfile
        self.rfile = io.BytesIO(rest)
        try:
            if not self.parse_request():
                return
        finally:
            self.rfile = real
        self.app = self.server.app
        self.address = self.client_address[0]
        url = urllib.parse.urlsplit(self.path)
        self.route, self.query = url.path, urllib.parse.parse_qs(url.query)
        try:
            if self.command == "POST":
                body = self.read_body()
                if body is not None:
                    self.do_post(body)
            elif self.command in ("GET", "HEAD"):
                self.do_get()
            else:
                self.reply(405, "text/plain; charset=UTF-8", b"Method not allowed.\n", {"Allow": "GET, POST"})
        except (OSError, ssl.SSLError):
            pass

    def read_body(self) -> bytes | None:
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            self.reply(411, "text/plain; charset=UTF-8", b"Content-Length required.\n")
            return None
        try:
            length = int(self.headers.get("Content-Length", ""))
        except ValueError:
            self.reply(411, "text/plain; charset=UTF-8", b"Content-Length required.\n")
            return None
        if length < 0 or length > MAX_BODY:
            self.reply(413, "text/plain; charset=UTF-8", b"Request body too large.\n")
            return None
        body = b""
        while len(body) < length:
            if time.monotonic() > self.deadline:
                return None
            piece = self.rfile.read1(length - len(body)) if hasattr(self.rfile, "read1") else self.rfile.read(length - len(body))
            if not piece:
                return None
            body += piece
        return body

    # Writing.
    def reply(self, status: int, content_type: str, body: bytes, headers: dict[str, str] | None = None) -> None:
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        self.send_header("X-Content-Type-Options", "nosniff")
        self.send_header("Connection", "close")
        for k, v in (headers or {}).items():
            self.send_header(k, v)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def json(self, status: int, obj: object, headers: dict[str, str] | None = None) -> None:
        body = obj if isinstance(obj, str) else decisions.compact(obj)
        self.reply(status, JSON, body.encode("utf-8"), headers)

    def log_message(self, format: str, *args) -> None:
        pass  # no access log: names of children do not belong in a log file

    def log_error(self, format: str, *args) -> None:
        pass

    # Routes.
    def do_post(self, body: bytes) -> None:
        routes = {"/api/exam/verify": self.verify, "/api/exam/event": self.event,
                  "/api/exam/heartbeat": self.heartbeat, "/pengawas/login": self.login, "/pengawas/logout": self.logout,
                  "/api/proctor/test-message": self.test_message}
        view = routes.get(self.route)
        if view is None:
            self.reply(404, "text/plain; charset=UTF-8", b"Tidak ditemukan.\n")
        elif self.route.startswith("/api/proctor/") and not self.app.session_ok(self.headers.get("Cookie")):
            self.json(401, {"ok": False, "error": "Masuk sebagai pengawas dulu."})
        else:
            view(body)

    def do_get(self) -> None:
        routes = {"/pengawas": self.page, "/api/proctor/roster": self.roster,
                  "/api/proctor/stream": self.stream, "/api/proctor/export.csv": self.export,
                  "/api/proctor/timeline": self.timeline, "/api/proctor/status": self.status,
                  "/api/proctor/heard": self.heard}
        view = routes.get(self.route)
        if self.route == "/":
            self.reply(303, "text/plain; charset=UTF-8", b"", {"Location": "/pengawas"})
        elif view is None:
            self.reply(404, "text/plain; charset=UTF-8", b"Tidak ditemukan.\n")
        elif self.route.startswith("/api/proctor/") and not self.app.session_ok(self.headers.get("Cookie")):
            self.json(401, {"ok": False, "error": "Masuk sebagai pengawas dulu."})
        else:
            view()

    def verify(self, body: bytes) -> None:
        app, now = self.app, time.monotonic()
        with app.limit_lock:
            blocked = app.token_limiter.blocked(self.address, now)
        if blocked:
            self.json(429, {"ok": False, "error": decisions.TOO_MANY})
            return
        request = decisions.members(body, decisions.VERIFY_MEMBERS)
        session = new_session_id()
        verdict = decisions.verify(request, app.config.exams, dt.datetime.now(), session)
        if verdict.wrong_token:
            with app.limit_lock:
                app.token_limiter.failed(self.address, now)
        if verdict.ok and request is not None:
            # Known before it is stored, so the launcher's first report finds
            # it; held in memory while the database cannot be written.
            app.presence.open(session, request, time.time())
            app.store.add_verification(now_iso(), self.address, request, session, time.time())
        self.json(200, verdict.answer)

    def event(self, body: bytes) -> None:
        app = self.app
        m = decisions.members(body, decisions.EVENT_MEMBERS)
        if m is None:
            self.json(400, {"ok": False, "error": decisions.INCOMPLETE})
            return
        session = self.headers.get("Exam-Session", "").strip()
        bound = decisions.binding(app.presence.verified_as(session), m)
        if bound == decisions.MISMATCH:
            self.json(400, {"ok": False, "error": decisions.INCOMPLETE})
            return
        signed = session if bound == decisions.KNOWN else None  # None: stored "tanpa sesi"
        with app.limit_lock:
            allowed = (app.session_reports.allow(signed, time.monotonic()) if signed else
                       app.address_reports.allow(self.address, time.monotonic()))
        if not allowed:
            self.json(429, {"ok": False, "error": decisions.TOO_MANY}, {"Retry-After": "60"})
            return
        key = self.headers.get("Idempotency-Key")
        key = key.strip()[:128] if key and key.strip() else None
        try:
            rowid, repeat, reused = app.store.add_report(now_iso(), self.address, key, body.decode("utf-8", "replace"),
                                                         m, forward=app.forwarder is not None, session=signed)
        except WriteFailed:
            if signed:
                app.presence.heard(signed, time.time())  # not stored, but the PC is there
            self.json(503, {"ok": False, "error": NOT_STORED}, {"Retry-After": "10"})
            return
        if reused:
            app.log(f"report {rowid} stored as a report of its own: its Idempotency-Key came before with another "
                    f"body (from {self.address})")
        if signed:
            app.presence.heard(signed, time.time(), m["event"], rowid)
        if app.forwarder and not repeat:
            app.forwarder.wake.set()
        self.json(200, {"ok": True})

    def heartbeat(self, body: bytes) -> None:
        """The launcher says it is still there: only the last contact changes."""
        session = self.headers.get("Exam-Session", "").strip()
        named = decisions.members(body, ("session",)) if body.strip() else None
        if named is not None and session and named["session"] != session:
            self.json(400, {"ok": False, "error": decisions.INCOMPLETE})
            return
        if self.app.presence.heard(session or (named or {}).get("session", ""), time.time()):
            self.json(200, {"ok": True})
        else:
            self.json(404, {"ok": False, "error": "Sesi ujian tidak dikenal."})

    def login(self, body: bytes) -> None:
        app, now = self.app, time.monotonic()
        with app.limit_lock:
            blocked = app.login_limiter.blocked(self.address, now)
        if blocked:
            self.reply(429, "text/html; charset=UTF-8", page.login(decisions.TOO_MANY).encode())
            return
        password = urllib.parse.parse_qs(body.decode("utf-8", "replace")).get("password", [""])[0]
        if not secrets.compare_digest(password.encode(), app.config.proctor_password.encode()):
            with app.limit_lock:
                app.login_limiter.failed(self.address, now)
            self.reply(401, "text/html; charset=UTF-8", page.login("Kata sandi salah.").encode())
            return
        token = secrets.token_urlsafe(32)
        app.store.add_session(hash_token(token), time.time() + SESSION_SECONDS)
        cookie = f"{COOKIE}={token}; Path=/; HttpOnly; Secure; SameSite=Strict; Max-Age={int(SESSION_SECONDS)}"
        self.reply(303, "text/plain; charset=UTF-8", b"", {"Location": "/pengawas", "Set-Cookie": cookie})

    def logout(self, body: bytes) -> None:
        token = cookie_value(self.headers.get("Cookie"), COOKIE)
        if token:
            self.app.store.drop_session(hash_token(token), time.time())
        self.reply(303, "text/plain; charset=UTF-8", b"", {
            "Location": "/pengawas", "Set-Cookie": f"{COOKIE}=; Path=/; HttpOnly; Secure; SameSite=Strict; Max-Age=0"})

    def page(self) -> None:
        if self.app.session_ok(self.headers.get("Cookie")):
            self.reply(200, "text/html; charset=UTF-8", page.PAGE.encode())
        else:
            self.reply(200, "text/html; charset=UTF-8", page.login("").encode())

    def roster(self) -> None:
        app = self.app
        self.json(200, decisions.roster(app.store.timeline(), app.config.exams, app.presence.view(time.time())))

    def heard(self) -> None:
        """The working students' last contacts, for the page between reports."""
        self.json(200, list(self.app.presence.view(time.time()).values()))

    def timeline(self) -> None:
        """One student's verifications and reports; with nosession=1, the
        reports sent without an exam session; with unknown=1, the reports
        whose token belongs to no exam of their class."""
        exams = self.app.config.exams
        entries = self.app.store.timeline()
        if self.query.get("nosession"):
            found = [e for e in entries if e["kind"] == "report" and e["session"] is None]
        elif self.query.get("unknown"):
            found = [e for e in entries if e["kind"] == "report" and e["session"] is not None
                     and decisions.exam_of(e, exams) is None]
        else:
            want = decisions.student_key(self.query.get("className", [""])[0], self.query.get("studentName", [""])[0],
                                         self.query.get("token", [""])[0])
            found = [e for e in entries if (e["kind"] == "verify" or e["session"] is not None) and
                     decisions.exam_of(e, exams) is not None and
                     decisions.student_key(e["className"], e["studentName"], e["token"]) == want]
        self.json(200, [shown_entry(e) for e in found])

    def status(self) -> None:
        w = self.app.config.whatsapp
        self.json(200, {"whatsapp": None if w is None else {
            "preset": w.preset, "recipients": len(w.to), **self.app.store.outbox_state()}})

    def test_message(self, body: bytes) -> None:
        if self.app.forwarder is None:
            self.json(200, {"ok": False, "error": "WhatsApp belum diatur di konfigurasi server."})
            return
        self.app.forwarder.send_test()
        self.json(200, {"ok": True})

    def export(self) -> None:
        out = io.StringIO()
        writer = csv.writer(out, lineterminator="\r\n")
        writer.writerow(["id", "waktu", "alamat", "kelas", "nama", "token", "kejadian", "keterangan"])
        for r in self.app.store.all_reports():
            writer.writerow([r["id"], r["receivedAt"], r["address"]] + [decisions.csv_cell(r[k]) for k in
                            ("className", "studentName", "token", "event", "detail")])
        # The byte order mark makes spreadsheets read the names as UTF-8.
        self.reply(200, "text/csv; charset=UTF-8", ("\ufeff" + out.getvalue()).encode("utf-8"),
                   {"Content-Disposition": 'attachment; filename="laporan-ujian.csv"'})

    def stream(self) -> None:
        app = self.app
        if not app.streams.acquire(blocking=False):
            self.reply(503, "text/plain; charset=UTF-8", b"Terlalu banyak halaman pengawas terbuka.\n",
                       {"Retry-After": "5"})
            return
        try:
            raw = self.headers.get("Last-Event-ID") or self.query.get("after", [""])[0]
            try:
                after = int(raw)
            except ValueError:
                after = app.store.last_id  # a new page asks for the roster itself, then listens
            self.send_response(200)
            self.send_header("Content-Type", "text/event-stream; charset=UTF-8")
            self.send_header("Cache-Control", "no-store")
            self.send_header("Connection", "close")
            self.end_headers()
            self.connection.settimeout(30)
            self.wfile.write(b"retry: 2000\n\n")
            self.stream_reports(after)
        finally:
            app.streams.release()

    def stream_reports(self, after: int) -> None:
        store, presence, stopping = self.app.store, self.app.presence, self.app.stopping
        version, last_write = store.version, time.monotonic()
        seen = presence.change_seq
        while not stopping.is_set():
            rows = store.reports_after(after)
            for r in rows:
                data = {k: decisions.shown(r[k]) for k in ("studentName", "className", "token", "event", "detail")}
                data.update(id=r["id"], receivedAt=r["receivedAt"], session=r["session"] is not None)
                self.wfile.write(f"id: {r['id']}\nevent: report\ndata: {decisions.compact(data)}\n\n".encode())
                after, last_write = r["id"], time.monotonic()
            seen, changes = presence.changes_after(seen)
            for change in changes or []:
                # An exam gone silent or heard again: the server noticed, no report came.
                self.wfile.write(f"event: presence\ndata: {decisions.compact(change)}\n\n".encode())
                last_write = time.monotonic()
            with store.changed:
                if (store.last_id <= after and store.version == version and presence.change_seq == seen
                        and not stopping.is_set()):
                    store.changed.wait(timeout=max(0.0, KEEPALIVE_SECONDS - (time.monotonic() - last_write)))
                new_version, newest = store.version, store.last_id
            if (new_version != version and newest <= after) or changes is None:
                # A verification changes the roster but is no report: the page is told to look again.
                self.wfile.write(b"event: roster\ndata: {}\n\n")
                last_write = time.monotonic()
            version = new_version
            if time.monotonic() - last_write >= KEEPALIVE_SECONDS - 0.05:
                self.wfile.write(b": masih tersambung\n\n")
                last_write = time.monotonic()


def shown_entry(e: dict) -> dict:
    """A timeline entry as the page shows it (the stored text stays as it came)."""
    out = dict(e)
    for k in ("studentName", "className", "token", "detail"):
        out[k] = decisions.shown(e[k])
    out["session"] = e["session"] is not None
    return out


def serve(app: App) -> Server:
    cfg = app.config
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(cfg.cert_file, cfg.key_file)
    family = socket.AF_INET6 if ":" in cfg.listen_host else socket.AF_INET
    Server.address_family = family
    return Server(app, (cfg.listen_host, cfg.listen_port), context)
