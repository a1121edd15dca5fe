#!/bin/sh
# run-test.sh [OPTIONS] -- [RUNNER] PROGRAM [ARGS...]
# Prepares what one test binary needs, runs it (through RUNNER, wine-run.sh
# for Windows programs) and undoes it all however the program ends:
#   --stand-in STAND-IN  the test stand-in (plivors-stand-in): PLIVORS_TEST_SERVER, _LOG,
#                        PLIVORS_TEST_DOWNLOADS
#   --maps SERVER        the real map server: PLIVORS_TEST_MAPS, _LOG, _PID
#   --raster SERVER      a map server drawing a known picture (tests/e2e/raster-picture.sh):
#                        PLIVORS_TEST_RASTER, _LOG, _PID
#   --gif-reference HELPER OUTDIR CORPUS
#                        giflib's reference dumps and generated GIFs, written by the native
#                        HELPER into OUTDIR: PLIVORS_TEST_REFERENCE
#   --streets SERVER DIR central Montevideo and Bangkok (data/osm/, made by make data) imported
#                        with SERVER's import command into the private PostgreSQL cluster of DIR
#                        (tools/database.sh), and a map server drawing it: PLIVORS_TEST_STREETS,
#                        _LOG, _PID, PLIVORS_TEST_DATABASE (the URL), PLIVORS_TEST_DATABASE_DIR,
#                        PLIVORS_TEST_EXTRACTS. Without the data or PostgreSQL, left out (the
#                        street tests then skip). For the updates: a second server
#                        (PLIVORS_TEST_STREETS_SECOND, _LOG, _PID) sharing the first's block
#                        store and reaching the database as a role of its own
#                        (PLIVORS_TEST_SECOND_ROLE), later versions of Montevideo and their
#                        changes (PLIVORS_TEST_VERSIONS, tools/osm-versions.sh), served as a
#                        replication source by nginx (PLIVORS_TEST_REPLICATION).
#   --readonly DIR       DIR bind-mounted read-only onto itself: PLIVORS_TEST_READONLY_DIR.
#                        The mount is in the global namespace, so that Wine's file server sees
#                        it too; where mounting is not allowed (not root), those tests skip.
# A server binary that does not exist is left out, with a note.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/servers.sh"
work=""
mounted=""
cluster=""
source_pid=""
cleanup() {
  [ -n "$source_pid" ] && kill "$source_pid" 2>/dev/null && wait "$source_pid" 2>/dev/null
  stop_servers
  [ -n "$cluster" ] && "$here/database.sh" stop "$cluster"
  [ -n "$mounted" ] && umount "$mounted" 2>/dev/null
  [ -n "$work" ] && rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
fail() { echo "run-test.sh: $*" >&2; exit 1; }
have_server() { [ -x "$1" ] || { echo "run-test.sh: no server at $1; running without it" >&2; return 1; }; }

# updates SERVER DIR URL EXTRACT: what the street update tests need beside
# the first street server (see --streets).
updates() {
  "$here/osm-versions.sh" "$2/versions" "$4" >"$2/versions.log" 2>&1 ||
    { cat "$2/versions.log" >&2; fail "no later versions of $4"; }
  role=plivors_second
  psql -q "$3" -c "DROP OWNED BY $role" -c "DROP ROLE IF EXISTS $role" >/dev/null 2>&1 || :
  psql -q -v ON_ERROR_STOP=1 "$3" -c "CREATE ROLE $role LOGIN" -c "GRANT USAGE ON SCHEMA osm TO $role" \
    -c "GRANT SELECT ON ALL TABLES IN SCHEMA osm TO $role" >/dev/null || fail "no role $role"
  start_server PLIVORS_TEST_STREETS_SECOND "$1" --database "$(echo "$3" | sed "s|//postgres@|//$role@|")" \
    --block-store "$2/blocks" || return 1
  export PLIVORS_TEST_SECOND_ROLE=$role PLIVORS_TEST_VERSIONS="$2/versions"
  # nginx wants its port in its configuration: free-looking ones until one binds.
  run="$2/source"
  mkdir -p "$run"
  for try in 1 2 3 4 5 6 7 8 9 10; do
    port=$(( ($$ * 7919 + try * 104729 + $(date +%N | sed 's/^0*//;s/^$/0/')) % 30000 + 20000 ))
    cat >"$run/nginx.conf" <<CONF
worker_processes 1;
pid $run/nginx.pid;
error_log $run/error.log warn;
events { worker_connections 64; }
http {
  access_log $run/access.log;
  client_body_temp_path $run/body; proxy_temp_path $run/proxy; fastcgi_temp_path $run/fastcgi;
  uwsgi_temp_path $run/uwsgi; scgi_temp_path $run/scgi;
  server { listen 127.0.0.1:$port; root $2/versions/replication; }
}
CONF
    if launch "$run/nginx.out" ":$port" "$(command -v nginx || echo /usr/sbin/nginx)" -e "$run/error.log" -c "$run/nginx.conf" -g "daemon off;" 2>/dev/null; then
      source_pid=$launched_pid
      export PLIVORS_TEST_REPLICATION="http://127.0.0.1:$port"
      return 0
    fi
  done
  fail "nginx did not serve the replication source"
}

while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  case $1 in
    --stand-in)
      if have_server "$2"; then
        start_server PLIVORS_TEST_SERVER "$2" || exit 1
        export PLIVORS_TEST_DOWNLOADS="$PLIVORS_TEST_SERVER_DOWNLOADS"
      fi
      shift 2 ;;
    --maps)
      if have_server "$2"; then start_server PLIVORS_TEST_MAPS "$2" || exit 1; fi
      shift 2 ;;
    --raster)
      if have_server "$2"; then
        work=$(mktemp -d "${TMPDIR:-/tmp}/plivors-raster.XXXXXX")
        "$here/../tests/e2e/raster-picture.sh" "$work" || fail "the raster picture could not be made"
        start_server PLIVORS_TEST_RASTER "$2" --style "$work/style.xml" || exit 1
      fi
      shift 2 ;;
    --streets)
      extracts=$(cd "$here/.." && pwd)/data/osm
      if [ ! -f "$extracts/montevideo.osm.pbf" ] || [ ! -f "$extracts/bangkok.osm.pbf" ] ||
        [ ! -x /usr/lib/postgresql/15/bin/pg_ctl ] || ! command -v osm2pgsql >/dev/null; then
        echo "run-test.sh: no street data (make data) or no PostgreSQL/osm2pgsql; street tests skip" >&2
      elif have_server "$2"; then
        cluster=$3
        url=$("$here/database.sh" import "$3" "$2" "$extracts/montevideo.osm.pbf" "$3/import.log" \
          "$extracts/bangkok.osm.pbf") ||
          fail "the street database could not be made"
        export PLIVORS_TEST_DATABASE="$url" PLIVORS_TEST_DATABASE_DIR="$3" PLIVORS_TEST_EXTRACTS="$extracts"
        rm -rf "$3/blocks"
        # Updates are numbered from 1 in every run.
        psql -q "$url" -c "DROP TABLE IF EXISTS public.plivors_expiry" \
          -c "DROP SEQUENCE IF EXISTS public.plivors_expiry_numbers" >/dev/null 2>&1
        start_server PLIVORS_TEST_STREETS "$2" --database "$url" --block-store "$3/blocks" || exit 1
        updates "$2" "$3" "$url" "$extracts/montevideo.osm.pbf" || exit 1
      fi
      shift 3 ;;
    --gif-reference)
      [ -x "$2" ] || fail "no reference helper at $2 (build the native tree first)"
      rm -rf "$3"
      "$2" "$3" "$4" >/dev/null || fail "$2 failed"
      export PLIVORS_TEST_REFERENCE="$3"
      shift 4 ;;
    --readonly)
      mkdir -p "$2"
      dir=$(cd "$2" && pwd)
      if mount --bind "$dir" "$dir" 2>/dev/null; then
        mounted=$dir
        mount -o remount,bind,ro "$dir" 2>/dev/null && export PLIVORS_TEST_READONLY_DIR="$dir"
      else
        echo "run-test.sh: cannot mount $dir; read-only tests will skip" >&2
      fi
      shift 2 ;;
    *) fail "unknown option $1" ;;
  esac
done
[ "$1" = "--" ] && shift
[ -n "$1" ] || fail "no program"
direct_loopback
"$@"
rc=$?
exit $rc
