#!/bin/sh
# with-gif-reference.sh HELPER OUTDIR CORPUS -- COMMAND [ARGS...]
# Writes giflib's reference dumps and generated GIFs with the native helper,
# then runs COMMAND with PLIVORS_TEST_REFERENCE pointing at them.
helper=$1; out=$2; corpus=$3; shift 3
[ "$1" = "--" ] && shift
if [ ! -x "$helper" ]; then
  echo "with-gif-reference.sh: no reference helper at $helper (build the native tree first)" >&2
  exit 1
fi
rm -rf "$out"
"$helper" "$out" "$corpus" >/dev/null || { echo "with-gif-reference.sh: $helper failed" >&2; exit 1; }
PLIVORS_TEST_REFERENCE=$out
export PLIVORS_TEST_REFERENCE
exec "$@"
