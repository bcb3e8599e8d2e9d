"""The engines behind the store; the configuration's `database` picks one."""
from __future__ import annotations

from pathlib import Path
from typing import Any


def backend_for(database: Path | str) -> Any:
    """A path: SQLite, on the standard library alone."""
    from .sqlite import SQLite
    return SQLite(Path(database))
