#!/bin/sh
# The main job, for a person to look at: the stand-in map server on a free
# loopback port, and both builds of the plug-in (the DLL under Wine) driven by
# the reference host: calibration, zones at a coarse and a fine level, a place
# name and a descriptor download. Everything lands in build/demo/.
set -e
here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/build/demo"
rm -rf "$out"
mkdir -p "$out/downloads-native" "$out/downloads-win32"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
export no_proxy=127.0.0.1,localhost NO_PROXY=127.0.0.1,localhost

sdir=$(mktemp -d "${TMPDIR:-/tmp}/plivors-demo.XXXXXX")
mkdir -p "$sdir/served"
cp "$here"/maps/*.plvr "$sdir/served/"
"$here/build/native/plivors-server" --port 0 --port-file "$sdir/port" --log "$out/server-requests.log" \
  --downloads "$sdir/served" >"$sdir/server.out" 2>&1 &
spid=$!
# Stop the server on the way out, keeping the script's own exit status.
stop_server() { kill $spid 2>/dev/null || true; wait $spid 2>/dev/null || true; rm -rf "$sdir"; }
trap 'rc=$?; stop_server; exit $rc' EXIT
trap 'exit 130' INT TERM
i=0
while [ ! -s "$sdir/port" ]; do
  i=$((i + 1))
  [ $i -lt 200 ] || { echo "the stand-in server did not start" >&2; cat "$sdir/server.out" >&2; exit 1; }
  sleep 0.05
done
PLIVORS_MAP_SERVER="http://127.0.0.1:$(cat "$sdir/port")"
PLIVORS_DOWNLOAD_SERVER="$PLIVORS_MAP_SERVER"
export PLIVORS_MAP_SERVER PLIVORS_DOWNLOAD_SERVER
echo "stand-in map server at $PLIVORS_MAP_SERVER"

# Run from the source folder so that both builds see the same relative paths.
cd "$here"
for build in native win32; do
  if [ $build = native ]; then
    host() { "$here/build/native/plivors-host" "$@"; }
  else
    host() { "$here/tools/wine-run.sh" "$here/build/win32/plivors-host.exe" "$@" | tr -d '\r'; }
  fi
  echo
  echo "=================== $build build ==================="
  host info
  echo "-- calibrate maps/norte-1000.plvr"
  host calibrate maps/norte-1000.plvr -o "build/demo/norte-1000-$build.map"
  echo "-- zone, coarse: the whole of map 1001"
  host zone maps/europa-1001.plvr 0 5074511 0 4543586 640 480 -o "build/demo/coarse-$build.bmp"
  echo "-- zone, fine: 800 by 600 metres of Madrid"
  host zone maps/europa-1001.plvr 1924030 1924830 1806992 1807592 800 600 -o "build/demo/fine-$build.bmp"
  echo "-- locate -3.7038 40.4168"
  host locate -3.7038 40.4168
  echo "-- download canarias-1002.plvr"
  host download canarias-1002.plvr "build/demo/downloads-$build"
  if [ -x "$here/build/native/bmp2png" ]; then
    "$here/build/native/bmp2png" "$out/coarse-$build.bmp" "$out/coarse-$build.png"
    "$here/build/native/bmp2png" "$out/fine-$build.bmp" "$out/fine-$build.png"
  fi
done

echo
cmp "$out/norte-1000-native.map" "$out/norte-1000-win32.map" && echo "both builds wrote the same calibration"
cmp "$out/coarse-native.bmp" "$out/coarse-win32.bmp" && cmp "$out/fine-native.bmp" "$out/fine-win32.bmp" &&
  echo "both builds delivered the same zone images"
echo "outputs are in $out:"
ls -l "$out" | sed 1d
