"""The server's decisions as pure functions of plain values: which token is
accepted, what a request body holds, who is limited, what state a student is
in. Nothing here touches the network, the database or the clock."""
from __future__ import annotations

import datetime as dt
import json
import re
import urllib.parse
from collections import deque
from dataclasses import dataclass

from .config import Exam, aware

VERIFY_MEMBERS = ("studentName", "className", "token")
EVENT_MEMBERS = ("studentName", "className", "token", "event", "detail")

TOKEN_INVALID = "Token tidak valid."
INCOMPLETE = "Permintaan tidak lengkap."
CLOSED = "Ujian sudah ditutup."
TOO_MANY = "Terlalu banyak percobaan. Tunggu satu menit."

VERIFIED, WORKING, FINISHED = "Terverifikasi", "Mengerjakan", "Selesai"


def compact(obj: object) -> str:
    # The launcher searches the answer for `"key":value` with no blank around
    # the colon and reads strings back with only \" and \\ undone: compact
    # separators and raw UTF-8.
    return json.dumps(obj, ensure_ascii=False, separators=(",", ":"))


def members(body: bytes, names: tuple[str, ...]) -> dict[str, str] | None:
    """The body's members when it is exactly one JSON object with these
    string members and no others; None otherwise."""
    # A stray byte that is not UTF-8 costs a letter, not the whole report.
    try:
        obj = json.loads(body.decode("utf-8", "replace"), strict=False)
    except ValueError:
        return None
    if not isinstance(obj, dict) or set(obj) != set(names):
        return None
    if not all(isinstance(obj[n], str) for n in names):
        return None
    return {n: obj[n] for n in names}


def same_class(a: str, b: str) -> bool:
    return a.strip().casefold() == b.strip().casefold()


def same_token(a: str, b: str) -> bool:
    # The launcher's token field types capitals; a token written in small
    # letters in the configuration must still match.
    return a.strip().upper() == b.strip().upper()


def printable(text: str) -> str:
    """Text for a message the launcher shows: its reader turns \\u escapes
    into letters, so control characters become blanks before JSON sees them."""
    return "".join(" " if ord(c) < 0x20 or c == "\x7f" else c for c in text)


@dataclass(frozen=True)
class Verdict:
    ok: bool
    answer: str          # the compact JSON body
    exam: Exam | None = None
    wrong_token: bool = False  # counts toward the address's limit


def verify(request: dict[str, str] | None, exams: tuple[Exam, ...], now: dt.datetime) -> Verdict:
    if request is None:
        return Verdict(False, compact({"ok": False, "error": INCOMPLETE}))
    with_token = [e for e in exams if same_token(e.token, request["token"])]
    if not with_token:
        return Verdict(False, compact({"ok": False, "error": TOKEN_INVALID}), wrong_token=True)
    exam = next((e for e in with_token if same_class(e.class_name, request["className"])), None)
    if exam is None:
        kelas = printable(request["className"].strip())
        return Verdict(False, compact({"ok": False, "error": f"Token ini bukan untuk kelas {kelas}."}), wrong_token=True)
    # Compared in aware time: an exam written with "+07:00" opens at that
    # instant whatever zone the server's clock is set to.
    if exam.opens and aware(now) < aware(exam.opens):
        return Verdict(False, compact({"ok": False, "error": f"Ujian belum dibuka. Mulai pukul {exam.opens:%H:%M}."}), exam)
    if exam.closes and aware(now) >= aware(exam.closes):
        return Verdict(False, compact({"ok": False, "error": CLOSED}), exam)
    name = urllib.parse.quote(request["studentName"], safe="")
    answer: dict[str, object] = {"ok": True, "formUrl": exam.form_url.replace("{studentName}", name)}
    if exam.proctor_pin:
        answer["proctorPin"] = exam.proctor_pin
    return Verdict(True, compact(answer), exam)


def exam_of(report: dict[str, str], exams: tuple[Exam, ...]) -> Exam | None:
    """The exam a report belongs to; None for a token of no exam of its class."""
    for e in exams:
        if same_token(e.token, report["token"]) and same_class(e.class_name, report["className"]):
            return e
    return None


class Limiter:
    """More than `limit` failures from one address within `window` seconds:
    refused until the oldest of them is `window` seconds old."""

    def __init__(self, limit: int = 10, window: float = 60.0) -> None:
        self.limit, self.window = limit, window
        self.failures: dict[str, deque[float]] = {}

    def _recent(self, address: str, now: float) -> deque[float]:
        times = self.failures.setdefault(address, deque())
        while times and times[0] <= now - self.window:
            times.popleft()
        return times

    def blocked(self, address: str, now: float) -> bool:
        blocked = len(self._recent(address, now)) >= self.limit
        if not self.failures[address]:
            del self.failures[address]  # keep the table as small as the attack
        return blocked

    def failed(self, address: str, now: float) -> None:
        self._recent(address, now).append(now)


def student_key(class_name: str, student_name: str, token: str) -> tuple[str, str, str]:
    # "Budi  Santoso" and "budi santoso" are one student on the proctor's list.
    return (class_name.strip().casefold(), " ".join(student_name.split()).casefold(), token.strip().upper())


@dataclass
class Student:
    className: str
    studentName: str
    token: str
    state: str = VERIFIED
    violations: int = 0
    lastEventAt: str = ""
    lastDetail: str = ""
    lastId: int = 0


def roster(entries: list[dict], exams: tuple[Exam, ...]) -> list[dict]:
    """One entry per student of the exams, incidents first.

    `entries`: verifications and reports in the order they were stored, each
    {"id", "kind": "verify"|"report", "receivedAt", "studentName",
    "className", "token", "event", "detail"}. The state is that of the last
    verification, START or FINISH; a VIOLATION only counts."""
    students: dict[tuple[str, str, str], Student] = {}
    for e in entries:
        exam = exam_of(e, exams)
        if exam is None:
            continue
        key = student_key(exam.class_name, e["studentName"], exam.token)
        s = students.get(key)
        if s is None:
            s = students[key] = Student(exam.class_name, " ".join(e["studentName"].split()), exam.token)
        if e["kind"] == "verify":
            s.state, detail = VERIFIED, "Token diverifikasi."
        else:
            event, detail = e["event"], e["detail"]
            if event == "START":
                s.state = WORKING
            elif event == "FINISH":
                s.state = FINISHED
            elif event == "VIOLATION":
                s.violations += 1
        s.lastEventAt, s.lastDetail, s.lastId = e["receivedAt"], detail, e["id"]
    ordered = sorted(students.values(), key=lambda s: (-s.violations, -s.lastId))
    return [{k: v for k, v in vars(s).items() if k != "lastId"} for s in ordered]


FORMULA_START = ("=", "+", "-", "@", "\t", "\r")


def csv_cell(text: str) -> str:
    """A name typed as "=HYPERLINK(...)" must stay text when the proctor
    opens the file in a spreadsheet, also one that splits on ";" (Excel in
    the Indonesian locale) or on ",": every piece that would start a cell
    starts with a quote mark instead."""
    return "".join("'" + piece if piece[:1] in FORMULA_START else piece for piece in re.split(r"(?<=[,;])", text))
