"""Builds build/orvel-exam-server.pyz: the package as one zipapp, run with
`python3 orvel-exam-server.pyz run --config FILE` like the package itself.

    python3 server/tools/build_pyz.py [OUTPUT]
"""
from __future__ import annotations

import shutil
import sys
import tempfile
import zipapp
from pathlib import Path

HERE = Path(__file__).resolve().parent
PACKAGE = HERE.parent / "orvel_exam_server"


def build(output: Path) -> Path:
    output.parent.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        shutil.copytree(PACKAGE, Path(tmp) / PACKAGE.name, ignore=shutil.ignore_patterns("__pycache__", "*.pyc"))
        zipapp.create_archive(tmp, output, interpreter="/usr/bin/env python3",
                              main="orvel_exam_server.cli:_zipapp_main", compressed=True)
    return output


if __name__ == "__main__":
    default = HERE.parent.parent / "build" / "orvel-exam-server.pyz"
    print(build(Path(sys.argv[1]) if len(sys.argv) > 1 else default))
