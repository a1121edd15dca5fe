#!/bin/sh
# with-server.sh [--maps [--as NAME]] SERVER [SERVER-ARGS...] -- COMMAND [ARGS...]
# Starts SERVER, the test stand-in (plivors-stand-in), on a free loopback
# port, runs COMMAND with PLIVORS_TEST_SERVER (base address),
# PLIVORS_TEST_SERVER_LOG (request log) and PLIVORS_TEST_DOWNLOADS set, then
# stops the server. With --maps SERVER is the real map server, and NAME,
# NAME_LOG and NAME_PID are set (PLIVORS_TEST_MAPS by default). Without a
# server binary, COMMAND runs alone.
. "$(dirname "$0")/servers.sh"
name=PLIVORS_TEST_SERVER
if [ "$1" = "--maps" ]; then
  name=PLIVORS_TEST_MAPS
  shift
  if [ "$1" = "--as" ]; then name=$2; shift 2; fi
fi
server=$1; shift
server_args=""
while [ $# -gt 0 ] && [ "$1" != "--" ]; do server_args="$server_args $1"; shift; done
[ "$1" = "--" ] && shift
[ -n "$1" ] || { echo "with-server.sh: no command" >&2; exit 2; }
if [ ! -x "$server" ]; then
  echo "with-server.sh: no server at $server; running without one" >&2
  exec "$@"
fi
# shellcheck disable=SC2086 # the server's arguments are words
start_server "$name" "$server" $server_args || { stop_servers; exit 1; }
[ "$name" = PLIVORS_TEST_SERVER ] && export PLIVORS_TEST_DOWNLOADS="$PLIVORS_TEST_SERVER_DOWNLOADS"
direct_loopback
"$@"
rc=$?
stop_servers
exit $rc
