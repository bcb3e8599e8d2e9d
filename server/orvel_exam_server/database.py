"""SQLite behind a small interface; nothing else opens the database.

One write connection lives on one writer thread that takes its work from a
queue, each piece in its own `BEGIN IMMEDIATE` transaction, so writers never
wait on each other's locks and a caller learns of success only after the
commit. Readers use read-only connections, one per thread. Another database
could sit behind the same methods.
"""
from __future__ import annotations

import queue
import sqlite3
import threading
from concurrent.futures import Future
from pathlib import Path
from typing import Any, Callable

SCHEMA = """
CREATE TABLE IF NOT EXISTS reports (
    id INTEGER PRIMARY KEY,
    received_at TEXT NOT NULL,
    address TEXT NOT NULL,
    idempotency_key TEXT UNIQUE,
    body TEXT NOT NULL,
    student_name TEXT NOT NULL,
    class_name TEXT NOT NULL,
    token TEXT NOT NULL,
    event TEXT NOT NULL,
    detail TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS verifications (
    id INTEGER PRIMARY KEY,
    received_at TEXT NOT NULL,
    address TEXT NOT NULL,
    student_name TEXT NOT NULL,
    class_name TEXT NOT NULL,
    token TEXT NOT NULL
);
-- Stored reports waiting to be put into a WhatsApp message.
CREATE TABLE IF NOT EXISTS outbox (
    report_id INTEGER PRIMARY KEY REFERENCES reports(id)
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
"""

REPORT_COLUMNS = "id, received_at, address, student_name, class_name, token, event, detail"


def report_dict(row: tuple) -> dict[str, Any]:
    return {"id": row[0], "receivedAt": row[1], "address": row[2], "studentName": row[3],
            "className": row[4], "token": row[5], "event": row[6], "detail": row[7]}


class Store:
    def __init__(self, path: Path) -> None:
        self.path = Path(path).absolute()
        self.path.parent.mkdir(parents=True, exist_ok=True)
        self._queue: queue.Queue[tuple[Callable[[sqlite3.Connection], Any], Future] | None] = queue.Queue()
        self._local = threading.local()
        # Woken after every commit that adds a report or a verification.
        self.changed = threading.Condition()
        self.last_id = 0
        self.version = 0  # counts the commits the proctor's streams care about
        ready: Future = Future()
        self._writer = threading.Thread(target=self._write_loop, args=(ready,), name="db-writer", daemon=True)
        self._writer.start()
        ready.result()
        self.last_id = self._read(lambda c: c.execute("SELECT coalesce(max(id), 0) FROM reports").fetchone()[0])

    # The writer thread and its connection.
    def _write_loop(self, ready: Future) -> None:
        try:
            conn = sqlite3.connect(self.path, isolation_level=None, check_same_thread=False)
            conn.execute("PRAGMA journal_mode=WAL")
            conn.execute("PRAGMA synchronous=FULL")  # an answered report survives a power cut
            conn.execute("PRAGMA busy_timeout=5000")
            conn.executescript(SCHEMA)
        except sqlite3.Error as e:
            ready.set_exception(e)
            return
        ready.set_result(None)
        while True:
            item = self._queue.get()
            if item is None:
                break
            work, done = item
            try:
                conn.execute("BEGIN IMMEDIATE")
                result = work(conn)
                conn.execute("COMMIT")
            except BaseException as e:  # the caller gets the fault; the writer goes on
                if conn.in_transaction:
                    conn.execute("ROLLBACK")
                done.set_exception(e)
                continue
            done.set_result(result)
        conn.close()

    def write(self, work: Callable[[sqlite3.Connection], Any]) -> Any:
        """Runs `work` in a transaction of its own on the writer; returns its
        result once committed."""
        done: Future = Future()
        self._queue.put((work, done))
        return done.result()

    def _read(self, work: Callable[[sqlite3.Connection], Any]) -> Any:
        conn = getattr(self._local, "conn", None)
        if conn is None:
            conn = sqlite3.connect(self.path.as_uri() + "?mode=ro", uri=True, check_same_thread=False)
            conn.execute("PRAGMA busy_timeout=5000")
            self._local.conn = conn
        return work(conn)

    def close(self) -> None:
        self._queue.put(None)
        self._writer.join()

    def _notify(self, new_id: int) -> None:
        with self.changed:
            self.last_id = max(self.last_id, new_id)
            self.version += 1
            self.changed.notify_all()

    # Reports.
    def add_report(self, received_at: str, address: str, key: str | None, body: str,
                   m: dict[str, str], forward: bool) -> tuple[int, bool]:
        """Stores a report once per Idempotency-Key; (id, True) for a repeat."""
        def work(c: sqlite3.Connection) -> tuple[int, bool]:
            if key is not None:
                row = c.execute("SELECT id FROM reports WHERE idempotency_key = ?", (key,)).fetchone()
                if row:
                    return row[0], True
            cur = c.execute(
                "INSERT INTO reports (received_at, address, idempotency_key, body, student_name, class_name,"
                " token, event, detail) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
                (received_at, address, key, body, m["studentName"], m["className"], m["token"], m["event"], m["detail"]))
            if forward:
                c.execute("INSERT INTO outbox (report_id) VALUES (?)", (cur.lastrowid,))
            return cur.lastrowid, False
        rowid, repeat = self.write(work)
        if not repeat:
            self._notify(rowid)
        return rowid, repeat

    def add_verification(self, received_at: str, address: str, m: dict[str, str]) -> None:
        self.write(lambda c: c.execute(
            "INSERT INTO verifications (received_at, address, student_name, class_name, token) VALUES (?, ?, ?, ?, ?)",
            (received_at, address, m["studentName"], m["className"], m["token"])))
        self._notify(0)

    def reports_after(self, after: int, limit: int = 500) -> list[dict[str, Any]]:
        return self._read(lambda c: [report_dict(r) for r in c.execute(
            f"SELECT {REPORT_COLUMNS} FROM reports WHERE id > ? ORDER BY id LIMIT ?", (after, limit))])

    def timeline(self) -> list[dict[str, Any]]:
        """Verifications and reports in the order they were stored."""
        def work(c: sqlite3.Connection) -> list[dict[str, Any]]:
            # received_at has a fixed width, so text order is time order.
            rows = c.execute(
                "SELECT 'report', id, received_at, student_name, class_name, token, event, detail FROM reports "
                "UNION ALL SELECT 'verify', id, received_at, student_name, class_name, token, '', '' FROM verifications "
                "ORDER BY 3, 1 DESC, 2").fetchall()
            out, seq = [], 0
            for kind, rid, at, name, cls, token, event, detail in rows:
                seq += 1
                out.append({"id": seq, "reportId": rid if kind == "report" else None, "kind": kind,
                            "receivedAt": at, "studentName": name, "className": cls, "token": token,
                            "event": event, "detail": detail})
            return out
        return self._read(work)

    def all_reports(self) -> list[dict[str, Any]]:
        return self._read(lambda c: [report_dict(r) for r in c.execute(
            f"SELECT {REPORT_COLUMNS} FROM reports ORDER BY id")])

    def report_count(self) -> int:
        return self._read(lambda c: c.execute("SELECT count(*) FROM reports").fetchone()[0])

    # The WhatsApp outbox.
    def outbox_reports(self) -> list[dict[str, Any]]:
        return self._read(lambda c: [report_dict(r) for r in c.execute(
            f"SELECT {REPORT_COLUMNS.replace('id,', 'reports.id,', 1)} FROM outbox JOIN reports ON reports.id = outbox.report_id"
            " ORDER BY reports.id")])

    def queue_messages(self, texts: list[str], recipients: tuple[str, ...], report_ids: list[int], now: float) -> None:
        """Turns outbox reports into messages, one per recipient, in one step."""
        def work(c: sqlite3.Connection) -> None:
            for text in texts:
                for to in recipients:
                    c.execute("INSERT INTO messages (recipient, text, created_at, next_try) VALUES (?, ?, ?, ?)",
                              (to, text, now, now))
            c.executemany("DELETE FROM outbox WHERE report_id = ?", [(i,) for i in report_ids])
        self.write(work)

    def next_messages(self) -> list[dict[str, Any]]:
        """The oldest pending message of each recipient: they go in order."""
        return self._read(lambda c: [
            {"id": r[0], "recipient": r[1], "text": r[2], "created_at": r[3], "attempts": r[4], "next_try": r[5]}
            for r in c.execute(
                "SELECT id, recipient, text, created_at, attempts, next_try FROM messages WHERE id IN"
                " (SELECT min(id) FROM messages WHERE state = 'pending' GROUP BY recipient) ORDER BY id")])

    def message_done(self, mid: int, state: str, now: float, error: str = "") -> None:
        self.write(lambda c: c.execute(
            # A success keeps the error of the tries before it: the proctor sees what went wrong.
            "UPDATE messages SET state = ?, attempts = attempts + 1, done_at = ?,"
            " last_error = CASE WHEN ? = '' THEN last_error ELSE ? END WHERE id = ?",
            (state, now, error, error, mid)))

    def message_retry(self, mid: int, next_try: float, error: str) -> None:
        self.write(lambda c: c.execute(
            "UPDATE messages SET attempts = attempts + 1, next_try = ?, last_error = ? WHERE id = ?",
            (next_try, error, mid)))

    def outbox_state(self) -> dict[str, Any]:
        def work(c: sqlite3.Connection) -> dict[str, Any]:
            counts = dict(c.execute("SELECT state, count(*) FROM messages GROUP BY state").fetchall())
            waiting = c.execute("SELECT count(*) FROM outbox").fetchone()[0]
            err = c.execute("SELECT last_error FROM messages WHERE last_error != '' ORDER BY id DESC LIMIT 1").fetchone()
            sent = c.execute("SELECT max(done_at) FROM messages WHERE state = 'sent'").fetchone()[0]
            return {"grouping": waiting, "pending": counts.get("pending", 0), "sent": counts.get("sent", 0),
                    "failed": counts.get("failed", 0), "lastError": err[0] if err else "", "lastSentAt": sent}
        return self._read(work)

    def messages(self) -> list[dict[str, Any]]:
        return self._read(lambda c: [
            {"id": r[0], "recipient": r[1], "text": r[2], "state": r[3], "attempts": r[4], "lastError": r[5]}
            for r in c.execute("SELECT id, recipient, text, state, attempts, last_error FROM messages ORDER BY id")])

    # Proctor sessions, kept here so that a restart does not log the proctor out.
    def add_session(self, token_hash: str, expires: float) -> None:
        self.write(lambda c: c.execute("INSERT INTO sessions VALUES (?, ?)", (token_hash, expires)))

    def session_valid(self, token_hash: str, now: float) -> bool:
        return self._read(lambda c: c.execute(
            "SELECT 1 FROM sessions WHERE token_hash = ? AND expires > ?", (token_hash, now)).fetchone() is not None)

    def drop_session(self, token_hash: str, now: float) -> None:
        self.write(lambda c: c.execute(
            "DELETE FROM sessions WHERE token_hash = ? OR expires <= ?", (token_hash, now)))
