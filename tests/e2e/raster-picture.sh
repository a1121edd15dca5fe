#!/bin/sh
# raster-picture.sh DIR: writes a known picture as a GeoTIFF in spherical
# Mercator and a Mapnik style that shows it (DIR/style.xml), for a map server
# the end-to-end tests compare pixels against. The picture: 128 x 128 pixels
# of 100 m, its top-left corner at x -420000, y 4940000 (near Madrid), red
# north-west, green north-east, blue south-west and yellow south-east
# quarters; white around.
dir=$1
{
  printf 'P6\n128 128\n255\n'
  for y in $(seq 0 127); do
    if [ "$y" -lt 64 ]; then left='\377\000\000'; right='\000\377\000'; else left='\000\000\377'; right='\377\377\000'; fi
    i=0; while [ $i -lt 64 ]; do printf "$left"; i=$((i + 1)); done
    i=0; while [ $i -lt 64 ]; do printf "$right"; i=$((i + 1)); done
  done
} >"$dir/picture.ppm"
gdal_translate -q -of GTiff -a_srs EPSG:3857 -a_ullr -420000 4940000 -407200 4927200 \
  "$dir/picture.ppm" "$dir/picture.tif" || exit 1
merc="+proj=merc +a=6378137 +b=6378137 +lat_ts=0 +lon_0=0 +x_0=0 +y_0=0 +k=1 +units=m +nadgrids=@null +wktext +no_defs"
cat >"$dir/style.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<Map srs="$merc" background-color="#ffffff">
  <Style name="picture"><Rule><RasterSymbolizer scaling="near"/></Rule></Style>
  <Layer name="picture" srs="$merc">
    <StyleName>picture</StyleName>
    <Datasource>
      <Parameter name="type">gdal</Parameter>
      <Parameter name="file">picture.tif</Parameter>
    </Datasource>
  </Layer>
</Map>
XML
