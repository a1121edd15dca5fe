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

# The last commit served by the thread-per-connection front.
old_revision=c5fdae4
old_front() {
  old="$build/old-front"
  if [ ! -x "$old/build/server/plivors-server" ]; then
    git -C "$root" cat-file -e "$old_revision^{commit}" 2>/dev/null || return 1
    rm -rf "$old" && mkdir -p "$old" && git -C "$root" archive "$old_revision" | tar -x -C "$old" || return 1
    launcher=""
    command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
    (cd "$old" && CCACHE_BASEDIR="$old" CCACHE_NOHASHDIR=1 cmake --preset server $launcher >/dev/null &&
      CCACHE_BASEDIR="$old" CCACHE_NOHASHDIR=1 cmake --build build/server -j"${JOBS:-2}" >/dev/null) || return 1
  fi
  echo "$old/build/server/plivors-server"
}

for b in "$build"/bench_*; do
  [ -x "$b" ] || continue
  [ -z "$BENCH" ] || [ "$(basename "$b")" = "$BENCH" ] || continue
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

# The map server over central Montevideo's street map: the extract imported
# into a private PostgreSQL cluster (import time and database size from the
# import's summary), then levels 1 to 7, street place names and 8 clients.
source=$(cd "$here/.." && pwd)
if [ -x "$build/bench_server" ] && [ -f "$source/data/osm/montevideo.osm.pbf" ] && command -v osm2pgsql >/dev/null; then
  echo "== bench_server over Montevideo's streets"
  trap '"$here/database.sh" stop "$source/build/database"' EXIT
  database=$("$here/database.sh" import "$source/build/database" "$server" "$source/data/osm/montevideo.osm.pbf" \
    "$build/import.log") || exit 1
  tail -1 "$build/import.log"
  (cd "$build" && PLIVORS_BENCH_CENTRE=-34.9040,-56.1850 PLIVORS_BENCH_SPREAD=0.001 \
    "$here/with-server.sh" --maps "$server" --database "$database" -- "$build/bench_server" \
    --benchmark_filter='BM_(Rendered|Cached)/[1-7](/|$)|BM_Place|BM_Clients') || exit 1
fi
