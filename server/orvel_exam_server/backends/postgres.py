"""PostgreSQL through psycopg 3: a district's exam on several server
processes, on one or more boxes, that share one database.

The store's statements are written with `?` for their values, as SQLite
takes them; here they become psycopg's `%s`. The connections run in
autocommit mode and the store opens and commits its transactions itself.
A NOTIFY sent inside a transaction reaches the listeners with its commit,
so a stream never hears of a report before it is stored.
"""
from __future__ import annotations

import select
import threading
import urllib.parse
from typing import Any, Callable

from .schema import INDEXES, tables

INSTALL_HINT = ("PostgreSQL needs psycopg 3, which this Python does not have: sudo apt install python3-psycopg "
                "(and start the server with /usr/bin/python3), or: python3 -m pip install \"psycopg[binary]\"")

CONNECT_SECONDS = 5     # an unreachable server fails the write instead of holding the writer
LOCK_SECONDS = "5s"     # a piece waits this long for a row another process holds
SCHEMA_LOCK = 0x4f52564c00000001   # held while the tables are made, so processes starting together take turns
# Held by every write transaction: the processes commit one after another,
# so report ids grow in the order of their commits and a stream that goes on
# after the last id it sent never misses one committed late. The store
# commits many pieces at once, so this costs one wait per batch.
WRITE_LOCK = 0x4f52564c00000002
DUTY_LOCKS = {"watch": 0x4f52564c00000003}   # a duty's lock, held by the process doing it
LISTEN_POLL = 1.0                  # seconds between looks whether the listening connection still lives

# Received times are fixed width: with the "C" collation their text order is
# their time order, in any locale.
SCHEMA = tables(key="BIGSERIAL PRIMARY KEY", bigint="BIGINT", real="DOUBLE PRECISION", stamp='TEXT COLLATE "C"',
                stored_order="seq BIGSERIAL,   -- the order they were stored in") + """
-- The columns later versions added, for a database an earlier one made.
ALTER TABLE reports ADD COLUMN IF NOT EXISTS body_hash TEXT;
ALTER TABLE reports ADD COLUMN IF NOT EXISTS session TEXT;
ALTER TABLE verifications ADD COLUMN IF NOT EXISTS session TEXT;
ALTER TABLE notices ADD COLUMN IF NOT EXISTS addresses TEXT NOT NULL DEFAULT '';
ALTER TABLE page_exams ADD COLUMN IF NOT EXISTS school TEXT NOT NULL DEFAULT '';
ALTER TABLE proctors ADD COLUMN IF NOT EXISTS school TEXT NOT NULL DEFAULT '';
""" + INDEXES


def shown_url(url: str) -> str:
    """The address without its password, for the log and the console."""
    parts = urllib.parse.urlsplit(url)
    if parts.password is None:
        return url
    host = parts.netloc.rpartition("@")[2]
    return urllib.parse.urlunsplit(parts._replace(netloc=f"{parts.username or ''}:***@{host}"))


def _clean(params: Any) -> Any:
    # PostgreSQL's text holds no NUL character; SQLite's does. Both store
    # the same replacement, so a key sent again finds its body.
    if not params:
        return None
    return tuple(p.replace("\x00", "\ufffd") if isinstance(p, str) and "\x00" in p else p for p in params)


class Connection:
    """A psycopg connection that takes the store's statements as they are written."""

    _sql: dict[str, str] = {}

    def __init__(self, raw: Any) -> None:
        self.raw = raw

    @classmethod
    def _q(cls, sql: str) -> str:
        q = cls._sql.get(sql)
        if q is None:
            q = cls._sql[sql] = sql.replace("?", "%s")
        return q

    def execute(self, sql: str, params: Any = ()) -> Any:
        return self.raw.execute(self._q(sql), _clean(params))

    def executemany(self, sql: str, seq: Any) -> Any:
        cur = self.raw.cursor()
        rows = [_clean(p) for p in seq]
        if rows:
            cur.executemany(self._q(sql), rows)
        return cur

    def close(self) -> None:
        self.raw.close()


class Postgres:
    """The database at a postgresql:// address."""

    shared = True                   # several serving processes may use it at once
    session_order = "s.seq"
    skip_locked = " FOR UPDATE SKIP LOCKED"   # a row another process is taking is left to it
    readers = 8                     # connections for reading, per process, shared by its threads

    def __init__(self, url: str) -> None:
        try:
            import psycopg
        except ImportError:
            raise ImportError(INSTALL_HINT) from None
        self.psycopg = psycopg
        self.url = url
        self.name = shown_url(url)
        self.folder = None          # the disk is the database server's
        self.user = urllib.parse.urlsplit(url).username or ""
        self.Error = (psycopg.Error, OSError)
        self._leading: dict[str, Any] = {}   # a duty's connection, holding its lock
        self._lead_lock = threading.Lock()

    def connect(self) -> Any:
        # Keep-alives: a database box that vanishes (power, network) fails the
        # statement waiting on it within about 15 s instead of the system's hours.
        return self.psycopg.connect(self.url, autocommit=True, connect_timeout=CONNECT_SECONDS,
                                    application_name="orvel-exam-server", keepalives=1, keepalives_idle=5,
                                    keepalives_interval=2, keepalives_count=3)

    def open_writer(self) -> Connection:
        raw = self.connect()
        raw.execute(f"SET lock_timeout = '{LOCK_SECONDS}'")
        raw.execute("SET synchronous_commit = on")  # an answered report is on the database's disk
        return Connection(raw)

    def prepare(self) -> Connection:
        conn = self.open_writer()
        conn.execute("BEGIN")
        conn.execute("SELECT pg_advisory_xact_lock(?)", (SCHEMA_LOCK,))
        conn.raw.execute(SCHEMA)
        conn.execute("COMMIT")
        return conn

    def open_reader(self) -> Connection:
        return Connection(self.connect())

    def begin(self, conn: Connection) -> None:
        conn.execute("BEGIN")
        conn.execute("SELECT pg_advisory_xact_lock(?)", (WRITE_LOCK,))

    def in_transaction(self, conn: Connection) -> bool:
        status = self.psycopg.pq.TransactionStatus
        return conn.raw.info.transaction_status in (status.INTRANS, status.INERROR)

    def broken(self, conn: Connection) -> bool:
        return conn.raw.closed or conn.raw.broken

    def tell(self, conn: Connection, channel: str, payload: str) -> None:
        """Reaches every process's listener once the transaction commits."""
        conn.execute("SELECT pg_notify(?, ?)", (channel, payload))

    def listen(self, channels: list[str], deliver: Callable[[str, str], None], again: Callable[[], None],
               log: Callable[[str], None], stopping: threading.Event) -> threading.Thread:
        """A thread that hands every notification of `channels` to
        deliver(channel, payload); once it listens, and again after a lost
        connection, it calls again(): what came before was not heard (the
        process may have read and kept something older meanwhile)."""
        def run() -> None:
            conn, lost = None, False
            while not stopping.is_set():
                try:
                    if conn is None:
                        conn = self.connect()
                        conn.add_notify_handler(lambda n: deliver(n.channel, n.payload))
                        for channel in channels:
                            conn.execute(f"LISTEN {channel}")
                        again()
                    ready, _, _ = select.select([conn.fileno()], [], [], LISTEN_POLL)
                    conn.execute("SELECT 1")  # reads what came; fails when the server is gone
                except Exception as e:
                    if not lost:
                        log(f"basis data: tidak mendengar kabar dari proses lain ({_first_line(e)}); dicoba lagi")
                    lost = True
                    if conn is not None:
                        try:
                            conn.close()
                        except Exception:
                            pass
                    conn = None
                    stopping.wait(LISTEN_POLL)
                    continue
                if lost:
                    lost = False
            if conn is not None:
                conn.close()
        thread = threading.Thread(target=run, name="db-listen", daemon=True)
        thread.start()
        return thread

    def lead(self, duty: str) -> bool:
        """Holds the duty's advisory lock on a connection of its own; it
        goes with the connection, so when this process ends (or loses the
        database) another process's next try takes it."""
        with self._lead_lock:
            conn, held = self._leading.get(duty, (None, False))
            try:
                if conn is None or conn.closed or conn.broken:
                    conn, held = self.connect(), False
                    # A box that loses power cannot close its connection: the
                    # database finds it dead within about 15 s and frees the lock.
                    conn.execute("SET tcp_keepalives_idle = 5")
                    conn.execute("SET tcp_keepalives_interval = 2")
                    conn.execute("SET tcp_keepalives_count = 3")
                if held:
                    conn.execute("SELECT 1")  # still ours while the connection lives
                else:
                    held = bool(conn.execute("SELECT pg_try_advisory_lock(%s)", (DUTY_LOCKS[duty],)).fetchone()[0])
                self._leading[duty] = (conn, held)
                return held
            except Exception:
                self._leading.pop(duty, None)
                if conn is not None:
                    try:
                        conn.close()
                    except Exception:
                        pass
                return False

    def release(self) -> None:
        """Gives up every duty at once, for another process to take."""
        with self._lead_lock:
            for conn, _ in self._leading.values():
                try:
                    conn.close()
                except Exception:
                    pass
            self._leading.clear()

    def open_fault(self, e: BaseException) -> str:
        return self._cause(e) or _first_line(e)

    def write_fault(self, e: BaseException) -> str | None:
        cause = self._cause(e)
        return None if cause is None else f"basis data tidak bisa ditulis: {cause}"

    def _cause(self, e: BaseException) -> str | None:
        """What the IT person should look at; None for a fault of the program."""
        errors = self.psycopg.errors
        text = _first_line(e)
        state = getattr(e, "sqlstate", None) or ""
        lowered = text.lower()
        if (isinstance(e, (errors.InsufficientPrivilege, errors.InvalidAuthorizationSpecification,
                           errors.InvalidPassword)) or "authentication failed" in lowered
                or ("role" in lowered and "does not exist" in lowered) or "no password supplied" in lowered
                or "pg_hba.conf" in lowered or state.startswith("28") or state == "42501"):
            return f"PostgreSQL menolak pengguna {self.user or '(tanpa nama)'} ({text})"
        if state.startswith("53") or isinstance(e, errors.DiskFull):
            return f"disk server PostgreSQL penuh? ({text})"
        if isinstance(e, (errors.LockNotAvailable, errors.DeadlockDetected, errors.QueryCanceled,
                          errors.SerializationFailure)):
            return f"terkunci ({text})"
        if isinstance(e, errors.ReadOnlySqlTransaction):
            return f"server PostgreSQL hanya bisa dibaca, bukan server utamanya ({text})"
        if isinstance(e, (self.psycopg.OperationalError, self.psycopg.InterfaceError, OSError)) or state.startswith(("08", "57")):
            return f"server PostgreSQL tidak terjangkau ({text})"
        return None

    def close(self, conn: Connection) -> None:
        conn.close()


def _first_line(e: BaseException) -> str:
    text = str(e).strip() or type(e).__name__
    return text.splitlines()[0]
