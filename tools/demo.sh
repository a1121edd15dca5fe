#!/bin/sh
# The main job, for a person to look at: both builds of the plug-in driven by
# the reference host.
set -e
here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/build/demo"
mkdir -p "$out"
echo "== native: build/native/plivors-host info"
"$here/build/native/plivors-host" info | tee "$out/info-native.txt"
echo "== win32 (under Wine): build/win32/plivors-host.exe info"
"$here/tools/wine-run.sh" "$here/build/win32/plivors-host.exe" info | tr -d '\r' | tee "$out/info-win32.txt"

if [ -x "$here/build/native/plivors-server" ] && command -v curl >/dev/null 2>&1; then
  echo "== stand-in map server: one map picture and one proximity page"
  sdir=$(mktemp -d "${TMPDIR:-/tmp}/plivors-demo.XXXXXX")
  "$here/build/native/plivors-server" --port 0 --port-file "$sdir/port" --log "$sdir/requests.log" >/dev/null 2>&1 &
  spid=$!
  i=0
  while [ ! -s "$sdir/port" ] && [ $i -lt 100 ]; do i=$((i + 1)); sleep 0.05; done
  base="http://127.0.0.1:$(cat "$sdir/port")"
  curl -s --noproxy '*' -o "$out/map.gif" "$base/plivors/client?cmd=map&img=1&width=604&height=453&scale=8&mocs=gdd&mo=40.41680000,-3.70380000"
  echo "map.gif: $(head -c 6 "$out/map.gif") $(od -An -tu2 -j6 -N4 "$out/map.gif" | tr -s ' ')"
  curl -s --noproxy '*' "$base/plivors/client?cmd=prox&RQGE=st&mocs=gdd&mo=42.59870000,-5.56710000" | grep 'se encuentra en'
  kill $spid 2>/dev/null || true
  wait $spid 2>/dev/null || true
  rm -rf "$sdir"
fi
echo "outputs are in $out"
