#!/bin/sh
# The main job, for a person to look at: the map server (real maps from the
# prepared open data) on a free loopback port, and both builds of the plug-in
# (the DLL under Wine) driven by the reference host: calibration, zones of
# Iberia, the Canary Islands, the harbour of Cadiz and the whole world, the
# place name of Madrid's position and a descriptor download. Street maps of
# central Montevideo come from a private PostgreSQL cluster (build/database)
# into which the server's import command loads the OpenStreetMap extract that
# make data prepared; the cluster stops at the end. Everything lands
# in build/demo/, with overview.png showing every zone with its caption.
set -e
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/tools/servers.sh"
out="$here/build/demo"
rm -rf "$out"
mkdir -p "$out/downloads-native"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
export no_proxy=127.0.0.1,localhost NO_PROXY=127.0.0.1,localhost

sdir=$(mktemp -d "${TMPDIR:-/tmp}/plivors-demo.XXXXXX")
mkdir -p "$sdir/served"
cp "$here"/maps/*.plvr "$sdir/served/"
# The street database: central Montevideo, imported afresh.
stop_database() { "$here/tools/database.sh" stop "$here/build/database" || true; }
trap 'rc=$?; stop_database; exit $rc' EXIT
database=$("$here/tools/database.sh" import "$here/build/database" "$here/build/server/plivors-server" \
  "$here/data/osm/montevideo.osm.pbf" "$out/import.log") || exit 1
tail -1 "$out/import.log"
launch "$sdir/server.out" "$sdir/port" "$here/build/server/plivors-server" --port 0 --port-file "$sdir/port" \
  --log "$out/server-requests.log" --downloads "$sdir/served" --database "$database" || exit 1
spid=$launched_pid
# Stop the server on the way out, keeping the script's own exit status.
stop_server() { kill $spid 2>/dev/null || true; wait $spid 2>/dev/null || true; rm -rf "$sdir"; stop_database; }
trap 'rc=$?; stop_server; exit $rc' EXIT
trap 'exit 130' INT TERM
PLIVORS_MAP_SERVER="http://127.0.0.1:$launched_port"
PLIVORS_DOWNLOAD_SERVER="$PLIVORS_MAP_SERVER"
export PLIVORS_MAP_SERVER PLIVORS_DOWNLOAD_SERVER
echo "map server at $PLIVORS_MAP_SERVER"

# Raster pixels (Mercator metres from the map's south-west corner) of a
# rectangle given in degrees: SOUTH WEST NORTH EAST of the map, then the
# rectangle's SOUTH WEST NORTH EAST; prints X0 X1 Y0 Y1.
pixels() {
  awk -v ms="$1" -v mw="$2" -v s="$5" -v w="$6" -v n="$7" -v e="$8" 'BEGIN {
    R = 6378137; pi = atan2(0, -1)
    x0 = R * mw * pi / 180; y0 = R * log(sin(pi / 4 + ms * pi / 360) / cos(pi / 4 + ms * pi / 360))
    printf "%d %d %d %d\n", R * w * pi / 180 - x0, R * e * pi / 180 - x0,
      R * log(sin(pi / 4 + s * pi / 360) / cos(pi / 4 + s * pi / 360)) - y0,
      R * log(sin(pi / 4 + n * pi / 360) / cos(pi / 4 + n * pi / 360)) - y0 }'
}
# The box (SOUTH WEST NORTH EAST) of nine tenths of level LEVEL's 800 x 600
# window around LAT LON: the plug-in asks for it at exactly that level.
# The levels' metres per pixel, as the server's protocol table holds them.
levels=$(sed -n '/kMetresPerPixel\[kLevels\]/,/};/{s/[^0-9. ,]//g;p}' "$here/server/protocol/levels.h" | tr ',' ' ' | xargs)
box() {
  awk -v lat="$1" -v lon="$2" -v level="$3" -v levels="$levels" 'BEGIN {
    split(levels, s, " ")
    R = 6378137; pi = atan2(0, -1); hw = 0.45 * 800 * s[level]; hh = 0.45 * 600 * s[level]
    y = R * log(sin(pi / 4 + lat * pi / 360) / cos(pi / 4 + lat * pi / 360))
    printf "%.7f %.7f %.7f %.7f\n", (2 * atan2(exp((y - hh) / R), 1) - pi / 2) * 180 / pi, lon - hw / R * 180 / pi,
      (2 * atan2(exp((y + hh) / R), 1) - pi / 2) * 180 / pi, lon + hw / R * 180 / pi }'
}
europa="26.9674359 -20.9912576 56.5217513 24.5938529"
canarias="26.9674359 -20.9912576 32.8957462 -8.483808"
mundo="-88.0 -178.0 88.0 178.0"
# name | descriptor | map corners | zone in degrees | caption
zones="iberia|europa-1001|$europa|35.6 -10.2 44.2 4.6|the Iberian peninsula
canarias|canarias-1002|$canarias|27.5 -18.4 29.5 -13.3|the Canary Islands
cadiz|europa-1001|$europa|36.44 -6.36 36.60 -6.14|the bay and harbour of Cadiz
madrid|europa-1001|$europa|40.36 -3.80 40.48 -3.60|Madrid and its districts
world-1|mundo-1003|$mundo|0 -180 72 -60|the world, north-west
world-2|mundo-1003|$mundo|0 -60 72 60|the world, north
world-3|mundo-1003|$mundo|0 60 72 180|the world, north-east
world-4|mundo-1003|$mundo|-72 -180 0 -60|the world, south-west
world-5|mundo-1003|$mundo|-72 -60 0 60|the world, south
world-6|mundo-1003|$mundo|-72 60 0 180|the world, south-east
montevideo-1|mundo-1003|$mundo|$(box -34.9055 -56.1880 1)|central Montevideo, streets and buildings
montevideo-3|mundo-1003|$mundo|$(box -34.9050 -56.1860 3)|central Montevideo
montevideo-5|mundo-1003|$mundo|$(box -34.8900 -56.1700 5)|Montevideo, its streets and suburbs
montevideo-7|mundo-1003|$mundo|$(box -34.8700 -56.1700 7)|Montevideo and its bay"

# Run from the source folder so that both builds see the same relative paths.
cd "$here"
# The Windows side: the 32-bit product, or, on a machine that cannot execute
# 32-bit code, the same code built as 64-bit Windows programs.
windows=win32
if ! "$here/tools/can-run-32bit.sh"; then
  windows=win64
  echo "This machine cannot execute 32-bit programs: the Windows side runs the 64-bit build (build/win64)."
fi
mkdir -p "$out/downloads-$windows"
for build in native $windows; do
  if [ $build = native ]; then
    host() { "$here/build/native/plivors-host" "$@"; }
  else
    host() { "$here/tools/wine-run.sh" "$here/build/$build/plivors-host.exe" "$@" | tr -d '\r'; }
  fi
  echo
  echo "=================== $build build ==================="
  host info
  echo "-- calibrate maps/europa-1001.plvr"
  host calibrate maps/europa-1001.plvr -o "build/demo/europa-1001-$build.map"
  echo "$zones" | while IFS='|' read -r name map corners area caption; do
    # shellcheck disable=SC2086
    set -- $(pixels $corners $area)
    echo "-- zone: $caption ($map $1 $2 $3 $4)"
    host zone "maps/$map.plvr" "$1" "$2" "$3" "$4" 800 600 -o "build/demo/$name-$build.bmp"
    if [ $build = native ]; then
      level=$(grep ' /plivors/client?cmd=map' "$out/server-requests.log" | tail -1 | sed 's/.*&scale=\([0-9]*\).*/\1/')
      echo "$name|$caption, level $level" >>"$out/captions.txt"
    fi
    if [ -x "$here/build/native/bmp2png" ]; then
      "$here/build/native/bmp2png" "$out/$name-$build.bmp" "$out/$name-$build.png"
    fi
  done
  echo "-- locate -3.7038 40.4168"
  host locate -3.7038 40.4168 | tee "build/demo/place-$build.txt"
  echo "-- locate -56.1880 -34.9055 (Montevideo, Yaguaron at Avenida 18 de Julio)"
  host locate -56.1880 -34.9055 | tee -a "build/demo/place-$build.txt"
  echo "-- download canarias-1002.plvr"
  host download canarias-1002.plvr "build/demo/downloads-$build"
done

echo
cmp "$out/europa-1001-native.map" "$out/europa-1001-$windows.map" && echo "both builds wrote the same calibration"
same=yes
while IFS='|' read -r name caption; do
  cmp -s "$out/$name-native.bmp" "$out/$name-$windows.bmp" || same=no
done <"$out/captions.txt"
[ $same = yes ] && echo "both builds delivered the same zone images"
cmp -s "$out/place-native.txt" "$out/place-$windows.txt" && echo "both builds named the same place"

# One picture of every zone with its caption; the six world zones (the
# largest a level holds is 800 by 600 pixels of 21 km) joined make the world.
if command -v montage >/dev/null 2>&1 && [ -f "$out/iberia-native.png" ]; then
  w="$out/world"
  convert \( "$w-1-native.png" "$w-2-native.png" "$w-3-native.png" +append \) \
    \( "$w-4-native.png" "$w-5-native.png" "$w-6-native.png" +append \) -append "$out/world-native.png"
  set --
  while IFS='|' read -r name caption; do
    case "$name" in world-*) continue ;; esac
    # The street corner in the middle of the finest Montevideo zone, as the
    # plug-in names it.
    [ "$name" = montevideo-1 ] && caption="$caption; its centre: $(tail -1 "$out/place-native.txt")"
    set -- "$@" -label "$caption" "$out/$name-native.png"
  done <"$out/captions.txt"
  montage "$@" -label "the world from 72 S to 72 N: six level-13 zones joined" "$out/world-native.png" \
    -tile 3x -geometry '560x420>+10+10' -pointsize 16 -font DejaVu-Sans "$out/overview.png"
  echo "overview of every zone: $out/overview.png"
fi
echo "outputs are in $out:"
ls -l "$out" | sed 1d
