"""Who is still heard: the exam sessions that verify hands out, each one's
last contact (a report or a heartbeat), and the watch that marks a working
exam "Hilang" when it falls silent and tells the open pages at once.

A heartbeat costs a dictionary update under a lock: last contacts live in
memory and are written to the database every CONTACT_SAVE seconds, in one
step for all sessions heard since. A student's exam is the latest of their
sessions that sent a START; an older one no longer counts once a newer one
has started (the program was started again on that PC or another).

With a database shared by several processes, a PC's requests may reach any
of them: each process finds a session it did not hand out in the database,
writes the contacts it heard, and every second reads the START and FINISH
reports and the contacts the others stored. The watch itself runs in one
process at a time (Store.lead); the others show what it found.
"""
from __future__ import annotations

import dataclasses
import datetime as dt
import secrets
import threading
import time
from collections import deque
from dataclasses import dataclass
from typing import Any, Callable

from . import decisions
from .database import Store, StoreError, WriteFailed
from .notifier import Notifier

TICK = 1.0            # seconds between looks for silent exams
CONTACT_SAVE = 5.0    # seconds between writes of the last contacts
CHANGES_KEPT = 1000   # presence changes a stream can catch up on
SWEEP = 60.0          # seconds between looks for sessions to drop from memory


def new_session_id() -> str:
    return secrets.token_hex(16)  # 128 random bits, 32 lower-case hex digits


_zone: list = [None, 0.0]  # the local offset and when it was read


def iso(t: float) -> str:
    # The offset is read once a minute: looking it up for each of a thousand
    # students made the list of last contacts five times slower.
    if _zone[0] is None or time.monotonic() - _zone[1] > 60:
        _zone[:] = [dt.datetime.now().astimezone().tzinfo, time.monotonic()]
    return dt.datetime.fromtimestamp(t, _zone[0]).isoformat(timespec="milliseconds")


@dataclass
class ExamSession:
    id: str
    studentName: str
    className: str
    token: str
    last_contact: float            # seconds since 1970
    started: int = 0               # the id of its START report (0: none)
    finished: bool = False
    missing_since: float | None = None  # its last contact when it was found silent

    @property
    def student(self) -> tuple[str, str, str]:
        return decisions.student_key(self.className, self.studentName, self.token)

    @property
    def verified(self) -> tuple[str, str, str]:
        return (self.studentName, self.className, self.token)


class Presence:
    def __init__(self, store: Store, limit: float, forward: bool, log: Callable[[str], None],
                 wake_forwarder: Callable[[], None] = lambda: None, clock: Callable[[], float] = time.time,
                 notifier: Notifier | None = None) -> None:
        self.store, self.limit, self.forward, self.log = store, float(limit), forward, log
        self.notifier = notifier or store.notifier
        self.wake_forwarder, self.clock = wake_forwarder, clock
        self.lock = threading.Lock()
        self.sessions: dict[str, ExamSession] = {}
        self.current: dict[tuple[str, str, str], str] = {}  # each student's latest started session
        self.dirty: set[str] = set()
        self.notices: list[dict[str, Any]] = []  # to be written, oldest first
        self.changes: deque[tuple[int, dict]] = deque(maxlen=CHANGES_KEPT)
        self.change_seq = 0
        self.watching_since = clock()
        self.shared = store.shared
        self.watching = False
        self.reports_seen = store.notifier.last_id  # START and FINISH after it are read by sync()
        now = clock()
        for row in store.exam_sessions():
            if decisions.forgotten(bool(row["started"]), row["finished"], row["lastContact"], now):
                continue  # the database keeps it
            self._add(row)
        self.stopping = threading.Event()
        self.wake = threading.Event()
        self.thread = threading.Thread(target=self._run, name="presence", daemon=True)

    def start(self) -> None:
        self.thread.start()

    def stop(self) -> None:
        self.stopping.set()
        self.wake.set()
        if self.thread.is_alive():
            self.thread.join(timeout=15)
        self.write_notices()
        self.save_contacts()

    def _add(self, row: dict[str, Any]) -> ExamSession:
        s = ExamSession(row["id"], row["studentName"], row["className"], row["token"], row["lastContact"],
                        row["started"], row["finished"], row["missingSince"])
        with self.lock:
            s = self.sessions.setdefault(s.id, s)
            self._make_current(s)
        return s

    def _find(self, session_id: str | None) -> ExamSession | None:
        """The session, from memory or, when another process handed it out,
        from the database."""
        with self.lock:
            s = self.sessions.get(session_id or "")
        if s is not None or not self.shared or not session_id or len(session_id) > 64:
            return s
        try:
            row = self.store.exam_session(session_id)
        except StoreError:
            return None  # the database is away: not known for now
        return self._add(row) if row else None

    # What the routes call.
    def open(self, session_id: str, request: dict[str, str], now: float) -> ExamSession:
        """The exam session handed out with an accepted verification."""
        s = ExamSession(session_id, request["studentName"], request["className"], request["token"], now)
        with self.lock:
            self.sessions[s.id] = s
        return s

    def forget(self, session_id: str) -> None:
        """A session handed out but not stored after all."""
        with self.lock:
            self.sessions.pop(session_id, None)
            self.dirty.discard(session_id)

    def sweep(self, now: float) -> int:
        """Drops from memory the sessions of exams that ended, and those never
        started, a day after their last contact; how many it dropped."""
        with self.lock:
            gone = [sid for sid, s in self.sessions.items()
                    if decisions.forgotten(bool(s.started), s.finished, s.last_contact, now)]
            for sid in gone:
                s = self.sessions.pop(sid)
                self.dirty.discard(sid)
                if self.current.get(s.student) == sid:
                    del self.current[s.student]
        return len(gone)

    def verified_as(self, session_id: str | None) -> tuple[str, str, str] | None:
        """The name, class and token a session was verified with; None for no
        session or one never handed out."""
        s = self._find(session_id)
        return s.verified if s else None

    def heard(self, session_id: str, now: float, event: str = "", report_id: int = 0) -> bool:
        """A heartbeat, or a stored report of the session; False for an
        unknown session."""
        found = self._find(session_id)
        if found is None:
            return False
        with self.lock:
            s = self.sessions.setdefault(session_id, found)  # swept meanwhile: heard now, kept
            if event == "START" and report_id > s.started:
                s.started = report_id
                self._make_current(s)
            elif event == "FINISH":
                s.finished = True
            was_missing, silent_since = s.missing_since is not None, s.last_contact
            s.last_contact = max(s.last_contact, now)
            self.dirty.add(s.id)
            if was_missing:
                s.missing_since = None
                self._notice(s, "back", silent_since, now - silent_since)
                if self.current.get(s.student) == s.id:
                    self._announce(s, decisions.FINISHED if s.finished else decisions.WORKING)
        if was_missing:
            self.wake.set()
        return True

    def view(self, now: float) -> dict[tuple[str, str, str], dict]:
        """For each student whose latest started exam still runs: whether it
        is missing, and its last contact."""
        out = {}
        with self.lock:
            for key, sid in self.current.items():
                s = self.sessions[sid]
                if s.started and not s.finished:
                    out[key] = {"key": decisions.student_ref(key), "missing": s.missing_since is not None,
                                "lastContactAt": iso(s.last_contact), "heardAgo": max(0, int(now - s.last_contact))}
        return out

    def working(self) -> list[ExamSession]:
        """Each student's latest started exam that has not finished (a copy)."""
        with self.lock:
            return [dataclasses.replace(s) for s in (self.sessions[sid] for sid in self.current.values())
                    if s.started and not s.finished]

    def ended(self, session_id: str) -> bool:
        """The session's exam has finished, or a newer exam of its student
        started: the proctor's commands for it are over."""
        with self.lock:
            s = self.sessions.get(session_id)
            return s is None or s.finished or (bool(s.started) and self.current.get(s.student) != s.id)

    def changes_after(self, seq: int) -> tuple[int, list[dict] | None]:
        """The changes after `seq` and the newest number; None when some were
        dropped (the stream asks the page to load the roster again)."""
        with self.lock:
            if self.change_seq == seq:
                return seq, []
            if not self.changes or self.changes[0][0] > seq + 1:
                return self.change_seq, None
            return self.change_seq, [data for n, data in self.changes if n > seq]

    # Inside, under the lock.
    def _make_current(self, s: ExamSession) -> None:
        if not s.started:
            return
        cur = self.sessions.get(self.current.get(s.student, ""))
        if cur is None or s.started >= cur.started:
            self.current[s.student] = s.id

    def _notice(self, s: ExamSession, kind: str, last_contact: float, gone: float) -> None:
        self.notices.append({"kind": kind, "session": s.id, "studentName": s.studentName, "className": s.className,
                             "token": s.token, "lastContact": last_contact, "gone": gone})

    def _announce(self, s: ExamSession, state: str) -> None:
        self.change_seq += 1
        self.changes.append((self.change_seq, {
            "key": decisions.student_ref(s.student), "studentName": decisions.one_line(s.studentName),
            "className": decisions.one_line(s.className), "state": state, "lastContactAt": iso(s.last_contact)}))
        self.notifier.poke()

    # The watch.
    def check(self, now: float) -> int:
        """Marks the working exams silent for too long; how many it marked."""
        found = 0
        with self.lock:
            for sid in self.current.values():
                s = self.sessions[sid]
                if s.missing_since is None and decisions.is_missing(
                        bool(s.started), s.finished, s.last_contact, now, self.limit, self.watching_since):
                    s.missing_since = s.last_contact
                    self._notice(s, "missing", s.last_contact, now - s.last_contact)
                    self._announce(s, decisions.MISSING)
                    found += 1
        return found

    def sync(self, now: float) -> None:
        """What the other processes stored: START and FINISH reports, the
        contacts they heard, the exams the watching process found silent
        and the ones heard again elsewhere."""
        for rid, sid, event in self.store.session_events_after(self.reports_seen):
            self.reports_seen = rid
            s = self._find(sid)
            if s is None:
                continue
            with self.lock:
                if event == "START" and rid > s.started:
                    s.started = rid
                    self._make_current(s)
                elif event == "FINISH":
                    s.finished = True
        rows = self.store.contacts_since(now - self.limit - 60)
        with self.lock:
            pending = {n["session"] for n in self.notices}
            for sid, contact, missing in rows:
                s = self.sessions.get(sid)
                if s is None or sid in pending:
                    continue
                s.last_contact = max(s.last_contact, contact)
                current = self.current.get(s.student) == s.id
                if missing is not None and s.missing_since is None:
                    s.missing_since = missing  # found silent by the watching process
                    if current:
                        self._announce(s, decisions.MISSING)
                elif missing is None and s.missing_since is not None:
                    s.missing_since = None  # heard again by another process
                    if current:
                        self._announce(s, decisions.FINISHED if s.finished else decisions.WORKING)

    def _run(self) -> None:
        saved = swept = time.monotonic()
        while not self.stopping.is_set():
            try:
                if self.shared:
                    self.sync(self.clock())
                watching = self.store.lead("watch")
                if watching != self.watching and self.shared:
                    self.log("this process now watches for silent exams" if watching else
                             "another process watches for silent exams now")
                self.watching = watching
                if watching:
                    self.check(self.clock())
                if time.monotonic() - swept >= SWEEP:
                    swept = time.monotonic()
                    self.sweep(self.clock())
                self.write_notices()
                if time.monotonic() - saved >= CONTACT_SAVE:
                    saved = time.monotonic()
                    self.save_contacts()
            except Exception as e:  # a bad moment must not end the watch
                self.log(f"error: presence: {type(e).__name__}: {e}")
            self.wake.wait(TICK)
            self.wake.clear()

    def write_notices(self) -> None:
        while True:
            with self.lock:
                if not self.notices:
                    return
                n = self.notices[0]
            try:
                self.store.add_notice(n, self.forward)
            except WriteFailed:
                return  # tried again on the next tick; the store logs the cause
            with self.lock:
                self.notices.pop(0)
            if self.forward:
                self.wake_forwarder()

    def save_contacts(self) -> None:
        with self.lock:
            contacts = [(self.sessions[sid].last_contact, sid) for sid in self.dirty]
            self.dirty.clear()
        if not contacts:
            return
        try:
            self.store.save_contacts(contacts)
        except WriteFailed:
            with self.lock:
                self.dirty.update(sid for _, sid in contacts)
