"""What a student's laptop on the school network can do to the exam server,
measured: slow clients and a flood of idle connections, while a launcher on
another address verifies twice a second.

    python3 server/tools/attack.py [--tricklers 48] [--idle 200] [--addresses 4]
                                   [--seconds 30] [--pyz build/orvel-exam-server.pyz]

Slow: --tricklers TLS connections each send one byte of a header a second (a
line that never ends). Idle: --idle TLS connections from --addresses other
loopback addresses (127.0.0.2 and on) make their handshake and say nothing,
each opened again as soon as the server closes it. Starts a throw-away server
of its own, prints the verify latencies and when each trickler was cut, and
exits 1 when a verify failed or took over 1 s, or a trickler was not cut
within 12 s of its connect.
"""
from __future__ import annotations

import argparse
import json
import socket
import ssl
import statistics
import sys
import tempfile
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from load import CLASS, TOKEN, Target, uptime  # noqa: E402

VERIFY_LIMIT = 1.0
CUT_LIMIT = 12.0


class Verifier(threading.Thread):
    """A launcher on 127.0.0.1: a verify every half second, each timed."""

    def __init__(self, target: Target) -> None:
        super().__init__(daemon=True)
        self.target, self.stop = target, threading.Event()
        self.took: list[float] = []
        self.failures: list[str] = []
        self.body = json.dumps({"studentName": "Penguji", "className": CLASS, "token": TOKEN}).encode()

    def run(self) -> None:
        while not self.stop.wait(0.5):
            began = time.monotonic()
            try:
                status, _, answer = self.target.request("POST", "/api/exam/verify", self.body,
                                                        {"Content-Type": "application/json"}, timeout=15)
            except OSError as e:
                status, answer = 0, str(e).encode()
            self.took.append(time.monotonic() - began)
            if status != 200 or b'"ok":true' not in answer:
                self.failures.append(f"{status} {answer[:80]!r}")


def connect(target: Target, source: str) -> ssl.SSLSocket:
    raw = socket.create_connection(("127.0.0.1", target.port), timeout=15, source_address=(source, 0))
    return target.ctx.wrap_socket(raw, server_hostname="localhost")


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


def slow(target: Target, n: int, seconds: float) -> tuple[list[float], int]:
    """(seconds from connect to cut for each trickler cut, how many were never cut)"""
    head = b"POST /api/exam/verify HTTP/1.1\r\nHost: localhost\r\nX-Lambat: " + b"a" * 10000
    conns = []
    for _ in range(n):
        conns.append((connect(target, "127.0.0.1"), time.monotonic()))
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


def idle(target: Target, n: int, addresses: int, seconds: float) -> tuple[int, int]:
    """(connections opened, of which cut by the server) over `seconds`."""
    sources = [f"127.0.0.{2 + i % addresses}" for i in range(n)]
    conns = [connect(target, s) for s in sources]
    opened, cut = n, 0
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        for i, c in enumerate(conns):
            if closed(c):
                c.close()
                cut += 1
                try:
                    conns[i] = connect(target, sources[i])
                    opened += 1
                except OSError:
                    pass
        time.sleep(0.2)
    for c in conns:
        c.close()
    return opened, cut


def timed(name: str, target: Target, attack) -> tuple[bool, str]:
    v = Verifier(target)
    v.start()
    result = attack()
    v.stop.set()
    v.join()
    took = sorted(v.took)
    ok = not v.failures and bool(took) and took[-1] <= VERIFY_LIMIT
    line = (f"{name}: {len(took)} verifies from 127.0.0.1, median {statistics.median(took) * 1000:.0f} ms, "
            f"max {took[-1] * 1000:.0f} ms, failed {len(v.failures)}" if took else f"{name}: no verify answered")
    return ok, line + "".join(f"\n  failed: {f}" for f in v.failures[:5])


def main() -> int:
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--tricklers", type=int, default=48)
    p.add_argument("--idle", type=int, default=200)
    p.add_argument("--addresses", type=int, default=4)
    p.add_argument("--seconds", type=float, default=30)
    p.add_argument("--pyz", help="run this zipapp instead of the package")
    args = p.parse_args()
    print("machine:", uptime())
    with tempfile.TemporaryDirectory(prefix="orvel-attack.") as tmp:
        target = Target(Path(tmp), args.pyz)
        try:
            found: dict[str, object] = {}
            ok1, line1 = timed(f"{args.tricklers} tricklers", target,
                               lambda: found.setdefault("slow", slow(target, args.tricklers, args.seconds)))
            cuts, never = found["slow"]  # type: ignore[misc]
            print(line1)
            print(f"  tricklers cut {min(cuts):.1f} to {max(cuts):.1f} s after their connect, never cut: {never}"
                  if cuts else f"  no trickler was cut; never cut: {never}")
            ok1 = ok1 and never == 0 and bool(cuts) and max(cuts) <= CUT_LIMIT
            ok2, line2 = timed(f"{args.idle} idle connections from {args.addresses} addresses", target,
                               lambda: found.setdefault("idle", idle(target, args.idle, args.addresses, args.seconds)))
            opened, cut = found["idle"]  # type: ignore[misc]
            print(line2)
            print(f"  idle connections opened {opened}, cut by the server {cut}")
        finally:
            code = target.stop()
            if code != 0:
                print(f"server: exit code {code}")
    ok = ok1 and ok2 and code == 0
    print("attack: " + ("held" if ok else "FAILED"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
