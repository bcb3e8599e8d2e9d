"""The proctor's logins, kept in the database so that a restart does not log
the proctor out; held in memory while the database cannot be written, so
the proctor can log in and look when the disk is full."""
from __future__ import annotations

import threading

from .database import Store


class Logins:
    def __init__(self, store: Store) -> None:
        self.store = store
        self.lock = threading.Lock()
        # Logins made or ended while the database could not be written.
        self.made: dict[str, float] = {}
        self.ended: set[str] = set()

    def add(self, token_hash: str, expires: float) -> None:
        if not self.store.write_or_hold(lambda c: c.execute(
                "INSERT INTO sessions VALUES (?, ?) ON CONFLICT (token_hash) DO UPDATE SET expires = excluded.expires",
                (token_hash, expires))):
            with self.lock:
                self.made[token_hash] = expires
                self.ended.discard(token_hash)

    def valid(self, token_hash: str, now: float) -> bool:
        with self.lock:
            if token_hash in self.ended:
                return False
            if self.made.get(token_hash, 0) > now:
                return True
        return self.store.read(lambda c: c.execute(
            "SELECT 1 FROM sessions WHERE token_hash = ? AND expires > ?", (token_hash, now)).fetchone() is not None)

    def drop(self, token_hash: str, now: float) -> None:
        with self.lock:
            self.made.pop(token_hash, None)
        if not self.store.write_or_hold(lambda c: c.execute(
                "DELETE FROM sessions WHERE token_hash = ? OR expires <= ?", (token_hash, now))):
            with self.lock:
                self.ended.add(token_hash)
