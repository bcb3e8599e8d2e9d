"""The server's decisions as pure functions of plain values: which token is
accepted, what a request body holds, who is limited, what state a student is
in. Nothing here touches the network, the database or the clock."""
from __future__ import annotations

import datetime as dt
import json
import re
import unicodedata
import urllib.parse
from collections import deque
from dataclasses import dataclass, field, replace

from .config import Exam, aware

VERIFY_MEMBERS = ("studentName", "className", "token")
EVENT_MEMBERS = ("studentName", "className", "token", "event", "detail")

TOKEN_INVALID = "Token tidak valid."
INCOMPLETE = "Permintaan tidak lengkap."
CLOSED = "Ujian sudah ditutup."
TOO_MANY = "Terlalu banyak percobaan. Tunggu satu menit."

VERIFIED, WORKING, FINISHED, MISSING = "Terverifikasi", "Mengerjakan", "Selesai", "Hilang"
TWO_SESSIONS = "Dua sesi"
NOT_STARTED = "Belum mulai"          # on the class's list, not verified yet
NOT_LISTED = "Nama tidak ada di daftar"
SESSION_CLOSED = "sesi ditutup"

EVENTS = ("START", "VIOLATION", "FINISH")
# The launcher's own fields: its name box takes 254 UTF-16 units, class and
# token 62; its longest detail is far below 300.
LIMITS = {"studentName": 254, "className": 62, "token": 62, "detail": 300}
MAX_SCHOOL = 500  # the longest school an exam or a proctor may name
BAD_SCHOOL = "Nama sekolah tidak boleh berisi karakter kendali."
LONG_SCHOOL = f"Nama sekolah paling banyak {MAX_SCHOOL} huruf."
BROKEN_TEXT = "Isian ini berisi karakter yang rusak."
# An exam session as this server hands them out (presence.new_session_id).
SESSION_ID = re.compile(r"[0-9a-f]{32}")


def compact(obj: object) -> str:
    # The launcher searches the answer for `"key":value` with no blank around
    # the colon and reads strings back with only \" and \\ undone: compact
    # separators and raw UTF-8.
    return json.dumps(obj, ensure_ascii=False, separators=(",", ":"))


def utf16_units(text: str) -> int:
    # Counted as the launcher's edit boxes count: a letter beyond the BMP is two.
    return sum(2 if ord(c) > 0xFFFF else 1 for c in text)


def _once(pairs: list[tuple[str, object]]) -> dict[str, object]:
    obj = dict(pairs)
    if len(obj) != len(pairs):
        # {"kind":"lock","kind":"end"}: a proxy reading the first and this server the last would disagree.
        raise ValueError("a member named twice")
    return obj


def writable(text: str) -> bool:
    """Whether text can be written as UTF-8: a JSON "\\ud800" gives a lone
    surrogate, which no database, log or answer can hold."""
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:
        return False
    return True


def page_json(body: bytes) -> object:
    """A page form's body: one JSON document in UTF-8, no member named twice
    and no lone surrogate anywhere; None otherwise."""
    try:
        obj = json.loads(body.decode("utf-8"), object_pairs_hook=_once)
    except (ValueError, RecursionError):  # RecursionError: arrays nested thousands deep
        return None
    return obj if writable(compact(obj)) else None


def unwritable_member(body: bytes) -> str | None:
    """The first member of a page form's object whose value holds a lone
    surrogate, for the form to name the field page_json refused it for."""
    try:
        obj = json.loads(body.decode("utf-8"), object_pairs_hook=_once)
    except (ValueError, RecursionError):
        return None
    if not isinstance(obj, dict):
        return None
    return next((k for k, v in obj.items() if writable(k) and not writable(compact(v))), None)


def members(body: bytes, names: tuple[str, ...]) -> dict[str, str] | None:
    """The body's members when it is exactly one JSON object with these
    string members, each once, and no others, each writable and within the
    launcher's limits, name, class and token not blank, an event the
    launcher sends and a session in the form this server hands out; None
    otherwise."""
    # A stray byte that is not UTF-8 costs a letter, not the whole report.
    try:
        obj = json.loads(body.decode("utf-8", "replace"), strict=False, object_pairs_hook=_once)
    except (ValueError, RecursionError):  # RecursionError: arrays nested thousands deep
        return None
    if not isinstance(obj, dict) or set(obj) != set(names):
        return None
    if not all(isinstance(obj[n], str) and writable(obj[n]) for n in names):
        return None
    for n in names:
        if n in LIMITS and utf16_units(obj[n]) > LIMITS[n]:
            return None
        if n in VERIFY_MEMBERS and not obj[n].strip():
            return None
    if "event" in obj and obj["event"] not in EVENTS:
        return None
    if "session" in obj and not SESSION_ID.fullmatch(obj["session"]):
        return None
    return {n: obj[n] for n in names}


def shown(text: str) -> str:
    """Text as the page and WhatsApp show it: format characters (bidi
    overrides, zero-width joiners) removed, so a name cannot reorder or hide
    what stands around it; other control characters and line breaks become
    blanks, so a name cannot add lines to a message."""
    out = []
    for c in text:
        cat = unicodedata.category(c)
        if cat == "Cf":
            continue
        out.append(" " if cat in ("Cc", "Zl", "Zp") else c)
    return "".join(out)


def one_line(text: str) -> str:
    """A name as the page and WhatsApp show it: shown, its blanks made one."""
    return " ".join(shown(text).split())


def same_class(a: str, b: str) -> bool:
    return a.strip().casefold() == b.strip().casefold()


def school_key(school: str) -> str:
    return one_line(school).casefold()


def same_school(a: str, b: str) -> bool:
    # " SD  Satu" and "sd satu" are one school, as a proctor's account names it.
    return school_key(a) == school_key(b)


def check_school(text: str) -> tuple[str, str]:
    """A school typed on the page with its blanks folded as the file's are,
    and why it cannot be used ("" when it can; "" is no school)."""
    # Cs: a lone surrogate, which no database or answer can hold.
    if any(unicodedata.category(c) in ("Cc", "Cf", "Cs", "Zl", "Zp") for c in text):
        return "", BAD_SCHOOL
    school = " ".join(text.split())
    if utf16_units(school) > MAX_SCHOOL:
        return "", LONG_SCHOOL
    return school, ""


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


def verify(request: dict[str, str] | None, exams: tuple[Exam, ...], now: dt.datetime, session: str = "") -> Verdict:
    """`session`: the exam session handed out with an acceptance (its last
    member, so a launcher of the original contract reads the answer as before)."""
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
    if exam.ended or (exam.closes and aware(now) >= aware(exam.closes)):
        return Verdict(False, compact({"ok": False, "error": CLOSED}), exam)
    name = urllib.parse.quote(request["studentName"], safe="")
    answer: dict[str, object] = {"ok": True, "formUrl": exam.form_url.replace("{studentName}", name)}
    if exam.proctor_pin:
        answer["proctorPin"] = exam.proctor_pin
    if session:
        answer["session"] = session
    return Verdict(True, compact(answer), exam)


def exam_of(report: dict[str, str], exams: tuple[Exam, ...]) -> Exam | None:
    """The exam a report belongs to; None for a token of no exam of its class."""
    for e in exams:
        if same_class(e.class_name, report["className"]) and (
                same_token(e.token, report["token"]) or any(same_token(t, report["token"]) for t in e.earlier_tokens)):
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


class RateLimiter:
    """At most `limit` requests from one key within any `window` seconds;
    the refused ones do not count."""

    def __init__(self, limit: int, window: float = 60.0) -> None:
        self.limit, self.window = limit, window
        self.times: dict[str, deque[float]] = {}
        self.swept = 0.0

    def _recent(self, key: str, now: float) -> deque[float]:
        if len(self.times) > 1024 and now - self.swept > self.window:
            # Keys not seen for a window go, so the table stays as small as the traffic.
            self.swept = now
            self.times = {k: t for k, t in self.times.items() if t and t[-1] > now - self.window}
        times = self.times.setdefault(key, deque())
        while times and times[0] <= now - self.window:
            times.popleft()
        return times

    def room(self, key: str, now: float) -> bool:
        """Whether one more would be allowed now, without counting it."""
        return len(self._recent(key, now)) < self.limit

    def allow(self, key: str, now: float) -> bool:
        times = self._recent(key, now)
        if len(times) >= self.limit:
            return False
        times.append(now)
        return True


def allow_all(limits: tuple[tuple[RateLimiter, str], ...], now: float) -> bool:
    """Whether each limiter has room for its key; counted in all of them only
    when so, so that a request refused by one limit uses none of the others."""
    if not all(limiter.room(key, now) for limiter, key in limits):
        return False
    for limiter, key in limits:
        limiter.allow(key, now)
    return True


# Exam sessions.
KNOWN, UNKNOWN, MISMATCH = "known", "unknown", "mismatch"


def session_header(values: list[str] | None) -> str | None:
    """The exam session a request names in its Exam-Session headers: "" for
    none (or a blank one); None for a value this server never hands out, or
    for more than one header."""
    if not values:
        return ""
    session = values[0].strip()
    if len(values) > 1 or (session and not SESSION_ID.fullmatch(session)):
        return None
    return session


def binding(session: tuple[str, str, str] | None, m: dict[str, str]) -> str:
    """How a report stands to the exam session it names: `session` is that
    session's (studentName, className, token) as verified, None when the
    report names none or one the server never handed out. A known session
    must carry exactly the values it was verified with."""
    if session is None:
        return UNKNOWN
    return KNOWN if session == (m["studentName"], m["className"], m["token"]) else MISMATCH


def is_missing(started: bool, finished: bool, last_contact: float, now: float, limit: float,
               watching_since: float) -> bool:
    """A working exam (START, no FINISH) not heard for more than `limit`
    seconds. Silence from before `watching_since` (the server's start) does
    not count: the PCs could not reach a server that was not running."""
    return started and not finished and now - max(last_contact, watching_since) > limit


FORGET_AFTER = 24 * 3600.0


def forgotten(started: bool, finished: bool, last_contact: float, now: float) -> bool:
    """An exam session kept in memory no longer: its exam ended (or never
    started) and it has not been heard for a day. The database keeps it; a
    report naming it later is stored as one without a session."""
    return (finished or not started) and now - last_contact > FORGET_AFTER


def student_key(class_name: str, student_name: str, token: str) -> tuple[str, str, str]:
    # "Budi  Santoso" and "budi santoso" are one student on the proctor's list,
    # and so is a "Budi" with an invisible character, which the page shows alike.
    return (class_name.strip().casefold(), one_line(student_name).casefold(), token.strip().upper())


def student_ref(key: tuple[str, str, str]) -> str:
    """A student's key as one printable string, for the page to match rows."""
    return compact(list(key))


# One name on two PCs. Every exam session a student's verifications hand out
# is a seat of that student, watched on its own: a classmate who types the
# student's name on another PC must neither reset nor replace the exam that
# runs, nor hide it when one of the two falls silent.
VERIFY, CLOSE = "VERIFY", "CLOSE"


@dataclass
class Seat:
    session: str
    address: str             # the PC's, as it verified
    started: bool = False
    finished: bool = False
    closed: bool = False     # by the proctor: no longer watched, its later reports apart
    replaced: bool = False   # a later START from the same PC: the program was started again there
    flagged: bool = False    # its incident was raised

    @property
    def open(self) -> bool:
        return not (self.finished or self.closed or self.replaced)

    @property
    def running(self) -> bool:
        return self.started and self.open


def seat_event(seats: dict[str, Seat], session: str, address: str, event: str) -> tuple[str, ...]:
    """Applies a verification (VERIFY), START, FINISH or a close (CLOSE) of
    `session` to one student's seats. Returns the addresses of the incident
    it makes (this PC's first, then those of the other running exams), or
    () for none: a verification or START while an exam of the same student
    runs on another PC, raised once per session."""
    s = seats.get(session)
    if s is None:
        s = seats[session] = Seat(session, address)
    if event == CLOSE:
        s.closed = True
        return ()
    if s.closed:
        return ()  # what a closed session says changes nothing
    if event == FINISH_EVENT:
        s.finished = True
        return ()
    if event == START_EVENT:
        s.started = True
        for o in seats.values():
            if o is not s and o.running and o.address == s.address:
                o.replaced = True
    if event in (VERIFY, START_EVENT) and not s.flagged:
        others = sorted({o.address for o in seats.values() if o is not s and o.running and o.address != s.address})
        if others:
            s.flagged = True
            return (s.address, *others)
    return ()


START_EVENT, FINISH_EVENT = "START", "FINISH"


def seats_state(seats: dict[str, Seat]) -> str:
    """Working while any started exam is open; finished once each started
    one has finished or been closed; a verification alone never takes a
    student back from either."""
    if any(s.running for s in seats.values()):
        return WORKING
    if any(s.started for s in seats.values()):
        return FINISHED
    return VERIFIED


def two_sessions(seats: dict[str, Seat]) -> list[str]:
    """The addresses of the open sessions while an incident stands: one was
    raised and sessions from more than one PC are still open."""
    if not any(s.flagged for s in seats.values()):
        return []
    addresses = sorted({s.address for s in seats.values() if s.open})
    return addresses if len(addresses) > 1 else []


@dataclass
class Student:
    className: str
    studentName: str
    token: str
    state: str = VERIFIED
    violations: int = 0
    lastEventAt: str = ""
    lastDetail: str = ""
    lastContactAt: str = ""      # a working student's last report or heartbeat
    heardAgo: int | None = None  # seconds before this answer
    key: str = ""                # the student's key, for the page to match the heard list
    school: str = ""             # the exam's school, when it names one
    address: str = ""            # the PC of the latest entry
    twoSessions: list[str] = field(default_factory=list)      # the PCs' addresses while "Dua sesi" stands
    missingAddresses: list[str] = field(default_factory=list)  # the silent PCs while "Hilang"
    sessions: list[dict] = field(default_factory=list)        # {"session", "address", "state"}, oldest first
    notListed: bool = False      # the class has a list and this name is not on it
    lastId: int = 0
    seats: dict[str, Seat] = field(default_factory=dict)


INTERNAL = ("lastId", "seats")


def roster(entries: list[dict], exams: tuple[Exam, ...], heard: dict[tuple, dict] | None = None) -> list[dict]:
    """One entry per student of the exams, incidents first: "Hilang", then
    the most violations, then the latest.

    `entries`: verifications, reports and closed sessions in the order they
    were stored, each {"id", "kind": "verify"|"report"|"close", "receivedAt",
    "address", "studentName", "className", "token", "event", "detail",
    "session"}. The state is that of the student's sessions (seats_state); a
    VIOLATION only counts. A report without an exam session (session None)
    belongs to no student here: it is shown apart. `heard`: for each student
    with a started exam still running, {"missing", "missingAddresses",
    "lastContactAt", "heardAgo"}; a missing one is "Hilang"."""
    students: dict[tuple[str, str, str], Student] = {}
    fold(students, entries, exams)
    return ranked(students, heard)


def fold(students: dict[tuple[str, str, str], Student], entries: list[dict], exams: tuple[Exam, ...]) -> None:
    """Adds `entries` (stored after those folded before) to each student's
    state: the roster's work, done once per entry however often it is asked.
    An entry that raises an incident gains "twoSessions" (the PCs'
    addresses); a report of a closed session gains "closedSession"."""
    for e in entries:
        if e["kind"] == "report" and e.get("session") is None:
            continue
        exam = exam_of(e, exams)
        if exam is None:
            continue
        key = student_key(exam.class_name, e["studentName"], exam.ident)
        s = students.get(key)
        if s is None:
            s = students[key] = Student(exam.class_name, one_line(e["studentName"]), exam.ident,
                                        key=student_ref(key), school=exam.school)
        session, address = e.get("session") or "", e.get("address", "")
        seat = s.seats.get(session)
        closed = seat is not None and seat.closed
        if e["kind"] == "close":
            seat_event(s.seats, session, address, CLOSE)
            detail = "Sesi ditutup oleh pengawas."
        elif e["kind"] == "verify":
            incident = seat_event(s.seats, session, address, VERIFY)
            detail = "Token diverifikasi."
        else:
            event, detail = e["event"], shown(e["detail"])
            incident = seat_event(s.seats, session, address, event) if event in EVENTS else ()
            if closed:
                e["closedSession"] = True
            elif event == "VIOLATION":
                s.violations += 1
        if e["kind"] != "close" and incident:
            e["twoSessions"] = list(incident)
        s.state = seats_state(s.seats)
        if not closed:
            s.lastEventAt, s.lastDetail, s.lastId = e["receivedAt"], detail, e["id"]
            s.address = s.seats[session].address if session in s.seats else address


def seat_label(seat: Seat) -> str:
    if seat.closed:
        return SESSION_CLOSED
    if seat.replaced:
        return "diganti"
    return FINISHED if seat.finished else WORKING if seat.started else VERIFIED


Lists = dict[str, tuple[str, list[str]]]  # class key: (class name, students), as Store.class_lists()


def class_key(class_name: str) -> str:
    return class_name.strip().casefold()


def listed(students: dict[tuple[str, str, str], Student], lists: Lists,
           exams: tuple[Exam, ...]) -> list[Student]:
    """The listed students of each exam's class who have not verified for
    it: "Belum mulai". A name matches a listed one as the roster compares
    names (case, blanks and invisible characters aside)."""
    out = []
    for exam in exams:
        names = lists.get(class_key(exam.class_name))
        if names is None or exam.ended:
            continue
        for name in names[1]:
            key = student_key(exam.class_name, name, exam.ident)
            if key not in students:
                out.append(Student(exam.class_name, one_line(name), exam.ident, state=NOT_STARTED,
                                   lastDetail="", key=student_ref(key), school=exam.school))
    return out


def ranked(students: dict[tuple[str, str, str], Student], heard: dict[tuple, dict] | None,
           lists: Lists | None = None, exams: tuple[Exam, ...] = ()) -> list[dict]:
    """The roster from the folded states and who is heard now; the states
    themselves are left as they are, for the next answer. With class lists,
    every listed student of an exam is a row from the start, and a name on
    no list of a class that has one is marked."""
    out = []
    on_list = {k: {one_line(n).casefold(): one_line(n) for n in names} for k, (_, names) in (lists or {}).items()}
    for key, s in students.items():
        h = (heard or {}).get(key)
        names = on_list.get(key[0])
        # A listed name is shown as the list spells it, whatever the child typed.
        s = replace(s, notListed=names is not None and key[1] not in names,
                    studentName=names.get(key[1], s.studentName) if names else s.studentName,
                    twoSessions=two_sessions(s.seats), sessions=[
            {"session": seat.session, "address": seat.address, "state": seat_label(seat)}
            for seat in s.seats.values()])
        if h is not None:
            s = replace(s, lastContactAt=h["lastContactAt"], heardAgo=h["heardAgo"],
                        missingAddresses=list(h.get("missingAddresses", [])) if h["missing"] else [],
                        state=MISSING if h["missing"] else s.state)
        out.append(s)
    out.extend(listed(students, lists or {}, exams))
    ordered = sorted(out, key=lambda s: (s.state != MISSING, not s.twoSessions, -s.violations, -s.lastId))
    return [{k: v for k, v in vars(s).items() if k not in INTERNAL} for s in ordered]


def of_classes(rows: list[dict], classes: str) -> list[dict]:
    """The roster's rows of one class ("" for all), compared as classes are."""
    if not classes.strip():
        return rows
    return [r for r in rows if same_class(r["className"], classes)]


FORMULA_START = ("=", "+", "-", "@", "\t", "\r")


def csv_cell(text: str) -> str:
    """A name typed as "=HYPERLINK(...)" must stay text when the proctor
    opens the file in a spreadsheet, also one that splits on ";" (Excel in
    the Indonesian locale) or on ",": every piece that would start a cell
    starts with a quote mark instead."""
    return "".join("'" + piece if piece[:1] in FORMULA_START else piece for piece in re.split(r"(?<=[,;])", text))
