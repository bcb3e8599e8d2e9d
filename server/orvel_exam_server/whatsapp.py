"""Reports to the proctor's WhatsApp: grouping (pure), the gateways' requests
(pure) and the forwarder thread that sends the outbox in order."""
from __future__ import annotations

import json
import re
import threading
import time
import urllib.error
import urllib.parse
import urllib.request
from dataclasses import dataclass, field

from .config import WhatsApp
from .decisions import student_key

# After a failed send: 1, 2, 4 and 8 s, then every minute, for a day.
BACKOFF = (1.0, 2.0, 4.0, 8.0)
LATER = 60.0
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


class Grouper:
    """Decides which messages go when, so that forty PCs do not flood a phone.

    A student's first VIOLATION goes at once; later ones go together, at most
    one message per `merge` seconds. START and FINISH are counted per class and
    go as one summary `summary` seconds after the first of them."""

    def __init__(self, merge: float, summary: float) -> None:
        self.merge, self.summary = merge, summary
        self.last_violation_sent: dict[tuple, float] = {}
        self.violations: dict[tuple, list[_Pending]] = {}
        self.summaries: dict[str, _Pending] = {}
        self.others: list[dict] = []

    def add(self, r: dict, now: float) -> None:
        if r["event"] == "VIOLATION":
            key = student_key(r["className"], r["studentName"], r["token"])
            waiting = self.violations.setdefault(key, [])
            if waiting and waiting[-1].due > now:
                waiting[-1].reports.append(r)
                return
            # The message before is going now or went: this one waits its turn.
            last = waiting[-1].due if waiting else self.last_violation_sent.get(key)
            waiting.append(_Pending(now if last is None else max(now, last + self.merge), [r]))
        elif r["event"] in ("START", "FINISH"):
            cls = " ".join(r["className"].split()).upper()
            self.summaries.setdefault(cls, _Pending(now + self.summary)).reports.append(r)
        else:
            self.others.append(r)

    def take_due(self, now: float) -> list[tuple[str, list[int]]]:
        """(text, report ids) for each message due, oldest report first."""
        out: list[tuple[float, str, list[int]]] = []
        for key, waiting in list(self.violations.items()):
            while waiting and waiting[0].due <= now:
                p = waiting.pop(0)
                out.append((p.reports[0]["id"], violation_text(p.reports), [r["id"] for r in p.reports]))
                self.last_violation_sent[key] = p.due
            if not waiting:
                del self.violations[key]
        for cls, p in list(self.summaries.items()):
            if p.due <= now:
                out.append((p.reports[0]["id"], summary_text(cls, p.reports), [r["id"] for r in p.reports]))
                del self.summaries[cls]
        for r in self.others:
            out.append((r["id"], f"{who(r)}: {r['event']} - {r['detail']}", [r["id"]]))
        self.others = []
        return [(text, ids) for _, text, ids in sorted(out)]

    def next_due(self) -> float | None:
        dues = [w[0].due for w in self.violations.values()] + [p.due for p in self.summaries.values()]
        return min(dues) if dues else None


def who(r: dict) -> str:
    return f"{' '.join(r['studentName'].split())} (kelas {r['className'].strip()})"


def violation_text(reports: list[dict]) -> str:
    if len(reports) == 1:
        return f"PELANGGARAN - {who(reports[0])}: {reports[0]['detail']}"
    lines = "\n".join(f"- {r['detail']}" for r in reports)
    return f"PELANGGARAN - {who(reports[0])}, {len(reports)} pelanggaran:\n{lines}"


def summary_text(cls: str, reports: list[dict]) -> str:
    started = sorted({" ".join(r["studentName"].split()) for r in reports if r["event"] == "START"})
    finished = sorted({" ".join(r["studentName"].split()) for r in reports if r["event"] == "FINISH"})
    text = f"{cls}: {len(started)} mulai, {len(finished)} selesai"
    if started:
        text += "\nMulai: " + ", ".join(started)
    if finished:
        text += "\nSelesai: " + ", ".join(finished)
    return text


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
        self.fed: set[int] = set()
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
                self.log(self.redact(f"whatsapp: {type(e).__name__}: {e}"))
                # What was taken from the outbox but not queued would be lost:
                # start again from the outbox, which still holds it.
                self.grouper = Grouper(self.w.violation_merge_seconds, self.w.summary_seconds)
                self.fed.clear()
                wait = 5.0
            self.wake.wait(max(0.05, min(wait, 5.0)))
            self.wake.clear()

    def _step(self, now: float) -> float:
        for r in self.store.outbox_reports():
            if r["id"] not in self.fed:
                self.fed.add(r["id"])
                self.grouper.add(r, now)
        due = self.grouper.take_due(now)
        if due:
            texts = [t for t, _ in due]
            ids = [i for _, group in due for i in group]
            self.store.queue_messages(texts, self.w.to, ids, now)
            self.fed.difference_update(ids)
        wait = 5.0
        for m in self.store.next_messages():
            if self.stopping.is_set():
                break
            if m["next_try"] > now:
                wait = min(wait, m["next_try"] - now)
                continue
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
                    wait = min(wait, again - t)
        nd = self.grouper.next_due()
        if nd is not None:
            wait = min(wait, nd - now)
        return wait

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
