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
echo "outputs are in $out"
