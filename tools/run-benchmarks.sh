#!/bin/sh
# run-benchmarks.sh BUILD: runs every benchmark program of the build, each
# beside its own stand-in map server on loopback.
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
for b in "$build"/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  (cd "$build" && "$here/with-server.sh" "$build/plivors-server" -- "$b") || exit 1
done
