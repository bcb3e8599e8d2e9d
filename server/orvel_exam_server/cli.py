"""python3 -m orvel_exam_server run|init|check [--policies] --config FILE"""
from __future__ import annotations

import argparse
import datetime as dt
import signal
import sys
import threading

from . import __version__, processes, startup
from .backends import shown
from .config import Config, ConfigError, load
from .database import Store, StoreError

HEARTBEAT_SECONDS = 15  # how often a launcher says it is still there during an exam


def describe(cfg: Config, now: dt.datetime | None = None) -> str:
    now = now or dt.datetime.now().astimezone()
    lines = [f"host {cfg.host}, listening on {cfg.listen_host}:{cfg.listen_port}",
             f"database {shown(cfg.database)}" + (f", {cfg.processes} processes" if cfg.processes > 1 else "")]
    for name, path in (("certificate", cfg.cert_file), ("key", cfg.key_file)):
        lines.append(f"{name} {path}" + ("" if path.exists() else "  (missing: run init)"))
    lines.append(f"a working PC not heard from for {cfg.missing_after_seconds} s shows \"Hilang\"")
    warning = presence_warning(cfg)
    if warning:
        lines.append(f"warning: {warning}")
    lines.append(f"{len(cfg.exams)} exam(s):")
    for e in cfg.exams:
        window = ""
        if e.opens or e.closes:
            window = f", {when(e.opens)}" if e.opens else ", any time"
            window += f" to {when(e.closes)}" if e.closes else " onwards"
            window += f" (server time now {now:%Y-%m-%d %H:%M} {offset(now)})"
        pin = ", with proctor PIN" if e.proctor_pin else ", no proctor PIN"
        school = f", {e.school}" if e.school else ""
        lines.append(f"  class {e.class_name}: token {e.token}{pin}{window}{school}")
    if cfg.whatsapp:
        w = cfg.whatsapp
        lines.append(f"WhatsApp through {w.preset} to {len(w.to)} number(s); violations merged per "
                     f"{w.violation_merge_seconds:g} s, start/finish summaries per {w.summary_seconds:g} s")
    else:
        lines.append("WhatsApp: not configured, nothing is forwarded")
    return "\n".join(lines)


def presence_warning(cfg: Config) -> str | None:
    # Allowed (tests use a few seconds), but on a school's server it would
    # show working PCs as missing between two of their heartbeats.
    if cfg.missing_after_seconds >= HEARTBEAT_SECONDS + 5:
        return None
    return (f"missing_after_seconds = {cfg.missing_after_seconds} is shorter than the launchers' heartbeat "
            f"({HEARTBEAT_SECONDS} s) plus 5 s: working PCs will show \"Hilang\" between heartbeats")


def offset(t: dt.datetime) -> str:
    return t.strftime("%z")[:3] + ":" + t.strftime("%z")[3:] if t.utcoffset() is not None else ""


def when(t: dt.datetime) -> str:
    # A time written with its offset is shown with it; one without is the server's local time.
    return f"{t:%Y-%m-%d %H:%M}" + (f" {offset(t)}" if t.tzinfo else "")


def check(cfg: Config) -> int:
    print(describe(cfg))
    try:
        startup.address_here(cfg.listen_host)
        if cfg.cert_file.exists() or cfg.key_file.exists():
            startup.tls_context(cfg.cert_file, cfg.key_file, cfg.path)
    except startup.StartupError as e:
        print(f"error: {e}", file=sys.stderr)
        return 1
    return 0


def run(cfg: Config) -> int:
    from .app import App, serve
    label = processes.label()
    if cfg.processes > 1 and not label:
        # The faults the processes would all meet are said once, here; the
        # tables are made here too, before the processes start together.
        try:
            startup.tls_context(cfg.cert_file, cfg.key_file, cfg.path)
        except startup.StartupError as e:
            print(f"error: {e}", file=sys.stderr)
            return 1
        try:
            Store(cfg.database, lambda line: None).close()
        except StoreError as e:
            print(f"error: cannot open the database {shown(cfg.database)}: {e}", file=sys.stderr)
            return 1
        return processes.supervise(str(cfg.path), cfg.processes)
    try:
        context = startup.tls_context(cfg.cert_file, cfg.key_file, cfg.path)
        sock = startup.listening_socket(cfg.listen_host, cfg.listen_port, shared=bool(label))
    except startup.StartupError as e:
        print(f"error: {e}", file=sys.stderr)
        return 1
    try:
        app = App(cfg, label=label)
    except StoreError as e:
        sock.close()
        print(f"error: cannot open the database {shown(cfg.database)}: {e}", file=sys.stderr)
        return 1
    files = startup.raise_file_limit()
    server = serve(app, sock, context)
    if files is not None:
        app.log(f"open files at most {files[1]} (was {files[0]}); connections being read at most "
                f"{server.max_reading}")
    # shutdown() waits for serve_forever(), so it is called from another thread.
    stop = lambda *_: threading.Thread(target=server.shutdown, daemon=True).start()
    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    app.start()
    warning = presence_warning(cfg)
    if warning:
        app.log(f"warning: {warning}")
    port = "" if cfg.listen_port == 443 else f":{cfg.listen_port}"
    app.log(f"ORVEL exam server {__version__} ready on {cfg.listen_host}:{cfg.listen_port}; "
            f"proctor page https://{cfg.host}{port}/pengawas")
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.server_close()
        app.close()
        app.log("stopped")
    return 0


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="orvel_exam_server", description="The school's exam server.")
    parser.add_argument("command", choices=("run", "init", "check"))
    parser.add_argument("--config", required=True, metavar="FILE")
    parser.add_argument("--policies", action="store_true",
                        help="with check: print the browsers' URLAllowlist for the configured exams' forms")
    args = parser.parse_args(argv)
    if hasattr(sys.stdout, "reconfigure"):
        sys.stdout.reconfigure(encoding="utf-8", errors="replace")
        sys.stderr.reconfigure(encoding="utf-8", errors="replace")
    try:
        cfg = load(args.config)
    except ConfigError as e:
        print(f"error in the configuration: {e}", file=sys.stderr)
        return 1
    if args.command == "check" and args.policies:
        from .policies import allowlist_reg
        print(allowlist_reg(cfg.exams), end="")
        return 0
    if args.command == "check":
        return check(cfg)
    if args.command == "init":
        from .certs import init
        ok, text = init(cfg.host, cfg.cert_file, cfg.key_file)
        print(text, file=sys.stdout if ok else sys.stderr)
        return 0 if ok else 1
    return run(cfg)


def _zipapp_main() -> None:
    raise SystemExit(main())
