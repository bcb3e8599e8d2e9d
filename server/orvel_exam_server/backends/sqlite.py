"""SQLite: the embedded default for one school's server, on the standard
library alone. One file beside the configuration; one process writes it."""
from __future__ import annotations

import os
import sqlite3
from pathlib import Path
from typing import Any

from .schema import INDEXES, tables

SCHEMA = tables(key="INTEGER PRIMARY KEY", bigint="INTEGER", real="REAL", stamp="TEXT",
                stored_order="")  # the rowid keeps the order

# Reports stored before exam sessions existed were taken as the launcher's:
# they keep counting for their students.
BEFORE_SESSIONS = ""


def private_file(path: Path) -> None:
    """The database holds the children's names: it, its WAL and its shared
    memory are readable by the owner only (SQLite gives the WAL the mode of
    the database). Windows has no such modes; the folder's rights apply."""
    if os.name == "nt":
        return
    os.close(os.open(path, os.O_WRONLY | os.O_CREAT, 0o600))
    for p in (path, Path(f"{path}-wal"), Path(f"{path}-shm"), Path(f"{path}-journal")):
        try:
            if p.stat().st_mode & 0o077:
                os.chmod(p, 0o600)
        except FileNotFoundError:
            pass


def _migrate(conn: sqlite3.Connection) -> None:
    if "addresses" not in {row[1] for row in conn.execute("PRAGMA table_info(notices)")}:
        conn.execute("ALTER TABLE notices ADD COLUMN addresses TEXT NOT NULL DEFAULT ''")
    if "body_hash" not in {row[1] for row in conn.execute("PRAGMA table_info(reports)")}:
        conn.execute("ALTER TABLE reports ADD COLUMN body_hash TEXT")
    for table in ("page_exams", "proctors"):
        if "school" not in {row[1] for row in conn.execute(f"PRAGMA table_info({table})")}:
            conn.execute(f"ALTER TABLE {table} ADD COLUMN school TEXT NOT NULL DEFAULT ''")
    for table in ("reports", "verifications"):
        columns = {row[1] for row in conn.execute(f"PRAGMA table_info({table})")}
        if "session" not in columns:
            conn.execute(f"ALTER TABLE {table} ADD COLUMN session TEXT")
            if table == "reports":
                conn.execute("UPDATE reports SET session = ?", (BEFORE_SESSIONS,))


class SQLite:
    """The file at `path`; its folder is made when missing."""

    Error = (sqlite3.Error, OSError)    # what opening it may raise
    shared = False                      # one serving process at a time
    session_order = "s.rowid"           # the order exam sessions were stored in
    readers = None                      # connections for reading: one per thread
    skip_locked = ""                    # one writer: nothing to skip

    def __init__(self, path: Path) -> None:
        self.path = Path(path).absolute()
        self.folder: Path | None = self.path.parent  # where free disk space matters
        self.name = str(self.path)

    def open_writer(self) -> sqlite3.Connection:
        conn = sqlite3.connect(self.path, isolation_level=None, check_same_thread=False)
        conn.execute("PRAGMA journal_mode=WAL")
        conn.execute("PRAGMA synchronous=FULL")  # an answered report survives a power cut
        conn.execute("PRAGMA busy_timeout=5000")
        return conn

    def prepare(self) -> sqlite3.Connection:
        """The writer's first connection, with the tables made or upgraded."""
        self.path.parent.mkdir(parents=True, exist_ok=True)
        private_file(self.path)
        conn = self.open_writer()
        conn.executescript(SCHEMA)
        conn.execute("BEGIN IMMEDIATE")
        _migrate(conn)
        conn.execute("COMMIT")
        conn.executescript(INDEXES)
        private_file(self.path)  # the WAL and shared memory exist now
        return conn

    def open_reader(self) -> sqlite3.Connection:
        conn = sqlite3.connect(self.path.as_uri() + "?mode=ro", uri=True, check_same_thread=False)
        conn.execute("PRAGMA busy_timeout=5000")
        return conn

    def begin(self, conn: sqlite3.Connection) -> None:
        conn.execute("BEGIN IMMEDIATE")

    def in_transaction(self, conn: sqlite3.Connection) -> bool:
        return conn.in_transaction

    def broken(self, conn: sqlite3.Connection) -> bool:
        return False  # a file: a fault is the statement's, the next one tries again

    def tell(self, conn: sqlite3.Connection, channel: str, payload: str) -> None:
        pass  # one process: the store's notifier is all there is to tell

    def lead(self, duty: str) -> bool:
        return True

    def release(self) -> None:
        pass

    def open_fault(self, e: BaseException) -> str:
        return getattr(e, "strerror", None) or str(e)

    def write_fault(self, e: BaseException) -> str | None:
        """The likely cause of a failed write, for the log; None for a fault
        of the program rather than of the disk (a constraint, a wrong statement)."""
        if isinstance(e, (sqlite3.IntegrityError, sqlite3.ProgrammingError, sqlite3.InterfaceError)):
            return None
        if not isinstance(e, (sqlite3.DatabaseError, OSError)):
            return None
        name = getattr(e, "sqlite_errorname", "") or ""
        text = str(e)
        if name.startswith(("SQLITE_BUSY", "SQLITE_LOCKED")) or "locked" in text:
            return f"basis data tidak bisa ditulis: terkunci ({text})"
        return f"basis data tidak bisa ditulis: disk penuh? ({text})"

    def close(self, conn: Any) -> None:
        conn.close()
