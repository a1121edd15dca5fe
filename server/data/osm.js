// node osm.js mvt OUT.osm TILE.geojsonl...
// node osm.js graph OUT.osm GRAPH.json
// Writes OpenStreetMap XML that osm2pgsql (through osmium) reads, sorted as it
// wants: nodes, then ways, then relations, each by identifier.
//   mvt:   features of vector tiles read by GDAL (one GeoJSON feature a line,
//          in degrees, every OSM tag a property). The tiles carry no node
//          identifiers, so way vertices that coincide become one node (streets
//          stay connected at their crossings); points keep nodes of their own.
//          Every identifier is made up.
//   graph: an editor's graph ({"n1": {loc, tags}, "w1": {nodes, tags},
//          "r1": {members, tags}}), identifiers kept.
'use strict';
const fs = require('fs');

const [mode, output, ...inputs] = process.argv.slice(2);
if (!output || inputs.length === 0 || (mode !== 'mvt' && mode !== 'graph')) {
  console.error('usage: osm.js mvt OUT.osm TILE.geojsonl... | osm.js graph OUT.osm GRAPH.json');
  process.exit(2);
}

const escape = (s) => String(s).replace(/[&<>"]/g, (c) => ({'&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;'}[c]))
  .replace(/[\u0000-\u0008\u000b\u000c\u000e-\u001f]/g, '');
const tagLines = (tags) => Object.keys(tags).map((k) => `  <tag k="${escape(k)}" v="${escape(tags[k])}"/>\n`).join('');

// Output in large pieces: a line-at-a-time write of 400 000 nodes is slow.
const out = fs.openSync(output, 'w');
let pending = [];
let pendingSize = 0;
function write(text) {
  pending.push(text);
  pendingSize += text.length;
  if (pendingSize > 1 << 20) flush();
}
function flush() {
  fs.writeSync(out, pending.join(''));
  pending = [];
  pendingSize = 0;
}
const stamp = 'version="1" timestamp="2017-12-01T00:00:00Z"';
const node = (id, lon, lat, tags) => {
  const t = tags ? tagLines(tags) : '';
  write(t ? `<node id="${id}" ${stamp} lat="${lat}" lon="${lon}">\n${t}</node>\n`
          : `<node id="${id}" ${stamp} lat="${lat}" lon="${lon}"/>\n`);
};
const way = (id, refs, tags) => {
  write(`<way id="${id}" ${stamp}>\n${refs.map((r) => `  <nd ref="${r}"/>\n`).join('')}${tagLines(tags || {})}</way>\n`);
};
const relation = (id, members, tags) => {
  write(`<relation id="${id}" ${stamp}>\n${members.map((m) =>
    `  <member type="${m.type}" ref="${m.ref}" role="${escape(m.role || '')}"/>\n`).join('')}${tagLines(tags)}</relation>\n`);
};
write('<?xml version="1.0" encoding="UTF-8"?>\n<osm version="0.6" generator="plivors osm.js">\n');

if (mode === 'mvt') {
  const vertices = new Map();  // "lon lat" at OSM's 7 decimals -> node id
  const nodes = [];            // [lon, lat, tags or null], id = index + 1
  const ways = [];             // [refs, tags]
  const relations = [];        // [members, tags]
  const vertex = (c) => {
    const lon = c[0].toFixed(7), lat = c[1].toFixed(7), key = lon + ' ' + lat;
    let id = vertices.get(key);
    if (id === undefined) {
      nodes.push([lon, lat, null]);
      id = nodes.length;
      vertices.set(key, id);
    }
    return id;
  };
  // A line of vertices without repeats (two points rounding to one node).
  const refsOf = (coordinates) => {
    const refs = [];
    for (const c of coordinates) {
      const id = vertex(c);
      if (refs[refs.length - 1] !== id) refs.push(id);
    }
    return refs;
  };
  const addPolygon = (rings, tags) => {
    const closed = rings.map(refsOf).filter((r) => r.length >= 4 && r[0] === r[r.length - 1]);
    if (closed.length === 0) return;
    if (closed.length === 1 && rings.length === 1) {
      ways.push([closed[0], tags]);
      return;
    }
    const members = closed.map((refs, i) => {
      ways.push([refs, null]);
      return {type: 'way', ref: ways.length, role: i === 0 ? 'outer' : 'inner'};
    });
    relations.push([members, Object.assign({type: 'multipolygon'}, tags)]);
  };
  const addMultiPolygon = (polygons, tags) => {
    const members = [];
    for (const rings of polygons) {
      rings.map(refsOf).forEach((refs, i) => {
        if (refs.length < 4 || refs[0] !== refs[refs.length - 1]) return;
        ways.push([refs, null]);
        members.push({type: 'way', ref: ways.length, role: i === 0 ? 'outer' : 'inner'});
      });
    }
    if (members.length > 0) relations.push([members, Object.assign({type: 'multipolygon'}, tags)]);
  };
  for (const file of inputs) {
    for (const line of fs.readFileSync(file, 'utf8').split('\n')) {
      if (!line.trim()) continue;
      const f = JSON.parse(line);
      const tags = {};
      for (const [k, v] of Object.entries(f.properties || {}))
        if (!k.startsWith('@') && v !== null && v !== '') tags[k] = v;
      if (Object.keys(tags).length === 0 || !f.geometry) continue;
      const g = f.geometry;
      switch (g.type) {
        case 'Point':
          nodes.push([g.coordinates[0].toFixed(7), g.coordinates[1].toFixed(7), tags]);
          break;
        case 'MultiPoint':
          for (const c of g.coordinates) nodes.push([c[0].toFixed(7), c[1].toFixed(7), tags]);
          break;
        case 'LineString': {
          const refs = refsOf(g.coordinates);
          if (refs.length >= 2) ways.push([refs, tags]);
          break;
        }
        case 'MultiLineString':
          for (const part of g.coordinates) {
            const refs = refsOf(part);
            if (refs.length >= 2) ways.push([refs, tags]);
          }
          break;
        case 'Polygon':
          addPolygon(g.coordinates, tags);
          break;
        case 'MultiPolygon':
          addMultiPolygon(g.coordinates, tags);
          break;
      }
    }
  }
  nodes.forEach((n, i) => node(i + 1, n[0], n[1], n[2]));
  ways.forEach((w, i) => way(i + 1, w[0], w[1]));
  relations.forEach((r, i) => relation(i + 1, r[0], r[1]));
  console.log(`${nodes.length} nodes, ${ways.length} ways, ${relations.length} relations`);
} else {
  const graph = JSON.parse(fs.readFileSync(inputs[0], 'utf8'));
  const byKind = {n: [], w: [], r: []};
  for (const [key, e] of Object.entries(graph)) {
    if (byKind[key[0]] && /^[nwr]-?\d+$/.test(key)) byKind[key[0]].push([Number(key.slice(1)), e]);
  }
  for (const list of Object.values(byKind)) list.sort((a, b) => a[0] - b[0]);
  for (const [id, e] of byKind.n) node(id, e.loc[0].toFixed(7), e.loc[1].toFixed(7), e.tags);
  for (const [id, e] of byKind.w) way(id, e.nodes.map((n) => Number(n.slice(1))), e.tags);
  for (const [id, e] of byKind.r)
    relation(id, e.members.map((m) => ({type: m.type, ref: Number(m.id.slice(1)), role: m.role})), e.tags || {});
  console.log(`${byKind.n.length} nodes, ${byKind.w.length} ways, ${byKind.r.length} relations`);
}
write('</osm>\n');
flush();
fs.closeSync(out);
