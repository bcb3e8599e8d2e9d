"""A class list as the administrator gives it: names pasted, one a line, or
a file as a spreadsheet saves it (CSV with a comma or a semicolon, UTF-8
with or without a byte-order mark, or UTF-16 "Unicode text", which is
tab-separated). A pure reading of bytes; nothing here stores anything."""
from __future__ import annotations

import csv
import io
from dataclasses import dataclass

from .decisions import LIMITS, one_line, utf16_units

MAX_BYTES = 1 << 20
MAX_NAMES = 2000
HEADER = "nama"
SEPARATORS = ("\t", ";", ",")


@dataclass(frozen=True)
class ListRead:
    names: tuple[str, ...]   # as the roster shows them, in the file's order
    blank: int               # blank lines or cells dropped
    duplicates: int          # names given before in the list, as the roster compares them
    error: str = ""          # why the list is refused; names are then empty


def refused(reason: str) -> ListRead:
    return ListRead((), 0, 0, reason)


def decode(data: bytes) -> str | None:
    """The text of a file in UTF-8 (a byte-order mark or not) or UTF-16 with
    its byte-order mark; None for any other encoding."""
    try:
        if data.startswith((b"\xff\xfe", b"\xfe\xff")):
            return data.decode("utf-16")
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError:
        return None
    # UTF-16 without its mark decodes as UTF-8 full of NUL bytes: not a list of names.
    return None if "\x00" in text else text


def separator(lines: list[str]) -> str | None:
    """The spreadsheet's separator: the first of tab, semicolon and comma
    found on every line; None for a list of one name a line."""
    for sep in SEPARATORS:
        if lines and all(sep in line for line in lines):
            return sep
    return None


def key(name: str) -> str:
    # As the roster compares names: case, blanks and invisible characters aside.
    return one_line(name).casefold()


def read_names(data: bytes) -> ListRead:
    if len(data) > MAX_BYTES:
        return refused("Daftar lebih dari 1 MB.")
    text = decode(data)
    if text is None:
        return refused("Berkas harus UTF-8 atau UTF-16 (Unicode). Simpan lagi dari Excel sebagai "
                       "\"CSV UTF-8\" atau \"Unicode Text\".")
    lines = [line for line in text.splitlines() if line.strip()]
    blank = len(text.splitlines()) - len(lines)
    sep = separator(lines)
    try:
        rows = list(csv.reader(io.StringIO("\n".join(lines)), delimiter=sep)) if sep else [[line] for line in lines]
    except csv.Error:  # a cell over the reader's 128 KiB, that is a quote never closed
        rows = [["\n"]]
    # A quote opened and never closed takes the lines after it into one cell: not a name.
    broken = next((number for number, row in enumerate(rows, 1) if any("\n" in cell for cell in row)), 0)
    if broken:
        return refused(f"Tanda kutip di baris ke-{broken} tidak ditutup.")
    column = 0
    if rows:
        header = [key(cell) for cell in rows[0]]
        if HEADER in header:
            column, rows = header.index(HEADER), rows[1:]
    names: list[str] = []
    seen: set[str] = set()
    duplicates = 0
    for number, row in enumerate(rows, 1):
        cell = row[column] if column < len(row) else ""
        name = one_line(cell.strip().strip('"'))
        if not name:
            blank += 1
            continue
        if utf16_units(name) > LIMITS["studentName"]:
            return refused(f"Nama ke-{number} lebih dari {LIMITS['studentName']} huruf.")
        if key(name) in seen:
            duplicates += 1
            continue
        seen.add(key(name))
        names.append(name)
        if len(names) > MAX_NAMES:
            return refused(f"Daftar lebih dari {MAX_NAMES} nama.")
    return ListRead(tuple(names), blank, duplicates)
