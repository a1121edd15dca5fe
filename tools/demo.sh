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
# Calibration of a sample map; run from the source folder so that both builds
# see the same relative path and must write the same bytes.
cd "$here"
echo "== native: build/native/plivors-host calibrate maps/norte-1000.plvr"
"$here/build/native/plivors-host" calibrate maps/norte-1000.plvr -o build/demo/norte-1000-native.map
echo "== win32 (under Wine): build/win32/plivors-host.exe calibrate maps/norte-1000.plvr"
"$here/tools/wine-run.sh" "$here/build/win32/plivors-host.exe" calibrate maps/norte-1000.plvr \
  -o build/demo/norte-1000-win32.map | tr -d '\r'
cmp "$out/norte-1000-native.map" "$out/norte-1000-win32.map"
echo "both builds wrote the same calibration:"
tr -d '\r' <"$out/norte-1000-native.map"
echo "outputs are in $out"
