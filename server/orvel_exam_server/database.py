"""The store: the one way into the database, whichever engine holds it
(backends/). Nothing else opens the database.

One write connection lives on one writer thread that takes its work from a
queue. The pieces waiting at one moment are committed together: one
transaction, each piece in a savepoint of its own (a failing piece is undone
alone), one commit and one sync to disk for all of them, and each caller
learns of success only after that commit. Readers use connections of their
own, one per thread. The statements are in the SQL both engines speak.

When the database cannot be written (a full disk, a lock, a server away), a
write fails within WRITE_WAIT seconds with WriteFailed, and once a minute a
log line names the likely cause. What must not be lost then (a verification
and its exam session, a proctor's login) is held in memory and written once
the database takes it.
"""
from __future__ import annotations

import hashlib
import json
import queue
import sys
import threading
import time
from concurrent.futures import Future
from concurrent.futures import TimeoutError as FutureTimeout
from pathlib import Path
from typing import Any, Callable

from .backends import backend_for
from .notifier import Notifier

WRITE_WAIT = 10.0     # seconds a caller waits for its commit at most
BATCH = 500           # pieces at most in one transaction
HELD_RETRY = 5.0      # seconds between tries of the writes held in memory
HELD_MAX = 10_000     # writes held in memory at most; beyond, a write that would be held fails
HELD_BATCH = BATCH    # held writes tried in one transaction: a long outage is not retried as one
FAULT_LOG_EVERY = 60.0
FAULT_QUIET = 5.0      # seconds after a failed read or write in which settings are not read again
# What one process tells the others that share the database (with PostgreSQL).
REPORT_STORED = "orvel_report"          # the new report's id
SESSION_OPENED = "orvel_session"        # the new exam session's id
COMMAND_CHANGED = "orvel_command"       # a proctor's command queued or answered: its row, as JSON
SETTING_CHANGED = "orvel_setting"       # the page's exams or class lists changed: which

REPORT_COLUMNS = "id, received_at, address, student_name, class_name, token, event, detail, session"


def timeline_sql(after: bool) -> str:
    """Reports, verifications and closed sessions (a close with the names of
    its session) as one list; `after`: each table's rows after an id."""
    def since(column: str) -> str:
        return f" WHERE {column} > ?" if after else ""
    # received_at has a fixed width, so text order is time order.
    return ("SELECT 'report', r.id, r.received_at, r.student_name, r.class_name, r.token, r.event, r.detail,"
            " r.session, r.address FROM reports r" + since("r.id") +
            " UNION ALL SELECT 'verify', v.id, v.received_at, v.student_name, v.class_name, v.token, '', '',"
            " v.session, v.address FROM verifications v" + since("v.id") +
            " UNION ALL SELECT 'close', x.id, x.closed_at, s.student_name, s.class_name, s.token, '', '',"
            " x.session, x.address FROM session_closes x JOIN exam_sessions s ON s.id = x.session" + since("x.id") +
            " ORDER BY 3, 1 DESC, 2")


def bump(c: Any, name: str) -> None:
    """Moves a setting's version in the write that changes it (the store
    then tells every process sharing the database)."""
    c.execute("INSERT INTO changes (name, version) VALUES (?, 1)"
              " ON CONFLICT (name) DO UPDATE SET version = changes.version + 1", (name,))


def body_hash(body: str) -> str:
    return hashlib.sha256(body.encode("utf-8", "surrogatepass")).hexdigest()


PROCTOR = "SELECT id, name, name_key, salt, password_hash, classes, school FROM proctors"


def proctor_dict(r: tuple) -> dict[str, Any]:
    return {"id": r[0], "name": r[1], "nameKey": r[2], "salt": r[3], "hash": r[4], "classes": json.loads(r[5]),
            "school": r[6]}


def report_dict(row: tuple) -> dict[str, Any]:
    return {"id": row[0], "receivedAt": row[1], "address": row[2], "studentName": row[3],
            "className": row[4], "token": row[5], "event": row[6], "detail": row[7], "session": row[8]}


class StoreError(Exception):
    """The database could not be opened or written; the message names the likely cause."""


class WriteFailed(StoreError):
    """A write did not reach the database; the message names the likely cause."""


Work = Callable[[Any], Any]  # given the connection
WAKE = "wake"  # a queue item that only wakes the writer


class Store:
    def __init__(self, database: Path | str, log: Callable[[str], None] | None = None,
                 notifier: Notifier | None = None) -> None:
        try:
            self.backend = backend_for(database)
        except ImportError as e:
            raise StoreError(str(e)) from None
        self.log = log or (lambda line: print(line, file=sys.stderr, flush=True))
        self.notifier = notifier or Notifier()
        self._queue: queue.Queue[tuple[Work, Future] | str | None] = queue.Queue()
        self._local = threading.local()
        self._readers: queue.LifoQueue | None = None
        if self.backend.readers:
            self._readers = queue.LifoQueue()
            for _ in range(self.backend.readers):
                self._readers.put(None)  # opened when first needed
        # Writes that failed and must not be lost, oldest first, each with what follows its commit.
        self._held: list[tuple[Work, Callable[[], None]]] = []
        self._held_tried = 0.0
        self._held_lock = threading.Lock()
        self._faults = 0
        self._fault_logged = -FAULT_LOG_EVERY
        self._fault_lock = threading.Lock()
        self.fault_at = float("-inf")
        ready: Future = Future()
        self._writer = threading.Thread(target=self._write_loop, args=(ready,), name="db-writer", daemon=True)
        self._writer.start()
        try:
            ready.result()
        except self.backend.Error as e:
            raise StoreError(self.backend.open_fault(e)) from e
        last = self.read(lambda c: c.execute("SELECT coalesce(max(id), 0) FROM reports").fetchone()[0])
        self.notifier.last_id = max(self.notifier.last_id, last)
        # What the other processes stored, heard from the database.
        self.shared = self.backend.shared
        self._heard: dict[str, list[Callable[[str], None]]] = {
            REPORT_STORED: [lambda p: self.notifier.stored(int(p))], SESSION_OPENED: [self._session_heard],
            SETTING_CHANGED: [self._forget_version]}
        # The settings' versions as last read: a verify looks at the exams'
        # without a database round trip; a change (here, or told by another
        # process) makes the next look read it again.
        self._versions: dict[str, int] = {}
        self._versions_lock = threading.Lock()
        self._versions_moved = 0  # counts forgets: a read that overlapped one is not kept
        # Sessions this process stored: its own commit told its notifier already.
        self._told: set[str] = set()
        self._told_lock = threading.Lock()
        self._again: list[Callable[[], None]] = [lambda: self.notifier.stored(0), self._forget_versions]
        self._stopping = threading.Event()

    def start_listening(self) -> None:
        """With a shared database: hears what every process stores, for the
        channels asked for until now."""
        if self.shared:
            self.backend.listen(list(self._heard), self._deliver, lambda: [f() for f in self._again], self.log,
                                self._stopping)

    def on_notice(self, channel: str, handler: Callable[[str], None], again: Callable[[], None] | None = None) -> None:
        """handler(payload) for each notification of `channel` from any
        process (this one too); again() after some may have been missed."""
        self._heard.setdefault(channel, []).append(handler)
        if again:
            self._again.append(again)

    def tell(self, conn: Any, channel: str, payload: str) -> None:
        """Inside a piece: every process hears it once the piece is committed."""
        self.backend.tell(conn, channel, payload)

    def _session_heard(self, session: str) -> None:
        with self._told_lock:
            if session in self._told:
                self._told.discard(session)
                return
        self.notifier.stored(0)

    def _deliver(self, channel: str, payload: str) -> None:
        for handler in self._heard.get(channel, []):
            try:
                handler(payload)
            except Exception as e:  # one bad notification must not end the listening
                self.log(f"error: notification {channel}: {type(e).__name__}: {e}")

    # The writer thread and its connection.
    def _write_loop(self, ready: Future) -> None:
        conn: Any
        try:
            conn = self.backend.prepare()
        except Exception as e:
            ready.set_exception(e)
            return
        ready.set_result(None)
        stopping = False
        while not stopping:
            try:
                batch = [self._queue.get(timeout=HELD_RETRY if self.held_writes() else None)]
            except queue.Empty:
                batch = []  # only the held writes are due
            while len(batch) < BATCH:
                try:
                    batch.append(self._queue.get_nowait())
                except queue.Empty:
                    break
            stopping = None in batch
            pieces = [p for p in batch if isinstance(p, tuple) and p[1].set_running_or_notify_cancel()]
            held = self._take_held(time.monotonic(), force=stopping)
            if pieces or held:
                conn = self._commit(conn, held + pieces)
                self._return_held(held)
        if conn is not None:
            self.backend.close(conn)

    def _take_held(self, now: float, force: bool) -> list[tuple[Work, Future]]:
        """The oldest held writes, as pieces, when they are due for another
        try: HELD_BATCH of them (all when the writer stops)."""
        with self._held_lock:
            if not self._held or (now - self._held_tried < HELD_RETRY and not force):
                return []
            self._held_tried = now
            return [(work, Future()) for work, _ in (self._held if force else self._held[:HELD_BATCH])]

    def _return_held(self, pieces: list[tuple[Work, Future]]) -> None:
        """Drops the held writes that are now committed (or that can never be)."""
        if not pieces:
            return
        with self._held_lock:
            taken, self._held = self._held[:len(pieces)], self._held[len(pieces):]
            kept = []
            for (work, after), (_, done) in zip(taken, pieces):
                e = done.exception()
                if e is None:
                    after()
                elif self.write_fault(e) is not None:
                    kept.append((work, after))
                else:
                    self.log(f"error: a held write was dropped: {type(e).__name__}: {e}")
            self._held = kept + self._held
            more = bool(self._held) and not kept
            if more:
                self._held_tried = 0.0  # the database takes them again: the next batch at once
        if more:
            self._queue.put(WAKE)

    def _commit(self, conn: Any, pieces: list[tuple[Work, Future]]) -> Any:
        """Runs the pieces in one transaction; answers each after the commit.
        Returns the connection to go on with (a new one after a fault that
        left the old one unusable)."""
        outcomes: list[tuple[Future, Any, BaseException | None]] = []
        try:
            if conn is None:
                conn = self.backend.open_writer()
            self.backend.begin(conn)
            for work, done in pieces:
                conn.execute("SAVEPOINT piece")
                try:
                    result = work(conn)
                except Exception as e:
                    if not self.backend.in_transaction(conn):
                        raise  # the engine gave up the whole transaction (a full disk, an I/O error)
                    conn.execute("ROLLBACK TO piece")
                    conn.execute("RELEASE piece")
                    self._fault(e)  # logged when the database refused it, not the program
                    outcomes.append((done, None, e))
                    continue
                conn.execute("RELEASE piece")
                outcomes.append((done, result, None))
            conn.execute("COMMIT")
        except Exception as e:
            conn = self._undo(conn)
            for _, done in pieces:
                done.set_exception(e)
            self._fault(e)
            return conn
        for done, result, error in outcomes:
            if error is None:
                done.set_result(result)
            else:
                done.set_exception(error)
        return conn

    def _undo(self, conn: Any) -> Any:
        """Rolls back after a fault; a connection that cannot even do that is
        replaced, so the writer goes on either way."""
        if conn is None:
            return None
        try:
            if self.backend.in_transaction(conn):
                conn.execute("ROLLBACK")
            if not self.backend.broken(conn):
                return conn
        except Exception as e:
            self.log(f"error: rollback failed ({type(e).__name__}: {e}); the database is opened again")
        try:
            self.backend.close(conn)
        except Exception:
            pass
        try:
            return self.backend.open_writer()
        except Exception:
            return None  # tried again with the next write

    def write_fault(self, e: BaseException) -> str | None:
        """The likely cause of a failed write, for the log; None for a fault
        of the program rather than of the database (a constraint, a wrong statement)."""
        if isinstance(e, (FutureTimeout, TimeoutError)):
            return f"basis data tidak bisa ditulis: terkunci atau terlalu lambat (lebih dari {WRITE_WAIT:g} detik)"
        return self.backend.write_fault(e)

    def _fault(self, e: BaseException) -> None:
        """One log line a minute at most, naming the cause."""
        cause = self.write_fault(e)
        if cause is None:
            return
        now = time.monotonic()
        self.fault_at = now
        with self._fault_lock:
            self._faults += 1
            if now - self._fault_logged < FAULT_LOG_EVERY:
                return
            count, self._faults, self._fault_logged = self._faults, 0, now
        self.log(f"{cause}; {count} penulisan gagal sejak pesan sebelumnya" if count > 1 else cause)

    def faulty(self, within: float = FAULT_QUIET) -> bool:
        """Whether a read or a write failed in the last `within` seconds: a
        look that may wait on an unreachable database is left for later."""
        return time.monotonic() - self.fault_at < within

    def write(self, work: Work, wait: float = WRITE_WAIT) -> Any:
        """Runs `work` in a savepoint of its own on the writer; returns its
        result once committed. WriteFailed when the database cannot be
        written or the commit does not come within `wait` seconds; other
        faults of `work` come back as they are."""
        done: Future = Future()
        self._queue.put((work, done))
        try:
            return done.result(timeout=wait)
        except FutureTimeout as e:
            done.cancel()  # not run later if the writer has not reached it yet
            self._fault(e)
            raise WriteFailed(self.write_fault(e)) from None
        except Exception as e:
            cause = self.write_fault(e)
            if cause is None:
                raise
            raise WriteFailed(cause) from e

    def write_or_hold(self, work: Work, after: Callable[[], None] = lambda: None, capped: bool = True) -> bool:
        """Writes now or, when the database cannot be written, holds the write
        in memory and tries it again every few seconds (in order, before
        newer writes). `after` runs once it is committed. True: written now.
        WriteFailed when HELD_MAX writes are held already (unless not
        `capped`: the proctor's few logins are held whatever the count)."""
        try:
            self.write(work)
        except WriteFailed:
            with self._held_lock:
                if capped and len(self._held) >= HELD_MAX:
                    raise
                self._held.append((work, after))
            self._queue.put(WAKE)  # a writer waiting for work now waits HELD_RETRY at most
            return False
        after()
        return True

    def held_writes(self) -> int:
        with self._held_lock:
            return len(self._held)

    def open_reader(self) -> None:
        """Opens this thread's reader now rather than at its first read (a
        worker's start, while files are still to be had); with a pool of
        readers shared by the threads, every one of them not yet open."""
        if self._readers is None:
            self.read(lambda c: None)
            return
        taken = []
        try:
            while True:
                taken.append(self._readers.get_nowait())
        except queue.Empty:
            pass  # the others are in use, hence open
        try:
            for i, conn in enumerate(taken):
                if conn is None:
                    taken[i] = self.backend.open_reader()
        except self.backend.Error as e:
            raise StoreError(self.backend.open_fault(e)) from e
        finally:
            for conn in taken:
                self._readers.put(conn)

    def read(self, work: Callable[[Any], Any]) -> Any:
        """`work` on a reading connection. StoreError when the database
        cannot be read (the message names the likely cause)."""
        if self._readers is not None:
            return self._read_pooled(work)
        conn = getattr(self._local, "conn", None)
        if conn is None:
            conn = self.backend.open_reader()
            self._local.conn = conn
        return work(conn)

    def _read_pooled(self, work: Callable[[Any], Any]) -> Any:
        assert self._readers is not None
        conn = self._readers.get()
        try:
            if conn is None:
                conn = self.backend.open_reader()
            return work(conn)
        except Exception as e:
            if conn is not None and self.backend.broken(conn):
                self.backend.close(conn)
                conn = None  # opened again by the next read
            cause = self.write_fault(e)
            if cause is None:
                raise
            self._fault(e)  # the same line once a minute as for the writes
            raise StoreError(cause.replace("tidak bisa ditulis", "tidak bisa dibaca")) from e
        finally:
            self._readers.put(conn)

    def close(self) -> None:
        self.backend.release()
        self._stopping.set()
        self._queue.put(None)
        self._writer.join()
        while self._readers is not None and not self._readers.empty():
            conn = self._readers.get_nowait()
            if conn is not None:
                try:
                    self.backend.close(conn)
                except Exception:
                    pass

    # Reports.
    def add_report(self, received_at: str, address: str, key: str | None, body: str,
                   m: dict[str, str], forward: bool, session: str | None = None,
                   digest: str | None = None) -> tuple[int, bool, bool]:
        """Stores a report once per Idempotency-Key and body: (id, repeat,
        reused). repeat: it was stored before. reused: its key came before
        with another body, and this one is stored as a report of its own.
        `body`: what is stored (its members, compact: padding is never
        kept); `digest`: body_hash() of the body as it came, by which a
        body sent again is known (by default, that of `body`)."""
        digest = digest or body_hash(body)

        def work(c: Any) -> tuple[int, bool, bool]:
            stored_key, reused = key, False
            if key is not None:
                row = c.execute("SELECT id, body_hash, body FROM reports WHERE idempotency_key = ?", (key,)).fetchone()
                # A report stored before the hashes were kept holds its body as it came.
                if row and (row[1] or body_hash(row[2])) == digest:
                    return row[0], True, False
                if row:
                    again = c.execute("SELECT report_id FROM reused_keys WHERE idempotency_key = ? AND body_hash = ?",
                                      (key, digest)).fetchone()
                    if again:
                        return again[0], True, True
                    stored_key, reused = None, True
            rowid = c.execute(
                "INSERT INTO reports (received_at, address, idempotency_key, body, body_hash, student_name,"
                " class_name, token, event, detail, session) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id",
                (received_at, address, stored_key, body, digest, m["studentName"], m["className"], m["token"],
                 m["event"], m["detail"], session)).fetchone()[0]
            if reused:
                c.execute("INSERT INTO reused_keys VALUES (?, ?, ?)", (key, digest, rowid))
            if forward:
                c.execute("INSERT INTO outbox (report_id) VALUES (?)", (rowid,))
            self.tell(c, REPORT_STORED, str(rowid))
            return rowid, False, reused
        rowid, repeat, reused = self.write(work)
        if not repeat:
            # At once, for this process's next roster; shared, the notification
            # of the same id that follows changes nothing (Notifier.stored).
            self.notifier.stored(rowid)
        return rowid, repeat, reused

    def add_verification(self, received_at: str, address: str, m: dict[str, str], session: str, contact: float) -> bool:
        """The verification and the exam session it hands out, in one step.
        Held in memory when the database cannot be written; True: written now."""
        def work(c: Any) -> None:
            # DO NOTHING: a held write may find its session stored by a commit that came late.
            cur = c.execute("INSERT INTO exam_sessions (id, created_at, address, student_name, class_name,"
                            " token, last_contact) VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING",
                            (session, received_at, address, m["studentName"], m["className"], m["token"], contact))
            if cur.rowcount:
                c.execute("INSERT INTO verifications (received_at, address, student_name, class_name, token, session)"
                          " VALUES (?, ?, ?, ?, ?, ?)",
                          (received_at, address, m["studentName"], m["className"], m["token"], session))
                if self.shared:
                    with self._told_lock:
                        self._told.add(session)
                self.tell(c, SESSION_OPENED, session)
        return self.write_or_hold(work, lambda: self.notifier.stored(0))

    # Exams made on the page.
    def page_exams(self) -> list[dict[str, Any]]:
        """Each page exam with its tokens, oldest first, and since when the newest holds."""
        def work(c: Any) -> list[dict[str, Any]]:
            tokens: dict[int, list[tuple[str, float]]] = {}
            for exam_id, token, since in c.execute("SELECT exam_id, token, since FROM exam_tokens ORDER BY id"):
                tokens.setdefault(exam_id, []).append((token, since))
            return [{"id": r[0], "classes": json.loads(r[1]), "formUrl": r[2], "proctorPin": r[3], "opens": r[4],
                     "closes": r[5], "rotateMinutes": r[6], "ended": bool(r[7]), "school": r[8],
                     "tokens": [t for t, _ in tokens.get(r[0], [])], "since": tokens.get(r[0], [("", 0.0)])[-1][1]}
                    for r in c.execute("SELECT id, classes, form_url, proctor_pin, opens, closes, rotate_minutes,"
                                       " ended, school FROM page_exams ORDER BY id")]
        return self.read(work)

    def save_exam(self, exam_id: int | None, f: Any, created_at: str, now: float) -> int:
        """A new page exam (exam_id None) or an edit of one, with its new token
        when `f.token` is given, in one step; its id."""
        values = (json.dumps(list(f.classes), ensure_ascii=False), f.form_url, f.proctor_pin, f.opens, f.closes,
                  f.rotate_minutes, f.school)

        def work(c: Any) -> int:
            if exam_id is None:
                new_id = c.execute("INSERT INTO page_exams (classes, form_url, proctor_pin, opens, closes,"
                                   " rotate_minutes, school, created_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?) RETURNING id",
                                   values + (created_at,)).fetchone()[0]
            else:
                new_id = exam_id
                c.execute("UPDATE page_exams SET classes = ?, form_url = ?, proctor_pin = ?, opens = ?, closes = ?,"
                          " rotate_minutes = ?, school = ? WHERE id = ?", values + (exam_id,))
            if f.token:
                c.execute("INSERT INTO exam_tokens (exam_id, token, since) VALUES (?, ?, ?)", (new_id, f.token, now))
            self._changed(c, "exams")
            return new_id
        done = self._write_setting("exams", work)
        self.notifier.stored(0)
        return done

    def new_exam_token(self, exam_id: int, token: str, now: float, due_before: float | None = None) -> bool:
        """The exam's token from now on; the earlier ones stay for its running
        exams. With `due_before`, only when its token is older than that (a
        rotation two requests found due at once happens once)."""
        def work(c: Any) -> bool:
            if due_before is not None:
                since = c.execute("SELECT max(since) FROM exam_tokens WHERE exam_id = ?", (exam_id,)).fetchone()[0]
                if since is None or since > due_before:
                    return False
            c.execute("INSERT INTO exam_tokens (exam_id, token, since) VALUES (?, ?, ?)", (exam_id, token, now))
            self._changed(c, "exams")
            return True
        done = self._write_setting("exams", work)
        if done:
            self.notifier.stored(0)
        return done

    def end_exam(self, exam_id: int, ended: bool) -> None:
        def work(c: Any) -> None:
            c.execute("UPDATE page_exams SET ended = ? WHERE id = ?", (int(ended), exam_id))
            self._changed(c, "exams")
        self._write_setting("exams", work)
        self.notifier.stored(0)

    # What the page sets, read again by every process when it changes.
    def _changed(self, c: Any, name: str) -> None:
        """Inside the write that changes setting `name`."""
        bump(c, name)
        self.tell(c, SETTING_CHANGED, name)

    def _forget_version(self, name: str) -> None:
        with self._versions_lock:
            self._versions.pop(name, None)
            self._versions_moved += 1

    def _forget_versions(self) -> None:
        with self._versions_lock:
            self._versions.clear()
            self._versions_moved += 1

    def _write_setting(self, name: str, work: Work) -> Any:
        try:
            return self.write(work)
        finally:  # seen by this process at once; also after a time-out, since the write may still commit
            self._forget_version(name)

    def version_of(self, name: str) -> int:
        with self._versions_lock:
            version, moved = self._versions.get(name), self._versions_moved
        if version is None:
            row = self.read(lambda c: c.execute("SELECT version FROM changes WHERE name = ?", (name,)).fetchone())
            version = row[0] if row else 0
            with self._versions_lock:
                if moved == self._versions_moved:
                    self._versions[name] = version
        return version

    @property
    def exams_version(self) -> int:
        return self.version_of("exams")

    @property
    def lists_version(self) -> int:
        return self.version_of("lists")

    # Proctor accounts.
    def proctors(self) -> list[dict[str, Any]]:
        return self.read(lambda c: [proctor_dict(r) for r in c.execute(PROCTOR + " ORDER BY id")])

    def proctor(self, key: int | str) -> dict[str, Any] | None:
        """One account, by its id or its name's key."""
        column = "id" if isinstance(key, int) else "name_key"
        row = self.read(lambda c: c.execute(f"{PROCTOR} WHERE {column} = ?", (key,)).fetchone())
        return None if row is None else proctor_dict(row)

    def save_proctor(self, account: int | None, name: str, name_key: str, classes: tuple[str, ...],
                     salt_and_hash: tuple[str, str] | None, created_at: str, school: str = "") -> int:
        """A new account or an edit; a new password when `salt_and_hash` is given."""
        classes_json = json.dumps(list(classes), ensure_ascii=False)

        def work(c: Any) -> int:
            if account is None:
                salt, digest = salt_and_hash or ("", "")
                return c.execute("INSERT INTO proctors (name, name_key, salt, password_hash, classes, school,"
                                 " created_at) VALUES (?, ?, ?, ?, ?, ?, ?) RETURNING id",
                                 (name, name_key, salt, digest, classes_json, school, created_at)).fetchone()[0]
            c.execute("UPDATE proctors SET name = ?, name_key = ?, classes = ?, school = ? WHERE id = ?",
                      (name, name_key, classes_json, school, account))
            if salt_and_hash:
                c.execute("UPDATE proctors SET salt = ?, password_hash = ? WHERE id = ?", salt_and_hash + (account,))
            return account
        return self.write(work)

    def remove_proctor(self, account: int) -> None:
        self.write(lambda c: c.execute("DELETE FROM proctors WHERE id = ?", (account,)))

    # Class lists.
    def replace_class_list(self, class_name: str, names: tuple[str, ...]) -> None:
        """The class's list replaced whole, in one step: never half of one."""
        class_key = class_name.strip().casefold()

        def work(c: Any) -> None:
            c.execute("DELETE FROM class_lists WHERE class_key = ?", (class_key,))
            c.executemany("INSERT INTO class_lists (class_key, position, class_name, student_name) VALUES (?, ?, ?, ?)",
                          [(class_key, i, class_name.strip(), n) for i, n in enumerate(names)])
            self._changed(c, "lists")
        self._write_setting("lists", work)
        self.notifier.stored(0)

    def class_lists(self) -> dict[str, tuple[str, list[str]]]:
        """For each class with a list (by its key): its name and students, in order."""
        def work(c: Any) -> dict[str, tuple[str, list[str]]]:
            out: dict[str, tuple[str, list[str]]] = {}
            for class_key, class_name, name in c.execute(
                    "SELECT class_key, class_name, student_name FROM class_lists ORDER BY class_key, position"):
                out.setdefault(class_key, (class_name, []))[1].append(name)
            return out
        return self.read(work)

    def close_session(self, closed_at: str, address: str, session: str) -> bool:
        """The proctor closed an exam session; False when no such session is
        stored. Closing it again changes nothing."""
        def work(c: Any) -> bool:
            if c.execute("SELECT 1 FROM exam_sessions WHERE id = ?", (session,)).fetchone() is None:
                return False
            c.execute("INSERT INTO session_closes (closed_at, address, session) VALUES (?, ?, ?)"
                      " ON CONFLICT DO NOTHING", (closed_at, address, session))
            return True
        done = self.write(work)
        if done:
            self.notifier.stored(0)
        return done

    # Exam sessions.
    def exam_sessions(self) -> list[dict[str, Any]]:
        """Every exam session with its START (the id of the last one, 0: none)
        and whether it has a FINISH."""
        return self.read(lambda c: [
            {"id": r[0], "studentName": r[1], "className": r[2], "token": r[3], "lastContact": r[4],
             "missingSince": r[5], "started": r[6] or 0, "finished": bool(r[7]), "address": r[8],
             "closed": bool(r[9])}
            for r in c.execute(
                "SELECT s.id, s.student_name, s.class_name, s.token, s.last_contact, s.missing_since,"
                " (SELECT max(r.id) FROM reports r WHERE r.session = s.id AND r.event = 'START'),"
                " EXISTS (SELECT 1 FROM reports r WHERE r.session = s.id AND r.event = 'FINISH'),"
                " s.address, EXISTS (SELECT 1 FROM session_closes x WHERE x.session = s.id)"
                f" FROM exam_sessions s ORDER BY {self.backend.session_order}")])

    def save_contacts(self, contacts: list[tuple[float, str]]) -> None:
        """(last contact, session) pairs, all in one step. A contact never
        goes back: another process may have heard the PC later."""
        self.write(lambda c: c.executemany("UPDATE exam_sessions SET last_contact = ? WHERE id = ? AND last_contact < ?",
                                           [(t, sid, t) for t, sid in contacts]))

    # What the processes sharing the database learn from each other.
    def exam_session(self, session_id: str) -> dict[str, Any] | None:
        """One exam session as exam_sessions() gives it; None: not stored."""
        row = self.read(lambda c: c.execute(
            "SELECT s.id, s.student_name, s.class_name, s.token, s.last_contact, s.missing_since,"
            " (SELECT max(r.id) FROM reports r WHERE r.session = s.id AND r.event = 'START'),"
            " EXISTS (SELECT 1 FROM reports r WHERE r.session = s.id AND r.event = 'FINISH'),"
            " s.address, EXISTS (SELECT 1 FROM session_closes x WHERE x.session = s.id)"
            " FROM exam_sessions s WHERE s.id = ?", (session_id,)).fetchone())
        if row is None:
            return None
        return {"id": row[0], "studentName": row[1], "className": row[2], "token": row[3], "lastContact": row[4],
                "missingSince": row[5], "started": row[6] or 0, "finished": bool(row[7]), "address": row[8],
                "closed": bool(row[9])}

    def contacts_since(self, since: float) -> list[tuple[str, float, float | None]]:
        """(session, last contact, missing since) of the sessions heard after
        `since` or marked missing."""
        return self.read(lambda c: c.execute(
            "SELECT id, last_contact, missing_since FROM exam_sessions WHERE last_contact > ? OR missing_since IS NOT NULL",
            (since,)).fetchall())

    def session_events_after(self, after: int) -> list[tuple[int, str, str]]:
        """(report id, session, START or FINISH) stored after report `after`."""
        return self.read(lambda c: c.execute(
            "SELECT id, session, event FROM reports WHERE id > ? AND session IS NOT NULL"
            " AND event IN ('START', 'FINISH') ORDER BY id", (after,)).fetchall())

    def closes_after(self, after: int) -> list[tuple[int, str]]:
        """(close id, session) of the sessions the proctor closed after close `after`."""
        return self.read(lambda c: c.execute(
            "SELECT id, session FROM session_closes WHERE id > ? ORDER BY id", (after,)).fetchall())

    def last_close(self) -> int:
        """The id of the newest close (0: none)."""
        return self.read(lambda c: c.execute("SELECT coalesce(max(id), 0) FROM session_closes").fetchone()[0])

    def lead(self, duty: str) -> bool:
        """Whether this process does `duty` (the missing watch and the
        grouping of WhatsApp messages): always alone; with a shared database,
        one process at a time, another when it ends."""
        return self.backend.lead(duty)

    def add_notice(self, n: dict[str, Any], forward: bool) -> None:
        """An exam gone silent or heard again: remembered with its session (a
        restart does not tell the proctor twice) and, with WhatsApp, queued.
        A second PC in a student's name (kind "twice") is only queued: the
        page shows it from the stored verifications and reports."""
        def work(c: Any) -> None:
            if n["kind"] != "twice":
                c.execute("UPDATE exam_sessions SET missing_since = ? WHERE id = ?",
                          (n["lastContact"] if n["kind"] == "missing" else None, n["session"]))
            if forward:
                c.execute("INSERT INTO notices (kind, student_name, class_name, token, last_contact, gone, addresses)"
                          " VALUES (?, ?, ?, ?, ?, ?, ?)",
                          (n["kind"], n["studentName"], n["className"], n["token"], n["lastContact"], n["gone"],
                           n.get("addresses", "")))
        self.write(work)

    def reports_after(self, after: int, limit: int = 500) -> list[dict[str, Any]]:
        return self.read(lambda c: [report_dict(r) for r in c.execute(
            f"SELECT {REPORT_COLUMNS} FROM reports WHERE id > ? ORDER BY id LIMIT ?", (after, limit))])

    def timeline(self) -> list[dict[str, Any]]:
        """Verifications and reports in the order they were stored."""
        def work(c: Any) -> list[dict[str, Any]]:
            # received_at has a fixed width, so text order is time order.
            rows = c.execute(timeline_sql(after=False)).fetchall()
            out, seq = [], 0
            for kind, rid, at, name, cls, token, event, detail, session, address in rows:
                seq += 1
                out.append({"id": seq, "reportId": rid if kind == "report" else None, "kind": kind,
                            "receivedAt": at, "studentName": name, "className": cls, "token": token,
                            "event": event, "detail": detail, "session": session, "address": address})
            return out
        return self.read(work)

    def timeline_after(self, report_id: int, verification_id: int,
                       close_id: int = 0) -> tuple[list[dict[str, Any]], tuple[int, int, int]]:
        """The reports, verifications and closed sessions stored after these
        ids, in the order of timeline() (each "id" its table's), and the newest ids."""
        def work(c: Any) -> tuple[list[dict[str, Any]], tuple[int, int, int]]:
            rows = c.execute(timeline_sql(after=True), (report_id, verification_id, close_id)).fetchall()
            out, last = [], [report_id, verification_id, close_id]
            for kind, rid, at, name, cls, token, event, detail, session, address in rows:
                i = ("report", "verify", "close").index(kind)
                last[i] = max(last[i], rid)
                out.append({"id": rid, "reportId": rid if kind == "report" else None, "kind": kind,
                            "receivedAt": at, "studentName": name, "className": cls, "token": token,
                            "event": event, "detail": detail, "session": session, "address": address})
            return out, (last[0], last[1], last[2])
        return self.read(work)

    def all_reports(self) -> list[dict[str, Any]]:
        return self.read(lambda c: [report_dict(r) for r in c.execute(
            f"SELECT {REPORT_COLUMNS} FROM reports ORDER BY id")])

    def report_count(self) -> int:
        return self.read(lambda c: c.execute("SELECT count(*) FROM reports").fetchone()[0])

    # The WhatsApp outbox.
    def outbox_reports(self) -> list[dict[str, Any]]:
        return self.read(lambda c: [report_dict(r) for r in c.execute(
            f"SELECT {REPORT_COLUMNS.replace('id,', 'reports.id,', 1)} FROM outbox JOIN reports ON reports.id = outbox.report_id"
            " ORDER BY reports.id")])

    def outbox_notices(self) -> list[dict[str, Any]]:
        return self.read(lambda c: [
            {"id": r[0], "kind": r[1], "studentName": r[2], "className": r[3], "token": r[4], "lastContact": r[5],
             "gone": r[6], "addresses": r[7]}
            for r in c.execute("SELECT id, kind, student_name, class_name, token, last_contact, gone, addresses"
                               " FROM notices ORDER BY id")])

    def queue_messages(self, texts: list[str], recipients: tuple[str, ...], report_ids: list[int], now: float,
                       notice_ids: list[int] | None = None) -> None:
        """Turns outbox reports and notices into messages, one per recipient, in one step."""
        def work(c: Any) -> None:
            for text in texts:
                for to in recipients:
                    c.execute("INSERT INTO messages (recipient, text, created_at, next_try) VALUES (?, ?, ?, ?)",
                              (to, text, now, now))
            c.executemany("DELETE FROM outbox WHERE report_id = ?", [(i,) for i in report_ids])
            c.executemany("DELETE FROM notices WHERE id = ?", [(i,) for i in notice_ids or []])
        self.write(work)

    def next_messages(self) -> list[dict[str, Any]]:
        """The oldest pending message of each recipient: they go in order."""
        return self.read(lambda c: [
            {"id": r[0], "recipient": r[1], "text": r[2], "created_at": r[3], "attempts": r[4], "next_try": r[5]}
            for r in c.execute(
                "SELECT id, recipient, text, created_at, attempts, next_try FROM messages WHERE id IN"
                " (SELECT min(id) FROM messages WHERE state = 'pending' GROUP BY recipient) ORDER BY id")])

    def claim_message(self, now: float, lease: float) -> dict[str, Any] | None:
        """The oldest pending message of a recipient, due now, taken for
        `lease` seconds: meanwhile no other process takes it, nor the
        recipient's next one, which stays behind it (so they go in order).
        None: nothing is due."""
        row = self.write(lambda c: c.execute(
            "UPDATE messages SET next_try = ? WHERE id = (SELECT id FROM messages WHERE id IN"
            " (SELECT min(id) FROM messages WHERE state = 'pending' GROUP BY recipient) AND next_try <= ?"
            f" ORDER BY id LIMIT 1{self.backend.skip_locked}) RETURNING id, recipient, text, created_at, attempts",
            (now + lease, now)).fetchone())
        if row is None:
            return None
        return {"id": row[0], "recipient": row[1], "text": row[2], "created_at": row[3], "attempts": row[4]}

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
        def work(c: Any) -> dict[str, Any]:
            counts = dict(c.execute("SELECT state, count(*) FROM messages GROUP BY state").fetchall())
            waiting = c.execute("SELECT (SELECT count(*) FROM outbox) + (SELECT count(*) FROM notices)").fetchone()[0]
            err = c.execute("SELECT last_error FROM messages WHERE last_error != '' ORDER BY id DESC LIMIT 1").fetchone()
            sent = c.execute("SELECT max(done_at) FROM messages WHERE state = 'sent'").fetchone()[0]
            return {"grouping": waiting, "pending": counts.get("pending", 0), "sent": counts.get("sent", 0),
                    "failed": counts.get("failed", 0), "lastError": err[0] if err else "", "lastSentAt": sent}
        return self.read(work)

    def messages(self) -> list[dict[str, Any]]:
        return self.read(lambda c: [
            {"id": r[0], "recipient": r[1], "text": r[2], "state": r[3], "attempts": r[4], "lastError": r[5]}
            for r in c.execute("SELECT id, recipient, text, state, attempts, last_error FROM messages ORDER BY id")])

    # The proctor's commands (commands.py): queued in one step, each change
    # of state written as it happens, and told to the other processes with
    # the whole row, so that a heartbeat on any of them answers it.
    COMMAND_COLUMNS = ("id, seq, session, class_name, student_name, token, kind, text, created_at, sent_at,"
                       " done_at")

    @staticmethod
    def command_row(x: Any) -> tuple:
        return (x.id, x.seq, x.session, x.className, x.studentName, x.token, x.kind, x.text, x.created, x.sent,
                x.done)

    def add_commands(self, commands: list) -> None:
        """Stores them; a command numbered at or below one stored already (by
        another process) is numbered after it, so every process answers a
        session's commands in the same order."""
        def work(c: Any) -> None:
            last = c.execute("SELECT coalesce(max(seq), 0) FROM proctor_commands").fetchone()[0]
            for x in commands:
                if x.seq <= last:
                    x.seq = last + 1
                last = x.seq
            c.executemany(f"INSERT INTO proctor_commands ({self.COMMAND_COLUMNS}) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                          [self.command_row(x) for x in commands])
            for x in commands:
                self.tell(c, COMMAND_CHANGED, json.dumps(self.command_row(x)))
        self.write(work)

    def update_command(self, command) -> None:
        """Its sent and done times; held in memory when the database cannot be written."""
        sent, done, cid, row = command.sent, command.done, command.id, json.dumps(self.command_row(command))

        def work(c: Any) -> None:
            # A time another process wrote first is kept: each is the first of its kind.
            c.execute("UPDATE proctor_commands SET sent_at = coalesce(sent_at, ?), done_at = coalesce(done_at, ?)"
                      " WHERE id = ?", (sent, done, cid))
            self.tell(c, COMMAND_CHANGED, row)
        self.write_or_hold(work)

    def commands(self) -> list[tuple]:
        """Every command as a row of COMMAND_COLUMNS, in the order queued."""
        return self.read(lambda c: c.execute(
            f"SELECT {self.COMMAND_COLUMNS} FROM proctor_commands ORDER BY seq").fetchall())
