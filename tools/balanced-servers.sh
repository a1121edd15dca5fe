#!/bin/sh
# balanced-servers.sh [--instances N] [--tls] SERVER [SERVER-ARGS...] [-- COMMAND [ARGS...]]
# Runs N (2 by default) plivors-server instances on free loopback ports
# behind nginx as balancer and cache (server/deploy/nginx-balancer.conf),
# then COMMAND with PLIVORS_BALANCER (nginx's address), PLIVORS_BALANCER_SERVERS,
# _PIDS and _LOGS (the instances' addresses, process ids and request logs,
# separated by spaces) and PLIVORS_BALANCER_DOWNLOADS (the folder all serve);
# then stops everything. Without COMMAND it serves until interrupted.
# SERVER-ARGS go to every instance (--data, --style, --downloads...).
#
# --tls: nginx also ends TLS, with a throw-away authority and certificates
# made by tools/test-certificates.sh. PLIVORS_BALANCER_TLS is
# https://localhost:PORT; PLIVORS_BALANCER_TLS_EXPIRED, _UNKNOWN and
# _ELSEWHERE are the same instances behind an expired certificate, one from
# an authority nobody trusts, and one made for another name. COMMAND runs
# with the test authority trusted, and only there (tools/trusting.sh).
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/tools/servers.sh"
instances=2
tls=""
while :; do
  case $1 in
    --instances) instances=$2; shift 2 ;;
    --tls) tls=1; shift ;;
    *) break ;;
  esac
done
server=$1; shift
server_args=""
while [ $# -gt 0 ] && [ "$1" != "--" ]; do server_args="$server_args $1"; shift; done
[ "$1" = "--" ] && shift
nginx=$(command -v nginx || echo /usr/sbin/nginx)
[ -x "$server" ] || { echo "balanced-servers.sh: no server at $server" >&2; exit 2; }
[ -x "$nginx" ] || { echo "balanced-servers.sh: nginx is not installed" >&2; exit 2; }

run=$(mktemp -d "${TMPDIR:-/tmp}/plivors-balanced.XXXXXX")
chmod 755 "$run"  # nginx's workers may run as another user
mkdir -p "$run/downloads"
pids=""; servers=""; logs=""; nginx_pid=""
stop() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null
  for p in $pids; do kill "$p" 2>/dev/null; done
  [ -n "$nginx_pid" ] && wait "$nginx_pid" 2>/dev/null
  for p in $pids; do wait "$p" 2>/dev/null; done
  rm -rf "$run"
}
trap 'stop; exit 130' INT TERM

i=1; upstreams=""
while [ $i -le "$instances" ]; do
  # shellcheck disable=SC2086 # the server's arguments are words
  launch "$run/server$i.out" "$run/port$i" "$server" --port 0 --port-file "$run/port$i" --log "$run/requests$i.log" \
    --downloads "$run/downloads" $server_args || { stop; exit 1; }
  pids="$pids $launched_pid"
  servers="$servers http://127.0.0.1:$launched_port"; logs="$logs $run/requests$i.log"
  upstreams="${upstreams}server 127.0.0.1:$launched_port max_fails=1 fail_timeout=10s; "
  i=$((i + 1))
done

if [ -n "$tls" ]; then
  "$here/tools/test-certificates.sh" "$run/tls" || { echo "balanced-servers.sh: no certificates" >&2; stop; exit 1; }
fi

# A test-only server: the same instances behind certificate $1 on port $2.
certificate_fault() {
  cat <<EOF
    server {
        listen 127.0.0.1:$2 ssl;
        ssl_certificate $run/tls/$1.pem;
        ssl_certificate_key $run/tls/$1.key;
        location / {
            proxy_pass http://plivors;
            proxy_http_version 1.1;
            proxy_set_header Connection "";
        }
    }
EOF
}

# nginx's configuration for plain port $1 (and with --tls, the next four).
configure() {
  sed -e "s|@RUN@|$run|g" -e "s|@PORT@|$1|g" -e "s|@UPSTREAMS@|$upstreams|" -e "s|@TLS_PORT@|$(($1 + 1))|g" \
    -e "s|@CERTIFICATE@|$run/tls/localhost.pem|" -e "s|@CERTIFICATE_KEY@|$run/tls/localhost.key|" \
    "$here/server/deploy/nginx-balancer.conf" >"$run/nginx.conf"
  if [ -z "$tls" ]; then
    sed -i '/# HTTPS$/,/# HTTPS end$/d' "$run/nginx.conf"
    return
  fi
  # The faults go inside the http block, before its closing brace.
  sed -i '$d' "$run/nginx.conf"
  { certificate_fault expired $(($1 + 2)); certificate_fault unknown $(($1 + 3))
    certificate_fault elsewhere $(($1 + 4)); echo "}"; } >>"$run/nginx.conf"
}

# nginx needs its ports in the file: try free-looking ones until all bind.
tries=0
while :; do
  tries=$((tries + 1))
  port=$(( (($$ * 7919 + tries * 104729 + $(date +%N | sed 's/^0*//;s/^$/0/')) % 30000) + 20000 ))
  configure "$port"
  "$nginx" -e "$run/error.log" -c "$run/nginx.conf" -g "daemon off;" >"$run/nginx.out" 2>&1 &
  nginx_pid=$!
  n=0
  while [ ! -s "$run/nginx.pid" ] && kill -0 "$nginx_pid" 2>/dev/null && [ $n -lt 100 ]; do sleep 0.05; n=$((n + 1)); done
  if [ -s "$run/nginx.pid" ] && kill -0 "$nginx_pid" 2>/dev/null; then break; fi
  wait "$nginx_pid" 2>/dev/null; nginx_pid=""
  if [ $tries -ge 20 ] || ! grep -q "in use" "$run/error.log" "$run/nginx.out" 2>/dev/null; then
    echo "balanced-servers.sh: nginx did not start" >&2; cat "$run/error.log" "$run/nginx.out" >&2; stop; exit 1
  fi
done

PLIVORS_BALANCER="http://127.0.0.1:$port"
PLIVORS_BALANCER_SERVERS="${servers# }"; PLIVORS_BALANCER_PIDS="${pids# }"; PLIVORS_BALANCER_LOGS="${logs# }"
PLIVORS_BALANCER_DOWNLOADS="$run/downloads"
export PLIVORS_BALANCER PLIVORS_BALANCER_SERVERS PLIVORS_BALANCER_PIDS PLIVORS_BALANCER_LOGS PLIVORS_BALANCER_DOWNLOADS
if [ -n "$tls" ]; then
  export PLIVORS_BALANCER_TLS="https://localhost:$((port + 1))" \
    PLIVORS_BALANCER_TLS_EXPIRED="https://localhost:$((port + 2))" \
    PLIVORS_BALANCER_TLS_UNKNOWN="https://localhost:$((port + 3))" \
    PLIVORS_BALANCER_TLS_ELSEWHERE="https://localhost:$((port + 4))"
fi
if [ $# -eq 0 ]; then
  echo "nginx on $PLIVORS_BALANCER${tls:+ and $PLIVORS_BALANCER_TLS} in front of $PLIVORS_BALANCER_SERVERS; Ctrl-C stops all"
  [ -n "$tls" ] && echo "the test authority, for clients to trust: $run/tls/authority.pem"
  wait "$nginx_pid"
  stop
  exit 0
fi
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
export no_proxy=127.0.0.1,localhost NO_PROXY=127.0.0.1,localhost
if [ -n "$tls" ]; then
  "$here/tools/trusting.sh" "$run/tls/authority.pem" "$@"
else
  "$@"
fi
rc=$?
stop
exit $rc
