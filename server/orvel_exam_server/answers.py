"""The proctor's roster and timelines, made from each stored row once.

Every open page loads the roster and two timelines after a stream event;
read from the whole store each time, a week of exams made each of those
loads read every row ever stored. Here the rows stored since the last
answer are read and folded into what was made of the earlier ones, once
for all pages: nothing is read again until the store's version moves, and
the answers made since then are given as they are.
"""
from __future__ import annotations

import sys
import threading
from typing import Any, Callable

from . import decisions
from .config import Exam


REPEATED = ("kind", "studentName", "className", "token", "event", "detail", "session", "address")


def shown_entry(e: dict) -> dict:
    """A timeline entry as the page shows it (the stored text stays as it came)."""
    out = dict(e)
    for k in ("studentName", "className", "token", "detail"):
        out[k] = decisions.shown(e[k])
    out["session"] = e["session"] is not None
    return out


class Answers:
    """`store`: its notifier's `version` and `timeline_after(report_id, verification_id, close_id)`."""

    def __init__(self, store: Any, exams: tuple[Exam, ...] | Callable[[], tuple[Exam, ...]]) -> None:
        # `exams`: the exams, or where to ask for them now (the page changes them).
        self.store = store
        self.exams_now = exams if callable(exams) else (lambda: exams)
        self.lock = threading.Lock()
        self.reads = 0                  # reads of the store, for the tests and the figures
        self._reset(self.exams_now())

    def _reset(self, exams: tuple[Exam, ...]) -> None:
        """Everything made from the rows dropped: another set of exams sorts
        them otherwise (a new exam, a new token). Read again at the next answer."""
        self.exams = exams
        self.version = -1
        self.after = (0, 0, 0)          # the last report, verification and close folded in
        self.seq = 0                    # the entries' numbers, in the order they were stored
        self.students: dict[tuple[str, str, str], decisions.Student] = {}
        self.by_student: dict[tuple[str, str, str], list[dict]] = {}
        self.nosession: list[dict] = []
        self.unknown: list[dict] = []
        self.made: dict[object, str] = {}  # answers made since the last change, as JSON text
        self.lists: decisions.Lists = {}
        self.lists_version = -1

    def _catch_up(self) -> None:
        """Under the lock: the rows stored since the last look folded in."""
        exams = self.exams_now()
        if exams != self.exams:
            lists, lists_version = self.lists, self.lists_version
            self._reset(exams)
            self.lists, self.lists_version = lists, lists_version
        version = self.store.notifier.version  # read first: a commit during the read is seen next time
        lists_version = getattr(self.store, "lists_version", 0)
        if lists_version != self.lists_version:
            # A class list is replaced whole and seldom: read again whole, once per change.
            self.lists, self.lists_version = self.store.class_lists(), lists_version
            self.made.clear()
        if version == self.version:
            return
        rows, self.after = self.store.timeline_after(*self.after)
        self.reads += 1
        entries = []
        for row in rows:
            self.seq += 1
            e = dict(row, id=self.seq)
            for k in REPEATED:  # the same few texts in row after row: kept once
                if e[k] is not None:
                    e[k] = sys.intern(e[k])
            entries.append(e)
            exam = decisions.exam_of(e, self.exams)
            if e["kind"] == "report" and e["session"] is None:
                self.nosession.append(e)
            elif exam is None:
                if e["kind"] == "report":
                    self.unknown.append(e)
            else:
                # Known by the exam's first token: a new token makes no new student.
                key = decisions.student_key(e["className"], e["studentName"], exam.ident)
                self.by_student.setdefault(key, []).append(e)
        decisions.fold(self.students, entries, self.exams)
        self.version = version
        self.made.clear()

    def warm(self) -> None:
        """Reads what is stored now, so that the first page after a start
        does not wait for a week of rows."""
        with self.lock:
            self._catch_up()

    def roster(self, heard: dict[tuple, dict]) -> list[dict]:
        """The roster (decisions.roster) with who is heard now."""
        with self.lock:
            self._catch_up()
            return decisions.ranked(self.students, heard, self.lists, self.exams)

    def timeline(self, nosession: bool = False, unknown: bool = False,
                 student: tuple[str, str, str] | None = None) -> str:
        """The reports sent without an exam session, those whose token belongs
        to no exam of their class, or one student's verifications and reports."""
        with self.lock:
            self._catch_up()
            which = "nosession" if nosession else "unknown" if unknown else student
            text = self.made.get(which)
            if text is None:
                found = self.nosession if nosession else self.unknown if unknown else self.by_student.get(student, [])
                text = self.made[which] = decisions.compact([shown_entry(e) for e in found])
            return text
