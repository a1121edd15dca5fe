#!/bin/bash
# deb-test.sh DEB HOST: the server package as dpkg sees it (control fields,
# dependencies, files, conffiles), then unpacked into a temporary root
# without installing: its server started from there on a free port must pass
# `HOST check`, once started plainly and once with the systemd unit's own
# command line and settings; and, where PostgreSQL is installed, with street
# maps from a private cluster filled by the packaged import command.
set -e
deb=$1; host=$2
fail() { echo "deb-test: $*" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/plivors-deb.XXXXXX")
pid=""
source=$(cd "$(dirname "$0")/../.." && pwd)
. "$source/tools/servers.sh"
cluster=""
cleanup() {
  [ -n "$pid" ] && { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; }
  [ -n "$cluster" ] && "$source/tools/database.sh" stop "$cluster"
  rm -rf "$work"
}
trap 'cleanup' EXIT
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
export no_proxy=127.0.0.1,localhost NO_PROXY=127.0.0.1,localhost

name=$(basename "$deb" .deb)           # plivors-server_VERSION_amd64
version=${name#plivors-server_}; version=${version%_amd64}
dpkg-deb --info "$deb" > "$work/info"
for field in "Package: plivors-server" "Version: $version" "Architecture: amd64"; do
  grep -q "^ $field\$" "$work/info" || fail "control lacks '$field'"
done
# Mapnik comes from the server's own links; the fonts it opens by name.
grep -q "^ Depends:.*libmapnik" "$work/info" || fail "Depends does not bring Mapnik"
for fonts in fonts-dejavu-core fonts-noto-core fonts-noto-cjk; do
  grep -q "^ Depends:.*$fonts" "$work/info" || fail "Depends does not bring the fonts ($fonts)"
done
[ "$(dpkg-deb --info "$deb" conffiles)" = /etc/default/plivors-server ] || fail "conffiles is not the settings file"

dpkg-deb --contents "$deb" | awk '{print $6}' > "$work/contents"
for f in ./usr/bin/plivors-server ./usr/lib/systemd/system/plivors-server.service ./etc/default/plivors-server \
         ./usr/lib/systemd/system/plivors-server-update.service ./usr/lib/systemd/system/plivors-server-update.timer \
         ./usr/share/plivors-server/style/default.xml ./usr/share/plivors-server/maps/norte-1000.plvr \
         ./usr/share/doc/plivors-server/copyright ./usr/share/plivors-server/style/streets.xml \
         ./usr/share/plivors-server/streets/plivors.style; do
  grep -qx "$f" "$work/contents" || fail "the package lacks $f"
done

root=$work/root
dpkg-deb -x "$deb" "$root"
server=$root/usr/bin/plivors-server
[ "$("$server" --version)" = "plivors-server $version" ] || fail "plivors-server --version is not $version"

check() {
  PLIVORS_MAP_SERVER=http://127.0.0.1:$1 PLIVORS_DOWNLOAD_SERVER=http://127.0.0.1:$1 "$host" check \
    | tee "$work/check.out"
  grep -q "all three work" "$work/check.out" || fail "plivors-host check failed against $2"
}
stop() { kill "$pid"; wait "$pid" 2>/dev/null || true; pid=""; }

# Started plainly: it finds its style, data and descriptors beside itself.
launch "$work/server.out" "$work/port" "$server" --port 0 --port-file "$work/port" || fail "the unpacked server did not start"
pid=$launched_pid
port=$launched_port
check "$port" "the unpacked server"
stop

# Started as the service starts it: the unit's command line (moved into the
# temporary root) with the settings file's values, on the port just found
# free.
# The unit runs one shell script, ExecStart=/bin/sh -c '...'; systemd passes
# "$$" on as "$".
script=$(sed -n "s|^ExecStart=/bin/sh -c '\(.*\)'\$|\1|p" "$root/usr/lib/systemd/system/plivors-server.service" |
  sed 's/\$\$/$/g; s| /usr/bin/| '"$root"'/usr/bin/|g')
[ -n "$script" ] || fail "the unit's ExecStart is not /bin/sh -c '...'"
unit() {
  set -a
  . "$root/etc/default/plivors-server"
  PORT=$port
  set +a
  exec /bin/sh -c "$script"
}
launch "$work/server.out" ":$port" unit || fail "the server started by the unit's command line did not start"
pid=$launched_pid
check "$port" "the server started by the unit's command line"
stop

# Street maps: the packaged import style and street style, against a private
# cluster (under build/: the postgres user must reach it) holding Three Rivers.
extract=$source/data/osm/three-rivers.osm.pbf
if [ -x /usr/lib/postgresql/15/bin/pg_ctl ] && command -v osm2pgsql >/dev/null && [ -f "$extract" ]; then
  cluster=$source/build/database-dist
  url=$("$source/tools/database.sh" start "$cluster") || fail "the private cluster did not start"
  "$server" import "$extract" --database "$url" >"$work/import.out" 2>&1 || fail "import failed: $(tail -3 "$work/import.out")"
  grep -q "^Imported .* roads" "$work/import.out" || fail "the import printed no summary"
  launch "$work/server.out" "$work/port2" "$server" --port 0 --port-file "$work/port2" --database "$url" ||
    fail "the unpacked server with street maps did not start"
  pid=$launched_pid
  grep -q "OpenStreetMap contributors" "$work/server.out" || fail "no attribution in the start-up line"
  check "$(cat "$work/port2")" "the unpacked server with street maps"
  stop
fi
echo "deb-test: $name passes"
