#!/bin/sh
# with-readonly-dir.sh DIR -- COMMAND [ARGS...]
# Runs COMMAND with DIR bind-mounted read-only onto itself and named in
# PLIVORS_TEST_READONLY_DIR, for tests of a host whose current folder cannot
# be written. The mount is in the global namespace, so that Wine's file server
# sees it too, and it is undone however COMMAND ends. Where mounting is not
# allowed (not root), COMMAND runs without it and those tests skip.
dir=$1; shift
[ "$1" = "--" ] && shift
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
mounted=""
if mount --bind "$dir" "$dir" 2>/dev/null; then
  mounted=1
  trap 'umount "$dir" 2>/dev/null' EXIT
  trap 'exit 129' HUP
  trap 'exit 130' INT
  trap 'exit 143' TERM
  if mount -o remount,bind,ro "$dir" 2>/dev/null; then
    PLIVORS_TEST_READONLY_DIR=$dir
    export PLIVORS_TEST_READONLY_DIR
  fi
fi
[ -n "$mounted" ] || echo "with-readonly-dir.sh: cannot mount $dir; read-only tests will skip" >&2
"$@"
