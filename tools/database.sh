#!/bin/sh
# database.sh start|stop|url DIR
# database.sh import DIR SERVER EXTRACT LOG [EXTRACT...]
# A private PostgreSQL 15 cluster with PostGIS for tests, the demo and the
# benchmarks: data, socket and log under DIR, listening on 127.0.0.1 on a
# free port of its own (kept in DIR/port, so that a restart comes back where
# the servers look for it), never the system's service.
#   start  creates the cluster and its database "plivors" (PostGIS, hstore)
#          the first time, starts it and prints its URL;
#   stop   stops it (fast: open connections are cut, as in a real outage);
#   url    prints its URL;
#   import starts it, loads EXTRACT with SERVER's import command (its output
#          into LOG) and prints its URL; on failure, LOG's last lines. More
#          extracts after LOG are merged into the first by osmium (their
#          identifiers must not overlap), and all load as one.
# The cluster trusts connections from loopback: it holds test data only.
# initdb refuses to run as root; root runs it as the postgres user.
set -e
action=$1
dir=${2:?usage: database.sh start|stop|url DIR, or import DIR SERVER EXTRACT LOG}
bin=/usr/lib/postgresql/15/bin
[ -x "$bin/pg_ctl" ] || { echo "database.sh: PostgreSQL 15 is not installed (postgresql-15-postgis-3)" >&2; exit 1; }
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
url() { echo "postgresql://postgres@127.0.0.1:$(cat "$dir/port")/plivors"; }
running() { [ -f "$dir/port" ] && "$bin/pg_isready" -q -h 127.0.0.1 -p "$(cat "$dir/port")" -t 2; }

case "$action" in
start)
  if [ ! -f "$dir/data/PG_VERSION" ]; then
    rm -rf "$dir/data" "$dir/socket"
    mkdir -p "$dir/data" "$dir/socket"
    [ "$(id -u)" -eq 0 ] && chown postgres "$dir" "$dir/data" "$dir/socket"
    as_owner "$bin/initdb" -D "$dir/data" -U postgres --auth=trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 ||
      { cat "$dir/initdb.log" >&2; exit 1; }
  fi
  if running; then url; exit 0; fi
  # A port of its own: the one it had, else a random free one (a taken port
  # makes the server exit at once, and the next is tried).
  tries=0
  while :; do
    if [ -f "$dir/port" ] && [ $tries -eq 0 ]; then
      port=$(cat "$dir/port")
    else
      port=$((20000 + $(od -An -N2 -tu2 /dev/urandom) % 40000))
    fi
    # Durability is worth nothing for test data; speed is.
    if as_owner "$bin/pg_ctl" start -w -t 60 -D "$dir/data" -l "$dir/server.log" \
         -o "-c listen_addresses=127.0.0.1 -p $port -k $dir/socket -c fsync=off -c synchronous_commit=off -c full_page_writes=off" \
         >/dev/null 2>&1; then
      echo "$port" >"$dir/port"
      break
    fi
    tries=$((tries + 1))
    if [ $tries -ge 8 ]; then
      echo "database.sh: the cluster in $dir does not start:" >&2
      tail -5 "$dir/server.log" >&2
      exit 1
    fi
  done
  if ! "$bin/psql" -qAt -h 127.0.0.1 -p "$port" -U postgres -d postgres \
       -c "SELECT 1 FROM pg_database WHERE datname = 'plivors'" | grep -q 1; then
    "$bin/createdb" -h 127.0.0.1 -p "$port" -U postgres plivors
    "$bin/psql" -q -h 127.0.0.1 -p "$port" -U postgres -d plivors \
      -c "CREATE EXTENSION postgis; CREATE EXTENSION hstore;" >/dev/null
  fi
  url
  ;;
stop)
  if [ -f "$dir/data/postmaster.pid" ]; then
    as_owner "$bin/pg_ctl" stop -w -t 60 -m fast -D "$dir/data" >/dev/null
  fi
  ;;
url)
  url
  ;;
import)
  server=${3:?} extract=${4:?} log=${5:?}
  "$0" start "$dir" >/dev/null
  if [ $# -gt 5 ]; then
    shift 5
    osmium merge -O -o "$dir/extracts.osm.pbf" "$extract" "$@"
    extract=$dir/extracts.osm.pbf
  fi
  if ! "$server" import "$extract" --database "$(url)" >"$log" 2>&1; then
    echo "database.sh: the import of $extract failed:" >&2
    tail -5 "$log" >&2
    exit 1
  fi
  url
  ;;
*)
  echo "usage: database.sh start|stop|url DIR, or import DIR SERVER EXTRACT LOG" >&2
  exit 2
  ;;
esac
