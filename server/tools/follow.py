"""Prints each report the exam server stores, one line each, as it comes:

    ORVEL_PROCTOR_PASSWORD=... python3 server/tools/follow.py https://HOST[:PORT] [--ca ca.crt]

The line: "event EVENT | name | class | token | detail". Logs in as the
proctor (the password from ORVEL_PROCTOR_PASSWORD) and follows the stream,
picking it up again where it stopped if the server goes away for a while.
"""
from __future__ import annotations

import argparse
import http.client
import json
import os
import ssl
import sys
import time
import urllib.parse


def main() -> int:
    p = argparse.ArgumentParser()
    p.add_argument("url")
    p.add_argument("--ca", help="the CA that signed the server's certificate")
    args = p.parse_args()
    url = urllib.parse.urlsplit(args.url)
    ctx = ssl.create_default_context(cafile=args.ca)
    password = os.environ.get("ORVEL_PROCTOR_PASSWORD", "")
    sys.stdout.reconfigure(encoding="utf-8", errors="replace", line_buffering=True)
    last = ""
    while True:
        try:
            conn = http.client.HTTPSConnection(url.hostname, url.port or 443, context=ctx, timeout=60)
            conn.request("POST", "/pengawas/login", urllib.parse.urlencode({"password": password}),
                         {"Content-Type": "application/x-www-form-urlencoded"})
            r = conn.getresponse()
            r.read()
            if r.status != 303:
                print(f"follow: login refused ({r.status})", file=sys.stderr)
                return 1
            cookie = r.getheader("Set-Cookie", "").split(";")[0]
            conn.close()
            conn = http.client.HTTPSConnection(url.hostname, url.port or 443, context=ctx, timeout=60)
            conn.request("GET", "/api/proctor/stream", headers={"Cookie": cookie, **({"Last-Event-ID": last} if last else {})})
            r = conn.getresponse()
            for raw in r:
                line = raw.decode("utf-8").rstrip("\n")
                if line.startswith("id: "):
                    last = line[4:]
                elif line.startswith("data: {") and last:
                    d = json.loads(line[6:])
                    if "event" in d:
                        parts = [d[k] for k in ("event", "studentName", "className", "token", "detail")]
                        print("event " + " | ".join(" ".join(str(x).split()) for x in parts))
        except (OSError, http.client.HTTPException):
            pass
        time.sleep(1)


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        sys.exit(0)
