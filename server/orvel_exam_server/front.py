"""The connection front: one thread accepts every connection, makes its TLS
handshake and reads its whole request without ever waiting on one client;
only a complete request goes to a worker thread.

A worker that reads its own request is held by whoever sends slowly or not
at all. Here a slow or silent client holds a socket and nothing else, and
every connection has 10 s in all (handshake, head and body) before it is
cut. The connections still being read are capped per address and in all:
over a cap the oldest connection of the address with the most goes first,
so a flood from a few addresses cannot crowd out a launcher from another.
"""
from __future__ import annotations

import collections
import errno
import io
import os
import queue
import selectors
import socket
import ssl
import sys
import threading
import time
from dataclasses import dataclass
from typing import Callable

MAX_HEAD = 16 * 1024
MAX_BODY = 64 * 1024
REQUEST_SECONDS = 10.0   # from the connect to the last byte of the body
WRITE_SECONDS = 10.0     # a worker writing to a client that does not read
PER_ADDRESS = 256        # connections being read from one address (a lab behind NAT is one)
# Windows' select() takes at most 512 sockets; elsewhere the limit is the process's files.
MAX_READING = 480 if os.name == "nt" else 8192
ACCEPT_BATCH = 64        # accepted per turn, so that reading goes on during a burst
BACKLOG = 1024
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


@dataclass
class Incoming:
    """A request read whole by the front, for a worker to answer."""
    sock: socket.socket
    address: tuple
    data: bytes              # the head and the body as received
    too_large: bool = False  # the head is over MAX_HEAD: answer 431


def request_size(buf: bytes) -> tuple[int | None, bool]:
    """(bytes that make the whole request, head too large) for what has come
    so far; the size is None while the head is not complete.

    Only a POST has a body, of Content-Length bytes; a POST without a usable
    length, chunked or over MAX_BODY ends with its head, and the handler
    answers 411 or 413."""
    end = -1
    for sep in (b"\n\n", b"\n\r\n"):
        i = buf.find(sep)
        if i >= 0 and (end < 0 or i + len(sep) < end):
            end = i + len(sep)
    if end < 0:
        return None, len(buf) > MAX_HEAD
    if end > MAX_HEAD:
        return None, True
    lines = bytes(buf[:end]).split(b"\n")
    if not lines[0].startswith(b"POST "):
        return end, False
    fields: dict[bytes, bytes] = {}
    for line in lines[1:]:
        name, sep, value = line.partition(b":")
        if sep:
            fields.setdefault(name.strip().lower(), value.strip())  # the first wins, as for the handler
    if b"chunked" in fields.get(b"transfer-encoding", b"").lower():
        return end, False
    try:
        length = int(fields.get(b"content-length", b""))
    except ValueError:
        return end, False
    if length < 0 or length > MAX_BODY:
        return end, False
    return end + length, False


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
    __slots__ = ("sock", "address", "deadline", "handshaking", "buf", "events")

    def __init__(self, sock: socket.socket, address: tuple, deadline: float, handshaking: bool) -> None:
        self.sock, self.address, self.deadline, self.handshaking = sock, address, deadline, handshaking
        self.buf = bytearray()
        self.events = 0


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
    for each on one of `workers` threads. serve_forever, shutdown and
    server_close are used as socketserver's are."""

    def __init__(self, sock: socket.socket, context: ssl.SSLContext | None,
                 log: Callable[[str], None], workers: int) -> None:
        self.socket, self.context, self.log = sock, context, log
        sys.setswitchinterval(SWITCH_SECONDS)  # for the whole process: the front shares its lock with the workers
        self.server_address = sock.getsockname()
        self.jobs: queue.Queue[Incoming | None] = queue.Queue(maxsize=JOBS)
        self.reading: collections.OrderedDict[int, _Reading] = collections.OrderedDict()  # oldest first
        self.by_address: dict[str, dict[int, _Reading]] = {}
        self.selector = selectors.DefaultSelector()
        self.selector.register(sock, selectors.EVENT_READ, None)
        self._stop = threading.Event()
        self._stopped = threading.Event()
        self._stopped.set()
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
                if self.reading:
                    first = next(iter(self.reading.values()))
                    timeout = max(0.0, min(timeout, first.deadline - time.monotonic()))
                for key, _ in self.selector.select(timeout):
                    if key.data is None:
                        self._accept()
                    elif key.data.sock.fileno() >= 0:
                        self._step(key.data)
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
        for _ in self.workers:
            try:
                self.jobs.put_nowait(None)
            except queue.Full:
                break  # the workers are daemons: they end with the process

    def _accept(self) -> None:
        for _ in range(ACCEPT_BATCH):
            try:
                sock, address = self.socket.accept()
            except (BlockingIOError, InterruptedError):
                return
            except OSError as e:
                if e.errno in (errno.EMFILE, errno.ENFILE, errno.ENOBUFS, errno.ENOMEM) and self.reading:
                    self._evict()  # out of sockets: the oldest of the largest crowd makes room
                    continue
                return  # a connection reset before it was taken, and the like
            if not INHERITED:
                _tune(sock)
            sock.setblocking(False)
            handshaking = self.context is not None
            if handshaking:
                try:
                    sock = self.context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
                except (OSError, ValueError):
                    _close(sock)
                    continue
            c = _Reading(sock, address, time.monotonic() + REQUEST_SECONDS, handshaking)
            crowd = self.by_address.setdefault(address[0], {})
            if len(crowd) >= PER_ADDRESS:
                self._drop(next(iter(crowd.values())))
            if len(self.reading) >= MAX_READING:
                self._evict()
            fd = sock.fileno()
            self.reading[fd] = c
            self.by_address.setdefault(address[0], {})[fd] = c
            self._step(c)

    def _evict(self) -> None:
        crowd = max(self.by_address.values(), key=len)
        self._drop(next(iter(crowd.values())))

    def _expire(self, now: float) -> None:
        while self.reading:
            c = next(iter(self.reading.values()))
            if c.deadline > now:
                return
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
        self.reading.pop(fd, None)
        crowd = self.by_address.get(c.address[0])
        if crowd is not None:
            crowd.pop(fd, None)
            if not crowd:
                del self.by_address[c.address[0]]

    def _drop(self, c: _Reading) -> None:
        self._forget(c)
        _close(c.sock)

    def _step(self, c: _Reading) -> None:
        """Takes the handshake or the reading as far as it goes without waiting."""
        try:
            if c.handshaking:
                c.sock.do_handshake()
                c.handshaking = False
            while True:
                chunk = c.sock.recv(65536)
                if not chunk:
                    self._drop(c)
                    return
                c.buf += chunk
                size, too_large = request_size(c.buf)
                if too_large or (size is not None and len(c.buf) >= size):
                    self._hand_over(c, bytes(c.buf[:size]) if size is not None else b"", too_large)
                    return
        except ssl.SSLWantReadError:
            self._want(c, selectors.EVENT_READ)
        except ssl.SSLWantWriteError:
            self._want(c, selectors.EVENT_WRITE)
        except BlockingIOError:
            self._want(c, selectors.EVENT_READ)
        except (OSError, ValueError):
            self._drop(c)  # a failed handshake or a client gone

    def _hand_over(self, c: _Reading, data: bytes, too_large: bool) -> None:
        self._forget(c)
        try:
            self.jobs.put_nowait(Incoming(c.sock, c.address, data, too_large))
        except queue.Full:  # every worker busy and a long line behind them
            try:
                c.sock.send(BUSY)
            except (OSError, ValueError):
                pass
            _close(c.sock)

    # The workers.
    def _work(self) -> None:
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
