#!/bin/sh
# run-fuzzers.sh BUILD SECONDS: runs every fuzz target for SECONDS each.
build=$(cd "$1" && pwd); secs=$2
here=$(cd "$(dirname "$0")/.." && pwd)
status=0
for t in "$build"/fuzz_*; do
  [ -x "$t" ] || continue
  name=$(basename "$t")
  corpus="$build/corpus/$name"; mkdir -p "$corpus"
  seeds="$here/../shared/gif-corpus"
  echo "== $name for ${secs}s"
  case "$name" in
    fuzz_text) set -- "$here/maps" ;;
    fuzz_red) set -- -max_len=4096 "$here/fuzz/seeds/red" ;;
    fuzz_request) set -- -max_len=4096 "$here/fuzz/seeds/request" ;;
    *) set -- "$seeds/valid" "$seeds/malformed" ;;
  esac
  "$t" -max_total_time="$secs" -print_final_stats=1 -artifact_prefix="$build/" "$corpus" "$@" || status=1
done
exit $status
