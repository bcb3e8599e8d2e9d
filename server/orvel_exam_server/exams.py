"""Exams made on the proctor's page: their tokens and the checks of the
exam form, as pure functions of plain values. The store keeps them
(database.py), the routes call these (app.py)."""
from __future__ import annotations

import datetime as dt
import re
import secrets
import unicodedata
from dataclasses import dataclass
from typing import Any, Callable

from .config import Exam
from .decisions import LIMITS, check_school, one_line, utf16_units

# Read aloud and copied from a board: no 0/O, no 1/I/L.
TOKEN_ALPHABET = "ABCDEFGHJKMNPQRSTUVWXYZ23456789"
TOKEN_LENGTH = 6
MIN_TOKEN = 4
MAX_ROTATE = 24 * 60
MAX_CLASSES = 100        # classes of one exam, or watched by one proctor
TIME_FORMAT = "%Y-%m-%dT%H:%M"
# strptime takes "2026-1-9T7:3" and Arabic-Indic digits; the page sends
# exactly this. Years this side of 2000 and 2100 keep every later sum in range.
TIME_TEXT = re.compile(r"20[0-9]{2}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}")
PIN_TEXT = re.compile(r"[0-9A-Za-z]{1,62}")


def new_token(taken: set[str], choice: Callable[[str], str] = secrets.choice) -> str:
    """Six characters of the alphabet, none of `taken` (upper case)."""
    while True:
        token = "".join(choice(TOKEN_ALPHABET) for _ in range(TOKEN_LENGTH))
        if token not in taken:
            return token


def token_problem(token: str) -> str:
    """Why a typed token cannot be used; "" when it can."""
    if len(token) > LIMITS["token"]:
        return f"Token paling banyak {LIMITS['token']} huruf."
    if len(token) < MIN_TOKEN:
        return f"Token paling sedikit {MIN_TOKEN} huruf."
    wrong = sorted({c for c in token if c not in TOKEN_ALPHABET})
    if wrong:
        return ("Token hanya boleh huruf A-Z dan angka 2-9, tanpa 0, O, 1, I, dan L (yang mirip): "
                f"{' '.join(repr(c) for c in wrong)} tidak boleh.")
    return ""


def form_url_problem(url: str) -> str:
    if not url:
        return "Isi alamat formulir ujian."
    if any(c in "\"'<>`\\ " or unicodedata.category(c) in ("Cc", "Cf", "Zl", "Zp") for c in url):
        return "Alamat formulir tidak boleh berisi tanda kutip, spasi, atau karakter kendali."
    lower = url.lower()
    if not lower.startswith(("http://", "https://")) or len(url) <= len("https://"):
        return "Alamat formulir harus diawali http:// atau https://."
    if "javascript:" in lower:
        return "Alamat formulir tidak boleh berisi javascript:."
    if len(url) > 2000:
        return "Alamat formulir paling banyak 2000 huruf."
    return ""


def parse_time(text: str) -> dt.datetime | None:
    return dt.datetime.strptime(text, TIME_FORMAT)


def classes_problem(classes: tuple[str, ...]) -> str:
    """Why a list of classes typed on the page cannot be used; "" when it can."""
    if len(classes) > MAX_CLASSES:
        return f"Paling banyak {MAX_CLASSES} kelas."
    if any(utf16_units(c) > LIMITS["className"] for c in classes):
        return f"Nama kelas paling banyak {LIMITS['className']} huruf."
    return ""


@dataclass(frozen=True)
class ExamForm:
    classes: tuple[str, ...]
    token: str            # "" when the exam keeps its token (an edit)
    form_url: str
    proctor_pin: str
    opens: str            # TIME_FORMAT in the school's zone, or ""
    closes: str
    rotate_minutes: int   # 0: the token changes only with "Ganti token"
    school: str = ""      # "5A" of two schools are two classes, as in the file


def check_form(obj: Any, taken: set[str], editing: bool) -> tuple[ExamForm | None, dict[str, str]]:
    """The form's values, or the message for each wrong field. `taken`: the
    tokens of the other exams (upper case). On an edit an empty token keeps
    the exam's own."""
    if not isinstance(obj, dict):
        return None, {"form": "Permintaan tidak lengkap."}
    errors: dict[str, str] = {}

    def text(name: str) -> str:
        v = obj.get(name, "")
        if not isinstance(v, str):
            errors[name] = "Isian ini harus berupa teks."
            return ""
        return v.strip()

    raw_classes, token, url = text("classes"), text("token").upper(), text("formUrl")
    pin, opens, closes, rotate = text("proctorPin"), text("opens"), text("closes"), text("rotateMinutes")
    classes = tuple(dict.fromkeys(one_line(c) for c in raw_classes.split(",") if one_line(c)))
    if "classes" not in errors:
        if not classes:
            errors["classes"] = "Isi kelas ujian ini (beberapa kelas dipisah koma)."
        elif problem := classes_problem(classes):
            errors["classes"] = problem
    if "token" not in errors and (token or not editing):
        problem = token_problem(token) if token else "Isi token, atau tekan \"Buat token\"."
        if not problem and token in taken:
            problem = "Token ini sudah dipakai ujian lain."
        if problem:
            errors["token"] = problem
    if "formUrl" not in errors and (problem := form_url_problem(url)):
        errors["formUrl"] = problem
    if "proctorPin" not in errors and pin and not PIN_TEXT.fullmatch(pin):
        errors["proctorPin"] = "PIN hanya huruf dan angka, paling banyak 62."
    raw_school = obj.get("school", "")  # as typed: a line break inside is refused, not stripped away
    if not isinstance(raw_school, str):
        errors["school"], raw_school = "Isian ini harus berupa teks.", ""
    school, problem = check_school(raw_school)
    if problem:
        errors["school"] = problem
    times: dict[str, dt.datetime] = {}
    for name, value in (("opens", opens), ("closes", closes)):
        if value and name not in errors:
            try:
                if not TIME_TEXT.fullmatch(value):
                    raise ValueError(value)
                times[name] = parse_time(value)
            except ValueError:
                errors[name] = "Waktu harus seperti 2026-12-09T07:30."
    if "opens" in times and "closes" in times and times["closes"] <= times["opens"]:
        errors["closes"] = "Waktu tutup harus sesudah waktu buka."
    minutes = 0
    if rotate and "rotateMinutes" not in errors:
        # ASCII digits only: "²" is a digit to isdigit() and no number to int().
        if not re.fullmatch(r"[0-9]{1,4}", rotate) or int(rotate) > MAX_ROTATE or 0 < int(rotate) < 5:
            errors["rotateMinutes"] = f"Isi 0 (mati) atau 5 sampai {MAX_ROTATE} menit."
        else:
            minutes = int(rotate)
    if errors:
        return None, errors
    return ExamForm(classes, token, url, pin, opens, closes, minutes, school), {}


def rotation_due(since: float, rotate_minutes: int, now: float) -> bool:
    return rotate_minutes > 0 and now - since >= rotate_minutes * 60


def as_exams(row: dict) -> tuple[Exam, ...]:
    """A stored page exam as the server's exams, one per class. `row`: as
    Store.page_exams() gives it (tokens oldest first)."""
    opens = parse_time(row["opens"]) if row["opens"] else None
    closes = parse_time(row["closes"]) if row["closes"] else None
    tokens = row["tokens"]
    return tuple(Exam(c, tokens[-1], row["formUrl"], row["proctorPin"], opens, closes, page_id=row["id"],
                      earlier_tokens=tuple(tokens[:-1]), ended=row["ended"], school=row["school"])
                 for c in row["classes"])
