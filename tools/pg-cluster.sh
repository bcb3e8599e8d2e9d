#!/usr/bin/env bash
# A throw-away PostgreSQL cluster for the exam server's tests: its own folder,
# listening only on a Unix socket in that folder under a free port number, no
# service of the machine's. PostgreSQL refuses to run as root, so as root the
# cluster belongs to the user postgres.
#
#   bash tools/pg-cluster.sh start       makes and starts one in a new folder
#                                        (under /tmp, which the user postgres
#                                        may enter); prints the folder and the
#                                        server's address (postgresql://...)
#   bash tools/pg-cluster.sh stop DIR    stops it at once and removes DIR
#   bash tools/pg-cluster.sh halt DIR    stops it, keeping its data
#   bash tools/pg-cluster.sh resume DIR  starts it again after halt
set -euo pipefail
cmd=$1 dir=${2:-}
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -n "$bin" ] || { echo "PostgreSQL is not installed (apt install postgresql)" >&2; exit 1; }

as_owner() {
  # From / : the checkout may lie in a folder the postgres user may not enter.
  if [ "$(id -u)" = 0 ]; then (cd / && runuser -u postgres -- "$@"); else "$@"; fi
}

case $cmd in
  start)
    if [ "$(id -u)" = 0 ]; then
      dir=$(mktemp -d /tmp/orvel-pg.XXXXXX)
      chmod 755 "$dir"
      chown postgres: "$dir"
    else
      dir=$(mktemp -d "${TMPDIR:-/tmp}/orvel-pg.XXXXXX")
    fi
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    as_owner "$bin/initdb" -D "$dir/data" -U orvel --auth=trust --no-sync --locale=C.UTF-8 -E UTF8 >"$dir/initdb.log" 2>&1 ||
      { cat "$dir/initdb.log" >&2; exit 1; }
    # fsync stays on: the tests stop the database under load and count what survived.
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 start -o \
      "-c listen_addresses='' -c unix_socket_directories='$dir' -c port=$port -c max_connections=300" >/dev/null ||
      { cat "$dir/server.log" >&2; exit 1; }
    echo "$port" > "$dir/port"
    echo "$dir postgresql://orvel@/postgres?host=$dir&port=$port"
    ;;
  halt)
    as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w -t 30 stop >/dev/null
    ;;
  resume)
    port=$(cat "$dir/port")
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 start -o \
      "-c listen_addresses='' -c unix_socket_directories='$dir' -c port=$port -c max_connections=300" >/dev/null
    ;;
  stop)
    case $dir in */orvel-pg.*) ;; *) echo "not a folder of this script: $dir" >&2; exit 2 ;; esac
    if [ -f "$dir/data/postmaster.pid" ]; then
      as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w -t 30 stop >/dev/null 2>&1 || true
    fi
    rm -rf "$dir"
    ;;
  *) echo "usage: $0 start|stop|halt|resume DIR" >&2; exit 2 ;;
esac
