#!/bin/sh
# run-benchmarks.sh BUILD SERVER: runs every benchmark program of the build,
# each beside its own stand-in (PLIVORS_TEST_SERVER) and map server
# (PLIVORS_TEST_MAPS) on loopback; bench_front also beside the map server as
# it was before its asynchronous front (PLIVORS_OLD_MAPS), built once from
# the project's history when the history is there. BENCH=NAME runs only
# that program.
build=$(cd "$1" && pwd)
server=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
stand_in=$(dirname "$server")/plivors-stand-in
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)

# Servers as they were, built once from the project's history when the
# history is there: old_server REVISION NAME prints the program's path.
old_server() {
  old="$build/$2"
  if [ ! -x "$old/build/server/plivors-server" ]; then
    git -C "$root" cat-file -e "$1^{commit}" 2>/dev/null || return 1
    rm -rf "$old" && mkdir -p "$old" && git -C "$root" archive "$1" | tar -x -C "$old" || return 1
    launcher=""
    command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
    (cd "$old" && CCACHE_BASEDIR="$old" CCACHE_NOHASHDIR=1 cmake --preset server $launcher >/dev/null &&
      CCACHE_BASEDIR="$old" CCACHE_NOHASHDIR=1 cmake --build build/server -j"${JOBS:-2}" >/dev/null) || return 1
  fi
  echo "$old/build/server/plivors-server"
}
# The last commit served by the thread-per-connection front, and the last
# that rendered every zone on its own.
old_front() { old_server c5fdae4 old-front; }
old_zones() { old_server 2ba4653 old-zones; }

for b in "$build"/bench_*; do
  [ -x "$b" ] || continue
  [ -z "$BENCH" ] || [ "$(basename "$b")" = "$BENCH" ] || continue
  [ "$(basename "$b")" = bench_blocks ] && continue  # over the street database, below
  echo "== $(basename "$b")"
  if [ "$(basename "$b")" = bench_front ] && old=$(old_front); then
    (cd "$build" && "$here/with-server.sh" --maps "$server" -- \
      "$here/with-server.sh" --maps --as PLIVORS_OLD_MAPS "$old" --data "$root/data" -- "$b") || exit 1
  elif [ "$(basename "$b")" = bench_front ]; then
    echo "(the old front cannot be built here: its commit is not in this clone's history)"
    (cd "$build" && "$here/with-server.sh" --maps "$server" -- "$b") || exit 1
  else
    (cd "$build" && "$here/with-server.sh" "$stand_in" -- "$here/with-server.sh" --maps "$server" -- "$b") || exit 1
  fi
done

# The map server over street maps: central Montevideo and Bangkok imported
# together into a private PostgreSQL cluster (import time and database size
# from the import's summary); over Montevideo levels 1 to 7, street place
# names and 8 clients; over Bangkok's densest 5 km square (most road vertices)
# blocks of zones at levels 1 to 7, cold and cached, the slowest named.
source=$(cd "$here/.." && pwd)
osm=$source/data/osm
if [ -x "$build/bench_server" ] && [ -f "$osm/montevideo.osm.pbf" ] && [ -f "$osm/bangkok.osm.pbf" ] &&
  command -v osm2pgsql >/dev/null; then
  echo "== bench_server over Montevideo's and Bangkok's streets"
  trap '"$here/database.sh" stop "$source/build/database"' EXIT
  database=$("$here/database.sh" import "$source/build/database" "$server" "$osm/montevideo.osm.pbf" \
    "$build/import.log" "$osm/bangkok.osm.pbf") || exit 1
  tail -1 "$build/import.log"
  (cd "$build" && PLIVORS_BENCH_CENTRE=-34.9040,-56.1850 PLIVORS_BENCH_SPREAD=0.001 \
    "$here/with-server.sh" --maps "$server" --database "$database" -- "$build/bench_server" \
    --benchmark_filter='BM_(Rendered|Cached)/[1-7](/|$)|BM_Place|BM_Clients') || exit 1
  densest=$(/usr/lib/postgresql/15/bin/psql -qAt -F, "$database" -c "
    SELECT round(ST_Y(p)::numeric, 4), round(ST_X(p)::numeric, 4) FROM (
      SELECT ST_Transform(ST_SetSRID(ST_MakePoint((gx + 0.5) * 5000, (gy + 0.5) * 5000), 3857), 4326) AS p
      FROM (SELECT floor(ST_X(ST_Centroid(way)) / 5000) AS gx, floor(ST_Y(ST_Centroid(way)) / 5000) AS gy
            FROM osm.planet_osm_line, ST_NPoints(way) AS n
            WHERE highway IS NOT NULL AND way && ST_Transform(ST_MakeEnvelope(99.5, 13, 101.5, 15, 4326), 3857)
            GROUP BY 1, 2 ORDER BY sum(n) DESC LIMIT 1) AS cell) AS centre") || exit 1
  echo "== bench_server over Bangkok's streets, densest at $densest"
  (cd "$build" && PLIVORS_BENCH_CENTRE=$densest PLIVORS_BENCH_ZONES=$densest \
    "$here/with-server.sh" --maps "$server" --database "$database" -- "$build/bench_server" \
    --benchmark_filter='BM_(Rendered|Cached)/[1-7](/|$)') || exit 1
  # Zones cut from blocks (a fresh block store) beside zones rendered one by one.
  if [ -x "$build/bench_blocks" ]; then
    echo "== bench_blocks over Montevideo's streets"
    rm -rf "$build/bench-blocks"
    if old=$(old_zones); then
      (cd "$build" && PLIVORS_BENCH_CENTRE=-34.8700,-56.1700 \
        "$here/with-server.sh" --maps "$server" --database "$database" --block-store "$build/bench-blocks" -- \
        "$here/with-server.sh" --maps --as PLIVORS_OLD_MAPS "$old" --data "$source/data" --database "$database" -- \
        "$build/bench_blocks") || exit 1
    else
      echo "(the per-zone server cannot be built here: its commit is not in this clone's history)"
      (cd "$build" && PLIVORS_BENCH_CENTRE=-34.8700,-56.1700 \
        "$here/with-server.sh" --maps "$server" --database "$database" --block-store "$build/bench-blocks" -- \
        "$build/bench_blocks") || exit 1
    fi
  fi
fi
