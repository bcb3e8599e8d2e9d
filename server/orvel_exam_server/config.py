"""The TOML configuration: read once at start, checked whole, then frozen.

Every relative path is taken relative to the configuration file, so the
server can be started from any folder (a Windows shortcut, a service).
A string "env:NAME" is read from the environment, which keeps passwords and
gateway tokens out of the file.
"""
from __future__ import annotations

import datetime as dt
import difflib
import os
import tomllib
import urllib.parse
from dataclasses import dataclass, field
from pathlib import Path

PRESETS = ("fonnte", "wablas", "waha", "cloud-api", "webhook")
SAMPLE_PASSWORD = "ganti-sandi-ini"  # the one in example.toml: known to everyone who read it
MIN_PASSWORD = 10
# Every key the server reads; a typo of one (proctor_pn, close) would
# otherwise be ignored in silence: no PIN, an exam that never closes.
KNOWN = {
    "": ("server", "exam", "whatsapp"),
    "server": ("host", "listen", "cert_file", "key_file", "database", "proctor_password", "missing_after_seconds",
               "processes"),
    "exam": ("class", "token", "form_url", "proctor_pin", "opens", "closes", "school"),
    "whatsapp": ("preset", "url", "to", "headers", "violation_merge_seconds", "summary_seconds", "session"),
}


class ConfigError(Exception):
    """A configuration that cannot be used; the message says what and where."""


@dataclass(frozen=True)
class Exam:
    class_name: str
    token: str
    form_url: str
    proctor_pin: str = ""
    opens: dt.datetime | None = None
    closes: dt.datetime | None = None
    school: str = ""   # "5A" of two schools are two classes, told apart by their tokens
    # Made on the page (its id there; 0: from this file). Its earlier tokens
    # take no new verify, but the exams that began with them go on.
    page_id: int = 0
    earlier_tokens: tuple[str, ...] = ()
    ended: bool = False   # closed on the page: no new verify

    @property
    def ident(self) -> str:
        """The token a student's row is known by: the first the exam had,
        so that a new token does not make the running exams new students."""
        return self.earlier_tokens[0] if self.earlier_tokens else self.token


@dataclass(frozen=True)
class WhatsApp:
    preset: str
    url: str
    to: tuple[str, ...]
    headers: dict[str, str] = field(default_factory=dict)
    violation_merge_seconds: float = 60.0
    summary_seconds: float = 120.0
    session: str = "default"  # waha only


@dataclass(frozen=True)
class Config:
    path: Path
    host: str
    listen_host: str
    listen_port: int
    cert_file: Path
    key_file: Path
    database: Path | str     # a file (SQLite) or a postgresql:// address
    proctor_password: str
    exams: tuple[Exam, ...]
    whatsapp: WhatsApp | None = None
    missing_after_seconds: int = 45  # a working exam not heard for longer is "Hilang"
    processes: int = 1               # serving processes on this box, sharing the port

    def secrets(self) -> list[str]:
        """Values that must never appear in a log line or a page."""
        found = [self.proctor_password]
        if self.whatsapp:
            found += list(self.whatsapp.headers.values())
        if isinstance(self.database, str):
            found.append(urllib.parse.urlsplit(self.database).password or "")
        return [s for s in found if s]


def _value(raw: object, where: str, environ: dict[str, str]) -> object:
    if isinstance(raw, str) and raw.startswith("env:"):
        name = raw[4:]
        if name not in environ:
            raise ConfigError(f"{where}: the environment variable {name} is not set")
        return environ[name]
    return raw


def _string(table: dict, key: str, where: str, environ: dict[str, str], default: str | None = None) -> str:
    if key not in table:
        if default is None:
            raise ConfigError(f"{where}: \"{key}\" is missing")
        return default
    value = _value(table[key], f"{where}.{key}", environ)
    if not isinstance(value, str):
        raise ConfigError(f"{where}.{key}: a text in quotes is expected")
    return value


def _time(table: dict, key: str, where: str) -> dt.datetime | None:
    """A time with an offset ("2026-12-09T07:30+07:00") is kept with it; one
    without is the server's local time (a naive datetime)."""
    raw = table.get(key)
    if raw is None:
        return None
    if isinstance(raw, dt.datetime):
        return raw
    try:
        return dt.datetime.fromisoformat(str(raw))
    except ValueError:
        raise ConfigError(f"{where}.{key}: \"{raw}\" is not a time like \"2026-12-09T07:30\"") from None


def aware(t: dt.datetime) -> dt.datetime:
    """For comparing: a time without an offset is taken as the server's local time."""
    return t if t.tzinfo is not None else t.astimezone()


def _unknown_keys(table: dict, section: str, where: str) -> None:
    known = KNOWN[section]
    for key in table:
        if key not in known:
            nearest = difflib.get_close_matches(key, known, n=1, cutoff=0.0)[0]
            if section:
                raise ConfigError(f"{where}: unknown key \"{key}\" (the nearest known key is \"{nearest}\")")
            raise ConfigError(f"unknown section [{key}] (the nearest known section is [{nearest}])")


def decode(data: bytes, path: Path) -> str:
    """The file's text. Notepad's UTF-8 byte order mark is simply skipped;
    UTF-16 ("Unicode" in Notepad's Save as) is refused with what to do."""
    if data.startswith((b"\xff\xfe", b"\xfe\xff")) or b"\x00" in data[:64]:
        raise ConfigError(f"{path} is in UTF-16: simpan berkas sebagai UTF-8")
    try:
        return data.decode("utf-8-sig")
    except UnicodeDecodeError as e:
        raise ConfigError(f"{path} is not UTF-8 (byte {e.start + 1}): simpan berkas sebagai UTF-8") from None


def _number(table: dict, key: str, where: str, default: float) -> float:
    raw = table.get(key, default)
    if isinstance(raw, bool) or not isinstance(raw, (int, float)) or raw < 0:
        raise ConfigError(f"{where}.{key}: a number of seconds (0 or more) is expected")
    return float(raw)


def parse(text: str, path: Path, environ: dict[str, str] | None = None) -> Config:
    environ = dict(os.environ) if environ is None else environ
    try:
        data = tomllib.loads(text)
    except tomllib.TOMLDecodeError as e:
        raise ConfigError(f"{path}: not valid TOML: {e}") from None
    base = path.parent
    _unknown_keys(data, "", "")
    server = data.get("server")
    if not isinstance(server, dict):
        raise ConfigError("the [server] section is missing")
    _unknown_keys(server, "server", "[server]")
    host = _string(server, "host", "server", environ)
    if not host or any(c in host for c in "/: "):
        raise ConfigError("server.host: a bare host name is expected, like \"cbt.school.sch.id\"")
    listen = _string(server, "listen", "server", environ, "0.0.0.0:443")
    listen_host, sep, port = listen.rpartition(":")
    if not sep or not port.isdigit() or not 0 < int(port) < 65536:
        raise ConfigError(f"server.listen: \"{listen}\" is not ADDRESS:PORT")
    missing_after = server.get("missing_after_seconds", 45)
    if isinstance(missing_after, bool) or not isinstance(missing_after, int) or missing_after < 1:
        raise ConfigError("server.missing_after_seconds: a whole number of seconds (1 or more) is expected")
    database: Path | str = _string(server, "database", "server", environ, "orvel-exam.db")
    if database.startswith(("postgresql://", "postgres://")):
        if not urllib.parse.urlsplit(database).hostname and "host=" not in database:
            raise ConfigError("server.database: a PostgreSQL address names its server, like "
                              "\"postgresql://orvel@db.school.sch.id/orvel\"")
    else:
        database = base / database
    processes = server.get("processes", 1)
    if isinstance(processes, bool) or not isinstance(processes, int) or not 1 <= processes <= 64:
        raise ConfigError("server.processes: a whole number from 1 to 64 is expected")
    if processes > 1 and isinstance(database, Path):
        raise ConfigError(f"server.processes = {processes}: SQLite is written by one process; keep processes = 1, "
                          "or put the database on PostgreSQL (database = \"postgresql://USER@HOST/DB\")")
    if processes > 1 and os.name == "nt":
        raise ConfigError("server.processes: Windows serves a port from one process; keep processes = 1")
    password = _string(server, "proctor_password", "server", environ)
    if password == SAMPLE_PASSWORD:
        raise ConfigError(f"server.proctor_password: \"{SAMPLE_PASSWORD}\" is the sample everyone can read; "
                          "choose the school's own")
    if len(password) < MIN_PASSWORD:
        raise ConfigError(f"server.proctor_password: at least {MIN_PASSWORD} characters")

    exams: list[Exam] = []
    seen: set[tuple[str, str]] = set()
    raw_exams = data.get("exam", [])
    if not isinstance(raw_exams, list) or not raw_exams:
        raise ConfigError("no [[exam]] is configured")
    for i, e in enumerate(raw_exams, 1):
        where = f"exam #{i}"
        if not isinstance(e, dict):
            raise ConfigError(f"{where}: a table is expected")
        _unknown_keys(e, "exam", f"[[exam]] #{i}" + (f" (class {e['class']})" if isinstance(e.get("class"), str) else ""))
        exam = Exam(
            class_name=_string(e, "class", where, environ).strip(),
            token=_string(e, "token", where, environ).strip(),
            form_url=_string(e, "form_url", where, environ),
            proctor_pin=_string(e, "proctor_pin", where, environ, ""),
            opens=_time(e, "opens", where),
            closes=_time(e, "closes", where),
            school=" ".join(_string(e, "school", where, environ, "").split()),
        )
        if not exam.class_name or not exam.token:
            raise ConfigError(f"{where}: class and token must not be empty")
        if not exam.form_url.lower().startswith(("https://", "http://")) or any(ord(c) < 0x20 for c in exam.form_url):
            # The launcher refuses any other form address.
            raise ConfigError(f"{where}: form_url must start with https:// or http://")
        if exam.opens and exam.closes and aware(exam.opens) >= aware(exam.closes):
            raise ConfigError(f"{where}: opens must come before closes")
        pair = (exam.class_name.casefold(), exam.token.upper())
        if pair in seen:
            raise ConfigError(f"{where}: class {exam.class_name} already has the token {exam.token}")
        seen.add(pair)
        exams.append(exam)

    whatsapp = None
    if "whatsapp" in data:
        w = data["whatsapp"]
        if not isinstance(w, dict):
            raise ConfigError("whatsapp: a table is expected")
        _unknown_keys(w, "whatsapp", "[whatsapp]")
        preset = _string(w, "preset", "whatsapp", environ)
        if preset not in PRESETS:
            raise ConfigError(f"whatsapp.preset: one of {', '.join(PRESETS)}")
        to = w.get("to", [])
        if isinstance(to, str):
            to = [to]
        if not isinstance(to, list) or not to or not all(isinstance(t, str) and t.strip() for t in to):
            raise ConfigError("whatsapp.to: a list of phone numbers is expected")
        headers = w.get("headers", {})
        if not isinstance(headers, dict):
            raise ConfigError("whatsapp.headers: a table is expected")
        values = {}
        for k, v in headers.items():
            v = _value(v, f"whatsapp.headers.{k}", environ)
            if not isinstance(v, str):
                raise ConfigError(f"whatsapp.headers.{k}: a text is expected")
            values[k] = v
        whatsapp = WhatsApp(
            preset=preset,
            url=_string(w, "url", "whatsapp", environ),
            to=tuple(t.strip() for t in to),
            headers=values,
            violation_merge_seconds=_number(w, "violation_merge_seconds", "whatsapp", 60),
            summary_seconds=_number(w, "summary_seconds", "whatsapp", 120),
            session=_string(w, "session", "whatsapp", environ, "default"),
        )

    return Config(
        path=path,
        host=host,
        listen_host=listen_host.strip("[]") or "0.0.0.0",  # "[::]:443" listens on IPv6
        listen_port=int(port),
        cert_file=base / _string(server, "cert_file", "server", environ, "certs/server.crt"),
        key_file=base / _string(server, "key_file", "server", environ, "certs/server.key"),
        database=database,
        proctor_password=password,
        exams=tuple(exams),
        whatsapp=whatsapp,
        missing_after_seconds=missing_after,
        processes=processes,
    )


def load(path: str | os.PathLike, environ: dict[str, str] | None = None) -> Config:
    p = Path(path).absolute()
    try:
        data = p.read_bytes()
    except OSError as e:
        raise ConfigError(f"cannot read {p}: {e.strerror}") from None
    return parse(decode(data, p), p, environ)
