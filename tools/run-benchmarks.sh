#!/bin/sh
# run-benchmarks.sh BUILD: runs every benchmark program of the build.
build=$1
for b in "$build"/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" || exit 1
done
