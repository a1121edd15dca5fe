// Land borders from a TopoJSON of countries: the arcs that two countries
// share. Coastlines (arcs of one country) are left out.
// usage: node borders.js countries-10m.json borders.geojson
'use strict';
const fs = require('fs');
const [input, out] = process.argv.slice(2);
const topo = JSON.parse(fs.readFileSync(input, 'utf8'));
const owners = new Map();
function walk(arcs, country) {
  for (const a of arcs) {
    if (Array.isArray(a)) walk(a, country);
    else {
      const index = a < 0 ? ~a : a;
      if (!owners.has(index)) owners.set(index, new Set());
      owners.get(index).add(country);
    }
  }
}
topo.objects.countries.geometries.forEach((g, i) => walk(g.arcs || [], i));
const t = topo.transform;
const lines = [];
owners.forEach((countries, index) => {
  if (countries.size < 2) return;
  let x = 0, y = 0;
  const line = topo.arcs[index].map(([dx, dy]) => {
    if (!t) return [dx, dy];
    x += dx; y += dy;
    return [x * t.scale[0] + t.translate[0], y * t.scale[1] + t.translate[1]];
  });
  lines.push(JSON.stringify({ type: 'Feature', properties: {}, geometry: { type: 'LineString', coordinates: line } }));
});
fs.writeFileSync(out, '{"type":"FeatureCollection","features":[\n' + lines.join(',\n') + ']}\n');
