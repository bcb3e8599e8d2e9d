"""Who may ask the proctor's side: the same-origin rule for its POSTs and the
slowdown of failed logins across all addresses. Pure, like decisions.py."""
from __future__ import annotations

import urllib.parse
from collections import deque

SLOWED = "Terlalu banyak percobaan masuk. Coba lagi dalam 5 detik."


def _host_port(netloc: str) -> tuple[str, int] | None:
    try:
        parts = urllib.parse.urlsplit("//" + netloc.strip())
        port = parts.port or 443
    except ValueError:
        return None
    return ((parts.hostname or "").lower(), port) if parts.hostname else None


def same_origin(origin: str | None, fetch_site: str | None, host: str | None) -> bool:
    """Whether a POST comes from this server's own page.

    A browser names the page that sent a request in Origin and, when new
    enough, says in Sec-Fetch-Site whether it was this site; another site's
    page posting a form to the proctor's login or test message is refused.
    "Own" is https on the name and port the browser reached this server by
    (its Host), so the page works by host name, by IP address or on a test
    port alike. Without either header the request is no browser's cross-site
    form (the follow tool, the tests), so it passes."""
    if fetch_site is not None and fetch_site.strip().lower() not in ("same-origin", "none"):
        return False
    if origin is None:
        return True
    scheme, sep, netloc = origin.strip().partition("://")
    if not sep or scheme.lower() != "https" or host is None:
        return False  # "null" (a sandboxed or file page) included
    mine, theirs = _host_port(host), _host_port(netloc)
    return mine is not None and mine == theirs


class LoginGate:
    """Failed logins from every address together. After `after` failures
    within `window` seconds, one try is let through per `spacing` seconds
    across all addresses: a guess spread over the whole network stays slow,
    while the proctor, whose own address is not blocked, still gets a try
    within seconds (never a lock-out)."""

    def __init__(self, after: int = 30, window: float = 600.0, spacing: float = 5.0) -> None:
        self.after, self.window, self.spacing = after, window, spacing
        self.failures: deque[float] = deque()
        self.last_try: float | None = None

    def admit(self, now: float) -> bool:
        """Whether a try may go ahead now; an admitted try takes the slot."""
        while self.failures and self.failures[0] <= now - self.window:
            self.failures.popleft()
        if len(self.failures) >= self.after and self.last_try is not None and now - self.last_try < self.spacing:
            return False
        self.last_try = now
        return True

    def failed(self, now: float) -> None:
        self.failures.append(now)
