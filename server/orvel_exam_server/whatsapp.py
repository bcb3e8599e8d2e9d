"""Reports to the proctor's WhatsApp: grouping (pure), the gateways' requests
(pure) and the forwarder thread that sends the outbox in order."""
from __future__ import annotations

import datetime as dt
import json
import re
import threading
import time
import urllib.error
import urllib.parse
import urllib.request
from dataclasses import dataclass, field

from .config import WhatsApp
from .database import WriteFailed
from .decisions import one_line, shown, student_key

# After a failed send: 1, 2, 4 and 8 s, then every minute, for a day.
BACKOFF = (1.0, 2.0, 4.0, 8.0)
LATER = 60.0
LEASE = 60.0  # seconds a process holds a message it is sending (beyond the gateway's time-out)
GIVE_UP_AFTER = 24 * 3600.0
MAX_TEXT = 1000  # characters: gateways refuse long texts (near 4,096), and a phone shows a screenful
TEST_TEXT = "Pesan uji dari server ujian ORVEL Selvaro CBT. Pesan WhatsApp untuk pengawas sampai ke nomor ini."


def refused_for_good(status: int | None) -> bool:
    """A gateway's 4xx says this message will never go (too long, a bad
    number): it fails at once, so the messages behind it are not held. 408,
    429, 5xx and no answer at all are passing troubles, tried again."""
    return status is not None and 400 <= status < 500 and status not in (408, 429)


def clip(text: str) -> str:
    return text if len(text) <= MAX_TEXT else text[:MAX_TEXT - 1] + "\u2026"


def next_try(attempts: int, created: float, now: float) -> float | None:
    """When to try again after `attempts` failed tries; None: give up."""
    wait = BACKOFF[attempts - 1] if attempts <= len(BACKOFF) else LATER
    return None if now + wait > created + GIVE_UP_AFTER else now + wait


# Grouping.
@dataclass
class _Pending:
    due: float
    reports: list[dict] = field(default_factory=list)
    first: int = 0  # the order in which its first item came


class Grouper:
    """Decides which messages go when, so that forty PCs do not flood a phone.

    A student's first VIOLATION goes at once; later ones go together, at most
    one message per `merge` seconds. Exams gone silent or heard again (items
    with a "kind") follow the same rule per class, so a lab whose network
    fails sends one message at once and one with the rest. START and FINISH
    are counted per class and go as one summary `summary` seconds after the
    first of them. Reports sent without an exam session are never forwarded:
    only their number goes, once per `summary` seconds."""

    def __init__(self, merge: float, summary: float) -> None:
        self.merge, self.summary = merge, summary
        self.last_sent: dict[tuple, float] = {}
        self.merged: dict[tuple, list[_Pending]] = {}
        self.summaries: dict[str, _Pending] = {}
        self.unsigned: _Pending | None = None
        self.others: list[dict] = []
        self.count = 0

    def add(self, r: dict, now: float) -> None:
        self.count += 1
        r = dict(r, _order=self.count)
        if r.get("kind") == "twice":
            self.others.append(r)  # at once and on its own: someone may be working in a classmate's name
        elif "kind" in r:
            self._merge(("presence", class_label(r["className"])), r, now)
        elif r.get("session", "") is None:
            if self.unsigned is None:
                self.unsigned = _Pending(now + self.summary, first=self.count)
            self.unsigned.reports.append(r)
        elif r["event"] == "VIOLATION":
            self._merge(("violation",) + student_key(r["className"], r["studentName"], r["token"]), r, now)
        elif r["event"] in ("START", "FINISH"):
            p = self.summaries.setdefault(class_label(r["className"]), _Pending(now + self.summary, first=self.count))
            p.reports.append(r)
        else:
            self.others.append(r)

    def _merge(self, key: tuple, r: dict, now: float) -> None:
        waiting = self.merged.setdefault(key, [])
        if waiting and waiting[-1].due > now:
            waiting[-1].reports.append(r)
            return
        # The message before is going now or went: this one waits its turn.
        last = waiting[-1].due if waiting else self.last_sent.get(key)
        waiting.append(_Pending(now if last is None else max(now, last + self.merge), [r], self.count))

    def take_due(self, now: float) -> list[tuple[str, list]]:
        """(text, refs) for each message due, in the order their first items
        came; a ref is a report's id or ("notice", id)."""
        out: list[tuple[int, str, list]] = []
        for key, waiting in list(self.merged.items()):
            while waiting and waiting[0].due <= now:
                p = waiting.pop(0)
                text = presence_text(p.reports) if key[0] == "presence" else violation_text(p.reports)
                out.append((p.first, text, [ref(r) for r in p.reports]))
                self.last_sent[key] = p.due
            if not waiting:
                del self.merged[key]
        for cls, p in list(self.summaries.items()):
            if p.due <= now:
                out.append((p.first, summary_text(cls, p.reports), [ref(r) for r in p.reports]))
                del self.summaries[cls]
        if self.unsigned and self.unsigned.due <= now:
            p, self.unsigned = self.unsigned, None
            out.append((p.first, unsigned_text(len(p.reports), self.summary), [ref(r) for r in p.reports]))
        for r in self.others:
            text = twice_text(r) if r.get("kind") == "twice" else f"{who(r)}: {shown(r['event'])} - {shown(r['detail'])}"
            out.append((r["_order"], text, [ref(r)]))
        self.others = []
        return [(text, refs) for _, text, refs in sorted(out, key=lambda o: o[0])]

    def next_due(self) -> float | None:
        dues = [w[0].due for w in self.merged.values()] + [p.due for p in self.summaries.values()]
        if self.unsigned:
            dues.append(self.unsigned.due)
        return min(dues) if dues else None


def ref(r: dict) -> object:
    return ("notice", r["id"]) if "kind" in r else r["id"]


def class_label(class_name: str) -> str:
    return one_line(class_name).upper()


def name_of(r: dict) -> str:
    return one_line(r["studentName"])


def who(r: dict) -> str:
    return f"{name_of(r)} (kelas {one_line(r['className'])})"


def violation_text(reports: list[dict]) -> str:
    if len(reports) == 1:
        return f"PELANGGARAN - {who(reports[0])}: {shown(reports[0]['detail'])}"
    lines = "\n".join(f"- {shown(r['detail'])}" for r in reports)
    return f"PELANGGARAN - {who(reports[0])}, {len(reports)} pelanggaran:\n{lines}"


def summary_text(cls: str, reports: list[dict]) -> str:
    started = sorted({name_of(r) for r in reports if r["event"] == "START"})
    finished = sorted({name_of(r) for r in reports if r["event"] == "FINISH"})
    text = f"{cls}: {len(started)} mulai, {len(finished)} selesai"
    if started:
        text += "\nMulai: " + ", ".join(started)
    if finished:
        text += "\nSelesai: " + ", ".join(finished)
    return text


CAUSES = "Kemungkinan: aplikasi ujian ditutup paksa, PC mati, atau jaringan putus. Datangi PC itu."


def clock(t: float) -> str:
    return dt.datetime.fromtimestamp(t).strftime("%H:%M:%S")


def duration(seconds: float) -> str:
    s = max(0, int(round(seconds)))
    if s < 60:
        return f"{s} detik"
    if s < 3600:
        return f"{s // 60} menit {s % 60} detik"
    return f"{s // 3600} jam {s % 3600 // 60} menit"


def presence_line(n: dict) -> str:
    if n["kind"] == "missing":
        return f"tidak terdengar sejak pukul {clock(n['lastContact'])}"
    return f"terhubung lagi setelah {duration(n['gone'])} tidak terdengar"


def presence_text(notices: list[dict]) -> str:
    if len(notices) == 1:
        n = notices[0]
        head = "TIDAK TERDENGAR" if n["kind"] == "missing" else "TERHUBUNG LAGI"
        text = f"{head} - {who(n)}: {presence_line(n)}."
        return text + " " + CAUSES if n["kind"] == "missing" else text
    lines = "\n".join(f"- {name_of(n)}: {presence_line(n)}" for n in notices)
    text = f"PC UJIAN - kelas {class_label(notices[0]['className'])}, {len(notices)} perubahan:\n{lines}"
    return text + "\n" + CAUSES if any(n["kind"] == "missing" for n in notices) else text


def twice_text(n: dict) -> str:
    pcs = " dan ".join(shown(a) for a in n.get("addresses", "").split(", ") if a)
    return (f"PERINGATAN - {who(n)}: dua sesi ujian dengan nama ini, dari PC {pcs}. Mungkin teman sekelas memakai "
            "nama siswa ini. Datangi kedua PC; tutup sesi yang bukan milik siswa di halaman pengawas (Tutup sesi).")


def unsigned_text(count: int, window: float) -> str:
    return (f"LAPORAN TANPA SESI: {count} laporan dalam {duration(window)} terakhir datang tanpa ujian yang "
            "terverifikasi dan tidak diteruskan. Token kelas mungkin diketahui di luar kelas: lihat halaman "
            "pengawas dan ganti tokennya.")


# The gateways.
@dataclass(frozen=True)
class Request:
    url: str
    headers: dict[str, str]
    body: bytes


def phone_digits(number: str, country: str = "62") -> str:
    """08123... or +62 812-3... as 628123...: the form most gateways want."""
    digits = re.sub(r"\D", "", number)
    return country + digits[1:] if digits.startswith("0") else digits


def build_request(w: WhatsApp, to: str, text: str) -> Request:
    headers = dict(w.headers)
    text = clip(text)
    if w.preset == "fonnte":  # form fields target, message; Authorization: token
        body = urllib.parse.urlencode({"target": to, "message": text}).encode()
        headers["Content-Type"] = "application/x-www-form-urlencoded"
    elif w.preset == "wablas":  # form fields phone, message; Authorization: token
        body = urllib.parse.urlencode({"phone": phone_digits(to), "message": text}).encode()
        headers["Content-Type"] = "application/x-www-form-urlencoded"
    elif w.preset == "waha":  # POST /api/sendText, JSON chatId, text, session
        body = json.dumps({"chatId": phone_digits(to) + "@c.us", "text": text, "session": w.session}).encode()
        headers["Content-Type"] = "application/json"
    elif w.preset == "cloud-api":  # Meta's Graph API: POST /PHONE_NUMBER_ID/messages
        body = json.dumps({"messaging_product": "whatsapp", "recipient_type": "individual", "to": phone_digits(to),
                           "type": "text", "text": {"preview_url": False, "body": text}}).encode()
        headers["Content-Type"] = "application/json"
    else:  # webhook
        body = json.dumps({"to": to, "text": text}, ensure_ascii=False).encode()
        headers["Content-Type"] = "application/json; charset=UTF-8"
    return Request(w.url, headers, body)


def delivered(preset: str, status: int, body: bytes) -> bool:
    """Whether the gateway took the message. Fonnte and Wablas answer 200 with
    "status":false when they did not, so their answer is read."""
    if not 200 <= status < 300:
        return False
    if preset in ("fonnte", "wablas"):
        try:
            return json.loads(body.decode("utf-8", "replace")).get("status") is True
        except (ValueError, AttributeError):
            return False
    if preset == "cloud-api":
        try:
            return bool(json.loads(body.decode("utf-8", "replace")).get("messages"))
        except (ValueError, AttributeError):
            return False
    return True


class Redactor:
    def __init__(self, secrets: list[str]) -> None:
        self.secrets = sorted((s for s in secrets if len(s) >= 3), key=len, reverse=True)

    def __call__(self, text: str) -> str:
        for s in self.secrets:
            text = text.replace(s, "***")
        return text


class Forwarder:
    """One thread: groups the outbox into messages and sends them, in order
    per recipient, through the configured gateway."""

    def __init__(self, store, w: WhatsApp, log, redact: Redactor, timeout: float = 15.0) -> None:
        self.store, self.w, self.log, self.redact, self.timeout = store, w, log, redact, timeout
        self.grouper = Grouper(w.violation_merge_seconds, w.summary_seconds)
        self.fed: set[object] = set()  # refs already given to the grouper
        self.wake = threading.Event()
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._run, name="whatsapp", daemon=True)

    def start(self) -> None:
        self.thread.start()

    def stop(self) -> None:
        self.stopping.set()
        self.wake.set()
        self.thread.join(timeout=self.timeout + 5)

    def send_test(self) -> None:
        self.store.queue_messages([TEST_TEXT], self.w.to, [], time.time())
        self.wake.set()

    def _run(self) -> None:
        while not self.stopping.is_set():
            try:
                wait = self._step(time.time())
            except Exception as e:  # a bad moment of the database must not end the forwarder
                if not isinstance(e, WriteFailed):  # the store names that cause, once a minute
                    self.log(self.redact(f"whatsapp: {type(e).__name__}: {e}"))
                # What was taken from the outbox but not queued would be lost:
                # start again from the outbox, which still holds it.
                self.grouper = Grouper(self.w.violation_merge_seconds, self.w.summary_seconds)
                self.fed.clear()
                wait = 5.0
            self.wake.wait(max(0.05, min(wait, 5.0)))
            self.wake.clear()

    def _step(self, now: float) -> float:
        # The grouping runs where the watch does: one process of those sharing the database.
        if self.store.lead("watch"):
            self._group(now)
        elif self.fed:
            self.grouper = Grouper(self.w.violation_merge_seconds, self.w.summary_seconds)
            self.fed.clear()  # still in the outbox: the watching process groups them
        wait = 5.0
        while not self.stopping.is_set():
            m = self.store.claim_message(time.time(), LEASE + self.timeout)
            if m is None:
                break
            ok, why, status = self._send(m["recipient"], m["text"])
            t = time.time()
            if ok:
                self.store.message_done(m["id"], "sent", t)
                wait = 0.0  # the recipient's next message may go at once
            elif refused_for_good(status):
                self.log(self.redact(f"whatsapp: message {m['id']} refused by the gateway ({why}), not tried again"))
                self.store.message_done(m["id"], "failed", t, why)
                wait = 0.0
            else:
                again = next_try(m["attempts"] + 1, m["created_at"], t)
                self.log(self.redact(f"whatsapp: message {m['id']} not delivered ({why})"
                                     + ("" if again else ", given up after a day")))
                if again is None:
                    self.store.message_done(m["id"], "failed", t, why)
                else:
                    self.store.message_retry(m["id"], again, why)
        for m in self.store.next_messages():
            wait = min(wait, max(0.0, m["next_try"] - now))
        nd = self.grouper.next_due()
        if nd is not None:
            wait = min(wait, nd - now)
        return wait

    def _group(self, now: float) -> None:
        items = self.store.outbox_reports() + self.store.outbox_notices()
        for r in items:
            if ref(r) not in self.fed:
                self.fed.add(ref(r))
                self.grouper.add(r, now)
        due = self.grouper.take_due(now)
        if due:
            texts = [t for t, _ in due]
            refs = [r for _, group in due for r in group]
            self.store.queue_messages(texts, self.w.to, [r for r in refs if isinstance(r, int)], now,
                                      [r[1] for r in refs if isinstance(r, tuple)])
            self.fed.difference_update(refs)

    def _send(self, to: str, text: str) -> tuple[bool, str, int | None]:
        """(delivered, what went wrong, the gateway's status or None without an answer)"""
        req = build_request(self.w, to, text)
        http_req = urllib.request.Request(req.url, data=req.body, headers=req.headers, method="POST")
        try:
            with urllib.request.urlopen(http_req, timeout=self.timeout) as resp:
                status, body = resp.status, resp.read(65536)
        except urllib.error.HTTPError as e:
            status, body = e.code, e.read(65536) if e.fp else b""
        except (OSError, ValueError) as e:
            return False, self.redact(f"no connection: {getattr(e, 'reason', e)}"), None
        if delivered(self.w.preset, status, body):
            return True, "", status
        snippet = body[:120].decode("utf-8", "replace").replace("\n", " ")
        return False, self.redact(f"HTTP {status}: {snippet}"), status
