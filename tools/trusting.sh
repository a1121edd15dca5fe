#!/bin/sh
# trusting.sh AUTHORITY COMMAND [ARGS...]
# Runs COMMAND with the certificate authority AUTHORITY (a PEM file) trusted
# as one of the system's own, for COMMAND alone. In a private mount
# namespace, a bundle of the system's authorities plus AUTHORITY is mounted
# over the system bundle, the file libcurl reads and the first place Wine's
# crypt32 takes its trusted roots from. Wine copies the roots it read into
# its server's registry, where every program of the prefix would see them:
# Windows programs therefore run in a private copy of the Wine prefix
# (PLIVORS_PRIVATE_WINEPREFIX, for tools/wine-run.sh), whose server is
# stopped and whose files are removed afterwards. Nothing of the trust
# outlives COMMAND. Exits 77 (skipped) where no private namespace can be had.
system=/etc/ssl/certs/ca-certificates.crt
authority=$1
shift
[ -f "$system" ] || { echo "trusting.sh: no system bundle $system (package ca-certificates)" >&2; exit 2; }
[ -f "$authority" ] || { echo "trusting.sh: no authority $authority" >&2; exit 2; }
if unshare -m true 2>/dev/null; then
  namespace="unshare -m"
elif unshare -rm true 2>/dev/null; then
  namespace="unshare -rm"
else
  echo "trusting.sh: no private mount namespace here (neither root nor user namespaces); skipped" >&2
  exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/plivors-trust.XXXXXX")
chmod 755 "$work"
cat "$system" "$authority" >"$work/bundle.crt"
chmod 644 "$work/bundle.crt"
export PLIVORS_PRIVATE_WINEPREFIX="$work/wineprefix"
# shellcheck disable=SC2016 # expanded by the inner shell
$namespace sh -c 'mount --bind "$0" '"$system"' && exec "$@"' "$work/bundle.crt" "$@"
rc=$?
if [ -d "$work/wineprefix" ]; then
  WINEPREFIX="$work/wineprefix" wineserver -k 2>/dev/null
  WINEPREFIX="$work/wineprefix" wineserver -w 2>/dev/null
  # The server's socket folder is named after the prefix's device and inode.
  id=$(stat -c '%D' "$work/wineprefix")-$(printf '%x' "$(stat -c '%i' "$work/wineprefix")")
  for d in /tmp/wine-*/server-"$id" /tmp/.wine-*/server-"$id"; do
    [ -d "$d" ] && rm -rf "$d" && rmdir "$(dirname "$d")" 2>/dev/null
  done
fi
rm -rf "$work"
exit $rc
