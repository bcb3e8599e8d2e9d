"""The HTTPS server: strict limits, one function per route.

The front (front.py) makes each connection's TLS handshake and reads its
request whole, 8 KiB of head and 8 KiB of body at most (64 KiB on the
proctor's routes), within 10 s of the connect; a worker thread then answers
it here.
"""
from __future__ import annotations

import csv
import dataclasses
import datetime as dt
import hashlib
import io
import json
import re
import secrets
import select
import shutil
import socket
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler

from . import accounts, classlist, commands, decisions, exams, front, guards, page, startup
from .answers import Answers
from .config import Config, Exam
from .database import COMMAND_CHANGED, REPORT_STORED, Store, StoreError, WriteFailed, body_hash
from .logins import Logins
from .notifier import Notifier
from .presence import Presence, iso, new_session_id
from .whatsapp import Forwarder, Redactor

MAX_HEAD = front.MAX_HEAD
WORKERS = 48
MAX_STREAMS = 16            # of the workers, at most this many hold a proctor stream
KEEPALIVE_SECONDS = 15.0
SESSION_SECONDS = 12 * 3600.0
COOKIE = "orvel_pengawas"
JSON = "application/json; charset=UTF-8"
REPORTS_PER_SESSION = 30   # a minute: far above what a launcher sends
REPORTS_PER_ADDRESS = 20   # a minute, without an exam session
VERIFIES_PER_ADDRESS = 120  # accepted verifications a minute: a lab behind one address starting at once
VERIFIES_PER_STUDENT = 5    # a minute: a launcher started again a few times, not a session per report
LOW_DISK = 1 << 30
NOT_STORED = "Laporan belum bisa disimpan. Coba lagi."
NOT_VERIFIED = "Verifikasi belum bisa disimpan. Coba lagi."
COMMAND_ID = re.compile(r"[0-9A-Za-z_-]{1,32}")
ACCOUNT_ID = re.compile(r"[0-9]{1,12}")


# What only the administrator does; every other proctor route answers a
# proctor with their own classes only (Handler.sees).
ADMIN_ONLY = frozenset({"/api/proctor/exam", "/api/proctor/exam-token", "/api/proctor/exam-state",
                        "/api/proctor/new-token", "/api/proctor/class-list", "/api/proctor/proctors",
                        "/api/proctor/proctor", "/api/proctor/proctor-remove"})


def now_iso() -> str:
    # Fixed width (milliseconds, the local offset): text order is time order.
    return dt.datetime.now().astimezone().isoformat(timespec="milliseconds")


class App:
    """What the routes share: the configuration, the store, the limiters."""

    def __init__(self, config: Config, log=None, label: str = "") -> None:
        self.config = config
        self.label = f"[{label}] " if label else ""  # which serving process, with processes = N
        self.redact = Redactor(config.secrets())
        self._log = log or write_line
        self.notifier = Notifier()
        self.store = Store(config.database, self.log, self.notifier)
        self.logins = Logins(self.store)
        self.log_free_space()
        self.token_limiter = decisions.Limiter()
        self.login_limiter = decisions.Limiter()
        self.account_limiter = decisions.Limiter()  # failed logins per account name, from any address
        self.session_reports = decisions.RateLimiter(REPORTS_PER_SESSION)
        self.address_reports = decisions.RateLimiter(REPORTS_PER_ADDRESS)
        self.address_verifies = decisions.RateLimiter(VERIFIES_PER_ADDRESS)
        self.student_verifies = decisions.RateLimiter(VERIFIES_PER_STUDENT)
        self.login_gate = guards.LoginGate()
        self.exam_lock = threading.Lock()
        self._exams: tuple[Exam, ...] = config.exams
        # Each exam by its class and every token it had: the row a report or
        # session of theirs belongs to.
        self._by_token: dict[tuple[str, str], Exam] = {}
        self._exams_version, self._next_rotation = -1, 0.0
        self.page_rows: list[dict] = []
        self.exams()
        self.answers = Answers(self.store, self.exams)
        self.limit_lock = threading.Lock()
        self.stopping = threading.Event()
        self.streams = threading.BoundedSemaphore(MAX_STREAMS)
        self.live_streams: dict[str, tuple[socket.socket, threading.Event, int]] = {}  # one per proctor login, its seq
        self.forwarder = Forwarder(self.store, config.whatsapp, self.log, self.redact) if config.whatsapp else None
        if self.forwarder:  # a report stored by another process is grouped at once, too
            self.store.on_notice(REPORT_STORED, lambda _: self.forwarder.wake.set())
        self.commands = commands.Commands(
            [commands.Command(*row) for row in self.store.commands()], self.store.add_commands,
            self.store.update_command, lambda: self.notifier.stored(0))
        # A command queued or answered by another process sharing the database.
        self.store.on_notice(COMMAND_CHANGED, lambda payload: self.commands.merge(commands.Command(*json.loads(payload))),
                             lambda: [self.commands.merge(commands.Command(*row)) for row in self.store.commands()])
        self.presence = Presence(self.store, config.missing_after_seconds, self.forwarder is not None, self.log,
                                 self.forwarder.wake.set if self.forwarder else lambda: None, notifier=self.notifier,
                                 ident=self.ident_of)

    def exams(self) -> tuple[Exam, ...]:
        """The file's exams and the page's, as they are now: a change on the
        page holds for the next verify. A token due to rotate is changed first."""
        # While the database is away, or another thread is reading them, the
        # exams as last read: a verify answers from memory, never waits on it.
        if self.store.faulty() or not self.exam_lock.acquire(blocking=self._exams_version < 0):
            return self._exams
        try:
            return self._load_exams(time.time())
        except StoreError:
            return self._exams
        finally:
            self.exam_lock.release()

    def _load_exams(self, now: float) -> tuple[Exam, ...]:
        # Under exam_lock.
        if self.store.exams_version == self._exams_version and now < self._next_rotation:
            return self._exams
        version = self.store.exams_version
        rows = self.store.page_exams()
        for r in rows:
            if not r["ended"] and exams.rotation_due(r["since"], r["rotateMinutes"], now):
                token = exams.new_token(self.taken_tokens(rows))
                if self.store.new_exam_token(r["id"], token, now, due_before=now - r["rotateMinutes"] * 60):
                    self.log(f"exam {r['id']}: its token changed by itself after {r['rotateMinutes']} minutes")
        if self.store.exams_version != version:
            version, rows = self.store.exams_version, self.store.page_exams()
        self.page_rows = rows
        self._exams = self.config.exams + tuple(e for r in rows for e in exams.as_exams(r))
        self._by_token = {(decisions.class_key(e.class_name), t.strip().upper()): e
                          for e in self._exams for t in (e.token, *e.earlier_tokens)}
        self._next_rotation = min((r["since"] + r["rotateMinutes"] * 60 for r in rows
                                   if r["rotateMinutes"] and not r["ended"]), default=float("inf"))
        self._exams_version = version
        return self._exams

    def ident_of(self, class_name: str, token: str) -> str:
        """The token a student's row is known by (Exam.ident); no lock and no
        read, for the presence watch, which asks under its own lock."""
        exam = self._exam_of(class_name, token)
        return exam.ident if exam else token

    def school_of(self, class_name: str, token: str) -> str:
        """The school of the exam a row, report or session of this class and
        token (any the exam had) belongs to; "" for none or no such exam."""
        exam = self._exam_of(class_name, token)
        return exam.school if exam else ""

    def _exam_of(self, class_name: str, token: str) -> Exam | None:
        return self._by_token.get((decisions.class_key(class_name), token.strip().upper()))

    def taken_tokens(self, rows: list[dict] | None = None) -> set[str]:
        """Every token an exam has or had: none is handed out twice."""
        rows = self.page_rows if rows is None else rows
        return {e.token.strip().upper() for e in self.config.exams} | {t for r in rows for t in r["tokens"]}

    def log(self, line: str) -> None:
        self._log(f"{dt.datetime.now():%Y-%m-%d %H:%M:%S} {self.label}{self.redact(line)}")

    def log_free_space(self) -> None:
        folder = self.store.backend.folder
        if folder is None:
            return  # the database lies on another machine
        try:
            free = shutil.disk_usage(folder).free
        except OSError as e:
            self.log(f"ruang kosong di disk basis data tidak terbaca: {e}")
            return
        size = f"{free / (1 << 30):.1f} GB" if free >= LOW_DISK else f"{free / (1 << 20):.0f} MB"
        self.log(f"basis data {self.store.backend.name}: ruang kosong di disknya {size}")
        if free < LOW_DISK:
            self.log("PERINGATAN: ruang kosong di disk basis data kurang dari 1 GB; saat disk penuh, "
                     "laporan tidak bisa disimpan")

    def start(self) -> None:
        self.store.start_listening()
        threading.Thread(target=self.warm, name="answers", daemon=True).start()
        if self.forwarder:
            self.forwarder.start()
        self.presence.start()

    def warm(self) -> None:
        try:
            self.answers.warm()
        except Exception as e:  # the first page reads them itself then
            self.log(f"error: the roster's first read: {type(e).__name__}: {e}")

    def close(self) -> None:
        self.stopping.set()
        self.notifier.poke()
        self.presence.stop()
        if self.forwarder:
            self.forwarder.stop()
        self.store.close()

    def session_ok(self, cookie_header: str | None) -> bool:
        return self.who(cookie_header) is not None

    def login_of(self, cookie_header: str | None) -> tuple[str, accounts.Who | None]:
        """A cookie's login hash and whose login it would be ("" and None for
        no cookie or an account that no longer exists). The cookie is the
        account's id, a dot and the secret; one without a dot is the
        administrator's, from before there were accounts."""
        raw = cookie_value(cookie_header, COOKIE)
        account, dot, token = raw.partition(".")
        if not dot:
            account, token = str(accounts.ADMIN), raw
        if not token or not ACCOUNT_ID.fullmatch(account):  # "²" is a digit to isdigit(), none to int()
            return "", None
        if int(account) == accounts.ADMIN:
            return hash_token(token, self.config.proctor_password), accounts.Who(accounts.ADMIN, "Administrator", None)
        row = self.store.proctor(int(account))
        if row is None:
            return "", None
        # Made with the stored password hash: a new password ends every login of the account.
        return hash_token(token, row["hash"]), accounts.Who(row["id"], row["name"], tuple(row["classes"]), row["school"])

    def who(self, cookie_header: str | None) -> accounts.Who | None:
        """Whose valid login the cookie carries; None for none."""
        login, who = self.login_of(cookie_header)
        return who if who is not None and self.logins.valid(login, time.time()) else None


_log_lock = threading.Lock()


def write_line(line: str) -> None:
    # One write under one lock: lines of two threads never run into one.
    with _log_lock:
        sys.stderr.write(line + "\n")
        sys.stderr.flush()


def hash_token(token: str, password: str) -> str:
    # Only the hash is stored: a copy of the database lets nobody in. The
    # password is part of it, so a new password ends every session.
    return hashlib.sha256(hashlib.sha256(password.encode()).digest() + token.encode()).hexdigest()


def cookie_value(header: str | None, name: str) -> str:
    for part in (header or "").split(";"):
        k, _, v = part.strip().partition("=")
        if k == name:
            return v
    return ""


class Server(front.Front):
    """The front (front.py) reads each request whole; a worker answers it here."""

    def __init__(self, app: App, sock: socket.socket, context: ssl.SSLContext | None) -> None:
        self.app = app
        # A reader opened now, while files are to be had: at the process's file
        # limit the proctor's page still reads.
        super().__init__(sock, context, app.log, WORKERS, app.store.open_reader)

    def handle(self, incoming: front.Incoming) -> None:
        Handler(incoming, incoming.address, self)


class Handler(BaseHTTPRequestHandler):
    server: Server
    protocol_version = "HTTP/1.1"

    def version_string(self) -> str:
        return "OrvelExamServer"

    def setup(self) -> None:
        incoming: front.Incoming = self.request
        self.connection = incoming.sock
        self.rfile = io.BytesIO(incoming.data)
        self.wfile = front.SocketWriter(incoming.sock)

    def handle(self) -> None:
        self.close_connection = True  # one request per connection: WinHTTP opens a new one anyway
        self.handle_one_request()

    def handle_one_request(self) -> None:
        if self.request.refused:  # 431, or a head the front would read otherwise than the handler (400, 417)
            self.requestline, self.request_version, self.command = "", "HTTP/1.1", ""
            self.send_error(self.request.refused)
            return
        self.raw_requestline = self.rfile.readline(MAX_HEAD + 1)
        if not self.parse_request():
            return
        self.app = self.server.app
        self.address = self.client_address[0]
        url = urllib.parse.urlsplit(self.path)
        self.route, self.query = url.path, urllib.parse.parse_qs(url.query)
        try:
            if self.command == "POST":
                if self.route.startswith(("/pengawas/", "/api/proctor/")) and not guards.same_origin(
                        self.headers.get("Origin"), self.headers.get("Sec-Fetch-Site"), self.headers.get("Host")):
                    self.json(403, {"ok": False, "error": "Ditolak: permintaan ini tidak datang dari halaman pengawas."})
                    return
                body = self.read_body()
                if body is not None:
                    self.do_post(body)
            elif self.command in ("GET", "HEAD"):
                self.do_get()
            else:
                self.reply(405, "text/plain; charset=UTF-8", b"Method not allowed.\n", {"Allow": "GET, POST"})
        except StoreError:
            # The database is away (the store logs why, once a minute): the page tries again.
            self.reply(503, "text/plain; charset=UTF-8", b"Basis data belum bisa dibaca. Coba lagi.\n",
                       {"Retry-After": "10"})
        except (OSError, ssl.SSLError):
            pass

    def handle_expect_100(self) -> bool:
        return True  # the front sent "100 Continue" as soon as it had the head

    def read_body(self) -> bytes | None:
        """The body the front read whole, or None after answering 411 or 413."""
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            self.reply(411, "text/plain; charset=UTF-8", b"Content-Length required.\n")
            return None
        try:
            length = int(self.headers.get("Content-Length", ""))
        except ValueError:
            self.reply(411, "text/plain; charset=UTF-8", b"Content-Length required.\n")
            return None
        limit = front.SMALL_BODY
        if self.route.startswith("/api/proctor/") and self.app.session_ok(self.headers.get("Cookie")):
            limit = front.body_limit(self.path.encode("latin-1", "replace"))  # a logged-in proctor's uploads
        if length < 0 or length > limit:
            self.reply(413, "text/plain; charset=UTF-8", b"Request body too large.\n")
            return None
        body = self.rfile.read(length)
        return body if len(body) == length else None

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
        # Head and body in one write: one TLS record and one system call, not two.
        self._headers_buffer.append(b"\r\n")
        head, self._headers_buffer = b"".join(self._headers_buffer), []
        self.wfile.write(head + body if self.command != "HEAD" else head)

    def json(self, status: int, obj: object, headers: dict[str, str] | None = None) -> None:
        body = obj if isinstance(obj, str) else decisions.compact(obj)
        self.reply(status, JSON, body.encode("utf-8"), headers)

    def log_message(self, format: str, *args) -> None:
        pass  # no access log: names of children do not belong in a log file

    def log_error(self, format: str, *args) -> None:
        pass

    # Routes.
    def do_post(self, body: bytes) -> None:
        self.route_to({"/api/exam/verify": self.verify, "/api/exam/event": self.event,
                       "/api/exam/heartbeat": self.heartbeat, "/pengawas/login": self.login,
                       "/pengawas/logout": self.logout, "/api/proctor/test-message": self.test_message,
                       "/api/proctor/command": self.proctor_command,
                       "/api/proctor/close-session": self.close_session,
                       "/api/proctor/class-list": self.class_list, "/api/proctor/exam": self.save_exam,
                       "/api/proctor/exam-token": self.change_token, "/api/proctor/exam-state": self.exam_state,
                       "/api/proctor/proctor": self.save_proctor, "/api/proctor/proctor-remove": self.remove_proctor},
                      body)

    def do_get(self) -> None:
        if self.route == "/":
            self.reply(303, "text/plain; charset=UTF-8", b"", {"Location": "/pengawas"})
            return
        self.route_to({"/pengawas": self.page, "/api/proctor/roster": self.roster,
                       "/api/proctor/stream": self.stream, "/api/proctor/export.csv": self.export,
                       "/api/proctor/timeline": self.timeline, "/api/proctor/status": self.status,
                       "/api/proctor/heard": self.heard, "/api/proctor/class-lists": self.class_lists,
                       "/api/proctor/classes": self.classes, "/api/proctor/exams": self.exam_list,
                       "/api/proctor/new-token": self.new_token, "/api/proctor/me": self.me,
                       "/api/proctor/proctors": self.proctor_list})

    def route_to(self, routes: dict, *args: bytes) -> None:
        """The route's view; 404 for no route, 401 for the proctor's without a session."""
        view = routes.get(self.route)
        if view is None:
            self.reply(404, "text/plain; charset=UTF-8", b"Tidak ditemukan.\n")
        elif self.route.startswith("/api/proctor/") and (viewer := self.app.who(self.headers.get("Cookie"))) is None:
            self.json(401, {"ok": False, "error": "Masuk sebagai pengawas dulu."})
        elif self.route in ADMIN_ONLY and not viewer.admin:
            self.json(403, {"ok": False, "error": "Hanya administrator yang bisa melakukan ini."})
        else:
            if self.route.startswith("/api/proctor/"):
                self.viewer = viewer
            view(*args)

    def sees(self, class_name: str, school: str) -> bool:
        """The proctor's class scope, asked of every row, report, student and
        command a proctor route gives or takes, with the school of its exam."""
        return accounts.may_see(self.viewer, class_name, school)

    def sees_exam_of(self, class_name: str, token: str) -> bool:
        """The scope of what names only its class and token (a report, a
        session): the school is that of the exam the token belongs to."""
        return self.sees(class_name, self.app.school_of(class_name, token))

    def verify(self, body: bytes) -> None:
        app, now = self.app, time.monotonic()
        with app.limit_lock:
            blocked = app.token_limiter.blocked(self.address, now)
        if blocked:
            self.json(429, {"ok": False, "error": decisions.TOO_MANY})
            return
        request = decisions.members(body, decisions.VERIFY_MEMBERS)
        session = new_session_id()
        verdict = decisions.verify(request, app.exams(), dt.datetime.now(), session)
        if verdict.wrong_token:
            with app.limit_lock:
                app.token_limiter.failed(self.address, now)
        if verdict.ok and request is not None and verdict.exam is not None:
            student = "\0".join(decisions.student_key(verdict.exam.class_name, request["studentName"], verdict.exam.token))
            with app.limit_lock:
                allowed = decisions.allow_all(((app.address_verifies, self.address),
                                               (app.student_verifies, student)), now)
            if not allowed:
                self.json(429, {"ok": False, "error": decisions.TOO_MANY}, {"Retry-After": "60"})
                return
            # Known before it is stored, so the launcher's first report finds
            # it; held in memory while the database cannot be written.
            app.presence.open(session, request, time.time(), self.address)
            try:
                app.store.add_verification(now_iso(), self.address, request, session, time.time())
            except WriteFailed:  # the database refuses and as many as memory should hold wait already
                app.presence.forget(session)
                self.json(503, {"ok": False, "error": NOT_VERIFIED}, {"Retry-After": "10"})
                return
        self.json(200, verdict.answer)

    def event(self, body: bytes) -> None:
        app = self.app
        m = decisions.members(body, decisions.EVENT_MEMBERS)
        session = decisions.session_header(self.headers.get_all("Exam-Session"))
        bound = (decisions.MISMATCH if m is None or session is None else
                 decisions.binding(app.presence.verified_as(session), m))
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
            # Stored as its members, compact: padding around them is never kept; the
            # body as it came only as its hash, by which a resent report is known.
            rowid, repeat, reused = app.store.add_report(now_iso(), self.address, key, decisions.compact(m),
                                                         m, forward=app.forwarder is not None, session=signed,
                                                         digest=body_hash(body.decode("utf-8", "replace")))
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
        session = decisions.session_header(self.headers.get_all("Exam-Session"))
        done = None
        if body.strip():  # without a body the header alone names the session
            named = decisions.members(body, ("session",)) or decisions.members(body, ("session", "done"))
            if named is not None and "done" in named:
                done = named["done"] if COMMAND_ID.fullmatch(named["done"]) else ""
            session = (None if named is None or done == "" or session not in ("", named["session"])
                       else named["session"])
        if not session:
            self.json(400, {"ok": False, "error": decisions.INCOMPLETE})
            return
        now = time.time()
        if self.app.presence.heard(session, now):
            # The proctor's next command for this PC rides on the answer.
            self.json(200, self.app.commands.heartbeat(session, done, self.app.presence.ended(session), now))
        else:
            self.json(404, {"ok": False, "error": "Sesi ujian tidak dikenal."})

    def proctor_command(self, body: bytes) -> None:
        """The proctor's command for one student's working exam, or with no
        student for every working exam of the class."""
        request = commands.read_request(body)
        if isinstance(request, str):
            self.json(400, {"ok": False, "error": request})
            return
        name = request["studentName"]
        exams_now = self.app.exams()
        # A class out of the proctor's scope has, for them, no working exam:
        # left out before a student's latest is chosen, so that another
        # school's Budi of the same class is never the one picked.
        mine = [s for s in self.working() if self.sees_exam_of(s.className, s.token)]
        found = commands.chosen(mine, request, exams_now)
        if not found:
            self.json(404, {"ok": False, "error": "Tidak ada ujian yang sedang berjalan untuk " +
                            ("siswa ini." if name else "kelas ini.")})
            return
        try:
            made = self.app.commands.queue([(s.id, s.className, s.studentName, s.token) for s in found],
                                           request["kind"], request["text"], time.time())
        except WriteFailed:
            self.json(503, {"ok": False, "error": NOT_STORED}, {"Retry-After": "10"})
            return
        self.json(200, {"ok": True, "sent": len(made)})

    def login(self, body: bytes) -> None:
        """The administrator logs in with the password alone (no name), a
        proctor with their name and password."""
        app, now = self.app, time.monotonic()
        form = urllib.parse.parse_qs(body.decode("utf-8", "replace"))
        password, name = form.get("password", [""])[0], form.get("name", [""])[0]
        key = accounts.name_key(name)[:accounts.MAX_NAME]
        with app.limit_lock:
            blocked = app.login_limiter.blocked(self.address, now) or bool(key and app.account_limiter.blocked(key, now))
            slowed = not blocked and not app.login_gate.admit(now)
        if blocked or slowed:
            self.reply(429, "text/html; charset=UTF-8", page.login(guards.SLOWED if slowed else decisions.TOO_MANY, name).encode())
            return
        if key:
            row = app.store.proctor(key)
            # A name of no account costs the same slow hash: the time tells no one which names exist.
            good = accounts.password_ok(password, row["salt"] if row else "00" * 16, row["hash"] if row else "")
            account, secret = (row["id"], row["hash"]) if row and good else (None, "")
        else:
            good = secrets.compare_digest(password.encode(), app.config.proctor_password.encode())
            account, secret = accounts.ADMIN, app.config.proctor_password
        if not good or account is None:
            with app.limit_lock:
                app.login_limiter.failed(self.address, now)
                app.login_gate.failed(now)
                if key:
                    app.account_limiter.failed(key, now)
            self.reply(401, "text/html; charset=UTF-8",
                       page.login("Nama atau kata sandi salah." if key else "Kata sandi salah.", name).encode())
            return
        token = secrets.token_urlsafe(32)
        app.logins.add(hash_token(token, secret), time.time() + SESSION_SECONDS)
        cookie = (f"{COOKIE}={account}.{token}; Path=/; HttpOnly; Secure; SameSite=Strict;"
                  f" Max-Age={int(SESSION_SECONDS)}")
        self.reply(303, "text/plain; charset=UTF-8", b"", {"Location": "/pengawas", "Set-Cookie": cookie})

    def logout(self, body: bytes) -> None:
        login, _ = self.app.login_of(self.headers.get("Cookie"))
        if login:
            self.app.logins.drop(login, time.time())
        self.reply(303, "text/plain; charset=UTF-8", b"", {
            "Location": "/pengawas", "Set-Cookie": f"{COOKIE}=; Path=/; HttpOnly; Secure; SameSite=Strict; Max-Age=0"})

    def page(self) -> None:
        if self.app.session_ok(self.headers.get("Cookie")):
            self.reply(200, "text/html; charset=UTF-8", page.PAGE.encode())
        else:
            self.reply(200, "text/html; charset=UTF-8", page.login("").encode())

    def roster(self) -> None:
        """The roster; with kelas=, one class's rows (the page's filter)."""
        app = self.app
        rows = [r for r in app.answers.roster(app.presence.view(time.time())) if self.sees(r["className"], r["school"])]
        # "Dikunci": the student's working exam has a lock done and not undone.
        locked = {decisions.student_ref(decisions.student_key(s.className, s.studentName, s.token))
                  for s in self.working() if commands.locked(app.commands.of_session(s.id))}
        for r in rows:
            r["locked"] = r["key"] in locked
        self.json(200, decisions.of_classes(rows, self.query.get("kelas", [""])[0]))

    def working(self) -> list:
        """The working exams the commands go to, each with the token its
        student's row is known by (a token changed on the page keeps the row)."""
        return [dataclasses.replace(s, token=self.app.presence.ident(s.className, s.token))
                for s in self.app.presence.working()]

    def classes(self) -> None:
        """The classes of the exams and the class lists, for the page's filter."""
        names = {decisions.class_key(e.class_name): decisions.one_line(e.class_name) for e in self.app.exams()
                 if self.sees(e.class_name, e.school)}
        for key, (name, _) in self.app.store.class_lists().items():
            if self.sees_list(name):
                names.setdefault(key, decisions.one_line(name))
        self.json(200, sorted(names.values(), key=str.casefold))

    def sees_list(self, class_name: str) -> bool:
        # A class's list is the list of that class in every school (its rows
        # carry each exam's school): a proctor of the class in one school sees it.
        return self.sees(class_name, self.viewer.school)

    def heard(self) -> None:
        """The working students' last contacts, for the page between reports."""
        self.app.exams()
        self.json(200, [h for key, h in self.app.presence.view(time.time()).items() if self.sees_exam_of(key[0], key[2])])

    def timeline(self) -> None:
        """One student's verifications and reports; with nosession=1, the
        reports sent without an exam session; with unknown=1, the reports
        whose token belongs to no exam of their class."""
        q = self.query
        student = decisions.student_key(q.get("className", [""])[0], q.get("studentName", [""])[0],
                                        q.get("token", [""])[0])
        self.app.exams()
        if q.get("nosession") or q.get("unknown"):
            text = self.app.answers.timeline(bool(q.get("nosession")), bool(q.get("unknown")))
            if not self.viewer.admin:
                text = decisions.compact([e for e in json.loads(text) if self.sees_exam_of(e["className"], e["token"])])
            self.json(200, text)
            return
        if not self.sees_exam_of(student[0], student[2]):
            self.json(200, "[]")
            return
        shown = self.app.answers.timeline(student=student)
        commands_now = self.command_entries(student)
        if commands_now:  # the cached text holds the stored rows; the commands' states change with time
            shown = decisions.compact(sorted(json.loads(shown) + commands_now, key=lambda e: e["receivedAt"]))
        self.json(200, shown)

    def command_entries(self, student: tuple[str, str, str]) -> list[dict]:
        """The student's commands as timeline entries, each with its state now."""
        app, now = self.app, time.time()
        return [{"kind": "command", "receivedAt": iso(c.created), "command": c.kind, "text": c.text,
                 "state": commands.state(c, now, app.presence.ended(c.session))}
                for c in app.commands.all()
                if decisions.student_key(c.className, c.studentName, c.token) == student]

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

    def close_session(self, body: bytes) -> None:
        """"Tutup sesi": the session is no longer watched; what it reports
        later is kept under its student's row, marked "sesi ditutup"."""
        named = decisions.members(body, ("session",))
        if named is None:
            self.json(400, {"ok": False, "field": "session", "error": "Sesi tidak valid."})
            return
        sid = named["session"]
        verified = self.app.presence.verified_as(sid)
        self.app.exams()
        if not self.viewer.admin and (verified is None or not self.sees_exam_of(verified[1], verified[2])):
            self.json(404, {"ok": False, "field": "session", "error": "Sesi ujian tidak dikenal."})
            return
        try:
            known = self.app.store.close_session(now_iso(), self.address, sid)
        except WriteFailed:
            self.json(503, {"ok": False, "error": "Penutupan sesi belum bisa disimpan. Coba lagi."}, {"Retry-After": "10"})
            return
        if not known:
            self.json(404, {"ok": False, "field": "session", "error": "Sesi ujian tidak dikenal."})
            return
        self.app.presence.close(sid)
        self.app.log(f"exam session {sid[:8]} closed by a proctor (from {self.address})")
        self.json(200, {"ok": True})

    # Proctor accounts.
    def me(self) -> None:
        v = self.viewer
        self.json(200, {"admin": v.admin, "name": v.name, "classes": list(v.classes or []), "school": v.school})

    def proctor_list(self) -> None:
        self.json(200, [{"id": r["id"], "name": r["name"], "classes": r["classes"], "school": r["school"]}
                        for r in self.app.store.proctors()])

    def save_proctor(self, body: bytes) -> None:
        """A new account ("id" absent) or an edit; a new password ends the account's logins."""
        app, obj = self.app, self.body_json(body)
        rows = app.store.proctors()
        account = obj.get("id") if isinstance(obj, dict) else None
        if account is not None and (isinstance(account, bool) or account not in {r["id"] for r in rows}):
            self.json(400, {"ok": False, "field": "id", "error": "Pengawas tidak dikenal."})
            return
        form, errors = accounts.check_account(obj, account is not None,
                                              {r["nameKey"] for r in rows if r["id"] != account})
        if self.form_refused(body, obj, form, errors):
            return
        try:
            saved = app.store.save_proctor(account, form["name"], accounts.name_key(form["name"]), form["classes"],
                                           accounts.new_hash(form["password"]) if form["password"] else None, now_iso(),
                                           form["school"])
        except WriteFailed:
            self.json(503, {"ok": False, "error": "Pengawas belum bisa disimpan. Coba lagi."}, {"Retry-After": "10"})
            return
        self.json(200, {"ok": True, "id": saved})

    def remove_proctor(self, body: bytes) -> None:
        """The account goes, and with it every login it had."""
        obj = self.body_json(body)
        account = obj.get("id") if isinstance(obj, dict) else None
        # Beyond 12 digits no account exists, and the database takes no such integer.
        if (not isinstance(account, int) or isinstance(account, bool) or not 0 < account < 10 ** 12
                or self.app.store.proctor(account) is None):
            self.json(400, {"ok": False, "field": "id", "error": "Pengawas tidak dikenal."})
            return
        try:
            self.app.store.remove_proctor(account)
        except WriteFailed:
            self.json(503, {"ok": False, "error": "Pengawas belum bisa dihapus. Coba lagi."}, {"Retry-After": "10"})
            return
        self.json(200, {"ok": True})

    # Exams on the page.
    def exam_list(self) -> None:
        """The file's exams (changed only in the file) and the page's, each
        with its token now."""
        app = self.app
        app.exams()
        when = lambda t: f"{t:%Y-%m-%dT%H:%M}" if t else ""
        self.json(200, {
            "file": [{"classes": [e.class_name], "token": e.token, "formUrl": e.form_url, "proctorPin": e.proctor_pin,
                      "opens": when(e.opens), "closes": when(e.closes), "school": e.school} for e in app.config.exams
                     if self.sees(e.class_name, e.school)],
            "page": [{"id": r["id"], "classes": r["classes"], "token": r["tokens"][-1] if r["tokens"] else "",
                      "formUrl": r["formUrl"], "proctorPin": r["proctorPin"], "opens": r["opens"], "closes": r["closes"],
                      "rotateMinutes": r["rotateMinutes"], "ended": r["ended"], "school": r["school"],
                      "nextToken": r["since"] + r["rotateMinutes"] * 60 if r["rotateMinutes"] else None}
                     for r in app.page_rows if any(self.sees(c, r["school"]) for c in r["classes"])]})

    def new_token(self) -> None:
        """"Buat token": one no exam has or had, for the form to show."""
        self.app.exams()
        self.json(200, {"token": exams.new_token(self.app.taken_tokens())})

    def page_exam_id(self, obj: object) -> int | None:
        """The id of a page exam named in a body; None after answering 400."""
        known = {r["id"] for r in self.app.page_rows}
        exam_id = obj.get("id") if isinstance(obj, dict) else None
        if not isinstance(exam_id, int) or isinstance(exam_id, bool) or exam_id not in known:
            self.json(400, {"ok": False, "field": "id", "error": "Ujian tidak dikenal (ujian dari berkas hanya bisa "
                                                                 "diubah di berkas)."})
            return None
        return exam_id

    def body_json(self, body: bytes) -> object:
        return decisions.page_json(body)  # None for a member named twice or a lone surrogate: no form

    def form_refused(self, body: bytes, obj: object, form: dict | None, errors: dict[str, str]) -> bool:
        """Answers 400 for a form that was refused, naming each wrong field
        (a member that cannot be written as text, when the body was no form)."""
        if obj is None and (field := decisions.unwritable_member(body)):
            errors = {field: decisions.BROKEN_TEXT}
        if form is not None:
            return False
        self.json(400, {"ok": False, "field": next(iter(errors)), "error": next(iter(errors.values())),
                        "errors": errors})
        return True

    def save_exam(self, body: bytes) -> None:
        """A new exam ("id" absent) or an edit of one made on the page."""
        app = self.app
        obj = self.body_json(body)
        app.exams()
        exam_id = None
        if isinstance(obj, dict) and "id" in obj:
            exam_id = self.page_exam_id(obj)
            if exam_id is None:
                return
        form, errors = exams.check_form(obj, app.taken_tokens(), editing=exam_id is not None)
        if self.form_refused(body, obj, form, errors):
            return
        try:
            saved = app.store.save_exam(exam_id, form, now_iso(), time.time())
        except WriteFailed:
            self.json(503, {"ok": False, "error": "Ujian belum bisa disimpan. Coba lagi."}, {"Retry-After": "10"})
            return
        app.exams()
        token = next(r["tokens"][-1] for r in app.page_rows if r["id"] == saved)
        self.json(200, {"ok": True, "id": saved, "token": token})

    def change_token(self, body: bytes) -> None:
        """"Ganti token": a new token at once; the old one takes no new verify,
        the exams begun with it go on."""
        app = self.app
        app.exams()
        exam_id = self.page_exam_id(self.body_json(body))
        if exam_id is None:
            return
        token = exams.new_token(app.taken_tokens())
        try:
            app.store.new_exam_token(exam_id, token, time.time())
        except WriteFailed:
            self.json(503, {"ok": False, "error": "Token belum bisa diganti. Coba lagi."}, {"Retry-After": "10"})
            return
        app.exams()
        self.json(200, {"ok": True, "id": exam_id, "token": token})

    def exam_state(self, body: bytes) -> None:
        """Opens ({"ended": false}) or closes an exam made on the page."""
        obj = self.body_json(body)
        self.app.exams()
        exam_id = self.page_exam_id(obj)
        if exam_id is None:
            return
        ended = obj.get("ended") if isinstance(obj, dict) else None
        if not isinstance(ended, bool):
            self.json(400, {"ok": False, "field": "ended", "error": "Permintaan tidak lengkap."})
            return
        try:
            self.app.store.end_exam(exam_id, ended)
        except WriteFailed:
            self.json(503, {"ok": False, "error": "Ujian belum bisa diubah. Coba lagi."}, {"Retry-After": "10"})
            return
        self.json(200, {"ok": True})

    def class_list(self, body: bytes) -> None:
        """A class's list of students, pasted or a file's bytes as they
        are, replacing the class's list whole; the class in the address."""
        given = self.query.get("className", [""])
        class_name = given[0].strip()
        problem = ("Kirim satu nama kelas saja." if len(given) > 1 else
                   # As typed: no line break, no invisible character, no byte that was not UTF-8.
                   "Nama kelas tidak boleh berisi karakter kendali." if (
                       decisions.shown(class_name) != class_name or "\ufffd" in class_name) else
                   "Isi nama kelas (paling banyak 62 huruf)." if (
                       not class_name or decisions.utf16_units(class_name) > decisions.LIMITS["className"]) else "")
        if problem:
            self.json(400, {"ok": False, "field": "className", "error": problem})
            return
        got = classlist.read_names(body)
        if got.error:
            self.json(400, {"ok": False, "field": "names", "error": got.error})
            return
        if not got.names:
            self.json(400, {"ok": False, "field": "names", "error": "Daftar tidak berisi nama."})
            return
        try:
            self.app.store.replace_class_list(class_name, got.names)
        except WriteFailed:
            self.json(503, {"ok": False, "error": "Daftar belum bisa disimpan. Coba lagi."}, {"Retry-After": "10"})
            return
        self.json(200, {"ok": True, "className": decisions.one_line(class_name), "taken": len(got.names),
                        "blank": got.blank, "duplicates": got.duplicates})

    def class_lists(self) -> None:
        self.json(200, [{"className": decisions.shown(name), "count": len(names)}
                        for name, names in self.app.store.class_lists().values() if self.sees_list(name)])

    def export(self) -> None:
        out = io.StringIO()
        writer = csv.writer(out, lineterminator="\r\n")
        writer.writerow(["id", "waktu", "alamat", "kelas", "nama", "token", "kejadian", "keterangan"])
        self.app.exams()
        for r in self.app.store.all_reports():
            if not self.sees_exam_of(r["className"], r["token"]):
                continue
            writer.writerow([r["id"], r["receivedAt"], r["address"]] + [decisions.csv_cell(r[k]) for k in
                            ("className", "studentName", "token", "event", "detail")])
        # The byte order mark makes spreadsheets read the names as UTF-8.
        self.reply(200, "text/csv; charset=UTF-8", ("\ufeff" + out.getvalue()).encode("utf-8"),
                   {"Content-Disposition": 'attachment; filename="laporan-ujian.csv"'})

    def stream(self) -> None:
        app = self.app
        # One live stream per login: a new one ends the older, so a page that
        # never reads cannot hold slot after slot.
        (login, _), ended = app.login_of(self.headers.get("Cookie")), threading.Event()
        seq: int = self.request.seq
        with app.limit_lock:
            older = app.live_streams.get(login)
            # Workers may start two streams of a login in either order: the one
            # that came later to the front is the newer, whichever runs first.
            newer_first = older is not None and older[2] > seq
            if not newer_first:
                app.live_streams[login] = (self.connection, ended, seq)
        if newer_first:
            self.reply(409, "text/plain; charset=UTF-8", b"Halaman pengawas ini dibuka lagi di tempat lain.\n")
            return
        if older is not None:
            older[1].set()
            try:
                socket.socket.shutdown(older[0], socket.SHUT_RDWR)  # below TLS: a write it is stuck in ends
            except (OSError, ValueError):
                pass
            app.notifier.poke()
        if not app.streams.acquire(timeout=2.0 if older is not None else 0.0):
            self.reply(503, "text/plain; charset=UTF-8", b"Terlalu banyak halaman pengawas terbuka.\n",
                       {"Retry-After": "5"})
            self.forget_stream(login, ended)
            return
        if ended.is_set():  # a newer stream of this login came while this one waited: the slot is its
            app.streams.release()
            self.forget_stream(login, ended)
            return
        try:
            raw = self.headers.get("Last-Event-ID") or self.query.get("after", [""])[0]
            try:
                after = int(raw)
            except ValueError:
                after = -1
            if not 0 <= after < 1 << 63:  # beyond the database's integers: no report has that id
                after = app.notifier.last_id  # a new page asks for the roster itself, then listens
            self.send_response(200)
            self.send_header("Content-Type", "text/event-stream; charset=UTF-8")
            self.send_header("Cache-Control", "no-store")
            self.send_header("Connection", "close")
            self.end_headers()
            self.connection.settimeout(30)
            self.wfile.write(b"retry: 2000\n\n")
            try:
                self.stream_reports(after, ended)
            except StoreError:
                pass  # the database went away: the page connects again in 2 s, from its last id
        finally:
            app.streams.release()
            self.forget_stream(login, ended)

    def forget_stream(self, login: str, ended: threading.Event) -> None:
        with self.app.limit_lock:
            if self.app.live_streams.get(login, (None, None, 0))[1] is ended:
                del self.app.live_streams[login]

    def stream_reports(self, after: int, ended: threading.Event) -> None:
        store, notifier, presence, stopping = self.app.store, self.app.notifier, self.app.presence, self.app.stopping
        version, last_write = notifier.version, time.monotonic()
        seen = presence.change_seq
        while not stopping.is_set() and not ended.is_set():
            rows = store.reports_after(after) if notifier.last_id > after else []
            if rows:
                self.app.exams()  # an exam made or changed since: its reports go to its school's proctors
            for r in rows:
                if not self.sees_exam_of(r["className"], r["token"]):
                    after = r["id"]  # another class's: never sent to this proctor
                    continue
                data = {k: decisions.shown(r[k]) for k in ("studentName", "className", "token", "event", "detail")}
                data.update(id=r["id"], receivedAt=r["receivedAt"], session=r["session"] is not None)
                self.wfile.write(f"id: {r['id']}\nevent: report\ndata: {decisions.compact(data)}\n\n".encode())
                after, last_write = r["id"], time.monotonic()
            seen, changes = presence.changes_after(seen)
            for change in changes or []:
                if not self.sees_exam_of(change["className"], change["token"]):
                    continue
                # An exam gone silent or heard again: the server noticed, no report came.
                self.wfile.write(f"event: presence\ndata: {decisions.compact(change)}\n\n".encode())
                last_write = time.monotonic()
            with notifier.cond:
                if (notifier.last_id <= after and notifier.version == version and presence.change_seq == seen
                        and not stopping.is_set() and not ended.is_set()):
                    # A second at most: a client that has gone is noticed within it.
                    notifier.cond.wait(timeout=max(0.0, min(1.0, KEEPALIVE_SECONDS - (time.monotonic() - last_write))))
                new_version, newest = notifier.version, notifier.last_id
            if client_gone(self.connection) or self.app.who(self.headers.get("Cookie")) is None:
                return  # gone, or its login ended (a new password, a removed account)
            if (new_version != version and newest <= after) or changes is None:
                # A verification changes the roster but is no report: the page is told to look again.
                self.wfile.write(b"event: roster\ndata: {}\n\n")
                last_write = time.monotonic()
            version = new_version
            if time.monotonic() - last_write >= KEEPALIVE_SECONDS - 0.05:
                self.wfile.write(b": masih tersambung\n\n")
                last_write = time.monotonic()


def client_gone(sock: socket.socket) -> bool:
    """Whether a stream's client has closed: its socket readable with nothing
    to read (it sends nothing after its request; what it might is dropped)."""
    try:
        if hasattr(select, "poll"):  # select() takes no descriptor above 1,023
            poller = select.poll()
            poller.register(sock, select.POLLIN)
            readable = bool(poller.poll(0))
        else:
            readable = bool(select.select([sock], [], [], 0)[0])
    except (OSError, ValueError):
        return True
    if not readable:
        return False
    timeout = sock.gettimeout()
    sock.settimeout(0)
    try:
        return not sock.recv(4096)
    except (ssl.SSLWantReadError, BlockingIOError):
        return False  # part of a record: not an end
    except (OSError, ValueError):
        return True
    finally:
        try:
            sock.settimeout(timeout)
        except (OSError, ValueError):
            pass


def serve(app: App, sock: socket.socket | None = None, context: ssl.SSLContext | None = None) -> Server:
    cfg = app.config
    context = context or startup.tls_context(cfg.cert_file, cfg.key_file, cfg.path)
    return Server(app, sock or front.listen(cfg.listen_host, cfg.listen_port), context)
