"""SQLite: the embedded default for one school's server, on the standard
library alone. One file beside the configuration; one process writes it."""
from __future__ import annotations

import os
import sqlite3
from pathlib import Path
from typing import Any

SCHEMA = """
CREATE TABLE IF NOT EXISTS reports (
    id INTEGER PRIMARY KEY,
    received_at TEXT NOT NULL,
    address TEXT NOT NULL,
    idempotency_key TEXT UNIQUE,
    body TEXT NOT NULL,   -- its members, compact (before hashes were kept: as it came)
    body_hash TEXT,       -- SHA-256 of the body as it came: a body sent again is known by it
    student_name TEXT NOT NULL,
    class_name TEXT NOT NULL,
    token TEXT NOT NULL,
    event TEXT NOT NULL,
    detail TEXT NOT NULL,
    session TEXT   -- the exam session it came with; NULL: without one ("tanpa sesi")
);
CREATE TABLE IF NOT EXISTS verifications (
    id INTEGER PRIMARY KEY,
    received_at TEXT NOT NULL,
    address TEXT NOT NULL,
    student_name TEXT NOT NULL,
    class_name TEXT NOT NULL,
    token TEXT NOT NULL,
    session TEXT
);
-- One per accepted verification: the launcher names it on every report.
CREATE TABLE IF NOT EXISTS exam_sessions (
    id TEXT PRIMARY KEY,
    created_at TEXT NOT NULL,
    address TEXT NOT NULL,
    student_name TEXT NOT NULL,
    class_name TEXT NOT NULL,
    token TEXT NOT NULL,
    last_contact REAL NOT NULL,   -- seconds since 1970; written every few seconds, not per heartbeat
    missing_since REAL            -- the last contact, while the proctor was told it is not heard
);
-- A key used again with another body: that body is a report of its own,
-- found again by the key and the body's hash when it is sent once more.
CREATE TABLE IF NOT EXISTS reused_keys (
    idempotency_key TEXT NOT NULL,
    body_hash TEXT NOT NULL,
    report_id INTEGER NOT NULL,
    PRIMARY KEY (idempotency_key, body_hash)
);
-- Stored reports waiting to be put into a WhatsApp message.
CREATE TABLE IF NOT EXISTS outbox (
    report_id INTEGER PRIMARY KEY REFERENCES reports(id)
);
-- Exams gone silent or heard again, waiting to be put into a WhatsApp message.
CREATE TABLE IF NOT EXISTS notices (
    id INTEGER PRIMARY KEY,
    kind TEXT NOT NULL,           -- missing | back | twice (one name on two PCs)
    student_name TEXT NOT NULL,
    class_name TEXT NOT NULL,
    token TEXT NOT NULL,
    last_contact REAL NOT NULL,
    gone REAL NOT NULL,           -- seconds not heard (back only)
    addresses TEXT NOT NULL DEFAULT ''  -- the PC's; for twice, both PCs'
);
-- Exams made on the proctor's page (those of the file stay in the file).
CREATE TABLE IF NOT EXISTS page_exams (
    id INTEGER PRIMARY KEY,
    classes TEXT NOT NULL,        -- a JSON list of class names
    form_url TEXT NOT NULL,
    proctor_pin TEXT NOT NULL DEFAULT '',
    opens TEXT NOT NULL DEFAULT '',   -- YYYY-MM-DDTHH:MM in the school's zone; '' for none
    closes TEXT NOT NULL DEFAULT '',
    rotate_minutes INTEGER NOT NULL DEFAULT 0,
    ended INTEGER NOT NULL DEFAULT 0, -- closed on the page
    created_at TEXT NOT NULL
);
-- Each page exam's tokens: the newest is its token now, the earlier ones keep their running exams.
CREATE TABLE IF NOT EXISTS exam_tokens (
    id INTEGER PRIMARY KEY,
    exam_id INTEGER NOT NULL REFERENCES page_exams(id),
    token TEXT NOT NULL UNIQUE,
    since REAL NOT NULL           -- seconds since 1970
);
-- Proctor accounts; the administrator is the configuration's proctor_password.
CREATE TABLE IF NOT EXISTS proctors (
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL,
    name_key TEXT NOT NULL UNIQUE,   -- the name as logins compare it
    salt TEXT NOT NULL,
    password_hash TEXT NOT NULL,     -- scrypt, hex; a login's hash is made with it, so a new password ends them
    classes TEXT NOT NULL,           -- a JSON list of the classes watched
    created_at TEXT NOT NULL
);
-- The version of each setting the page changes (exams, lists): moved in the
-- write that changes it, so every process sees the change at its next look.
CREATE TABLE IF NOT EXISTS changes (
    name TEXT PRIMARY KEY,
    version INTEGER NOT NULL
);
-- Each class's list of students, as the administrator gave it; replaced whole.
CREATE TABLE IF NOT EXISTS class_lists (
    class_key TEXT NOT NULL,      -- the class as the roster compares it
    position INTEGER NOT NULL,
    class_name TEXT NOT NULL,     -- as it was typed
    student_name TEXT NOT NULL,
    PRIMARY KEY (class_key, position)
);
-- Exam sessions the proctor closed: no longer watched, their later reports apart.
CREATE TABLE IF NOT EXISTS session_closes (
    id INTEGER PRIMARY KEY,
    closed_at TEXT NOT NULL,
    address TEXT NOT NULL,        -- the proctor's
    session TEXT NOT NULL UNIQUE
);
CREATE TABLE IF NOT EXISTS messages (
    id INTEGER PRIMARY KEY,
    recipient TEXT NOT NULL,
    text TEXT NOT NULL,
    created_at REAL NOT NULL,
    state TEXT NOT NULL DEFAULT 'pending',   -- pending | sent | failed
    attempts INTEGER NOT NULL DEFAULT 0,
    next_try REAL NOT NULL,
    last_error TEXT NOT NULL DEFAULT '',
    done_at REAL
);
CREATE INDEX IF NOT EXISTS messages_pending ON messages(state, recipient, id);
CREATE TABLE IF NOT EXISTS sessions (
    token_hash TEXT PRIMARY KEY,
    expires REAL NOT NULL
);
-- The proctor's commands to one exam session each (commands.py).
CREATE TABLE IF NOT EXISTS proctor_commands (
    id TEXT PRIMARY KEY,          -- the commandId the launcher names done
    seq INTEGER NOT NULL,         -- the order they were queued in
    session TEXT NOT NULL,
    class_name TEXT NOT NULL,
    student_name TEXT NOT NULL,
    token TEXT NOT NULL,
    kind TEXT NOT NULL,           -- message | end | lock | unlock
    text TEXT NOT NULL,
    created_at REAL NOT NULL,     -- seconds since 1970
    sent_at REAL,                 -- first answered in a heartbeat
    done_at REAL                  -- named done by a heartbeat
);
"""
# After the columns a database of an earlier version gains.
INDEXES = "CREATE INDEX IF NOT EXISTS reports_session ON reports(session) WHERE session IS NOT NULL;"

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
