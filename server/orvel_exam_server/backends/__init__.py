"""The engines behind the store; the configuration's `database` picks one."""
from __future__ import annotations

from pathlib import Path
from typing import Any


def is_url(database: Path | str) -> bool:
    return isinstance(database, str) and database.startswith(("postgresql://", "postgres://"))


def shown(database: Path | str) -> str:
    """The database as the console and the log show it: never a password."""
    if is_url(database):
        from .postgres import shown_url
        return shown_url(str(database))
    return str(database)


def backend_for(database: Path | str) -> Any:
    """A postgresql:// address: PostgreSQL through psycopg, imported only
    then (ImportError saying what to install). A path: SQLite, on the
    standard library alone."""
    if is_url(database):
        from .postgres import Postgres
        return Postgres(str(database))
    from .sqlite import SQLite
    return SQLite(Path(database))
