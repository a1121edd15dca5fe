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
