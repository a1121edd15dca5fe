// One GeoJSON feature per polygon, whatever collections the input nests them
// in (the lakes package is a single multipolygon, which GDAL would otherwise
// take as one enormous feature), and big polygons cut into pieces of at most
// a few thousand points: a render reads and clips whole features, and a
// mainland of a hundred thousand points made every fine zone slow.
// The second output holds the polygons of at least KM2 square kilometres, for
// the coarse levels. With --no-small-holes, their holes under KM2 are left out
// there too: the land's holes are its lakes, and the coarse levels draw only
// the lakes of the lakes' own coarse file.
// With --no-triangles, polygons and holes of three corners are left out: the
// lakes package holds some four hundred thousand such polygons, and the land
// package six hundred thousand such holes, slivers scattered over dry land
// (the centre of Madrid, the sea off Cadiz) rather than water.
// usage: node polygons.js input.geojson output.geojson big.geojson KM2 [--no-triangles] [--no-small-holes]
'use strict';
const fs = require('fs');
const [input, output, bigOutput, bigKm2, ...options] = process.argv.slice(2);
const noTriangles = options.includes('--no-triangles');
const noSmallHoles = options.includes('--no-small-holes');
const smallest = Number(bigKm2);
const all = { fd: fs.openSync(output, 'w'), first: true };
const big = { fd: fs.openSync(bigOutput, 'w'), first: true };
// Area of a ring in square kilometres, near enough to choose which polygons
// coarse levels draw.
function area(ring) {
  let sum = 0;
  const k = Math.cos((ring[0][1] * Math.PI) / 180) * 111.32 * 111.32;
  for (let i = 0, j = ring.length - 1; i < ring.length; j = i++)
    sum += (ring[j][0] - ring[i][0]) * (ring[j][1] + ring[i][1]);
  return Math.abs(sum / 2) * k;
}

// Pieces overlap by this much (degrees, about 300 m) so that their
// anti-aliased edges never leave a hairline seam at the levels that draw them.
const kOverlap = 0.003;
const kMostPoints = 2000;

// Sutherland-Hodgman: the ring clipped to the box. A ring that leaves and
// re-enters the box gains edges along the box's side, which enclose no area.
function clipRing(ring, [x0, y0, x1, y1]) {
  let points = ring;
  const sides = [
    [p => p[0] >= x0, (a, b) => [x0, a[1] + ((b[1] - a[1]) * (x0 - a[0])) / (b[0] - a[0])]],
    [p => p[0] <= x1, (a, b) => [x1, a[1] + ((b[1] - a[1]) * (x1 - a[0])) / (b[0] - a[0])]],
    [p => p[1] >= y0, (a, b) => [a[0] + ((b[0] - a[0]) * (y0 - a[1])) / (b[1] - a[1]), y0]],
    [p => p[1] <= y1, (a, b) => [a[0] + ((b[0] - a[0]) * (y1 - a[1])) / (b[1] - a[1]), y1]],
  ];
  for (const [inside, cross] of sides) {
    if (points.length === 0) break;
    const out = [];
    for (let i = 0; i < points.length; ++i) {
      const a = points[(i + points.length - 1) % points.length], b = points[i];
      if (inside(b)) {
        if (!inside(a)) out.push(cross(a, b));
        out.push(b);
      } else if (inside(a)) {
        out.push(cross(a, b));
      }
    }
    points = out;
  }
  if (points.length < 3) return null;
  points.push(points[0]);
  return points;
}

function bounds(ring) {
  let x0 = Infinity, y0 = Infinity, x1 = -Infinity, y1 = -Infinity;
  for (const [x, y] of ring) {
    x0 = Math.min(x0, x); x1 = Math.max(x1, x); y0 = Math.min(y0, y); y1 = Math.max(y1, y);
  }
  return [x0, y0, x1, y1];
}

function split(to, rings, km2) {
  const count = rings.reduce((n, r) => n + r.length, 0);
  if (count <= kMostPoints) return emitPiece(to, rings, km2);
  const [x0, y0, x1, y1] = bounds(rings[0]);
  const mx = (x0 + x1) / 2, my = (y0 + y1) / 2;
  if (x1 - x0 < 4 * kOverlap && y1 - y0 < 4 * kOverlap) return emitPiece(to, rings, km2);
  const boxes = x1 - x0 >= y1 - y0
    ? [[x0, y0, mx + kOverlap, y1], [mx - kOverlap, y0, x1, y1]]
    : [[x0, y0, x1, my + kOverlap], [x0, my - kOverlap, x1, y1]];
  for (const box of boxes) {
    const outer = clipRing(rings[0].slice(0, -1), box);
    if (!outer) continue;
    const holes = rings.slice(1).map(h => clipRing(h.slice(0, -1), box)).filter(h => h);
    split(to, [outer, ...holes], km2);
  }
}

function emit(coordinates) {
  // A closed ring of a triangle repeats its first corner: four positions.
  if (noTriangles) {
    if (coordinates[0].length <= 4) return;
    coordinates = [coordinates[0], ...coordinates.slice(1).filter(hole => hole.length > 4)];
  }
  // Every piece carries its whole polygon's area: a piece of a mainland with
  // an intricate coast may be small, and the coarse levels must not leave it out.
  const km2 = Math.round(area(coordinates[0]) * 100) / 100;
  split(all, coordinates, km2);
  if (km2 < smallest) return;
  if (noSmallHoles) coordinates = [coordinates[0], ...coordinates.slice(1).filter(hole => area(hole) >= smallest)];
  split(big, coordinates, km2);
}

function emitPiece(to, coordinates, km2) {
  fs.writeSync(to.fd, (to.first ? '' : ',\n') + JSON.stringify({ type: 'Feature', properties: { km2 },
    geometry: { type: 'Polygon', coordinates } }));
  to.first = false;
}
function walk(g) {
  if (!g) return;
  if (g.type === 'FeatureCollection') g.features.forEach(walk);
  else if (g.type === 'Feature') walk(g.geometry);
  else if (g.type === 'GeometryCollection') g.geometries.forEach(walk);
  else if (g.type === 'MultiPolygon') g.coordinates.forEach(emit);
  else if (g.type === 'Polygon') emit(g.coordinates);
}
for (const to of [all, big]) fs.writeSync(to.fd, '{"type":"FeatureCollection","features":[\n');
walk(JSON.parse(fs.readFileSync(input, 'utf8')));
for (const to of [all, big]) {
  fs.writeSync(to.fd, ']}\n');
  fs.closeSync(to.fd);
}
