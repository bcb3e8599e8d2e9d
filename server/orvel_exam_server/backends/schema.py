"""The tables of the store, written once for both engines: each backend
fills in its own types (`tables`) and adds what only it needs."""
from __future__ import annotations

# {key}: a row id the engine hands out; {bigint}: a column that holds one (or
# a count that grows as long); {real}: seconds since 1970 and other
# fractions; {stamp}: a received_at that is sorted as text; {stored_order}:
# a column of exam_sessions that keeps the order they were stored in, where
# the engine has no row order of its own.
TABLES = """
CREATE TABLE IF NOT EXISTS reports (
    id {key},
    received_at {stamp} NOT NULL,
    address TEXT NOT NULL,
    idempotency_key TEXT UNIQUE,
    body TEXT NOT NULL,   -- its members, compact (before hashes were kept: as it came)
    body_hash TEXT,       -- SHA-256 of the body as it came: a body sent again is known by it
    student_name TEXT NOT NULL,
    class_name TEXT NOT NULL,
    token TEXT NOT NULL,
    event TEXT NOT NULL,
    detail TEXT NOT NULL,
    session TEXT   -- the exam session it came with; NULL: without one ("tanpa sesi")
);
CREATE TABLE IF NOT EXISTS verifications (
    id {key},
    received_at {stamp} NOT NULL,
    address TEXT NOT NULL,
    student_name TEXT NOT NULL,
    class_name TEXT NOT NULL,
    token TEXT NOT NULL,
    session TEXT
);
-- One per accepted verification: the launcher names it on every report.
CREATE TABLE IF NOT EXISTS exam_sessions (
    {stored_order}
    id TEXT PRIMARY KEY,
    created_at TEXT NOT NULL,
    address TEXT NOT NULL,
    student_name TEXT NOT NULL,
    class_name TEXT NOT NULL,
    token TEXT NOT NULL,
    last_contact {real} NOT NULL,   -- seconds since 1970; written every few seconds, not per heartbeat
    missing_since {real}            -- the last contact, while the proctor was told it is not heard
);
-- A key used again with another body: that body is a report of its own,
-- found again by the key and the body's hash when it is sent once more.
CREATE TABLE IF NOT EXISTS reused_keys (
    idempotency_key TEXT NOT NULL,
    body_hash TEXT NOT NULL,
    report_id {bigint} NOT NULL,
    PRIMARY KEY (idempotency_key, body_hash)
);
-- Stored reports waiting to be put into a WhatsApp message.
CREATE TABLE IF NOT EXISTS outbox (
    report_id {bigint} PRIMARY KEY REFERENCES reports(id)
);
-- Exams gone silent or heard again, waiting to be put into a WhatsApp message.
CREATE TABLE IF NOT EXISTS notices (
    id {key},
    kind TEXT NOT NULL,           -- missing | back | twice (one name on two PCs)
    student_name TEXT NOT NULL,
    class_name TEXT NOT NULL,
    token TEXT NOT NULL,
    last_contact {real} NOT NULL,
    gone {real} NOT NULL,           -- seconds not heard (back only)
    addresses TEXT NOT NULL DEFAULT ''  -- the PC's; for twice, both PCs'
);
-- Exams made on the proctor's page (those of the file stay in the file).
CREATE TABLE IF NOT EXISTS page_exams (
    id {key},
    classes TEXT NOT NULL,        -- a JSON list of class names
    form_url TEXT NOT NULL,
    proctor_pin TEXT NOT NULL DEFAULT '',
    opens TEXT NOT NULL DEFAULT '',   -- YYYY-MM-DDTHH:MM in the school's zone; '' for none
    closes TEXT NOT NULL DEFAULT '',
    rotate_minutes INTEGER NOT NULL DEFAULT 0,
    ended INTEGER NOT NULL DEFAULT 0, -- closed on the page
    created_at TEXT NOT NULL,
    school TEXT NOT NULL DEFAULT ''   -- '' for none; "5A" of two schools are two classes
);
-- Each page exam's tokens: the newest is its token now, the earlier ones keep their running exams.
CREATE TABLE IF NOT EXISTS exam_tokens (
    id {key},
    exam_id {bigint} NOT NULL REFERENCES page_exams(id),
    token TEXT NOT NULL UNIQUE,
    since {real} NOT NULL           -- seconds since 1970
);
-- Proctor accounts; the administrator is the configuration's proctor_password.
CREATE TABLE IF NOT EXISTS proctors (
    id {key},
    name TEXT NOT NULL,
    name_key TEXT NOT NULL UNIQUE,   -- the name as logins compare it
    salt TEXT NOT NULL,
    password_hash TEXT NOT NULL,     -- scrypt, hex; a login's hash is made with it, so a new password ends them
    classes TEXT NOT NULL,           -- a JSON list of the classes watched
    created_at TEXT NOT NULL,
    school TEXT NOT NULL DEFAULT ''  -- the classes are that school's; '' for the classes in every school
);
-- The version of each setting the page changes (exams, lists): moved in the
-- write that changes it, so every process sees the change at its next look.
CREATE TABLE IF NOT EXISTS changes (
    name TEXT PRIMARY KEY,
    version {bigint} NOT NULL
);
-- Each class's list of students, as the administrator gave it; replaced whole.
CREATE TABLE IF NOT EXISTS class_lists (
    class_key TEXT NOT NULL,      -- the class as the roster compares it
    position INTEGER NOT NULL,
    class_name TEXT NOT NULL,     -- as it was typed
    student_name TEXT NOT NULL,
    PRIMARY KEY (class_key, position)
);
-- Exam sessions the proctor closed: no longer watched, their later reports apart.
CREATE TABLE IF NOT EXISTS session_closes (
    id {key},
    closed_at TEXT NOT NULL,
    address TEXT NOT NULL,        -- the proctor's
    session TEXT NOT NULL UNIQUE
);
CREATE TABLE IF NOT EXISTS messages (
    id {key},
    recipient TEXT NOT NULL,
    text TEXT NOT NULL,
    created_at {real} NOT NULL,
    state TEXT NOT NULL DEFAULT 'pending',   -- pending | sent | failed
    attempts INTEGER NOT NULL DEFAULT 0,
    next_try {real} NOT NULL,
    last_error TEXT NOT NULL DEFAULT '',
    done_at {real}
);
CREATE INDEX IF NOT EXISTS messages_pending ON messages(state, recipient, id);
CREATE TABLE IF NOT EXISTS sessions (
    token_hash TEXT PRIMARY KEY,
    expires {real} NOT NULL
);
-- The proctor's commands to one exam session each (commands.py).
CREATE TABLE IF NOT EXISTS proctor_commands (
    id TEXT PRIMARY KEY,          -- the commandId the launcher names done
    seq {bigint} NOT NULL,         -- the order they were queued in
    session TEXT NOT NULL,
    class_name TEXT NOT NULL,
    student_name TEXT NOT NULL,
    token TEXT NOT NULL,
    kind TEXT NOT NULL,           -- message | end | lock | unlock
    text TEXT NOT NULL,
    created_at {real} NOT NULL,     -- seconds since 1970
    sent_at {real},                 -- first answered in a heartbeat
    done_at {real}                  -- named done by a heartbeat
);
"""

# After the columns a database of an earlier version gains.
INDEXES = "CREATE INDEX IF NOT EXISTS reports_session ON reports(session) WHERE session IS NOT NULL;"


def tables(key: str, bigint: str, real: str, stamp: str, stored_order: str) -> str:
    return TABLES.format(key=key, bigint=bigint, real=real, stamp=stamp, stored_order=stored_order)
