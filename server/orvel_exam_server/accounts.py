"""Proctor accounts: a name, a salted slow hash of the password, the classes
the proctor watches. The administrator (the configuration's
proctor_password) watches every class. Pure rules; the store keeps them."""
from __future__ import annotations

import hashlib
import secrets
from dataclasses import dataclass

from .config import MIN_PASSWORD
from .decisions import LIMITS, check_school, one_line, same_class, same_school, utf16_units

# scrypt's cost: about 16 MB and a few tens of milliseconds a try, so a
# copied database gives up its passwords only slowly.
SCRYPT = {"n": 1 << 14, "r": 8, "p": 1, "dklen": 32}
MAX_NAME = 62
MAX_PASSWORD = 200  # a passphrase fits; a page's megabyte of "password" is no job for scrypt
MAX_CLASSES = 100
ADMIN = 0  # the administrator's account id in a login's cookie


def password_hash(password: str, salt: bytes) -> str:
    return hashlib.scrypt(password.encode("utf-8"), salt=salt, maxmem=64 << 20, **SCRYPT).hex()


def new_hash(password: str) -> tuple[str, str]:
    """(salt, hash), both hex."""
    salt = secrets.token_bytes(16)
    return salt.hex(), password_hash(password, salt)


def password_ok(password: str, salt: str, stored: str) -> bool:
    return secrets.compare_digest(password_hash(password, bytes.fromhex(salt)), stored)


def name_key(name: str) -> str:
    return one_line(name).casefold()


@dataclass(frozen=True)
class Who:
    """Who a login is: the administrator (classes None) or a proctor, of
    one school's classes when `school` is named, else of the classes in
    every school."""
    account: int
    name: str
    classes: tuple[str, ...] | None
    school: str = ""

    @property
    def admin(self) -> bool:
        return self.classes is None


def may_see(who: Who, class_name: str, school: str) -> bool:
    """The proctor's class scope: every proctor route asks this of each row,
    report, student and command before it reaches them, with the school of
    its exam ("" for an exam that names none). "5A" of two schools are two
    classes: a proctor of one school's 5A sees no other school's."""
    if who.classes is None:
        return True
    if who.school and not same_school(who.school, school):
        return False
    return any(same_class(c, class_name) for c in who.classes)


def check_account(obj: object, editing: bool, names_taken: set[str]) -> tuple[dict | None, dict[str, str]]:
    """The account form's values ({"name", "password", "classes", "school"}) or the
    message for each wrong field. On an edit an empty password keeps the old."""
    if not isinstance(obj, dict):
        return None, {"form": "Permintaan tidak lengkap."}
    errors: dict[str, str] = {}
    values = {}
    for field in ("name", "password", "classes", "school"):
        v = obj.get(field, "")
        if not isinstance(v, str):
            errors[field] = "Isian ini harus berupa teks."
            v = ""
        values[field] = v
    name = one_line(values["name"])
    if "name" not in errors:
        if not name:
            errors["name"] = "Isi nama pengawas."
        elif len(name) > MAX_NAME:
            errors["name"] = f"Nama paling banyak {MAX_NAME} huruf."
        elif name_key(name) in names_taken:
            errors["name"] = "Nama ini sudah dipakai pengawas lain."
    password = values["password"]
    if "password" not in errors and (password or not editing) and len(password) < MIN_PASSWORD:
        errors["password"] = f"Kata sandi paling sedikit {MIN_PASSWORD} huruf."
    elif "password" not in errors and len(password) > MAX_PASSWORD:
        errors["password"] = f"Kata sandi paling banyak {MAX_PASSWORD} huruf."
    classes = tuple(dict.fromkeys(one_line(c) for c in values["classes"].split(",") if one_line(c)))
    if "classes" not in errors:
        if not classes:
            errors["classes"] = "Isi kelas yang diawasi (beberapa kelas dipisah koma)."
        elif len(classes) > MAX_CLASSES:
            errors["classes"] = f"Paling banyak {MAX_CLASSES} kelas."
        elif any(utf16_units(c) > LIMITS["className"] for c in classes):
            errors["classes"] = f"Nama kelas paling banyak {LIMITS['className']} huruf."
    school, problem = check_school(values["school"])
    if "school" not in errors and problem:
        errors["school"] = problem
    if errors:
        return None, errors
    return {"name": name, "password": password, "classes": classes, "school": school}, {}
