#!/bin/sh
# with-streets.sh SERVER DIR -- COMMAND [ARGS...]
# Starts the private PostgreSQL cluster of DIR (tools/database.sh), imports
# central Montevideo (data/osm/, made by make data) with SERVER's import
# command, and runs COMMAND beside a map server drawing that database, with
# PLIVORS_TEST_STREETS (its address), PLIVORS_TEST_STREETS_LOG,
# PLIVORS_TEST_DATABASE (the URL), PLIVORS_TEST_DATABASE_DIR and
# PLIVORS_TEST_EXTRACTS set; stops the cluster at the end. Without the data
# or PostgreSQL, COMMAND runs alone (its street tests then skip).
server=$1 dir=$2; shift 2
[ "$1" = "--" ] && shift
[ -z "$1" ] && shift  # an empty runner slot (native build)
here=$(cd "$(dirname "$0")/../.." && pwd)
extracts=$here/data/osm
if [ ! -f "$extracts/montevideo.osm.pbf" ] || [ ! -x /usr/lib/postgresql/15/bin/pg_ctl ] || ! command -v osm2pgsql >/dev/null; then
  echo "with-streets.sh: no street data (make data) or no PostgreSQL/osm2pgsql; street tests skip" >&2
  exec "$@"
fi
"$here/tools/database.sh" start "$dir" >/dev/null || exit 1
trap '"$here/tools/database.sh" stop "$dir"' EXIT
url=$("$here/tools/database.sh" url "$dir")
if ! "$server" import "$extracts/montevideo.osm.pbf" --database "$url" >"$dir/import.log" 2>&1; then
  echo "with-streets.sh: the import failed:" >&2
  tail -5 "$dir/import.log" >&2
  exit 1
fi
PLIVORS_TEST_DATABASE=$url PLIVORS_TEST_DATABASE_DIR=$dir PLIVORS_TEST_EXTRACTS=$extracts
export PLIVORS_TEST_DATABASE PLIVORS_TEST_DATABASE_DIR PLIVORS_TEST_EXTRACTS
"$here/tools/with-server.sh" --maps --as PLIVORS_TEST_STREETS "$server" --database "$url" -- "$@"
