"""The browsers' URLAllowlist for the exams this server hands out.

The shipped .reg files (docs/policies/) allow every published Google Form
(`https://docs.google.com/forms/d/e/`): any form anyone publishes, notes
included. These lines allow exactly the forms of the configured exams, and
the sign-in pages those forms need. A helper can hand any address to a
running kiosk browser through the browser's own single-instance message;
only the allow-list keeps it from opening.
"""
from __future__ import annotations

from collections.abc import Iterable
from urllib.parse import urlsplit

from .config import Exam

# The sign-in pages a form of that host may send the student through.
SIGN_IN = {"docs.google.com": ("https://accounts.google.com",)}

BROWSERS = (
    ("Edge", r"HKEY_LOCAL_MACHINE\SOFTWARE\Policies\Microsoft\Edge\URLAllowlist", "edge://policy"),
    ("Chrome", r"HKEY_LOCAL_MACHINE\SOFTWARE\Policies\Google\Chrome\URLAllowlist", "chrome://policy"),
)


def form_entries(form_url: str) -> list[str]:
    """The allow-list entries one form needs: its own pages, nothing beside them.

    A published Google Form (`/forms/d/e/<id>/...`) keeps its form, its
    "Submit" and its confirmation under its own folder: that folder. An
    older form address (`/forms/d/<id>/viewform`) shares its folder with the
    form's editor: that address and its "Submit" (`formResponse`) alone.
    Any other address: itself. The query (where `{studentName}` goes) and
    the fragment are left out: a filter's path admits every query. A
    placeholder in the path cuts it at the folder before it.
    """
    parts = urlsplit(form_url)
    host = (parts.hostname or "").lower()
    origin = f"{parts.scheme.lower()}://{host}" + (f":{parts.port}" if parts.port else "")
    path = parts.path or "/"
    if "{" in path:
        path = path[: path.rfind("/", 0, path.index("{")) + 1]
    segments = path.split("/")
    if host == "docs.google.com" and segments[1:4] == ["forms", "d", "e"] and len(segments) > 4 and segments[4]:
        return [origin + "/".join(segments[:5]) + "/"]
    if host == "docs.google.com" and segments[1:3] == ["forms", "d"] and len(segments) > 3 and segments[3] not in ("", "e"):
        folder = "/".join(segments[:4])
        return [origin + path, origin + folder + "/formResponse"]
    return [origin + path]


def allowlist(exams: Iterable[Exam]) -> list[tuple[str, list[str]]]:
    """(comment, entries) groups: each exam's form, then the sign-in pages;
    an entry already given is not repeated."""
    groups: list[tuple[str, list[str]]] = []
    seen: set[str] = set()
    sign_in: list[str] = []
    for exam in exams:
        fresh = [e for e in form_entries(exam.form_url) if e not in seen]
        seen.update(fresh)
        if fresh:
            groups.append((f"class {exam.class_name}, token {exam.token}", fresh))
        for page in SIGN_IN.get((urlsplit(exam.form_url).hostname or "").lower(), ()):
            if page not in seen:
                seen.add(page)
                sign_in.append(page)
    if sign_in:
        groups.append(("the sign-in the forms above may ask for", sign_in))
    return groups


def allowlist_reg(exams: Iterable[Exam]) -> str:
    """The URLAllowlist part of docs/policies/edge-exam.reg and chrome-exam.reg
    for these exams, in regedit's own form, to put in place of the shipped one."""
    groups = allowlist(exams)
    lines = ["; The URLAllowlist of the browsers' policy files for the exams of this server:",
             "; put each block in place of the URLAllowlist block of that browser's file."]
    for name, key, policy_page in BROWSERS:
        lines += ["", f"; {name}", f"[-{key}]", f"[{key}]"]
        n = 0
        for comment, entries in groups:
            lines.append(f"; {comment}")
            for entry in entries:
                n += 1
                lines.append(f'"{n}"="{entry}"')
        lines += ["; so that IT can check the policies", f'"{n + 1}"="{policy_page}"']
    return "\n".join(lines) + "\n"
