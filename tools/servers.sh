# Sourced by the scripts that run programs beside plivors-server (POSIX sh).
#
# launch OUT WHERE COMMAND [ARGS...]
#   Starts COMMAND (a server) in the background, its output to OUT, and waits
#   until it listens: WHERE is the port file it was told to write, or :PORT,
#   the loopback port it was told to take. Sets launched_pid and
#   launched_port; returns non-zero, after showing OUT, when the server stops
#   or has not started within 30 s (then it is stopped).
# start_server NAME SERVER [SERVER-ARGS...]
#   Launches SERVER (plivors-server or plivors-stand-in) on a free loopback
#   port with a request log and a downloads folder of its own, and exports
#   NAME (its base address), NAME_LOG, NAME_PID and NAME_DOWNLOADS.
# stop_servers
#   Stops every server started so far and removes their folders.
# direct_loopback
#   Lets loopback connections bypass any proxy of the environment.
started_servers=""

launch() {
  _out=$1; _where=$2; shift 2
  "$@" >"$_out" 2>&1 &
  launched_pid=$!
  _i=0
  until listening "$_where"; do
    _i=$((_i + 1))
    if [ $_i -gt 600 ] || ! kill -0 "$launched_pid" 2>/dev/null; then
      echo "$(basename "$0"): $(basename "$1") did not start" >&2
      cat "$_out" >&2
      kill "$launched_pid" 2>/dev/null
      wait "$launched_pid" 2>/dev/null
      return 1
    fi
    sleep 0.05
  done
  case $_where in
    :*) launched_port=${_where#:} ;;
    *) launched_port=$(cat "$_where") ;;
  esac
}

# Whether a server listens: its port file written, or its port answering.
listening() {
  case $1 in
    :*) curl -s -o /dev/null --noproxy '*' --max-time 1 "http://127.0.0.1:${1#:}/" ;;
    *) [ -s "$1" ] ;;
  esac
}

start_server() {
  _name=$1; _server=$2; shift 2
  _dir=$(mktemp -d "${TMPDIR:-/tmp}/plivors-server.XXXXXX")
  mkdir -p "$_dir/downloads"
  if ! launch "$_dir/server.out" "$_dir/port" "$_server" --port 0 --port-file "$_dir/port" \
    --log "$_dir/requests.log" --downloads "$_dir/downloads" "$@"; then
    rm -rf "$_dir"
    return 1
  fi
  started_servers="$started_servers $launched_pid:$_dir"
  export "$_name=http://127.0.0.1:$launched_port" "${_name}_LOG=$_dir/requests.log" "${_name}_PID=$launched_pid" \
    "${_name}_DOWNLOADS=$_dir/downloads"
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
