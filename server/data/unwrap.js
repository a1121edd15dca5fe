// Makes the longitudes of every ring continuous: a globe's polygon that
// crosses the date line jumps from 180 to -180, which on the plane is a band
// across the whole world. Unwrapped past 180, GDAL's -wrapdateline can cut it
// there. Rings reaching the south pole (Antarctica) span the globe on purpose
// and are left alone.
// usage: node unwrap.js input.geojson output.geojson
'use strict';
const fs = require('fs');
const [input, output] = process.argv.slice(2);
const data = JSON.parse(fs.readFileSync(input, 'utf8'));
function unwrap(ring) {
  if (ring.some(([, lat]) => lat <= -85)) return ring;
  let shift = 0;
  const continuous = ring.map(([lon, lat], i) => {
    if (i > 0) {
      const previous = ring[i - 1][0];
      if (lon - previous > 180) shift -= 360;
      else if (previous - lon > 180) shift += 360;
    }
    return [lon + shift, lat];
  });
  // GDAL cuts what passes 180 eastwards, not what passes -180 westwards.
  const west = Math.min(...continuous.map(([lon]) => lon));
  return west < -180 ? continuous.map(([lon, lat]) => [lon + 360, lat]) : continuous;
}
function walk(g) {
  if (!g) return;
  if (g.type === 'FeatureCollection') g.features.forEach(f => walk(f.geometry));
  else if (g.type === 'Polygon') g.coordinates = g.coordinates.map(unwrap);
  else if (g.type === 'MultiPolygon') g.coordinates = g.coordinates.map(p => p.map(unwrap));
  else if (g.type === 'LineString') g.coordinates = unwrap(g.coordinates);
}
walk(data);
fs.writeFileSync(output, JSON.stringify(data));
