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
#                        street tests then skip).
#   --readonly DIR       DIR bind-mounted read-only onto itself: PLIVORS_TEST_READONLY_DIR.
#                        The mount is in the global namespace, so that Wine's file server sees
#                        it too; where mounting is not allowed (not root), those tests skip.
# A server binary that does not exist is left out, with a note.
here=$(cd "$(dirname "$0")" && pwd)
. "$here/servers.sh"
work=""
mounted=""
cluster=""
cleanup() {
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
        start_server PLIVORS_TEST_STREETS "$2" --database "$url" || exit 1
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
