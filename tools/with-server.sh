#!/bin/sh
# with-server.sh [--maps] SERVER [SERVER-ARGS...] -- COMMAND [ARGS...]
# Starts plivors-server as the test stand-in on a free loopback port, runs
# COMMAND with PLIVORS_TEST_SERVER (base address), PLIVORS_TEST_SERVER_LOG
# (request log) and PLIVORS_TEST_DOWNLOADS set, then stops the server. With
# --maps it starts the real map server instead and sets PLIVORS_TEST_MAPS and
# PLIVORS_TEST_MAPS_LOG, so that the two can be nested. Without a server
# binary, COMMAND runs alone.
mode=--stand-in
if [ "$1" = "--maps" ]; then
  mode=""
  shift
fi
server=$1; shift
server_args=""
while [ $# -gt 0 ] && [ "$1" != "--" ]; do server_args="$server_args $1"; shift; done
[ "$1" = "--" ] && shift
if [ -z "$1" ]; then
  # An empty runner slot (native build) leaves the command as the next word.
  shift
fi
[ -n "$1" ] || { echo "with-server.sh: no command" >&2; exit 2; }
if [ ! -x "$server" ]; then
  echo "with-server.sh: no server at $server; running without one" >&2
  exec "$@"
fi
dir=$(mktemp -d "${TMPDIR:-/tmp}/plivors-server.XXXXXX")
mkdir -p "$dir/downloads"
"$server" $mode --port 0 --port-file "$dir/port" --log "$dir/requests.log" --downloads "$dir/downloads" $server_args \
  >"$dir/server.out" 2>&1 &
pid=$!
i=0
while [ ! -s "$dir/port" ]; do
  i=$((i + 1))
  if [ $i -gt 200 ] || ! kill -0 $pid 2>/dev/null; then
    echo "with-server.sh: the server did not start" >&2; cat "$dir/server.out" >&2
    kill $pid 2>/dev/null; rm -rf "$dir"; exit 1
  fi
  sleep 0.05
done
if [ -n "$mode" ]; then
  PLIVORS_TEST_SERVER="http://127.0.0.1:$(cat "$dir/port")"
  PLIVORS_TEST_SERVER_LOG="$dir/requests.log"
  PLIVORS_TEST_DOWNLOADS="$dir/downloads"
  export PLIVORS_TEST_SERVER PLIVORS_TEST_SERVER_LOG PLIVORS_TEST_DOWNLOADS
else
  PLIVORS_TEST_MAPS="http://127.0.0.1:$(cat "$dir/port")"
  PLIVORS_TEST_MAPS_LOG="$dir/requests.log"
  export PLIVORS_TEST_MAPS PLIVORS_TEST_MAPS_LOG
fi
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
export no_proxy=127.0.0.1,localhost NO_PROXY=127.0.0.1,localhost
"$@"
rc=$?
kill $pid 2>/dev/null
wait $pid 2>/dev/null
rm -rf "$dir"
exit $rc
