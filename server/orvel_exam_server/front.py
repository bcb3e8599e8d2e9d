"""The connection front: one thread accepts every connection, makes its TLS
handshake and reads its whole request without ever waiting on one client;
only a complete request goes to a worker thread.

A worker that reads its own request is held by whoever sends slowly or not
at all. Here a slow or silent client holds a socket and nothing else, and
every connection has 10 s in all (handshake, head and body) before it is
cut. The connections still being read are capped per address and in all:
over a cap the oldest connection of the address with the most goes first,
so a flood from a few addresses cannot crowd out a launcher from another.
New connections from one address are metered before their handshake, and
one selector step reads a bounded amount from one connection, so a client
sending in tiny pieces takes its turn like the others.
"""
from __future__ import annotations

import collections
import errno
import io
import os
import queue
import re
import selectors
import socket
import ssl
import struct
import sys
import threading
import time
from dataclasses import dataclass
from typing import Callable

MAX_HEAD = 8 * 1024
# A launcher's largest report is about 4.2 KB; its routes and everything
# before the proctor's login take 8 KiB, the proctor's own routes more.
SMALL_BODY = 8 * 1024
MAX_BODY = 64 * 1024
PROCTOR_ROUTES = b"/api/proctor/"
STEP_BYTES = 64 * 1024   # read from one connection in one selector step at most
STEP_RECEIVES = 16       # receives in one step at most: a TLS record can be one byte
# Receives for one request at most: a client's request comes in a few TLS
# records; one sent a byte a record costs the server a receive each, and is refused.
MAX_RECEIVES = 256
BUFFERED = 32 << 20      # bytes of all unfinished requests together; beyond it the largest goes
HANDSHAKES = (50.0, 200.0)  # new connections a second from one address, and its burst (a NAT lab needs about 10)
REQUEST_SECONDS = 10.0   # from the connect to the last byte of the body
WRITE_SECONDS = 10.0     # a worker writing to a client that does not read
PER_ADDRESS = 256        # connections being read from one address (a lab behind NAT is one)
# Windows' select() takes at most 512 sockets; elsewhere the process's files
# decide (connection_cap), up to this.
MAX_READING = 480 if os.name == "nt" else 8192
ACCEPT_BATCH = 64        # accepted per turn, so that reading goes on during a burst
REFUSED_BATCH = 1024     # closed at once per turn: a flood from one address leaves the queue to the others
BACKLOG = 4096           # above what one address may keep in flight before its meter cuts in
KEEPALIVE = (30, 10, 3)  # idle seconds, seconds between probes, probes: a vanished device's connection ends
UNACKED_SECONDS = 60     # data unacknowledged this long ends the connection (where the system can)
# Linux gives an accepted connection the listening socket's TCP options.
INHERITED = sys.platform.startswith("linux")
# A thread that wants Python's lock back after a system call waits until the
# holder gives it up, by default up to 5 ms. The front makes several such
# calls per connection (accept, handshake, reads) and would wait that long on
# each while workers compute. With 1,000 PCs, in three pairs of runs, 0.5 ms
# served 220, 223 and 241 requests a second where 5 ms served 158, 200 and 202.
SWITCH_SECONDS = 0.0005
JOBS = 1024              # complete requests waiting for a worker; more are answered 503

BUSY = (b"HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Length: 0\r\n"
        b"Retry-After: 1\r\nConnection: close\r\n\r\n")
CUT_SHORT = (b"HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Length: 30\r\n"
             b"Connection: close\r\n\r\nRequest body shorter than sent.")
CONTINUE = b"HTTP/1.1 100 Continue\r\n\r\n"
RESET = struct.pack("HH" if os.name == "nt" else "ii", 1, 0)  # SO_LINGER on, 0 s: close() resets


@dataclass
class Incoming:
    """A request read whole by the front, for a worker to answer."""
    sock: socket.socket
    address: tuple
    data: bytes              # the head and the body as received
    refused: int = 0         # answer this status without looking further: 431, 400 or 417
    seq: int = 0             # handed over in this order (workers may start them in another)


# What a request's head asks of the front.
@dataclass(frozen=True)
class Head:
    body: int = 0            # bytes of body that follow the head
    refused: int = 0         # 400 (a folded or malformed line), 417 (an Expect it cannot meet)
    continue_first: bool = False  # the client waits for "100 Continue" before its body


TOKEN = re.compile(rb"[!#$%&'*+\-.^_`|~0-9A-Za-z]+")


def head_end(buf: bytes | bytearray, searched: int) -> int:
    """Where the head ends in `buf` (just past its blank line), or -1 while
    it goes on. The first `searched` bytes were searched before: only the
    new ones are, from the few before them that could start the blank line."""
    start = max(0, searched - 2)
    ends = [i + len(sep) for sep in (b"\n\n", b"\n\r\n") if (i := buf.find(sep, start)) >= 0]
    return min(ends) if ends else -1


CLASS_LIST_ROUTE = b"/api/proctor/class-list"
CLASS_LIST_BODY = 1 << 20  # a class list's file, 1 MB at most


def body_limit(target: bytes) -> int:
    if target.startswith(CLASS_LIST_ROUTE) and target[len(CLASS_LIST_ROUTE):][:1] in (b"", b"?"):
        return CLASS_LIST_BODY
    return MAX_BODY if target.startswith(PROCTOR_ROUTES) else SMALL_BODY


def parse_head(head: bytes) -> Head:
    """What the front needs of a complete head. Only a POST has a body, of
    Content-Length bytes; a POST without a usable length, chunked or over its
    route's limit ends with its head, and the handler answers 411 or 413.
    A folded line or one that is no "name: value" is refused here: the
    handler's parser would read it otherwise than this one."""
    lines = head.split(b"\n")
    request = lines[0].split(b" ")
    fields: dict[bytes, bytes] = {}
    for line in lines[1:]:
        line = line.rstrip(b"\r")
        if not line:
            break
        name, sep, value = line.partition(b":")
        if not sep or not TOKEN.fullmatch(name):
            return Head(refused=400)  # " Content-Length: 0" folded into the line before it, among others
        fields.setdefault(name.lower(), value.strip())  # the first wins, as for the handler
    expect = fields.get(b"expect", b"").lower()
    if expect not in (b"", b"100-continue"):
        return Head(refused=417)
    if request[0] != b"POST" or len(request) < 2:
        return Head()
    if b"chunked" in fields.get(b"transfer-encoding", b"").lower():
        return Head()
    try:
        length = int(fields.get(b"content-length", b""))
    except ValueError:
        return Head()
    if length < 0 or length > body_limit(request[1]):
        return Head()
    return Head(length, 0, expect == b"100-continue" and length > 0)


def request_size(buf: bytes) -> tuple[int | None, int]:
    """(bytes that make the whole request, the status it is refused with) for
    what has come so far; the size is None while the head is not complete."""
    end = head_end(buf, 0)
    if end < 0:
        return None, 431 if len(buf) > MAX_HEAD else 0
    if end > MAX_HEAD:
        return None, 431
    head = parse_head(bytes(buf[:end]))
    return end + head.body, head.refused


def admit(bucket: tuple[float, float] | None, now: float, rate: float, burst: float) -> tuple[bool, tuple[float, float]]:
    """A token bucket: (whether one more connection may come now, the bucket
    after it). `bucket` is (tokens, when counted); None is a full one."""
    tokens, then = bucket if bucket is not None else (burst, now)
    tokens = min(burst, tokens + max(0.0, now - then) * rate)
    if tokens < 1.0:
        return False, (tokens, now)
    return True, (tokens - 1.0, now)


def connection_cap(files: int | None, workers: int) -> int:
    """Connections the front may be reading at once with `files` open files
    allowed (None: no such limit): what the workers' sockets, the database's
    connections (three files each) and the rest of the process leave."""
    if files is None or files <= 0:
        return MAX_READING
    return max(16, min(MAX_READING, files - workers * 4 - 128))


def open_files() -> int | None:
    try:
        import resource
    except ImportError:  # Windows
        return None
    soft, _ = resource.getrlimit(resource.RLIMIT_NOFILE)
    return None if soft == resource.RLIM_INFINITY else soft


class SocketWriter(io.BufferedIOBase):
    """The handler's wfile: every write goes out whole, at once."""

    def __init__(self, sock: socket.socket) -> None:
        self._sock = sock

    def writable(self) -> bool:
        return True

    def write(self, b) -> int:
        self._sock.sendall(b)
        with memoryview(b) as view:
            return view.nbytes

    def fileno(self) -> int:
        return self._sock.fileno()


class _Reading:
    __slots__ = ("sock", "address", "deadline", "handshaking", "buf", "events", "searched", "end", "head",
                 "receives")

    def __init__(self, sock: socket.socket, address: tuple, deadline: float, handshaking: bool) -> None:
        # handshaking: TLS still to come; the TLS object is made at the first byte, so an idle
        # connection costs a socket and this, not OpenSSL's buffers.
        self.sock, self.address, self.deadline, self.handshaking = sock, address, deadline, handshaking
        self.buf = bytearray()
        self.events = 0
        self.searched = 0              # bytes of buf searched for the head's end
        self.end = -1                  # the head's end once found
        self.head: Head | None = None
        self.receives = 0


def listen(host: str, port: int, shared: bool = False) -> socket.socket:
    """The listening socket. Raises OSError (socket.gaierror for a name that
    does not resolve) as bind() does. `shared`: the serving processes of one
    box each listen on the port and the system spreads the connections."""
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    sock = socket.socket(family, socket.SOCK_STREAM)
    try:
        if os.name == "nt":
            # There SO_REUSEADDR would let a second copy bind beside the first.
            sock.setsockopt(socket.SOL_SOCKET, getattr(socket, "SO_EXCLUSIVEADDRUSE", -5), 1)
        else:
            # Here it only lets a restart bind while old connections linger; a second bind still fails.
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            if shared:
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
        if INHERITED:
            _tune(sock)  # taken over by every connection accepted
        sock.bind((host, port))
        sock.listen(BACKLOG)
        sock.setblocking(False)
    except BaseException:
        sock.close()
        raise
    return sock


def _tune(sock: socket.socket) -> None:
    """Keep-alive probes and a limit on unacknowledged data, so that a proctor
    stream whose device vanished ends within minutes, not after the system's
    quarter of an hour; no Nagle delay on the small answers."""
    try:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_KEEPALIVE, 1)
        idle, interval, probes = KEEPALIVE
        if hasattr(socket, "TCP_KEEPIDLE"):
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_KEEPIDLE, idle)
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_KEEPINTVL, interval)
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_KEEPCNT, probes)
        elif hasattr(socket, "SIO_KEEPALIVE_VALS"):
            sock.ioctl(socket.SIO_KEEPALIVE_VALS, (1, idle * 1000, interval * 1000))
        if hasattr(socket, "TCP_USER_TIMEOUT"):
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_USER_TIMEOUT, UNACKED_SECONDS * 1000)
        elif os.name == "nt":
            sock.setsockopt(socket.IPPROTO_TCP, 5, UNACKED_SECONDS)  # TCP_MAXRT, in seconds
    except OSError:
        pass  # an option the system lacks: the connection works without it


def _close(sock: socket.socket) -> None:
    try:
        sock.close()
    except OSError:
        pass


class Front:
    """Accepts on `sock`, reads requests whole, and calls `handle(incoming)`
    for each on one of `workers` threads, each of which first calls
    `worker_start` (to open what it needs while files are still to be had).
    serve_forever, shutdown and server_close are used as socketserver's are."""

    def __init__(self, sock: socket.socket, context: ssl.SSLContext | None,
                 log: Callable[[str], None], workers: int, worker_start: Callable[[], None] = lambda: None) -> None:
        self.socket, self.context, self.log = sock, context, log
        sys.setswitchinterval(SWITCH_SECONDS)  # for the whole process: the front shares its lock with the workers
        self.server_address = sock.getsockname()
        self.max_reading = connection_cap(open_files(), workers)
        self.jobs: queue.Queue[Incoming | None] = queue.Queue(maxsize=JOBS)
        self.reading: collections.OrderedDict[int, _Reading] = collections.OrderedDict()  # oldest first
        self.by_address: dict[str, dict[int, _Reading]] = {}
        self.ready: dict[int, _Reading] = {}  # stopped at a step's budget with more to read
        self.buckets: dict[str, tuple[float, float]] = {}
        self.buffered = 0
        self.handed = 0
        self.selector = selectors.DefaultSelector()
        self.selector.register(sock, selectors.EVENT_READ, None)
        self._stop = threading.Event()
        self._stopped = threading.Event()
        self._stopped.set()
        self.worker_start = worker_start
        self.workers = [threading.Thread(target=self._work, name=f"http-{i}", daemon=True) for i in range(workers)]
        for t in self.workers:
            t.start()

    def handle(self, incoming: Incoming) -> None:
        raise NotImplementedError

    # The front's thread.
    def serve_forever(self, poll_interval: float = 0.5) -> None:
        self._stopped.clear()
        try:
            while not self._stop.is_set():
                timeout = poll_interval
                if self.ready:
                    timeout = 0.0
                elif self.reading:
                    first = next(iter(self.reading.values()))
                    timeout = max(0.0, min(timeout, first.deadline - time.monotonic()))
                events = self.selector.select(timeout)
                again, self.ready = self.ready, {}
                for key, _ in events:
                    if key.data is None:
                        self._accept()
                    elif key.data.sock.fileno() >= 0:
                        again.pop(key.data.sock.fileno(), None)
                        self._step(key.data)
                for fd, c in again.items():
                    if self.reading.get(fd) is c:
                        self._step(c)
                self._expire(time.monotonic())
        finally:
            self._stopped.set()

    def shutdown(self) -> None:
        self._stop.set()
        self._stopped.wait()

    def server_close(self) -> None:
        self._stop.set()
        self._stopped.wait()
        self.selector.close()
        _close(self.socket)
        for c in list(self.reading.values()):
            _close(c.sock)
        self.reading.clear()
        self.by_address.clear()
        self.ready.clear()
        for _ in self.workers:
            try:
                self.jobs.put_nowait(None)
            except queue.Full:
                break  # the workers are daemons: they end with the process

    def _admit(self, host: str, now: float) -> bool:
        if len(self.buckets) > 4096:
            # A bucket full again is as good as none: the table stays as small as the traffic.
            rate, burst = HANDSHAKES
            self.buckets = {k: b for k, b in self.buckets.items() if b[0] + (now - b[1]) * rate < burst}
        ok, self.buckets[host] = admit(self.buckets.get(host), now, *HANDSHAKES)
        return ok

    def _accept(self) -> None:
        accepted = refused = 0
        while accepted < ACCEPT_BATCH and refused < REFUSED_BATCH:
            try:
                sock, address = self.socket.accept()
            except (BlockingIOError, InterruptedError):
                return
            except OSError as e:
                if e.errno in (errno.EMFILE, errno.ENFILE, errno.ENOBUFS, errno.ENOMEM) and self.reading:
                    self._evict()  # out of sockets: the oldest of the largest crowd makes room
                    continue
                return  # a connection reset before it was taken, and the like
            now = time.monotonic()
            if not self._admit(address[0], now):
                # Too many new connections from this address: no handshake for it, and
                # a reset rather than a close, so that no TIME_WAIT is left behind.
                try:
                    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, RESET)
                except OSError:
                    pass
                _close(sock)
                refused += 1
                continue
            accepted += 1
            if not INHERITED:
                _tune(sock)
            sock.setblocking(False)
            c = _Reading(sock, address, now + REQUEST_SECONDS, self.context is not None)
            crowd = self.by_address.setdefault(address[0], {})
            if len(crowd) >= PER_ADDRESS:
                self._drop(next(iter(crowd.values())))
            if len(self.reading) >= self.max_reading:
                self._evict()
            fd = sock.fileno()
            self.reading[fd] = c
            self.by_address.setdefault(address[0], {})[fd] = c
            self._want(c, selectors.EVENT_READ)  # the client speaks first

    def _evict(self) -> None:
        crowd = max(self.by_address.values(), key=len)
        self._drop(next(iter(crowd.values())))

    def _expire(self, now: float) -> None:
        while self.reading:
            c = next(iter(self.reading.values()))
            if c.deadline > now:
                return
            if c.head is not None and not c.handshaking:
                try:
                    c.sock.send(CUT_SHORT)  # the head came, the body did not: say so
                except (OSError, ValueError):
                    pass
            self._drop(c)

    def _want(self, c: _Reading, events: int) -> None:
        if c.events == events:
            return
        if c.events:
            self.selector.modify(c.sock, events, c)
        else:
            self.selector.register(c.sock, events, c)
        c.events = events

    def _forget(self, c: _Reading) -> None:
        fd = c.sock.fileno()
        if c.events:
            self.selector.unregister(c.sock)
            c.events = 0
        self.buffered -= len(c.buf)
        self.ready.pop(fd, None)
        self.reading.pop(fd, None)
        crowd = self.by_address.get(c.address[0])
        if crowd is not None:
            crowd.pop(fd, None)
            if not crowd:
                del self.by_address[c.address[0]]

    def _drop(self, c: _Reading) -> None:
        self._forget(c)
        _close(c.sock)

    def _start_tls(self, c: _Reading) -> None:
        assert self.context is not None
        if c.events:
            self.selector.unregister(c.sock)  # the TLS object takes over the descriptor
            c.events = 0
        c.sock = self.context.wrap_socket(c.sock, server_side=True, do_handshake_on_connect=False)

    def _step(self, c: _Reading) -> None:
        """Takes the handshake or the reading as far as it goes without
        waiting, reading at most STEP_BYTES in STEP_RECEIVES receives."""
        try:
            if c.handshaking:
                if not isinstance(c.sock, ssl.SSLSocket):
                    self._start_tls(c)
                c.sock.do_handshake()
                c.handshaking = False
            got = 0
            for _ in range(STEP_RECEIVES):
                chunk = c.sock.recv(min(65536, STEP_BYTES - got))
                if not chunk:
                    self._drop(c)
                    return
                got += len(chunk)
                c.buf += chunk
                self.buffered += len(chunk)
                c.receives += 1
                if c.receives > MAX_RECEIVES:
                    self._hand_over(c, b"", 400)
                    break
                if self._judge(c) or got >= STEP_BYTES:
                    break
            if self.reading.get(c.sock.fileno()) is c:
                # At the turn's budget: more may be waiting, in the socket or in TLS's
                # own buffer (where the selector cannot see it), for the next turn.
                self.ready[c.sock.fileno()] = c
                self._want(c, selectors.EVENT_READ)
        except ssl.SSLWantReadError:
            self._want(c, selectors.EVENT_READ)
        except ssl.SSLWantWriteError:
            self._want(c, selectors.EVENT_WRITE)
        except BlockingIOError:
            self._want(c, selectors.EVENT_READ)
        except (OSError, ValueError):
            self._drop(c)  # a failed handshake or a client gone
        if self.buffered > BUFFERED:
            self._drop(max(self.reading.values(), key=lambda r: len(r.buf)))

    def _judge(self, c: _Reading) -> bool:
        """Looks at what has come since the last look; True once the request
        is handed over (or refused)."""
        if c.head is None:
            end = head_end(c.buf, c.searched)
            if end < 0:
                c.searched = len(c.buf)
                if len(c.buf) > MAX_HEAD:
                    self._hand_over(c, b"", 431)
                    return True
                return False
            if end > MAX_HEAD:
                self._hand_over(c, b"", 431)
                return True
            c.end, c.head = end, parse_head(bytes(c.buf[:end]))
            if c.head.refused:
                self._hand_over(c, bytes(c.buf[:end]), c.head.refused)
                return True
            if c.head.continue_first and len(c.buf) < end + c.head.body:
                try:
                    c.sock.send(CONTINUE)
                except (ssl.SSLWantWriteError, BlockingIOError):
                    pass  # a client that waits for it sends its body after a while anyway
        size = c.end + c.head.body
        if len(c.buf) < size:
            return False
        self._hand_over(c, bytes(c.buf[:size]), 0)
        return True

    def _hand_over(self, c: _Reading, data: bytes, refused: int) -> None:
        self._forget(c)
        self.handed += 1
        try:
            self.jobs.put_nowait(Incoming(c.sock, c.address, data, refused, self.handed))
        except queue.Full:  # every worker busy and a long line behind them
            try:
                c.sock.send(BUSY)
            except (OSError, ValueError):
                pass
            _close(c.sock)

    # The workers.
    def _work(self) -> None:
        try:
            self.worker_start()
        except Exception as e:
            self.log(f"error: a worker's start: {type(e).__name__}: {e}")
        while True:
            incoming = self.jobs.get()
            if incoming is None:
                return
            sock = incoming.sock
            try:
                sock.settimeout(WRITE_SECONDS)
                self.handle(incoming)
            except (OSError, ssl.SSLError):
                pass  # a client gone
            except Exception as e:
                self.log(f"error: {type(e).__name__}: {e}")
            finally:
                try:
                    sock.shutdown(socket.SHUT_WR)
                except (OSError, ValueError):
                    pass
                _close(sock)
