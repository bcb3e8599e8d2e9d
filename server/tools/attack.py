"""What a student's laptop on the school network can do to the exam server,
measured, while a launcher on 127.0.0.1 verifies twice a second.

    python3 server/tools/attack.py [--only slow,idle,tiny,padding,verifies,handshakes,files,streams]
                                   [--tricklers 48] [--idle 200] [--addresses 4] [--seconds 30]
                                   [--pyz build/orvel-exam-server.pyz]

slow: --tricklers TLS connections each send one byte of a header a second (a
line that never ends). idle: --idle TLS connections from --addresses other
loopback addresses (127.0.0.2 and on) make their handshake and say nothing,
each opened again as soon as the server closes it. tiny: two connections
from 127.0.0.2 send 8 KiB reports in 1-byte TLS records, one after another.
padding: 64 KiB of padding, then valid reports padded to 8 KiB, each with a
session of its own as fast as the limits let (the growth of the database is
printed). verifies: 200 accepted verifies from one address, and 10 of one
student. handshakes: 1,500 TLS hellos in flight from 127.0.0.5, each opened
again when answered or cut. files: a server started with a limit of 1,024
open files, and 4 addresses holding 256 idle TCP connections each, while
the proctor's roster is read twice a second. streams: 20 proctor streams of
one login that never read. page: --rows rows of earlier exam days written
into the database, the page's reload (roster and two lists) timed, and the
server's CPU in a 400-PC START burst without and with one proctor page
reloading as the page does. Starts a throw-away server of its own, prints
figures for each (the server's CPU seconds among them), and exits 1 when a
verify failed or took over 1 s, or an attack was not held off as it should
be.
"""
from __future__ import annotations

import argparse
import json
import os
import selectors
import socket
import sqlite3
import ssl
import statistics
import sys
import tempfile
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from load import CLASS, TOKEN, Target, cpu_seconds, read_answer, rss_mb, uptime  # noqa: E402

VERIFY_LIMIT = 1.0
CUT_LIMIT = 12.0
ALL = ("slow", "idle", "tiny", "padding", "verifies", "handshakes", "files", "streams", "page")


def connect(port: int, ctx: ssl.SSLContext, source: str = "127.0.0.1") -> ssl.SSLSocket:
    raw = socket.create_connection(("127.0.0.1", port), timeout=15, source_address=(source, 0))
    try:
        return ctx.wrap_socket(raw, server_hostname="localhost")
    except OSError:
        raw.close()  # reset before its handshake (the server's meter), and the like
        raise


def request_bytes(method: str, path: str, body: bytes = b"", headers: dict | None = None) -> bytes:
    lines = [f"{method} {path} HTTP/1.1", "Host: localhost", f"Content-Length: {len(body)}"]
    lines += [f"{k}: {v}" for k, v in (headers or {}).items()]
    return ("\r\n".join(lines) + "\r\n\r\n").encode() + body


def answer(sock: ssl.SSLSocket) -> tuple[int, bytes]:
    """(status, body) read to the answer's Content-Length or its end."""
    status, _, body = read_answer(sock, partial=True)
    return status, body


def post(port: int, ctx: ssl.SSLContext, path: str, body: bytes, headers: dict | None = None,
         source: str = "127.0.0.1", record: int = 0, expect: bool = False) -> tuple[int, bytes]:
    """One request on a connection of its own, from `source`; with `record`,
    sent in TLS records of that many bytes (one write each); with `expect`,
    the body only after the server's "100 Continue" (a body it refuses at
    the head is never sent, so its answer cannot be lost to a reset)."""
    with connect(port, ctx, source) as sock:
        if expect:
            data = request_bytes("POST", path, body, dict(headers or {}, Expect="100-continue"))
            sock.sendall(data[:len(data) - len(body)])
            status, text = answer(sock)
            if status != 100:
                return status, text
            sock.sendall(body)
            return answer(sock)
        data = request_bytes("POST", path, body, headers)
        if record:
            for i in range(0, len(data), record):
                sock.sendall(data[i:i + record])
        else:
            sock.sendall(data)
        return answer(sock)


def verify_body(name: str) -> bytes:
    return json.dumps({"studentName": name, "className": CLASS, "token": TOKEN}).encode()


def report_body(name: str, pad: int = 0) -> bytes:
    """A valid report, its JSON padded with blanks to `pad` bytes."""
    body = json.dumps({"studentName": name, "className": CLASS, "token": TOKEN, "event": "VIOLATION",
                       "detail": "(Pelanggaran ke-1)"}).encode()
    return body[:-1] + b" " * max(0, pad - len(body)) + b"}"


def session_of(data: bytes) -> str:
    return json.loads(data).get("session", "")


class Verifier(threading.Thread):
    """A launcher on 127.0.0.1: a verify every half second, each timed."""

    def __init__(self, port: int, ctx: ssl.SSLContext) -> None:
        super().__init__(daemon=True)
        self.port, self.ctx, self.stop = port, ctx, threading.Event()
        self.took: list[float] = []
        self.failures: list[str] = []
        self.n = 0

    def run(self) -> None:
        while True:
            began = time.monotonic()
            self.n += 1  # a name of its own each time: the per-student limit is not what is measured
            try:
                status, data = post(self.port, self.ctx, "/api/exam/verify", verify_body(f"Penguji {self.n}"),
                                    {"Content-Type": "application/json"})
            except OSError as e:
                status, data = 0, str(e).encode()
            self.took.append(time.monotonic() - began)
            if status != 200 or b'"ok":true' not in data:
                self.failures.append(f"{status} {data[:80]!r}")
            if self.stop.wait(0.5):
                return

    def line(self) -> str:
        took = sorted(self.took)
        if not took:
            return "no verify answered"
        return (f"{len(took)} verifies from 127.0.0.1, median {statistics.median(took) * 1000:.0f} ms, "
                f"max {took[-1] * 1000:.0f} ms, failed {len(self.failures)}"
                + "".join(f"\n  failed: {f}" for f in self.failures[:5]))

    def held(self) -> bool:
        return not self.failures and bool(self.took) and max(self.took) <= VERIFY_LIMIT


def closed(sock: socket.socket) -> bool:
    """Whether the server has closed this connection, without waiting."""
    sock.setblocking(False)
    try:
        while True:
            if not sock.recv(4096):
                return True
    except (ssl.SSLWantReadError, BlockingIOError):
        return False
    except OSError:
        return True
    finally:
        sock.setblocking(True)


def slow(port: int, ctx: ssl.SSLContext, n: int, seconds: float) -> tuple[list[float], int]:
    """(seconds from connect to cut for each trickler cut, how many were never cut)"""
    head = b"POST /api/exam/verify HTTP/1.1\r\nHost: localhost\r\nX-Lambat: " + b"a" * 10000
    conns = []
    for _ in range(n):
        conns.append((connect(port, ctx), time.monotonic()))
    sent, cut = [0] * n, {}
    end = time.monotonic() + seconds
    while time.monotonic() < end and len(cut) < n:
        for i, (c, at) in enumerate(conns):
            if i in cut:
                continue
            try:
                if closed(c):
                    raise ConnectionResetError
                c.sendall(head[sent[i]:sent[i] + 1])
                sent[i] += 1
            except OSError:
                cut[i] = time.monotonic() - at
        time.sleep(max(0.0, 1.0 - 0.001 * n))
    for c, _ in conns:
        c.close()
    return sorted(cut.values()), n - len(cut)


def idle(port: int, ctx: ssl.SSLContext, n: int, addresses: int, seconds: float) -> tuple[int, int]:
    """(connections opened, of which cut by the server) over `seconds`."""
    sources = [f"127.0.0.{2 + i % addresses}" for i in range(n)]
    conns = [connect(port, ctx, s) for s in sources]
    opened, cut = n, 0
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        for i, c in enumerate(conns):
            if closed(c):
                c.close()
                cut += 1
                try:
                    conns[i] = connect(port, ctx, sources[i])
                    opened += 1
                except OSError:
                    pass
        time.sleep(0.2)
    for c in conns:
        c.close()
    return opened, cut


def tiny(port: int, ctx: ssl.SSLContext, senders: int, seconds: float, source: str = "127.0.0.2") -> dict:
    """`senders` connections at a time, each a report padded to 8 KiB in
    1-byte TLS records, one after another for `seconds`: {status: count} and
    the sending's seconds."""
    body = report_body("Rekaman Kecil", 8192 - 300)
    counts: dict[int, int] = {}
    took: list[float] = []
    lock = threading.Lock()
    end = time.monotonic() + seconds

    def send() -> None:
        while time.monotonic() < end:
            began = time.monotonic()
            try:
                status, _ = post(port, ctx, "/api/exam/event", body, {"Content-Type": "application/json"},
                                 source, record=1)
            except OSError:
                status = 0
            with lock:
                counts[status] = counts.get(status, 0) + 1
                took.append(time.monotonic() - began)
    threads = [threading.Thread(target=send) for _ in range(senders)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return {"statuses": counts, "seconds": took}


def padding(port: int, ctx: ssl.SSLContext, database: Path | str | None, seconds: float,
            source: str = "127.0.0.3") -> dict:
    """64 KiB of padding once, then sessions of their own, each sending
    valid reports padded to 8 KiB until refused: statuses and the stored
    bytes a report."""
    on_file = database is not None and not str(database).startswith("postgres")
    size = lambda: sum(Path(f"{database}{x}").stat().st_size for x in ("", "-wal")  # noqa: E731
                       if Path(f"{database}{x}").exists()) if on_file else 0
    # Refused at its head: a blind sender could miss the 413 to the reset of
    # the body it is still sending.
    big, _ = post(port, ctx, "/api/exam/event", report_body("Bantalan", 65536), source=source, expect=True)
    counts: dict[int, int] = {}
    before, stored, end, i = size(), 0, time.monotonic() + seconds, 0
    verified = refused = 0

    def attempt(*a, **kw) -> tuple[int, bytes]:
        # Beyond its meter of new connections the server resets this address's: counted as 0.
        try:
            return post(*a, **kw)
        except OSError:
            time.sleep(0.02)
            return 0, b""

    while time.monotonic() < end:
        i += 1
        status, data = attempt(port, ctx, "/api/exam/verify", verify_body(f"Bantalan {i}"), source=source)
        if status == 0:
            counts[0] = counts.get(0, 0) + 1
            i -= 1
            continue
        if status != 200:
            refused += 1
            if refused > 3:
                break  # the address's verifies are used up for the minute
            continue
        verified += 1
        session = session_of(data)
        while time.monotonic() < end:
            status, _ = attempt(port, ctx, "/api/exam/event", report_body(f"Bantalan {i}", 8000),
                                {"Exam-Session": session, "Idempotency-Key": os.urandom(16).hex()}, source)
            counts[status] = counts.get(status, 0) + 1
            if status not in (0, 200):
                break
            if status == 0:
                continue
            stored += 1
    largest = total = 0
    sizes = "SELECT coalesce(max(length(body)), 0), coalesce(sum(length(body)), 0) FROM reports"
    if on_file:
        with sqlite3.connect(f"file:{database}?mode=ro", uri=True) as db:
            largest, total = db.execute(sizes).fetchone()
        db.close()
    elif database:  # a postgresql:// address
        import psycopg
        with psycopg.connect(str(database)) as pg:
            largest, total = pg.execute(sizes).fetchone()
    return {"big": big, "statuses": counts, "sessions": verified, "stored": stored,
            "grown": size() - before, "largest body": largest, "body bytes": total}


def verifies(port: int, ctx: ssl.SSLContext, n: int, same: int, source: str = "127.0.0.4") -> tuple[dict, dict]:
    """({status: count} of `n` verifies of different students from one
    address, the same for `same` of one student from another)."""
    many: dict[int, int] = {}
    lock = threading.Lock()

    def some(first: int) -> None:
        for i in range(first, n, 8):
            status, _ = post(port, ctx, "/api/exam/verify", verify_body(f"Banjir {i}"), source=source)
            with lock:
                many[status] = many.get(status, 0) + 1
    # Eight at a time: all within the minute the limit counts, however busy the machine.
    threads = [threading.Thread(target=some, args=(k,)) for k in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    one: dict[int, int] = {}
    for _ in range(same):
        status, _ = post(port, ctx, "/api/exam/verify", verify_body("Satu Orang"), source="127.0.0.6")
        one[status] = one.get(status, 0) + 1
    return many, one


def client_hello(ctx: ssl.SSLContext) -> bytes:
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    tls = ctx.wrap_bio(incoming, outgoing, server_hostname="localhost")
    try:
        tls.do_handshake()
    except ssl.SSLWantReadError:
        pass
    return outgoing.read()


def handshakes(port: int, ctx: ssl.SSLContext, in_flight: int, seconds: float, source: str = "127.0.0.5") -> dict:
    """`in_flight` TLS hellos kept open at once from one address for
    `seconds`, each opened again once the server answered or closed it:
    how many were opened, answered (the server's hello came) and cut
    without an answer."""
    hello = client_hello(ctx)
    sel = selectors.DefaultSelector()
    counts = {"opened": 0, "answered": 0, "cut": 0}

    def open_one() -> None:
        s = socket.socket()
        s.setblocking(False)
        s.bind((source, 0))
        try:
            s.connect(("127.0.0.1", port))
        except BlockingIOError:
            pass
        sel.register(s, selectors.EVENT_WRITE, "connecting")
        counts["opened"] += 1

    for _ in range(in_flight):
        open_one()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        for key, _ in sel.select(0.1):
            s = key.fileobj
            if key.data == "connecting":
                try:
                    s.send(hello)
                    sel.modify(s, selectors.EVENT_READ, "sent")
                    continue
                except OSError:
                    got = b""
            else:
                try:
                    got = s.recv(65536)
                except OSError:
                    got = b""
            counts["answered" if got else "cut"] += 1
            sel.unregister(s)
            s.close()
            open_one()
    for key in list(sel.get_map().values()):
        key.fileobj.close()
    sel.close()
    return counts


def idle_tcp(port: int, per_address: int, addresses: int, seconds: float) -> dict:
    """`per_address` plain TCP connections that say nothing from each of
    `addresses` addresses (127.0.0.20 and on), each opened again once the
    server closes it (at most 40 new ones a second from each address, under
    the server's meter of new connections), for `seconds`."""
    conns: list[tuple[str, socket.socket | None]] = [(f"127.0.0.{20 + a}", None) for a in range(addresses)
                                                      for _ in range(per_address)]
    counts = {"opened": 0, "cut": 0, "most open": 0}
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        began, opened = time.monotonic(), {}
        for i, (source, c) in enumerate(conns):
            if c is not None and closed(c):
                c.close()
                counts["cut"] += 1
                c = None
            if c is None and opened.get(source, 0) < 8:
                try:
                    c = socket.create_connection(("127.0.0.1", port), timeout=5, source_address=(source, 0))
                    counts["opened"] += 1
                    opened[source] = opened.get(source, 0) + 1
                except OSError:
                    c = None
            conns[i] = (source, c)
        counts["most open"] = max(counts["most open"], sum(c is not None for _, c in conns))
        time.sleep(max(0.0, 0.2 - (time.monotonic() - began)))
    for _, c in conns:
        if c is not None:
            c.close()
    return counts


def roster_reader(port: int, ctx: ssl.SSLContext, cookie: str, stop: threading.Event, out: dict) -> None:
    """The proctor's page asking for its roster twice a second."""
    out.setdefault("took", [])
    out.setdefault("failures", [])
    while not stop.wait(0.5):
        began = time.monotonic()
        try:
            with connect(port, ctx) as sock:
                sock.sendall(request_bytes("GET", "/api/proctor/roster", headers={"Cookie": cookie}))
                status, data = answer(sock)
        except OSError as e:
            status, data = 0, str(e).encode()
        out["took"].append(time.monotonic() - began)
        if status != 200:
            out["failures"].append(f"{status} {data[:80]!r}")


def open_stream(port: int, ctx: ssl.SSLContext, cookie: str, read: bool = True) -> tuple[ssl.SSLSocket, int]:
    """A proctor stream and the status it was answered with (0: not read)."""
    s = connect(port, ctx)
    if not read:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.sendall(f"GET /api/proctor/stream HTTP/1.1\r\nHost: localhost\r\nCookie: {cookie}\r\n\r\n".encode())
    if not read:
        return s, 0
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = s.recv(4096)
        if not chunk:
            break
        data += chunk
    return s, int(data.split(b" ", 2)[1]) if data.startswith(b"HTTP/1.1 ") else 0


def deaf_streams(port: int, ctx: ssl.SSLContext, cookie: str, n: int) -> dict:
    """`n` streams of one login opened one after another that never read:
    how many of the older the server ended within 5 s, whether the newest
    still runs."""
    streams = [open_stream(port, ctx, cookie, read=False)[0] for _ in range(n)]
    end = time.monotonic() + 5
    while time.monotonic() < end and sum(closed(s) for s in streams[:-1]) < n - 1:
        time.sleep(0.05)
    ended = sum(closed(s) for s in streams[:-1])
    last_open = not closed(streams[-1])
    for s in streams:
        s.close()
    return {"older ended": ended, "of": n - 1, "newest open": last_open}


def closed_streams(port: int, ctx: ssl.SSLContext, cookies: list[str]) -> float | None:
    """Every stream slot taken by streams of other logins, whose clients then
    close: seconds until a stream of one more login is let in (None: not
    within 10 s)."""
    held = []
    end = time.monotonic() + 5
    for c in cookies[:-1]:  # a slot an earlier stream held is given back within a second
        s, status = open_stream(port, ctx, c)
        while status != 200 and time.monotonic() < end:
            s.close()
            time.sleep(0.05)
            s, status = open_stream(port, ctx, c)
        held.append((s, status))
    if not all(status == 200 for _, status in held):
        return None
    for s, _ in held:
        s.close()
    began = time.monotonic()
    while time.monotonic() - began < 10:
        s, status = open_stream(port, ctx, cookies[-1])
        s.close()
        if status == 200:
            return time.monotonic() - began
        time.sleep(0.05)
    return None


def fill(database: Path, rows: int, students: int = 400) -> None:
    """Days of exams written into a new database before the server starts
    (its tables made by the server's own store): each day every student
    verifies, starts, has two violations and finishes (five rows)."""
    sys.path.insert(0, str(Path(__file__).resolve().parent.parent))
    from orvel_exam_server.database import Store
    Store(database, lambda line: None).close()
    with sqlite3.connect(database, timeout=30) as db:
        day, n = 0, 0
        while n < rows:
            day += 1
            for i in range(students):
                if n >= rows:
                    break
                name, sid = f"Siswa {i:04d}", os.urandom(16).hex()
                at = f"2026-11-{day % 28 + 1:02d}T07:{i % 60:02d}:00.000+07:00"
                db.execute("INSERT INTO verifications (received_at, address, student_name, class_name, token,"
                           " session) VALUES (?, '10.0.0.1', ?, ?, ?, ?)", (at, name, CLASS, TOKEN, sid))
                for event in ("START", "VIOLATION", "VIOLATION", "FINISH"):
                    db.execute("INSERT INTO reports (received_at, address, body, student_name, class_name, token,"
                               " event, detail, session) VALUES (?, '10.0.0.1', '{}', ?, ?, ?, ?, 'x', ?)",
                               (at, name, CLASS, TOKEN, event, sid))
                n += 5
    db.close()


RELOAD = ("/api/proctor/roster", "/api/proctor/timeline?nosession=1", "/api/proctor/timeline?unknown=1")


def reload(port: int, ctx: ssl.SSLContext, cookie: str) -> float:
    """What the page loads after a stream event, timed: the roster and the two lists apart."""
    began = time.monotonic()
    for path in RELOAD:
        with connect(port, ctx) as sock:
            sock.sendall(request_bytes("GET", path, headers={"Cookie": cookie}))
            status, data = answer(sock)
        if status != 200:
            raise ConnectionError(f"{path}: {status} {data[:80]!r}")
    return time.monotonic() - began


class Page(threading.Thread):
    """A proctor's page: its stream read, and after events a reload as the
    page makes it (300 ms after they pause, every 2 s while they go on)."""

    def __init__(self, port: int, ctx: ssl.SSLContext, cookie: str) -> None:
        super().__init__(daemon=True)
        self.port, self.ctx, self.cookie = port, ctx, cookie
        self.stop, self.reloads, self.events, self.status = threading.Event(), 0, 0, 0

    def run(self) -> None:
        sock, self.status = open_stream(self.port, self.ctx, self.cookie)
        sock.settimeout(0.05)
        first = last = None
        with sock:
            while not self.stop.is_set():
                try:
                    chunk = sock.recv(65536)
                    if not chunk:
                        return
                    n = chunk.count(b"\nevent: ") + chunk.startswith(b"event: ")
                    if n:
                        self.events += n
                        last = time.monotonic()
                        first = first or last
                except (TimeoutError, ssl.SSLWantReadError, socket.timeout):
                    pass
                now = time.monotonic()
                if first is not None and (now - last >= 0.3 or now - first >= 2.0):
                    first = last = None
                    reload(self.port, self.ctx, self.cookie)
                    self.reloads += 1


def start_burst(port: int, ctx: ssl.SSLContext, pcs: int, first: int) -> float:
    """`pcs` launchers on four addresses, each verifying and sending START as
    fast as they can: seconds it took."""
    began = time.monotonic()

    def one(i: int) -> None:
        source, name = f"127.0.0.{30 + i % 4}", f"Burst {first + i}"
        _, data = post(port, ctx, "/api/exam/verify", verify_body(name), source=source)
        body = json.dumps({"studentName": name, "className": CLASS, "token": TOKEN, "event": "START",
                           "detail": "Siswa memulai ujian di aplikasi PC."}).encode()
        post(port, ctx, "/api/exam/event", body, {"Exam-Session": session_of(data)}, source)
    threads = [threading.Thread(target=lambda k=k: [one(i) for i in range(k, pcs, 40)]) for k in range(40)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return time.monotonic() - began


def page_figures(target: Target, rows: int) -> list[str]:
    """Reloads with `rows` stored rows (the target started on them), and one
    page's CPU in a 400-PC START burst."""
    cookie = target.login()
    cold = reload(target.port, target.ctx, cookie)
    warm = sorted(reload(target.port, target.ctx, cookie) for _ in range(5))
    lines = [f"{rows} rows: first reload {cold * 1000:.0f} ms, then median {statistics.median(warm) * 1000:.0f} ms; "
             f"server memory {rss_mb(target.proc.pid):.0f} MB"]
    cpu = cpu_seconds(target.proc.pid)
    took = start_burst(target.port, target.ctx, 400, 0)
    alone = cpu_seconds(target.proc.pid) - cpu
    page = Page(target.port, target.ctx, cookie)
    page.start()
    time.sleep(1)  # the page's stream open before the burst
    cpu = cpu_seconds(target.proc.pid)
    took2 = start_burst(target.port, target.ctx, 400, 400)
    time.sleep(2.5)  # its last reload after the burst
    with_page = cpu_seconds(target.proc.pid) - cpu
    page.stop.set()
    page.join()
    lines.append(f"400-PC START burst: server CPU {alone:.2f} s in {took:.1f} s without a page, {with_page:.2f} s "
                 f"in {took2:.1f} s (+2.5 s after) with one page ({page.events} events, {page.reloads} reloads, stream {page.status})")
    return lines


def main() -> int:
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--only", default=",".join(ALL), help="attacks to run, comma-separated: " + ",".join(ALL))
    p.add_argument("--tricklers", type=int, default=48)
    p.add_argument("--idle", type=int, default=200)
    p.add_argument("--addresses", type=int, default=4)
    p.add_argument("--seconds", type=float, default=30)
    p.add_argument("--rows", type=int, default=10000, help="stored rows for the page attack")
    p.add_argument("--pyz", help="run this zipapp instead of the package")
    args = p.parse_args()
    chosen = [a for a in args.only.split(",") if a]
    unknown = set(chosen) - set(ALL)
    if unknown:
        p.error(f"unknown attacks: {', '.join(sorted(unknown))}")
    print("machine:", uptime())
    ok = True
    with tempfile.TemporaryDirectory(prefix="orvel-attack.") as tmp:
        target = Target(Path(tmp), args.pyz)
        code = 0
        try:
            for name in chosen:
                if name == "files":
                    ok = files_attack(Path(tmp) / "files", args) and ok
                    continue
                if name == "page":
                    ok = page_attack(Path(tmp) / "page", args) and ok
                    continue
                v = Verifier(target.port, target.ctx)
                cpu = cpu_seconds(target.proc.pid)
                v.start()
                began = time.monotonic()
                held, lines = run_attack(name, target, args)
                v.stop.set()
                v.join()
                used = cpu_seconds(target.proc.pid) - cpu
                print(f"{name}: {v.line()}")
                for line in lines:
                    print("  " + line)
                print(f"  server CPU {used:.1f} s in {time.monotonic() - began:.1f} s")
                ok = ok and held and v.held()
        finally:
            code = target.stop()
            if code != 0:
                print(f"server: exit code {code}")
    ok = ok and code == 0
    print("attack: " + ("held" if ok else "FAILED"))
    return 0 if ok else 1


def run_attack(name: str, target: Target, args) -> tuple[bool, list[str]]:
    port, ctx = target.port, target.ctx
    if name == "slow":
        cuts, never = slow(port, ctx, args.tricklers, args.seconds)
        return (never == 0 and bool(cuts) and max(cuts) <= CUT_LIMIT,
                [f"{args.tricklers} tricklers cut {min(cuts):.1f} to {max(cuts):.1f} s after their connect, "
                 f"never cut: {never}" if cuts else f"no trickler was cut; never cut: {never}"])
    if name == "idle":
        opened, cut = idle(port, ctx, args.idle, args.addresses, args.seconds)
        return True, [f"{args.idle} idle connections from {args.addresses} addresses: opened {opened}, "
                      f"cut by the server {cut}"]
    if name == "tiny":
        found = tiny(port, ctx, 2, args.seconds)
        took = sorted(found["seconds"])
        return bool(took), [f"8 KiB reports in 1-byte TLS records from 2 connections: {len(took)} sent, "
                            f"answers {found['statuses']}, each took the sender median "
                            f"{statistics.median(took):.2f} s" if took else "none sent"]
    if name == "padding":
        found = padding(port, ctx, target.database, args.seconds)
        per = found["body bytes"] / found["stored"] if found["stored"] else 0
        return (found["big"] == 413, [f"64 KiB of padding: {found['big']}; reports padded to 8 KiB with "
                                      f"{found['sessions']} sessions: answers {found['statuses']}, stored "
                                      f"{found['stored']}, database and WAL grew {found['grown'] / 1e6:.2f} MB, "
                                      f"bodies stored {per:.0f} bytes a report, the largest "
                                      f"{found['largest body']} bytes"])
    if name == "verifies":
        many, one = verifies(port, ctx, 200, 10)
        return (many.get(200) == 120 and one.get(200) == 5,
                [f"200 verifies of different students from one address: {many}; 10 of one student: {one}"])
    if name == "handshakes":
        found = handshakes(port, ctx, 1500, args.seconds)
        return True, [f"1500 TLS hellos in flight from 127.0.0.5: {found}"]
    if name == "streams":
        found = deaf_streams(port, ctx, target.login(), 20)
        freed = closed_streams(port, ctx, [target.login() for _ in range(17)])
        return (found["older ended"] == found["of"] and found["newest open"] and freed is not None,
                [f"20 streams of one login that never read: {found}",
                 f"16 streams of 16 logins closed by their clients: a 17th let in after "
                 + (f"{freed:.2f} s" if freed is not None else "more than 10 s")])
    raise ValueError(name)


def page_attack(folder: Path, args) -> bool:
    folder.mkdir()
    target = Target(folder, args.pyz, before=lambda db: fill(db, args.rows))
    try:
        v = Verifier(target.port, target.ctx)
        v.start()
        lines = page_figures(target, args.rows)
        v.stop.set()
        v.join()
        print(f"page: {v.line()}")
        for line in lines:
            print("  " + line)
        return v.held()
    finally:
        code = target.stop()
        if code != 0:
            print(f"page server: exit code {code}")


def files_attack(folder: Path, args) -> bool:
    folder.mkdir()
    target = Target(folder, args.pyz, files=1024)
    try:
        cookie = target.login()
        out: dict = {}
        stop = threading.Event()
        reader = threading.Thread(target=roster_reader, args=(target.port, target.ctx, cookie, stop, out))
        v = Verifier(target.port, target.ctx)
        cpu = cpu_seconds(target.proc.pid)
        reader.start()
        v.start()
        before = rss_mb(target.proc.pid)
        found = idle_tcp(target.port, 256, 4, args.seconds)
        held = rss_mb(target.proc.pid)
        stop.set()
        v.stop.set()
        reader.join()
        v.join()
        took = sorted(out["took"])
        print(f"files: {v.line()}")
        print(f"  a server limited to 1024 files; 4 x 256 idle TCP connections: {found}; "
              f"server memory {before:.0f} MB before, {held:.0f} MB with them")
        print(f"  roster: {len(took)} asked, median {statistics.median(took) * 1000:.0f} ms, max "
              f"{took[-1] * 1000:.0f} ms, failed {len(out['failures'])}" if took else "  roster: none asked")
        for f in out["failures"][:5]:
            print(f"  failed: {f}")
        print(f"  server CPU {cpu_seconds(target.proc.pid) - cpu:.1f} s")
        return v.held() and bool(took) and not out["failures"]
    finally:
        code = target.stop()
        if code != 0:
            print(f"files server: exit code {code}")


if __name__ == "__main__":
    sys.exit(main())
