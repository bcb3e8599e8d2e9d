"""The proctor's commands to one PC, from the page to the launcher: each is
queued for an exam session, answered one at a time in that session's
heartbeats (the oldest first), repeated until a heartbeat names it done, and
dropped once the exam has ended or ten minutes after it was queued.

The rules are plain functions of plain values; `Commands` keeps the commands
still to be done in memory, so that a heartbeat costs a look under a lock,
and writes each change of state through the store (a restart keeps them).
"""
from __future__ import annotations

import secrets
import threading
from dataclasses import dataclass
from typing import Any, Callable

from . import decisions

KINDS = ("message", "end", "lock", "unlock")
MAX_TEXT = 300           # characters of a message
EXPIRE_AFTER = 600.0     # seconds a command may wait for its done
WAITING, SENT, DONE, EXPIRED = "menunggu", "terkirim", "dilakukan", "kedaluwarsa"
BAD_KIND = "Perintah tidak dikenal."
BAD_TEXT = "Pesan kosong atau lebih dari 300 karakter."
NO_CLASS = "Kelas belum diisi."
MAX_FIELD = {**decisions.LIMITS, "school": decisions.MAX_SCHOOL}
TOO_LONG = {"className": f"Nama kelas paling banyak {MAX_FIELD['className']} huruf.",
            "studentName": f"Nama siswa paling banyak {MAX_FIELD['studentName']} huruf.",
            "token": f"Token paling banyak {MAX_FIELD['token']} huruf.",
            "school": decisions.LONG_SCHOOL}


@dataclass
class Command:
    id: str
    seq: int
    session: str
    className: str
    studentName: str
    token: str
    kind: str
    text: str
    created: float                 # seconds since 1970
    sent: float | None = None      # first answered in a heartbeat
    done: float | None = None      # named done by a heartbeat


def new_command_id() -> str:
    return secrets.token_urlsafe(12)  # 16 characters of [A-Za-z0-9_-]


def read_request(body: bytes) -> dict[str, str] | str:
    """The page's request {"className", "studentName" (optional), "kind",
    "text"}, or the text of the 400 that refuses it."""
    obj = decisions.page_json(body)
    if not isinstance(obj, dict):
        return BAD_KIND
    kind, cls, name, text = (obj.get(k) for k in ("kind", "className", "studentName", "text"))
    if not isinstance(kind, str) or kind not in KINDS:
        return BAD_KIND
    # "5A" of two schools are two classes: a row's button names its exam's
    # token, the class box the school the page is filtered by.
    pinned = {k: obj[k] for k in ("token", "school") if obj.get(k) not in (None, "")}
    if any(not isinstance(v, str) for v in pinned.values()):
        return BAD_KIND
    if not isinstance(cls, str) or not cls.strip():
        return NO_CLASS
    if name is not None and not isinstance(name, str):
        return BAD_KIND
    # No exam has a longer class, name, token or school: refused, not searched for.
    for field, value in (("className", cls), ("studentName", name or ""), *pinned.items()):
        if decisions.utf16_units(value) > MAX_FIELD[field]:
            return TOO_LONG[field]
    if kind == "message":
        if not isinstance(text, str) or not text.strip() or len(text) > MAX_TEXT:
            return BAD_TEXT
        text = text.replace("\r\n", "\n")
    else:
        text = ""
    return {"kind": kind, "className": cls, "studentName": name or "", "text": text, **pinned}


def chosen(working: list[Any], request: dict[str, str], exams: tuple[Any, ...]) -> list[Any]:
    """The working exams (each with className, studentName, token, started)
    a request is for: those of its class, of its exam's token or school when
    it names one; with a student, that student's latest exam."""
    name = decisions.one_line(request["studentName"]).casefold()
    found = []
    for s in working:
        if not decisions.same_class(s.className, request["className"]):
            continue
        if name and decisions.one_line(s.studentName).casefold() != name:
            continue
        if "token" in request and not decisions.same_token(s.token, request["token"]):
            continue
        if "school" in request:
            exam = decisions.exam_of({"className": s.className, "token": s.token}, exams)
            if exam is None or exam.school != request["school"]:
                continue
        found.append(s)
    return sorted(found, key=lambda s: s.started)[-1:] if name else found


def expired(c: Command, now: float) -> bool:
    return c.done is None and now - c.created >= EXPIRE_AFTER


def state(c: Command, now: float, ended: bool) -> str:
    """What the page shows: done, else expired (ten minutes, or the exam
    ended meanwhile), else answered in a heartbeat, else queued."""
    if c.done is not None:
        return DONE
    if ended or expired(c, now):
        return EXPIRED
    return SENT if c.sent is not None else WAITING


def next_command(queue: list[Command], now: float) -> Command | None:
    """The session's command to answer: the oldest not done nor expired."""
    for c in sorted(queue, key=lambda c: c.seq):
        if c.done is None and not expired(c, now):
            return c
    return None


def answer(c: Command | None) -> dict[str, Any]:
    """The heartbeat's answer carrying the command (or none)."""
    if c is None:
        return {"ok": True}
    out: dict[str, Any] = {"ok": True, "command": c.kind, "commandId": c.id}
    if c.kind == "message":
        out["text"] = c.text
    return out


def locked(commands: list[Command]) -> bool:
    """A lock done and not undone: the last done of the locks and unlocks is a lock."""
    done = [c for c in commands if c.kind in ("lock", "unlock") and c.done is not None]
    return bool(done) and max(done, key=lambda c: (c.done, c.seq)).kind == "lock"


class Commands:
    """Every command of the store, by session; changes written through `save`."""

    def __init__(self, rows: list[Command], add: Callable[[list[Command]], None],
                 change: Callable[[Command], None], changed: Callable[[], None] = lambda: None) -> None:
        self.lock = threading.Lock()
        self.by_session: dict[str, list[Command]] = {}
        self.by_id: dict[str, Command] = {}
        self._add, self._change, self._changed = add, change, changed
        self.seq = 0
        for c in rows:
            self._keep(c)

    def _keep(self, c: Command) -> None:
        self.by_session.setdefault(c.session, []).append(c)
        self.by_id[c.id] = c
        self.seq = max(self.seq, c.seq)

    def queue(self, targets: list[tuple[str, str, str, str]], kind: str, text: str, now: float) -> list[Command]:
        """One command for each (session, className, studentName, token), stored first."""
        with self.lock:
            made = []
            for session, cls, name, token in targets:
                self.seq += 1
                made.append(Command(new_command_id(), self.seq, session, cls, name, token, kind, text, now))
            self._add(made)  # raises when it cannot be stored: nothing is queued then
            for c in made:
                self._keep(c)
        self._changed()
        return made

    def heartbeat(self, session: str, done: str | None, ended: bool, now: float) -> dict[str, Any]:
        """A heartbeat of the session, naming `done`: its answer."""
        changed = []
        with self.lock:
            queue = self.by_session.get(session, [])
            c = self.by_id.get(done or "")
            if c is not None and c.session == session and c.done is None:
                c.done = now
                changed.append(c)
            nxt = None if ended else next_command(queue, now)
            if nxt is not None and nxt.sent is None:
                nxt.sent = now
                changed.append(nxt)
        for c in changed:
            self._change(c)
        if changed:
            self._changed()
        return answer(nxt)

    def merge(self, c: Command) -> None:
        """A command as another process sharing the database stored it: new
        here, or its first sent and done times (this process's own come back
        the same way and change nothing)."""
        with self.lock:
            mine = self.by_id.get(c.id)
            if mine is None:
                self._keep(c)
            elif (mine.sent is None and c.sent is not None) or (mine.done is None and c.done is not None):
                mine.sent = mine.sent if mine.sent is not None else c.sent
                mine.done = mine.done if mine.done is not None else c.done
            else:
                return
        self._changed()

    def of_session(self, session: str) -> list[Command]:
        with self.lock:
            return list(self.by_session.get(session, []))

    def all(self) -> list[Command]:
        with self.lock:
            return sorted(self.by_id.values(), key=lambda c: c.seq)
