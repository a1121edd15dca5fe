#!/bin/sh
# Runs a Windows program under Wine with a private prefix in the build tree,
# no installer dialogs, no debug chatter, and direct loopback connections.
# A 64-bit program runs on Wine's 64-bit loader in a prefix of its own. A
# 32-bit program on a machine that cannot execute 32-bit code exits 77, which
# the test trees report as skipped.
set -e
here=$(cd "$(dirname "$0")/.." && pwd)
program=$1

# The PE header's machine field: 014c for i386, 8664 for x86-64.
machine() {
  pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$pe" ] && od -An -tx2 -j$((pe + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}
case "$(machine "$program" || true)" in
  8664)
    loader=/usr/lib/wine/wine64
    server=/usr/lib/wine/wineserver64
    : "${WINEPREFIX:=$here/build/wineprefix64}"
    export WINELOADER=$loader ;;
  *)
    if ! "$here/tools/can-run-32bit.sh"; then
      echo "wine-run.sh: this machine cannot execute 32-bit code (its kernel has no 32-bit support)," \
        "so Wine cannot run $(basename "$program"); skipped" >&2
      exit 77
    fi
    loader=wine
    server=wineserver
    : "${WINEPREFIX:=$here/build/wineprefix}" ;;
esac
# A private prefix (tools/trusting.sh): a copy of the tree's when it has one,
# taken under the lock its maker holds, so never half made; else a new one.
if [ -n "${PLIVORS_PRIVATE_WINEPREFIX:-}" ]; then
  if [ ! -d "$PLIVORS_PRIVATE_WINEPREFIX" ] && [ -e "$WINEPREFIX.lock" ]; then
    # A Wine still running on the tree's prefix may swap its registry files
    # while they are copied ("cannot stat reg....tmp"): copy again.
    flock "$WINEPREFIX.lock" sh -c '[ -f "$0/system.reg" ] || exit 0
      for try in 1 2; do rm -rf "$1"; cp -a "$0" "$1" 2>/dev/null && exit 0; sleep 1; done
      rm -rf "$1"; cp -a "$0" "$1"' "$WINEPREFIX" "$PLIVORS_PRIVATE_WINEPREFIX"
  fi
  WINEPREFIX=$PLIVORS_PRIVATE_WINEPREFIX
fi
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ftp_proxy all_proxy ALL_PROXY
export no_proxy=127.0.0.1,localhost NO_PROXY=127.0.0.1,localhost
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  # Two tests may start at once: only one creates the prefix.
  L=$loader S=$server flock "$WINEPREFIX.lock" \
    sh -c '[ -f "$WINEPREFIX/system.reg" ] || { "$L" wineboot -i >/dev/null 2>&1; "$S" -w; }'
fi
exec "$loader" "$@"
