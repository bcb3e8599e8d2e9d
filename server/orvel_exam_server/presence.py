"""Who is still heard: the exam sessions that verify hands out, each one's
last contact (a report or a heartbeat), and the watch that marks a working
exam "Hilang" when it falls silent and tells the open pages at once.

A heartbeat costs a dictionary update under a lock: last contacts live in
memory and are written to the database every CONTACT_SAVE seconds, in one
step for all sessions heard since. Each started session of a student is
watched on its own (decisions.seat_event): a START from the same PC replaces
the exam that ran there (the program was started again), one from another PC
runs beside it, and the student is "Hilang" while any of them is silent. A
second PC in a working student's name is an incident, told once.

With a database shared by several processes, a PC's requests may reach any
of them: each process finds a session it did not hand out in the database,
writes the contacts it heard, and every second reads the START and FINISH
reports, the proctor's closes and the contacts the others stored. The watch
itself runs in one process at a time (Store.lead); the others show what it
found.
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
    address: str = ""              # the PC's, as it verified

    @property
    def verified(self) -> tuple[str, str, str]:
        return (self.studentName, self.className, self.token)


class Presence:
    def __init__(self, store: Store, limit: float, forward: bool, log: Callable[[str], None],
                 wake_forwarder: Callable[[], None] = lambda: None, clock: Callable[[], float] = time.time,
                 notifier: Notifier | None = None,
                 ident: Callable[[str, str], str] = lambda class_name, token: token) -> None:
        # `ident`: the token a student's row is known by (Exam.ident) for a
        # class and a token the session was verified with.
        self.ident = ident
        self.store, self.limit, self.forward, self.log = store, float(limit), forward, log
        self.notifier = notifier or store.notifier
        self.wake_forwarder, self.clock = wake_forwarder, clock
        self.lock = threading.Lock()
        self.sessions: dict[str, ExamSession] = {}
        self.seats: dict[tuple[str, str, str], dict[str, decisions.Seat]] = {}  # each student's sessions
        self.dirty: set[str] = set()
        self.notices: list[dict[str, Any]] = []  # to be written, oldest first
        self.changes: deque[tuple[int, dict]] = deque(maxlen=CHANGES_KEPT)
        self.change_seq = 0
        self.watching_since = clock()
        self.shared = store.shared
        self.watching = False
        self.reports_seen = store.notifier.last_id  # START and FINISH after it are read by sync()
        self.closes_seen = store.last_close() if self.shared else 0  # and the closes after this one
        now = clock()
        kept = []
        for row in store.exam_sessions():
            if decisions.forgotten(bool(row["started"]), row["finished"], row["lastContact"], now):
                continue  # the database keeps it
            s = ExamSession(row["id"], row["studentName"], row["className"], row["token"], row["lastContact"],
                            row["started"], row["finished"], row["missingSince"], row["address"])
            self.sessions[s.id] = s
            kept.append((s, row["closed"]))
        # Taken in again in the order they happened, so that the same sessions are
        # replaced and no incident is told twice.
        for s, _ in kept:
            self._seat(s, decisions.VERIFY)
        for s, _ in sorted((k for k in kept if k[0].started), key=lambda k: k[0].started):
            self._seat(s, "START")
        for s, closed in kept:
            if s.finished:
                self._seat(s, "FINISH")
            if closed:
                self._seat(s, decisions.CLOSE)
        self.notices.clear()
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
        """A session another process handed out, taken in with what it did
        so far. Its incident, if any, was told by the process that saw it."""
        s = ExamSession(row["id"], row["studentName"], row["className"], row["token"], row["lastContact"],
                        row["started"], row["finished"], row["missingSince"], row["address"])
        with self.lock:
            if s.id in self.sessions:
                return self.sessions[s.id]
            self._take_in(s, bool(row.get("closed")))
        return s

    def _take_in(self, s: ExamSession, closed: bool) -> None:
        # Under the lock.
        self.sessions[s.id] = s
        told = len(self.notices)
        self._seat(s, decisions.VERIFY)
        if s.started:
            self._seat(s, "START")
        if s.finished:
            self._seat(s, "FINISH")
        if closed:
            self._seat(s, decisions.CLOSE)
        del self.notices[told:]

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
    def open(self, session_id: str, request: dict[str, str], now: float, address: str = "") -> ExamSession:
        """The exam session handed out with an accepted verification."""
        s = ExamSession(session_id, request["studentName"], request["className"], request["token"], now,
                        address=address)
        with self.lock:
            self.sessions[s.id] = s
            self._seat(s, decisions.VERIFY)
        return s

    def forget(self, session_id: str) -> None:
        """A session handed out but not stored after all."""
        with self.lock:
            s = self.sessions.pop(session_id, None)
            self.dirty.discard(session_id)
            if s is not None:
                self.seats.get(self._key(s), {}).pop(s.id, None)
                self.notices = [n for n in self.notices if n["session"] != session_id]

    def close(self, session_id: str) -> bool:
        """The proctor closed the session: no longer watched. False for an
        unknown one."""
        if self._find(session_id) is None:
            return False
        with self.lock:
            s = self.sessions.get(session_id)
            if s is None:
                return False
            s.missing_since = None
            self._seat(s, decisions.CLOSE)
            self._announce(s, self._state(self._key(s)))
        self.wake.set()
        return True

    def sweep(self, now: float) -> int:
        """Drops from memory the sessions of exams that ended, and those never
        started, a day after their last contact; how many it dropped."""
        with self.lock:
            gone = [sid for sid, s in self.sessions.items()
                    if decisions.forgotten(bool(s.started), s.finished, s.last_contact, now)]
            for sid in gone:
                s = self.sessions.pop(sid)
                self.dirty.discard(sid)
                seats = self.seats.get(self._key(s), {})
                seats.pop(sid, None)
                if not seats:
                    self.seats.pop(self._key(s), None)
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
            s = self.sessions.get(session_id)
            if s is None:  # swept meanwhile: heard now, kept
                s = found
                self._take_in(s, False)
            if event == "START" and report_id > s.started:
                s.started = report_id
                self._seat(s, "START")
            elif event == "FINISH":
                s.finished = True
                self._seat(s, "FINISH")
            was_missing, silent_since = s.missing_since is not None, s.last_contact
            s.last_contact = max(s.last_contact, now)
            self.dirty.add(s.id)
            if was_missing:
                s.missing_since = None
                self._notice(s, "back", silent_since, now - silent_since)
                self._announce(s, self._state(self._key(s)))
        if was_missing:
            self.wake.set()
        return True

    def view(self, now: float) -> dict[tuple[str, str, str], dict]:
        """For each student with a started exam still running: whether one
        is missing and which PCs are, and the last contact of the one heard
        least lately (a PC gone quiet is never hidden by another that is heard)."""
        out = {}
        with self.lock:
            for key in self.seats:
                running = self._running(key)
                if not running:
                    continue
                quiet = min(running, key=lambda s: s.last_contact)
                out[key] = {"key": decisions.student_ref(key),
                            "missing": any(s.missing_since is not None for s in running),
                            "missingAddresses": sorted({s.address for s in running if s.missing_since is not None}),
                            "lastContactAt": iso(quiet.last_contact), "heardAgo": max(0, int(now - quiet.last_contact))}
        return out

    def _latest(self, key: tuple[str, str, str]) -> ExamSession | None:
        # Under the lock: the student's running exam that started last.
        running = self._running(key)
        return max(running, key=lambda s: s.started) if running else None

    def working(self) -> list[ExamSession]:
        """Each student's latest started exam still running (a copy): the one
        the proctor's commands go to."""
        with self.lock:
            return [dataclasses.replace(s) for s in (self._latest(key) for key in self.seats) if s is not None]

    def ended(self, session_id: str) -> bool:
        """The session's exam has finished, was closed or replaced, or a newer
        exam of its student started: the proctor's commands for it are over."""
        with self.lock:
            s = self.sessions.get(session_id)
            if s is None or s.finished:
                return True
            seat = self.seats.get(self._key(s), {}).get(s.id)
            if seat is None or seat.closed or seat.replaced:
                return True
            latest = self._latest(self._key(s))
            return bool(s.started) and (latest is None or latest.id != s.id)

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
    def _key(self, s: ExamSession) -> tuple[str, str, str]:
        return decisions.student_key(s.className, s.studentName, self.ident(s.className, s.token))

    def _seat(self, s: ExamSession, event: str) -> None:
        seats = self.seats.setdefault(self._key(s), {})
        incident = decisions.seat_event(seats, s.id, s.address, event)
        for sid, seat in seats.items():
            other = self.sessions.get(sid)
            if other is not None and (seat.closed or seat.replaced):
                other.missing_since = None  # its silence is no one's concern now
        if incident:
            self.notices.append({"kind": "twice", "session": s.id, "studentName": s.studentName,
                                 "className": s.className, "token": s.token, "lastContact": s.last_contact,
                                 "gone": 0.0, "addresses": ", ".join(incident)})

    def _running(self, key: tuple[str, str, str]) -> list[ExamSession]:
        return [self.sessions[sid] for sid, seat in self.seats.get(key, {}).items()
                if seat.running and sid in self.sessions]

    def _state(self, key: tuple[str, str, str]) -> str:
        if any(s.missing_since is not None for s in self._running(key)):
            return decisions.MISSING
        return decisions.seats_state(self.seats.get(key, {}))

    def _notice(self, s: ExamSession, kind: str, last_contact: float, gone: float) -> None:
        self.notices.append({"kind": kind, "session": s.id, "studentName": s.studentName, "className": s.className,
                             "token": s.token, "lastContact": last_contact, "gone": gone, "addresses": s.address})

    def _announce(self, s: ExamSession, state: str) -> None:
        self.change_seq += 1
        self.changes.append((self.change_seq, {
            "key": decisions.student_ref(self._key(s)), "studentName": decisions.one_line(s.studentName),
            "className": decisions.one_line(s.className), "token": self.ident(s.className, s.token),
            "state": state, "address": s.address,
            "lastContactAt": iso(s.last_contact)}))
        self.notifier.poke()

    # The watch.
    def check(self, now: float) -> int:
        """Marks the working exams silent for too long; how many it marked."""
        found = 0
        with self.lock:
            for key in self.seats:
                for s in self._running(key):
                    if s.missing_since is None and decisions.is_missing(
                            bool(s.started), s.finished, s.last_contact, now, self.limit, self.watching_since):
                        s.missing_since = s.last_contact
                        self._notice(s, "missing", s.last_contact, now - s.last_contact)
                        self._announce(s, decisions.MISSING)
                        found += 1
        return found

    def sync(self, now: float) -> None:
        """What the other processes stored: START and FINISH reports, the
        proctor's closes, the contacts they heard, the exams the watching
        process found silent and the ones heard again elsewhere."""
        for rid, sid, event in self.store.session_events_after(self.reports_seen):
            self.reports_seen = rid
            s = self._find(sid)
            if s is None:
                continue
            with self.lock:
                if event == "START" and rid > s.started:
                    s.started = rid
                    self._seat(s, "START")
                elif event == "FINISH" and not s.finished:
                    s.finished = True
                    self._seat(s, "FINISH")
        for cid, sid in self.store.closes_after(self.closes_seen):
            self.closes_seen = cid
            s = self._find(sid)
            if s is None:
                continue
            with self.lock:
                seat = self.seats.get(self._key(s), {}).get(s.id)
                if seat is not None and not seat.closed:
                    s.missing_since = None
                    self._seat(s, decisions.CLOSE)
                    self._announce(s, self._state(self._key(s)))
        rows = self.store.contacts_since(now - self.limit - 60)
        with self.lock:
            pending = {n["session"] for n in self.notices}
            for sid, contact, missing in rows:
                s = self.sessions.get(sid)
                if s is None or sid in pending:
                    continue
                s.last_contact = max(s.last_contact, contact)
                seat = self.seats.get(self._key(s), {}).get(s.id)
                watched = seat is not None and seat.running
                if missing is not None and s.missing_since is None and watched:
                    s.missing_since = missing  # found silent by the watching process
                    self._announce(s, decisions.MISSING)
                elif missing is None and s.missing_since is not None:
                    s.missing_since = None  # heard again by another process
                    self._announce(s, self._state(self._key(s)))

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
