#!/bin/sh
# run-benchmarks.sh BUILD SERVER: runs every benchmark program of the build,
# each beside its own stand-in (PLIVORS_TEST_SERVER) and map server
# (PLIVORS_TEST_MAPS) on loopback.
build=$(cd "$1" && pwd)
server=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
here=$(cd "$(dirname "$0")" && pwd)
for b in "$build"/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  (cd "$build" && "$here/with-server.sh" "$server" -- "$here/with-server.sh" --maps "$server" -- "$b") || exit 1
done

# The map server over central Montevideo's street map: the extract imported
# into a private PostgreSQL cluster (import time and database size from the
# import's summary), then levels 1 to 7, street place names and 8 clients.
source=$(cd "$here/.." && pwd)
if [ -x "$build/bench_server" ] && [ -f "$source/data/osm/montevideo.osm.pbf" ] && command -v osm2pgsql >/dev/null; then
  echo "== bench_server over Montevideo's streets"
  database=$("$here/database.sh" start "$source/build/database") || exit 1
  trap '"$here/database.sh" stop "$source/build/database"' EXIT
  "$server" import "$source/data/osm/montevideo.osm.pbf" --database "$database" 2>&1 | tail -1
  (cd "$build" && PLIVORS_BENCH_CENTRE=-34.9040,-56.1850 PLIVORS_BENCH_SPREAD=0.001 \
    "$here/with-server.sh" --maps "$server" --database "$database" -- "$build/bench_server" \
    --benchmark_filter='BM_(Rendered|Cached)/[1-7](/|$)|BM_Place|BM_Clients') || exit 1
fi
