"""`processes = N`: N serving processes on one box, each its own Python,
sharing the port (SO_REUSEPORT: the system spreads the connections). This
process only starts them, starts again one that ended, and ends them all on
SIGTERM or Ctrl+C."""
from __future__ import annotations

import datetime as dt
import os
import signal
import subprocess
import sys
import threading
import time

PROCESS_ENV = "ORVEL_SERVER_PROCESS"   # "k/N" in a serving process
RESTART_WAIT = 1.0                      # seconds before a process that ended is started again
STOP_WAIT = 20.0


def label() -> str:
    """"k/N" in a serving process started here; "" otherwise."""
    return os.environ.get(PROCESS_ENV, "")


def log(line: str) -> None:
    print(f"{dt.datetime.now():%Y-%m-%d %H:%M:%S} {line}", file=sys.stderr, flush=True)


def supervise(config_path: str, count: int) -> int:
    def start(k: int) -> subprocess.Popen:
        env = dict(os.environ, **{PROCESS_ENV: f"{k}/{count}"})
        return subprocess.Popen([sys.executable, "-m", "orvel_exam_server", "run", "--config", config_path], env=env)

    stopping = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stopping.set())
    signal.signal(signal.SIGINT, lambda *_: stopping.set())
    log(f"starting {count} serving processes")
    children = {k: start(k) for k in range(1, count + 1)}
    began = {k: time.monotonic() for k in children}
    code = 0
    while not stopping.wait(0.2):
        for k, child in list(children.items()):
            rc = child.poll()
            if rc is None:
                continue
            if rc == 1 and time.monotonic() - began[k] < 30:
                # It said why on its own line (a port taken, a database refused): the others go too.
                log(f"serving process {k} could not start; stopping the others")
                stopping.set()
                code = 1
                break
            log(f"serving process {k} ended ({_how(rc)}); starting it again")
            time.sleep(RESTART_WAIT)
            children[k], began[k] = start(k), time.monotonic()
    for child in children.values():
        if child.poll() is None:
            child.send_signal(signal.SIGTERM)
    end = time.monotonic() + STOP_WAIT
    for child in children.values():
        try:
            child.wait(timeout=max(0.1, end - time.monotonic()))
        except subprocess.TimeoutExpired:
            child.kill()
            child.wait()
            code = code or 1
    if code == 0:
        log("stopped")
    return code


def _how(rc: int) -> str:
    if rc < 0:
        try:
            return f"signal {signal.Signals(-rc).name}"
        except ValueError:
            return f"signal {-rc}"
    return f"exit {rc}"
