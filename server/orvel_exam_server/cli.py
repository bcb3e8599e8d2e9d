"""python3 -m orvel_exam_server run|init|check --config FILE"""
from __future__ import annotations

import argparse
import signal
import sys
import threading

from . import __version__
from .config import Config, ConfigError, load


def describe(cfg: Config) -> str:
    lines = [f"host {cfg.host}, listening on {cfg.listen_host}:{cfg.listen_port}",
             f"database {cfg.database}"]
    for name, path in (("certificate", cfg.cert_file), ("key", cfg.key_file)):
        lines.append(f"{name} {path}" + ("" if path.exists() else "  (missing: run init)"))
    lines.append(f"{len(cfg.exams)} exam(s):")
    for e in cfg.exams:
        window = ""
        if e.opens or e.closes:
            window = f", {e.opens:%Y-%m-%d %H:%M}" if e.opens else ", any time"
            window += f" to {e.closes:%Y-%m-%d %H:%M}" if e.closes else " onwards"
        pin = ", with proctor PIN" if e.proctor_pin else ", no proctor PIN"
        lines.append(f"  class {e.class_name}: token {e.token}{pin}{window}")
    if cfg.whatsapp:
        w = cfg.whatsapp
        lines.append(f"WhatsApp through {w.preset} to {len(w.to)} number(s); violations merged per "
                     f"{w.violation_merge_seconds:g} s, start/finish summaries per {w.summary_seconds:g} s")
    else:
        lines.append("WhatsApp: not configured, nothing is forwarded")
    return "\n".join(lines)


def run(cfg: Config) -> int:
    from .app import App, serve
    for path in (cfg.cert_file, cfg.key_file):
        if not path.exists():
            print(f"error: {path} does not exist (run: init --config {cfg.path})", file=sys.stderr)
            return 1
    app = App(cfg)
    try:
        server = serve(app)
    except OSError as e:
        app.close()
        print(f"error: cannot listen on {cfg.listen_host}:{cfg.listen_port}: {e.strerror or e}", file=sys.stderr)
        return 1
    # shutdown() waits for serve_forever(), so it is called from another thread.
    stop = lambda *_: threading.Thread(target=server.shutdown, daemon=True).start()
    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    app.start()
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
    args = parser.parse_args(argv)
    if hasattr(sys.stdout, "reconfigure"):
        sys.stdout.reconfigure(encoding="utf-8", errors="replace")
        sys.stderr.reconfigure(encoding="utf-8", errors="replace")
    try:
        cfg = load(args.config)
    except ConfigError as e:
        print(f"error in the configuration: {e}", file=sys.stderr)
        return 1
    if args.command == "check":
        print(describe(cfg))
        return 0
    if args.command == "init":
        from .certs import init
        ok, text = init(cfg.host, cfg.cert_file, cfg.key_file)
        print(text, file=sys.stdout if ok else sys.stderr)
        return 0 if ok else 1
    return run(cfg)


def _zipapp_main() -> None:
    raise SystemExit(main())
