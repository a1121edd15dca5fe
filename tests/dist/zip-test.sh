#!/bin/sh
# zip-test.sh ZIP OBJDUMP SERVER [SERVER-ARGS...]: the Windows package as a
# user gets it. Unpacked into a fresh folder, it holds what its readme
# promises, its programs import only Windows' own DLLs, and
# `plivors-host.exe check` run from that folder under Wine passes against
# the map server SERVER offering the package's own sample descriptors.
set -e
zip=$1; objdump=$2; server=$3; shift 3
here=$(cd "$(dirname "$0")/../.." && pwd)
fail() { echo "zip-test: $*" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/plivors-zip.XXXXXX")
trap 'rm -rf "$work"' EXIT
unzip -q "$zip" -d "$work"
name=$(basename "$zip" .zip)
dir="$work/$name"
[ -d "$dir" ] || fail "$name.zip does not unpack into $name/"
for f in HalvoPlugIn_Plivors.dll plivors-host.exe README.txt LEEME.txt maps/norte-1000.plvr \
         licences/README.txt licences/gcc-runtime.txt licences/GPL-3.txt licences/mingw-w64-runtime.txt; do
  [ -s "$dir/$f" ] || fail "the package lacks $f"
done
grep -q setx "$dir/README.txt" && grep -q setx "$dir/LEEME.txt" || fail "a readme does not explain setx"
"$here/tests/check-exports.sh" "$objdump" "$dir/HalvoPlugIn_Plivors.dll" "$dir/plivors-host.exe"
if ! "$here/tools/can-run-32bit.sh"; then
  echo "zip-test: contents and import tables pass; running plivors-host.exe needs 32-bit support," \
    "which this machine lacks: skipped" >&2
  exit 77
fi

wine_host() { (cd "$dir" && "$here/tools/wine-run.sh" ./plivors-host.exe "$@") | tr -d '\r'; }
version=$(wine_host --version)
[ "plivors-$(echo "$version" | sed 's/^plivors-host //')-win32" = "$name" ] ||
  fail "the host says '$version', the package is $name"

# The check from the unpacked folder, the plug-in found beside the program,
# against the real map server.
"$here/tools/with-server.sh" --maps "$server" "$@" --downloads "$dir/maps" -- sh -c '
  PLIVORS_MAP_SERVER=$PLIVORS_TEST_MAPS PLIVORS_DOWNLOAD_SERVER=$PLIVORS_TEST_MAPS
  export PLIVORS_MAP_SERVER PLIVORS_DOWNLOAD_SERVER
  cd "$1" && "$2/tools/wine-run.sh" ./plivors-host.exe check' check "$dir" "$here" | tr -d '\r' | tee "$work/check.out"
grep -q "all three work" "$work/check.out" || fail "plivors-host.exe check did not pass"
echo "zip-test: $name passes"
