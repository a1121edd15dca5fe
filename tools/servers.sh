# Sourced by the scripts that run programs beside plivors-server (POSIX sh).
#
# start_server NAME MODE SERVER [SERVER-ARGS...]
#   Starts SERVER on a free loopback port, MODE --stand-in for the test
#   stand-in or "" for the real map server, and exports NAME (its base
#   address), NAME_LOG (its request log) and NAME_PID; the stand-in also gets
#   PLIVORS_TEST_DOWNLOADS. Returns non-zero when the server does not start.
# stop_servers
#   Stops every server started so far and removes their folders.
# direct_loopback
#   Lets loopback connections bypass any proxy of the environment.
started_servers=""

start_server() {
  _name=$1; _mode=$2; _server=$3; shift 3
  _dir=$(mktemp -d "${TMPDIR:-/tmp}/plivors-server.XXXXXX")
  mkdir -p "$_dir/downloads"
  "$_server" $_mode --port 0 --port-file "$_dir/port" --log "$_dir/requests.log" --downloads "$_dir/downloads" "$@" \
    >"$_dir/server.out" 2>&1 &
  _pid=$!
  started_servers="$started_servers $_pid:$_dir"
  _i=0
  while [ ! -s "$_dir/port" ]; do
    _i=$((_i + 1))
    if [ $_i -gt 600 ] || ! kill -0 $_pid 2>/dev/null; then
      echo "$(basename "$0"): the server did not start" >&2
      cat "$_dir/server.out" >&2
      return 1
    fi
    sleep 0.05
  done
  export "$_name=http://127.0.0.1:$(cat "$_dir/port")" "${_name}_LOG=$_dir/requests.log" "${_name}_PID=$_pid"
  [ "$_mode" = --stand-in ] && export "PLIVORS_TEST_DOWNLOADS=$_dir/downloads"
  return 0
}

stop_servers() {
  for _entry in $started_servers; do
    kill "${_entry%%:*}" 2>/dev/null
    wait "${_entry%%:*}" 2>/dev/null
    rm -rf "${_entry#*:}"
  done
  started_servers=""
}

direct_loopback() {
  unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
  export no_proxy=127.0.0.1,localhost NO_PROXY=127.0.0.1,localhost
}
