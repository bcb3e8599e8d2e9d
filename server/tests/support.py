"""What the server's tests share: certificates made once by the server's own
`init`, a server started as its own process on a free port against a
throw-away database, and an HTTPS client that trusts only that CA.

The suites run once per engine: SQLite by default, PostgreSQL with
ORVEL_TEST_ENGINE=postgres and ORVEL_TEST_POSTGRES naming a cluster that
tests may make databases in (the test command starts one of its own with
tools/pg-cluster.sh); then every server and store gets a fresh database."""
from __future__ import annotations

import http.client
import json
import os
import secrets
import shlex
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tools"))
from load import children as children_of  # noqa: E402

SERVER_DIR = Path(__file__).resolve().parent.parent
CERTS: Path | None = None
ENGINE = os.environ.get("ORVEL_TEST_ENGINE", "sqlite")
POSTGRES = os.environ.get("ORVEL_TEST_POSTGRES", "")
PG_CLUSTER = os.environ.get("ORVEL_TEST_PGDIR", "")   # the cluster's folder, for stopping and starting it
ON_POSTGRES = ENGINE == "postgres"
SQLITE_ONLY = "a fault of SQLite's file; PostgreSQL's counterpart is in test_district"


def postgres_database() -> str:
    """The address of a new, empty database in the test cluster."""
    import psycopg
    if not POSTGRES:
        raise RuntimeError("ORVEL_TEST_ENGINE=postgres needs ORVEL_TEST_POSTGRES (bash tools/pg-cluster.sh start)")
    name = "orvel_t_" + secrets.token_hex(6)
    with psycopg.connect(POSTGRES, autocommit=True) as c:
        c.execute(f"CREATE DATABASE {name}")
    return POSTGRES.replace("/postgres?", f"/{name}?", 1)


def store_database(folder: Path) -> Path | str:
    """What a store under test opens: a file in `folder`, or a new database."""
    return postgres_database() if ON_POSTGRES else folder / "exam.db"


def query(database: Path | str, sql: str) -> list[tuple]:
    """Rows of one SELECT, read beside the server as an IT person would."""
    if isinstance(database, str):
        import psycopg
        with psycopg.connect(database) as c:
            return c.execute(sql).fetchall()
    import sqlite3
    with sqlite3.connect(f"file:{database}?mode=ro", uri=True) as db:
        rows = db.execute(sql).fetchall()
    db.close()
    return rows


def env() -> dict[str, str]:
    e = dict(os.environ)
    e["PYTHONPATH"] = str(SERVER_DIR) + os.pathsep + e.get("PYTHONPATH", "")
    return e


def certs() -> Path:
    """One CA and server certificate for localhost, for the whole test run."""
    global CERTS
    if CERTS is None:
        folder = Path(tempfile.mkdtemp(prefix="orvel-server-certs."))
        cfg = folder / "init.toml"
        cfg.write_text(config_text(1, "", "rahasia-init"), encoding="utf-8")
        subprocess.run([sys.executable, "-m", "orvel_exam_server", "init", "--config", str(cfg)],
                       env=env(), check=True, capture_output=True)
        CERTS = folder / "certs"
    return CERTS


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def config_text(port: int, exams: str, password: str = "rahasia-pengawas", whatsapp: str = "",
                cert_dir: str = "certs", server: str = 'database = "exam.db"\n') -> str:
    exams = exams or '[[exam]]\nclass = "5A"\ntoken = "ABC123"\nform_url = "https://f.example/x?n={studentName}"\n'
    return (f'[server]\nhost = "localhost"\nlisten = "127.0.0.1:{port}"\ncert_file = "{cert_dir}/server.crt"\n'
            f'key_file = "{cert_dir}/server.key"\nproctor_password = "{password}"\n{server}\n'
            f"{exams}\n{whatsapp}\n")


class RunningServer:
    """`python3 -m orvel_exam_server run` in a folder of its own."""

    def __init__(self, exams: str = "", whatsapp: str = "", extra_env: dict[str, str] | None = None,
                 folder: Path | None = None, password: str = "rahasia-pengawas",
                 server: str = 'database = "exam.db"\n', wrap: list[str] | None = None,
                 database: str | None = None, processes: int = 1) -> None:
        """`server`: the [server] keys besides address, certificates and
        password; `wrap`: a command that runs the server, its last argument a
        shell line in which {command} stands for the server's command."""
        self.folder = folder or Path(tempfile.mkdtemp(prefix="orvel-server."))
        # The tests name the file; on PostgreSQL each server gets a database of its own.
        self.database: Path | str = self.folder / "exam.db"
        if (ON_POSTGRES or database) and 'database = "exam.db"' in server:
            self.database = database or postgres_database()
            server = server.replace('database = "exam.db"', f'database = "{self.database}"')
        self.processes = processes  # serving processes: each says it is ready
        if processes > 1:
            server += f"processes = {processes}\n"
        self.port = free_port()
        cert_dir = certs().as_posix()
        self.config = self.folder / "server.toml"
        self.config.write_text(config_text(self.port, exams, password, whatsapp, cert_dir, server), encoding="utf-8")
        self.password = password
        self.extra_env = extra_env or {}
        self.wrap = wrap or []
        self.proc: subprocess.Popen | None = None
        self.log: list[str] = []
        self.reader: threading.Thread | None = None

    def start(self) -> "RunningServer":
        e = env()
        e.update(self.extra_env)
        command = [sys.executable, "-m", "orvel_exam_server", "run", "--config", str(self.config)]
        if self.wrap:
            command = self.wrap[:-1] + [self.wrap[-1].replace("{command}", shlex.join(command))]
        self.proc = subprocess.Popen(command, env=e, stderr=subprocess.PIPE, stdout=subprocess.DEVNULL, text=True,
                                     encoding="utf-8")
        self.log = []
        ready = threading.Event()

        def read(proc: subprocess.Popen) -> None:
            for line in proc.stderr:
                self.log.append(line)
                if sum(" ready on " in l for l in self.log) >= self.processes:
                    ready.set()
            ready.set()
        self.reader = threading.Thread(target=read, args=(self.proc,), daemon=True)
        self.reader.start()
        ready.wait(30)
        if self.proc.poll() is not None or sum(" ready on " in l for l in self.log) < self.processes:
            raise RuntimeError("the server did not start: " + "".join(self.log))
        return self

    def children(self) -> list[int]:
        """The serving processes started by this one (with processes = N)."""
        assert self.proc is not None
        return children_of(self.proc.pid)

    def stop(self, sig: int = signal.SIGTERM) -> int:
        assert self.proc is not None
        self.proc.send_signal(sig)
        try:
            return self.proc.wait(timeout=15)
        finally:
            if self.proc.poll() is None:
                self.proc.kill()
                self.proc.wait()
            if self.reader:
                self.reader.join(5)
            self.proc.stderr.close()

    def remove(self) -> None:
        if self.proc and self.proc.poll() is None:
            self.stop()
        shutil.rmtree(self.folder, ignore_errors=True)

    # Talking to it.
    def context(self) -> ssl.SSLContext:
        return ssl.create_default_context(cafile=str(certs() / "ca.crt"))

    def request(self, method: str, path: str, body: bytes | str | None = None,
                headers: dict[str, str] | None = None, timeout: float = 20,
                source: str | None = None) -> tuple[int, dict[str, str], bytes]:
        """One request on a connection of its own; `source` is the client's
        address (127.0.0.2 and so on: another PC on the loopback)."""
        conn = http.client.HTTPSConnection("localhost", self.port, context=self.context(), timeout=timeout,
                                           source_address=(source, 0) if source else None)
        try:
            if isinstance(body, str):
                body = body.encode("utf-8")
            conn.request(method, path, body=body, headers=headers or {})
            r = conn.getresponse()
            return r.status, {k.lower(): v for k, v in r.getheaders()}, r.read()
        finally:
            conn.close()

    def post_json(self, path: str, body: bytes | str, key: str | None = None,
                  session: str | None = None) -> tuple[int, bytes]:
        headers = {"Content-Type": "application/json; charset=UTF-8", "User-Agent": "ORVELSelvaroCBT/1.0"}
        if key:
            headers["Idempotency-Key"] = key
        if session:
            headers["Exam-Session"] = session
        status, _, data = self.request("POST", path, body, headers)
        return status, data

    def verify(self, name: str, cls: str = "5A", token: str = "ABC123") -> str:
        """An accepted verification's exam session."""
        body = json.dumps({"studentName": name, "className": cls, "token": token}, ensure_ascii=False)
        status, data = self.post_json("/api/exam/verify", body)
        answer = json.loads(data)
        assert status == 200 and answer["ok"], (status, data)
        return answer["session"]

    def report(self, session: str, name: str, event: str, detail: str, cls: str = "5A",
               token: str = "ABC123") -> tuple[int, bytes]:
        """A report as the launcher sends it: a fresh key and the session."""
        return self.post_json("/api/exam/event", event_body(name, event, detail, cls, token), secrets.token_hex(16),
                              session)

    def heartbeat(self, session: str) -> tuple[int, bytes]:
        return self.post_json("/api/exam/heartbeat", json.dumps({"session": session}), session=session)

    def tls(self, source: str = "127.0.0.1") -> ssl.SSLSocket:
        """A connection with its TLS handshake made and nothing sent."""
        raw = socket.create_connection(("127.0.0.1", self.port), timeout=20, source_address=(source, 0))
        return self.context().wrap_socket(raw, server_hostname="localhost")

    def login(self) -> str:
        status, headers, _ = self.request("POST", "/pengawas/login", "password=" + self.password,
                                          {"Content-Type": "application/x-www-form-urlencoded"})
        assert status == 303, status
        return headers["set-cookie"].split(";")[0]

    def login_as(self, name: str, password: str, source: str | None = None) -> tuple[int, str]:
        """A proctor account's login: its status and cookie ("" for none)."""
        status, headers, _ = self.request("POST", "/pengawas/login", urllib.parse.urlencode(
            {"name": name, "password": password}), {"Content-Type": "application/x-www-form-urlencoded"}, source=source)
        return status, headers.get("set-cookie", "").split(";")[0]

    def post_page(self, path: str, obj: object, cookie: str) -> tuple[int, dict]:
        """A page form's JSON posted as the page posts it (a str as it is); the answer."""
        raw = obj if isinstance(obj, str) else json.dumps(obj)
        status, _, data = self.request("POST", path, raw, {"Cookie": cookie, "Content-Type": "application/json"})
        return status, json.loads(data)

    def get_json(self, path: str, cookie: str) -> object:
        status, _, data = self.request("GET", path, headers={"Cookie": cookie})
        assert status == 200, (status, data)
        return json.loads(data)


def event_body(name: str, event: str, detail: str, cls: str = "5A", token: str = "ABC123") -> str:
    return json.dumps({"studentName": name, "className": cls, "token": token, "event": event, "detail": detail},
                      ensure_ascii=False, separators=(",", ":"))


def stream_blocks(buf: bytes) -> tuple[list[dict[str, str]], bytes]:
    """The whole event blocks at the head of a stream's bytes as their fields
    (comments left out), and the bytes after them, still incomplete."""
    blocks = []
    while b"\n\n" in buf:
        block, buf = buf.split(b"\n\n", 1)
        blocks.append(dict(l.split(": ", 1) for l in block.decode().split("\n") if ": " in l and not l.startswith(":")))
    return blocks, buf


def open_stream(server: RunningServer, cookie: str, path: str = "/api/proctor/stream") -> tuple[ssl.SSLSocket, bytes]:
    """The proctor's stream once the server has begun it (its "retry" line
    came), and the bytes read after that line."""
    raw = socket.create_connection(("127.0.0.1", server.port))
    tls = server.context().wrap_socket(raw, server_hostname="localhost")
    tls.sendall(f"GET {path} HTTP/1.1\r\nHost: localhost\r\nCookie: {cookie}\r\n\r\n".encode())
    tls.settimeout(15)
    buf = b""
    while b"retry: 2000\n\n" not in buf:
        chunk = tls.recv(65536)
        if not chunk:
            tls.close()
            raise RuntimeError("the stream ended before it began: " + buf.decode(errors="replace"))
        buf += chunk
    return tls, buf.split(b"retry: 2000\n\n", 1)[1]


def read_events(tls: ssl.SSLSocket, buf: bytes, until, timeout: float = 15.0) -> tuple[list[tuple[str, dict]], bytes]:
    """A stream's (event, data) pairs until `until(events)` is true or
    `timeout` seconds have passed, and the bytes of an event not yet whole."""
    end = time.monotonic() + timeout
    events: list[tuple[str, dict]] = []
    while True:
        blocks, buf = stream_blocks(buf)
        events += [(f["event"], json.loads(f.get("data", "{}"))) for f in blocks if "event" in f]
        if until(events) or time.monotonic() >= end:
            return events, buf
        tls.settimeout(max(0.05, end - time.monotonic()))
        try:
            chunk = tls.recv(65536)
        except (TimeoutError, ssl.SSLError, OSError):
            return events, buf
        if not chunk:
            return events, buf
        buf += chunk


def stream_events(server: RunningServer, cookie: str, until, timeout: float = 15.0,
                  path: str = "/api/proctor/stream") -> list[tuple[str, dict]]:
    """Reads the proctor's stream as (event, data) pairs until `until(events)`
    is true or `timeout` seconds have passed."""
    raw = socket.create_connection(("127.0.0.1", server.port))
    tls = server.context().wrap_socket(raw, server_hostname="localhost")
    tls.sendall(f"GET {path} HTTP/1.1\r\nHost: localhost\r\nCookie: {cookie}\r\n\r\n".encode())
    try:
        return read_events(tls, b"", until, timeout)[0]
    finally:
        tls.close()


def wait_for(predicate, timeout: float = 10.0, step: float = 0.02) -> bool:
    end = time.monotonic() + timeout
    while True:
        if predicate():
            return True
        if time.monotonic() > end:
            return False
        time.sleep(step)
