"""Load on the exam server as a school makes it: N PCs, each on a new TLS
connection per request (as WinHTTP does), verifying first, then reporting
every few seconds, a share of reports sent twice with the same
Idempotency-Key (an answer lost on the way), and K proctor pages holding a
stream open. When the verify answer hands out a session, each report carries
it (`Exam-Session`) and each PC also sends a heartbeat every 15 s.

    python3 server/tools/load.py [--pcs 40] [--seconds 600] [--streams 3]
                                 [--replays 0.1] [--pyz build/orvel-exam-server.pyz]
                                 [--postgres URL] [--processes N] [--resume]

A district's morning, on PostgreSQL with two serving processes (run by
/usr/bin/python3, which has psycopg; URL: a cluster the load may make a
database of its own in):

    /usr/bin/python3 server/tools/load.py --pcs 4000 --interval 120 --heartbeat 15 \
        --ramp 30 --seconds 300 --streams 3 --postgres URL --processes 2 --resume

Starts a throw-away server of its own (certificates from its `init`) and
prints requests, failures, latency, the largest delay from a report's answer
to its arrival on every stream, and whether the stored counts are exact.
`uptime` is printed first and last (figures mean little on a busy
machine), and each serving process's share of the processor.
Exits 1 on any failed request, a wrong count, a report missing from a stream,
or a stream delay over --max-delay seconds.
"""
from __future__ import annotations

import argparse
import concurrent.futures
import csv
import io
import json
import multiprocessing
import os
import random
import resource
import re
import secrets
import shutil
import signal
import socket
import ssl
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

SERVER_DIR = Path(__file__).resolve().parent.parent
CLASS, TOKEN = "5A", "BEBAN1"
PCS_A_PROCESS = 100


def uptime() -> str:
    return subprocess.run(["uptime"], capture_output=True, text=True).stdout.strip() if shutil.which("uptime") else "?"


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def read_answer(sock: socket.socket, partial: bool = False) -> tuple[int, dict, bytes]:
    """An HTTP answer: its status, its header fields (names in lower case)
    and its body read to its Content-Length. An answer cut short raises
    ConnectionError; with `partial`, a body cut short is returned as far as
    it came."""
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = sock.recv(65536)
        if not chunk:
            raise ConnectionError(f"answer cut short: {data[:80]!r}")
        data += chunk
    head, _, rest = data.partition(b"\r\n\r\n")
    fields = head.decode("latin-1").split("\r\n")
    headers = {k.strip().lower(): v.strip() for k, _, v in (f.partition(":") for f in fields[1:])}
    length = int(headers.get("content-length", "0"))
    while len(rest) < length:
        chunk = sock.recv(65536)
        if not chunk:
            if partial:
                break
            raise ConnectionError("answer cut short")
        rest += chunk
    return int(fields[0].split(" ", 2)[1]), headers, rest[:length]


class Client:
    """Requests to the server, each on a connection of its own."""

    def __init__(self, port: int, ca: str) -> None:
        self.port, self.ca = port, ca
        self.ctx = ssl.create_default_context(cafile=ca)

    def request(self, method: str, path: str, body: bytes | None = None, headers: dict | None = None,
                timeout: float = 30, source: str | None = None, resume: dict | None = None) -> tuple[int, dict, bytes]:
        """The request in one write and the answer read to its Content-Length:
        as little of the client's own time as it can be, so that the figures
        are the server's."""
        body = body or b""
        lines = [f"{method} {path} HTTP/1.1", f"Host: localhost:{self.port}", f"Content-Length: {len(body)}"]
        lines += [f"{k}: {v}" for k, v in (headers or {}).items()]
        raw = socket.create_connection(("127.0.0.1", self.port), timeout=timeout,
                                       source_address=(source, 0) if source else None)
        # `resume`: the PC's TLS session, offered again as WinHTTP does between one program's requests.
        with self.ctx.wrap_socket(raw, server_hostname="localhost",
                                  session=resume.get("session") if resume else None) as tls:
            tls.sendall(("\r\n".join(lines) + "\r\n\r\n").encode("utf-8") + body)
            answer = read_answer(tls)
            if resume is not None:
                resume["session"] = tls.session
                resume["resumed"] = resume.get("resumed", 0) + tls.session_reused
        return answer


class Target(Client):
    def __init__(self, folder: Path, pyz: str | None, database: str = "load.db", processes: int = 1,
                 files: int | None = None, before=None) -> None:
        """`database`: a file in `folder` or a postgresql:// address; `files`: the
        server's limit on open files, soft and hard (None: this process's);
        `before(database)`: run after init, before the server starts."""
        self.password = secrets.token_urlsafe(12)
        self.port, self.ca = free_port(), str(folder / "certs" / "ca.crt")  # the context once init made the CA
        self.config = folder / "server.toml"
        self.database = database if database.startswith("postgres") else folder / database
        self.processes = processes
        self.config.write_text(
            f'[server]\nhost = "localhost"\nlisten = "127.0.0.1:{self.port}"\ndatabase = "{database}"\n'
            f'processes = {processes}\n'
            f'proctor_password = "{self.password}"\n\n[[exam]]\nclass = "{CLASS}"\ntoken = "{TOKEN}"\n'
            'form_url = "https://forms.example/ujian?nama={studentName}"\nproctor_pin = "2468"\n', encoding="utf-8")
        env = dict(os.environ, PYTHONPATH=str(SERVER_DIR))
        self.cmd = [sys.executable, pyz] if pyz else [sys.executable, "-m", "orvel_exam_server"]
        subprocess.run(self.cmd + ["init", "--config", str(self.config)], env=env, check=True, capture_output=True)
        if before is not None:
            before(self.database)
        self.log = open(folder / "server.log", "w+", encoding="utf-8")
        limit = None
        if files is not None:
            import resource
            limit = lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (files, files))  # noqa: E731
        self.proc = subprocess.Popen(self.cmd + ["run", "--config", str(self.config)], env=env,
                                     stdout=subprocess.DEVNULL, stderr=self.log, preexec_fn=limit)
        self.ctx = ssl.create_default_context(cafile=self.ca)
        end = time.monotonic() + 30
        while self.ready() < processes:
            if time.monotonic() > end or self.proc.poll() is not None:
                raise SystemExit("the server did not start: " + Path(self.log.name).read_text()[-400:])
            time.sleep(0.05)

    def ready(self) -> int:
        return Path(self.log.name).read_text(encoding="utf-8").count(" ready on ")

    def serving(self) -> list[int]:
        """The serving processes' ids: the server itself, or its children."""
        return [self.proc.pid] if self.processes == 1 else children(self.proc.pid)


    def login(self) -> str:
        _, headers, _ = self.request("POST", "/pengawas/login", ("password=" + self.password).encode())
        return headers["set-cookie"].split(";")[0]

    def stop(self) -> int:
        self.proc.send_signal(signal.SIGTERM)
        return self.proc.wait(timeout=30)


def cpu_seconds(pid: int) -> float:
    """User and system time of a process so far."""
    try:
        fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def children(pid: int) -> list[int]:
    """The processes whose parent is `pid`, in order (Linux only, else none)."""
    found = []
    for stat in Path("/proc").glob("[0-9]*/stat"):
        try:
            fields = stat.read_text().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[1]) == pid:
            found.append(int(stat.parent.name))
    return sorted(found)


def postgres_cpu() -> float:
    """The processor time of every PostgreSQL process on this machine so far."""
    total = 0.0
    for comm in Path("/proc").glob("[0-9]*/comm"):
        try:
            if comm.read_text().strip() in ("postgres", "postmaster"):
                total += cpu_seconds(int(comm.parent.name))
        except (OSError, ValueError):
            continue
    return total


def rss_mb(pid: int) -> float:
    try:
        for line in Path(f"/proc/{pid}/status").read_text().splitlines():
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    except OSError:
        pass
    return 0.0


class Stats:
    def __init__(self) -> None:
        self.lock = threading.Lock()
        self.latencies: list[float] = []
        self.failures: list[str] = []
        self.answered: dict[tuple[str, str], float] = {}   # (name, detail) -> time of the answer
        self.sent_violations: dict[str, int] = {}
        self.replays = 0
        self.heartbeats = 0
        self.sessions = 0
        self.resumed = 0


SESSION = re.compile(r'"session":"([0-9A-Za-z_-]{16,64})"')


def pc(target: Client, n: int, args, stats: Stats, stop_at: float, rng: random.Random) -> None:
    name = f"Siswa {n:04d}"
    # A PC of its own on the loopback, as on a school's network: the server meters new
    # connections per address, and 1,000 PCs behind one would be a flood.
    address = f"127.0.{1 + n // 250}.{1 + n % 250}"
    headers = {"Content-Type": "application/json; charset=UTF-8", "User-Agent": "ORVELSelvaroCBT/1.0"}
    session = ""
    resume: dict | None = {} if args.resume else None

    def post(path: str, body: dict, key: str | None, expect: bytes = b"") -> bytes | None:
        data = json.dumps(body, ensure_ascii=False, separators=(",", ":")).encode()
        h = dict(headers, **({"Idempotency-Key": key} if key else {}), **({"Exam-Session": session} if session else {}))
        began = time.monotonic()
        try:
            status, _, answer = target.request("POST", path, data, h, source=address, resume=resume)
        except OSError as e:
            status, answer = 0, str(e).encode()
        took = time.monotonic() - began
        with stats.lock:
            stats.latencies.append(took)
            if status != 200 or expect not in answer:
                stats.failures.append(f"{name} {path}: {status} {answer[:80]!r}")
                return None
        return answer

    def heartbeats(until: threading.Event) -> None:
        while not until.wait(args.heartbeat):
            if post("/api/exam/heartbeat", {"session": session}, None, b'{"ok":true}') is not None:
                with stats.lock:
                    stats.heartbeats += 1

    time.sleep(rng.uniform(0, args.ramp if args.ramp is not None else args.interval))
    answer = post("/api/exam/verify", {"studentName": name, "className": CLASS, "token": TOKEN}, None, b'"ok":true')
    found = SESSION.search((answer or b"").decode("utf-8", "replace"))
    ended = threading.Event()
    if found and args.heartbeat > 0:
        session = found.group(1)
        with stats.lock:
            stats.sessions += 1
        beat = threading.Thread(target=heartbeats, args=(ended,), daemon=True)
        beat.start()
    count = 0
    event, detail = "START", "Siswa memulai ujian di aplikasi PC."
    while True:
        report = {"studentName": name, "className": CLASS, "token": TOKEN, "event": event, "detail": detail}
        key = secrets.token_hex(16)
        if post("/api/exam/event", report, key) is not None:
            with stats.lock:
                stats.answered[(name, detail)] = time.monotonic()
                if event == "VIOLATION":
                    stats.sent_violations[name] = stats.sent_violations.get(name, 0) + 1
            if rng.random() < args.replays:  # the answer was "lost": the same report again
                post("/api/exam/event", report, key)
                with stats.lock:
                    stats.replays += 1
        if event == "FINISH":
            ended.set()
            if found and args.heartbeat > 0:
                beat.join()
            with stats.lock:
                stats.resumed += (resume or {}).get("resumed", 0)
            return
        time.sleep(args.interval)
        if time.monotonic() >= stop_at:
            event, detail = "FINISH", "Siswa menyelesaikan ujian di aplikasi PC."
        else:
            count += 1
            event, detail = "VIOLATION", f"Siswa mencoba beralih dari jendela ujian PC (Pelanggaran ke-{count})"


class Stream(threading.Thread):
    """A proctor page's stream: notes when each report arrives."""

    def __init__(self, target: Target, cookie: str) -> None:
        super().__init__(daemon=True)
        self.target, self.cookie = target, cookie
        self.arrived: dict[tuple[str, str], float] = {}
        self.pings, self.open = 0, threading.Event()
        self.sock: ssl.SSLSocket | None = None

    def run(self) -> None:
        raw = socket.create_connection(("127.0.0.1", self.target.port))
        self.sock = self.target.ctx.wrap_socket(raw, server_hostname="localhost")
        self.sock.sendall(f"GET /api/proctor/stream HTTP/1.1\r\nHost: localhost\r\nCookie: {self.cookie}\r\n\r\n".encode())
        buf = b""
        try:
            while True:
                chunk = self.sock.recv(65536)
                if not chunk:
                    return
                now = time.monotonic()
                buf += chunk
                while b"\n\n" in buf:
                    block, buf = buf.split(b"\n\n", 1)
                    text = block.decode("utf-8")
                    if "retry:" in text:
                        self.open.set()
                    if text.startswith(":"):
                        self.pings += 1
                    for line in text.split("\n"):
                        if line.startswith("data: {") and "event: report" in text:
                            d = json.loads(line[6:])
                            self.arrived[(d["studentName"], d["detail"])] = now
        except OSError:
            return


def main() -> int:
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--pcs", type=int, default=40)
    p.add_argument("--seconds", type=float, default=600)
    p.add_argument("--interval", type=float, default=5)
    p.add_argument("--heartbeat", type=float, default=15, help="seconds between heartbeats (0: none)")
    p.add_argument("--ramp", type=float, help="seconds over which the PCs verify and start (default: --interval)")
    p.add_argument("--streams", type=int, default=3)
    p.add_argument("--replays", type=float, default=0.1, help="share of reports sent twice")
    p.add_argument("--max-delay", type=float, default=2.0)
    p.add_argument("--pyz", help="run this zipapp instead of the package")
    p.add_argument("--procs", type=int, default=0, help=f"client processes (default: one per {PCS_A_PROCESS} PCs)")
    p.add_argument("--postgres", metavar="URL", help="a PostgreSQL cluster to make the load's database in")
    p.add_argument("--processes", type=int, default=1, help="the server's serving processes (more than 1: --postgres)")
    p.add_argument("--resume", action="store_true", help="each PC offers its TLS session again, as WinHTTP does")
    p.add_argument("--nice", type=int, default=0,
                   help="the client processes' niceness (10: below the server; their hundreds of threads still "
                        "take their share of the processor)")
    args = p.parse_args()
    rng = random.Random(18)
    print("machine:", uptime())
    database = fresh_database(args.postgres) if args.postgres else "load.db"
    with tempfile.TemporaryDirectory(prefix="orvel-load.") as tmp:
        target = Target(Path(tmp), args.pyz, database, args.processes)
        try:
            return measure(target, args, rng)
        finally:
            code = target.stop()
            target.log.seek(0)
            errors = [l for l in target.log if "error" in l.lower()]
            if code != 0 or errors:
                print(f"server: exit code {code}; " + "".join(errors[:5]))


def fresh_database(cluster: str) -> str:
    import psycopg  # only for a load on PostgreSQL
    name = "orvel_load_" + secrets.token_hex(4)
    with psycopg.connect(cluster, autocommit=True) as c:
        c.execute(f"CREATE DATABASE {name}")
    return cluster.replace("/postgres?", f"/{name}?", 1) if "/postgres?" in cluster else cluster.rsplit("/", 1)[0] + "/" + name


def shard(port: int, ca: str, first: int, count: int, args: dict, stop_at: float, seed: float) -> dict:
    """PCs first .. first+count-1 in a process of their own (real PCs do not
    share one Python's lock); what they saw, as plain values."""
    # A hundred threads waiting on their sockets: a short switch interval keeps
    # this process's own lock from adding to the latencies it measures.
    sys.setswitchinterval(0.001)
    if args.get("nice"):
        os.nice(args["nice"])
    client, stats, rng = Client(port, ca), Stats(), random.Random(seed)
    ns = argparse.Namespace(**args)
    pcs = [threading.Thread(target=pc, args=(client, n, ns, stats, stop_at, random.Random(rng.random())))
           for n in range(first, first + count)]
    for t in pcs:
        t.start()
    for t in pcs:
        t.join()
    return {"latencies": stats.latencies, "failures": stats.failures, "answered": list(stats.answered.items()),
            "sent_violations": stats.sent_violations, "replays": stats.replays, "heartbeats": stats.heartbeats,
            "sessions": stats.sessions, "resumed": stats.resumed}


def measure(target: Target, args, rng: random.Random) -> int:
    stats = Stats()
    streams = [Stream(target, target.login()) for _ in range(args.streams)]
    for s in streams:
        s.start()
        s.open.wait(10)
    procs = args.procs or max(1, -(-args.pcs // PCS_A_PROCESS))
    serving = target.serving()
    cpu_before = {pid: cpu_seconds(pid) for pid in serving}
    database_before = postgres_cpu() if args.postgres else 0.0
    began = time.monotonic()
    stop_at = began + args.seconds
    plain = {k: v for k, v in vars(args).items()}
    sizes = [args.pcs // procs + (1 if i < args.pcs % procs else 0) for i in range(procs)]
    clients_before = resource.getrusage(resource.RUSAGE_CHILDREN)
    with concurrent.futures.ProcessPoolExecutor(procs, mp_context=multiprocessing.get_context("spawn")) as pool:
        jobs = [pool.submit(shard, target.port, target.ca, 1 + sum(sizes[:i]), sizes[i], plain, stop_at, rng.random())
                for i in range(procs)]
        for job in jobs:
            part = job.result()
            stats.latencies += part["latencies"]
            stats.failures += part["failures"]
            stats.answered.update((tuple(k), t) for k, t in part["answered"])
            stats.sent_violations.update(part["sent_violations"])
            stats.replays += part["replays"]
            stats.heartbeats += part["heartbeats"]
            stats.sessions += part["sessions"]
            stats.resumed += part["resumed"]
    took = time.monotonic() - began
    clients_after = resource.getrusage(resource.RUSAGE_CHILDREN)
    clients_cpu = (clients_after.ru_utime + clients_after.ru_stime) - (clients_before.ru_utime + clients_before.ru_stime)
    per_process = [(pid, cpu_seconds(pid) - cpu_before.get(pid, 0.0), rss_mb(pid)) for pid in serving]
    database_cpu = postgres_cpu() - database_before if args.postgres else 0.0
    # Every answered report must reach every stream; give the last ones a moment.
    end = time.monotonic() + args.max_delay + 1
    while time.monotonic() < end and not all(set(stats.answered) <= set(s.arrived) for s in streams):
        time.sleep(0.05)
    delays, missing = [], 0
    for s in streams:
        for k, t in stats.answered.items():
            if k in s.arrived:
                delays.append(max(0.0, s.arrived[k] - t))
            else:
                missing += 1
    for s in streams:
        if s.sock:
            s.sock.close()

    cookie = target.login()
    _, _, data = target.request("GET", "/api/proctor/export.csv", headers={"Cookie": cookie})
    rows = list(csv.reader(io.StringIO(data.decode("utf-8-sig"))))[1:]
    _, _, data = target.request("GET", "/api/proctor/roster", headers={"Cookie": cookie})
    roster = {s["studentName"]: s for s in json.loads(data)}
    counts_exact = (len(rows) == len(stats.answered) and len({(r[4], r[7]) for r in rows}) == len(rows)
                    and all(roster.get(n, {}).get("violations") == v for n, v in stats.sent_violations.items())
                    and sum(1 for s in roster.values() if s["state"] == "Selesai") == args.pcs)

    lat = sorted(stats.latencies)
    p50 = statistics.median(lat) * 1000 if lat else 0
    p99 = lat[min(len(lat) - 1, int(len(lat) * 0.99))] * 1000 if lat else 0
    max_delay = max(delays) if delays else 0.0
    ramp = args.ramp if args.ramp is not None else args.interval
    print(f"{args.pcs} PCs in {procs} client process(es) starting over {ramp:g} s, {took:.0f} s, a report every "
          f"{args.interval:g} s, {args.streams} streams, {args.replays:.0%} sent twice")
    print(f"requests: {len(lat)} ({len(lat) / took:.1f}/s), replays: {stats.replays}, "
          f"heartbeats: {stats.heartbeats} ({stats.sessions} sessions), failures: {len(stats.failures)}")
    print(f"latency: p50 {p50:.1f} ms, p99 {p99:.1f} ms, max {lat[-1] * 1000 if lat else 0:.1f} ms"
          + (f"; TLS sessions resumed: {stats.resumed}" if args.resume else ""))
    for i, (pid, cpu, rss) in enumerate(per_process, 1):
        print(f"serving process {i}/{len(per_process)}: {cpu:.0f} s of processor ({cpu / took:.0%} of a core), "
              f"{rss:.0f} MB")
    if args.postgres:
        print(f"PostgreSQL: {database_cpu:.0f} s of processor ({database_cpu / took:.0%} of a core)")
    print(f"load clients{f' (nice {args.nice})' if args.nice else ''}: {clients_cpu:.0f} s of processor "
          f"({clients_cpu / took:.0%} of a core)")
    print(f"stream delay: max {max_delay * 1000:.0f} ms, median {statistics.median(delays) * 1000 if delays else 0:.0f} ms,"
          f" missing {missing}")
    print(f"stored: {len(rows)} reports for {len(stats.answered)} answered; counts exact: {'yes' if counts_exact else 'NO'}")
    for f in stats.failures[:10]:
        print("failed:", f)
    ok = not stats.failures and counts_exact and missing == 0 and max_delay <= args.max_delay
    print("machine afterwards:", uptime())
    print("load: " + ("ok" if ok else "FAILED"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
