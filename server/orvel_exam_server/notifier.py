""""Something changed": what the proctor's streams wait on. The store posts
each committed report or verification, the presence watch an exam gone
silent or heard again; the server's end wakes every stream."""
from __future__ import annotations

import threading


class Notifier:
    def __init__(self) -> None:
        self.cond = threading.Condition()
        self.last_id = 0   # the newest report stored
        self.version = 0   # counts the commits the streams care about

    def stored(self, report_id: int = 0) -> None:
        """A report (its id) or a verification (0) was committed. A report
        at or below the newest known changes nothing: the ids grow in the
        order of the commits, so it was read with that newer one (and a
        process hears its own reports twice, from itself and the database)."""
        with self.cond:
            if 0 < report_id <= self.last_id:
                return
            self.last_id = max(self.last_id, report_id)
            self.version += 1
            self.cond.notify_all()

    def poke(self) -> None:
        """Wakes every waiting stream to look again."""
        with self.cond:
            self.cond.notify_all()
