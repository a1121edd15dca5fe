// node osm.js mvt OUT.osm TILE.geojsonl...
// node osm.js streets OUT.osm FIRST_ID TILE.LAYER.geojsonl...
// node osm.js graph OUT.osm GRAPH.json
// Writes OpenStreetMap XML that osm2pgsql (through osmium) reads, sorted as it
// wants: nodes, then ways, then relations, each by identifier.
//   mvt:     features of OSM QA vector tiles read by GDAL (one GeoJSON feature
//            a line, in degrees, every OSM tag a property). The tiles carry no
//            node identifiers, so way vertices that coincide become one node
//            (streets stay connected at their crossings); points keep nodes of
//            their own. Every identifier is made up.
//   streets: the same from street-map vector tiles, whose layers (road,
//            road_label, landuse, water, waterway, place_label, building; the
//            layer is the file name's second part) carry classes rather than
//            tags: they become the tags they stand for. Named roads come in
//            road_label apart from the road lines; the segments they share
//            are written once, named. Identifiers start at FIRST_ID, so that
//            the result and another extract load into one database.
//   graph:   an editor's graph ({"n1": {loc, tags}, "w1": {nodes, tags},
//            "r1": {members, tags}}), identifiers kept.
'use strict';
const fs = require('fs');

const [mode, output, ...inputs] = process.argv.slice(2);
if (!output || inputs.length === 0 || !['mvt', 'streets', 'graph'].includes(mode)) {
  console.error('usage: osm.js mvt OUT.osm TILE.geojsonl... | osm.js streets OUT.osm FIRST_ID TILE.LAYER.geojsonl... |' +
                ' osm.js graph OUT.osm GRAPH.json');
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

// Nodes, ways and relations gathered from GeoJSON geometries, numbered from
// `first` in the order they come.
function Collector(first) {
  const vertices = new Map();  // "lon lat" at OSM's 7 decimals -> node id
  const nodes = [];            // [lon, lat, tags or null], id = index + first
  const ways = [];             // [refs, tags]
  const relations = [];        // [members, tags]
  const vertex = (c) => {
    const lon = c[0].toFixed(7), lat = c[1].toFixed(7), key = lon + ' ' + lat;
    let id = vertices.get(key);
    if (id === undefined) {
      nodes.push([lon, lat, null]);
      id = nodes.length - 1 + first;
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
  const addWay = (refs, tags) => {
    ways.push([refs, tags]);
    return ways.length - 1 + first;
  };
  const addPolygon = (rings, tags) => {
    const closed = rings.map(refsOf).filter((r) => r.length >= 4 && r[0] === r[r.length - 1]);
    if (closed.length === 0) return;
    if (closed.length === 1 && rings.length === 1) {
      addWay(closed[0], tags);
      return;
    }
    const members = closed.map((refs, i) => ({type: 'way', ref: addWay(refs, null), role: i === 0 ? 'outer' : 'inner'}));
    relations.push([members, Object.assign({type: 'multipolygon'}, tags)]);
  };
  const addMultiPolygon = (polygons, tags) => {
    const members = [];
    for (const rings of polygons) {
      rings.map(refsOf).forEach((refs, i) => {
        if (refs.length < 4 || refs[0] !== refs[refs.length - 1]) return;
        members.push({type: 'way', ref: addWay(refs, null), role: i === 0 ? 'outer' : 'inner'});
      });
    }
    if (members.length > 0) relations.push([members, Object.assign({type: 'multipolygon'}, tags)]);
  };
  // The lines of a LineString or MultiLineString, as vertex references.
  const linesOf = (g) => (g.type === 'LineString' ? [g.coordinates] : g.type === 'MultiLineString' ? g.coordinates : [])
    .map(refsOf).filter((refs) => refs.length >= 2);
  const add = (g, tags) => {
    switch (g.type) {
      case 'Point':
        nodes.push([g.coordinates[0].toFixed(7), g.coordinates[1].toFixed(7), tags]);
        break;
      case 'MultiPoint':
        for (const c of g.coordinates) nodes.push([c[0].toFixed(7), c[1].toFixed(7), tags]);
        break;
      case 'LineString':
      case 'MultiLineString':
        for (const refs of linesOf(g)) addWay(refs, tags);
        break;
      case 'Polygon':
        addPolygon(g.coordinates, tags);
        break;
      case 'MultiPolygon':
        addMultiPolygon(g.coordinates, tags);
        break;
    }
  };
  const writeAll = () => {
    nodes.forEach((n, i) => node(i + first, n[0], n[1], n[2]));
    ways.forEach((w, i) => way(i + first, w[0], w[1]));
    relations.forEach((r, i) => relation(i + first, r[0], r[1]));
    console.log(`${nodes.length} nodes, ${ways.length} ways, ${relations.length} relations`);
  };
  return {add, addWay, linesOf, writeAll};
}

// GeoJSON features, one a line, of each file.
function* features(files) {
  for (const file of files)
    for (const line of fs.readFileSync(file, 'utf8').split('\n'))
      if (line.trim()) yield [file, JSON.parse(line)];
}

// The tags a street-map feature of `layer` stands for (null: none drawn).
const landuseKeys = {
  leisure: ['park', 'garden', 'pitch', 'golf_course', 'sports_centre', 'recreation_ground', 'playground', 'stadium'],
  amenity: ['school', 'university', 'college', 'hospital', 'parking', 'kindergarten'],
  natural: ['wood', 'scrub', 'grassland', 'heath', 'sand', 'beach', 'wetland', 'bare_rock'],
};
const landuseByClass = {park: 'leisure=park', pitch: 'leisure=pitch', school: 'amenity=school',
  hospital: 'amenity=hospital', parking: 'amenity=parking', agriculture: 'landuse=farmland', scrub: 'natural=scrub',
  wood: 'natural=wood', grass: 'landuse=grass', cemetery: 'landuse=cemetery', industrial: 'landuse=industrial',
  sand: 'natural=sand'};
const nameTags = (p) => Object.assign(p.name ? {name: p.name} : {}, p.name_en ? {'name:en': p.name_en} : {});
function streetTags(layer, p) {
  switch (layer) {
    case 'road': {
      if (p.class === 'ferry' || p.class === 'aerialway' || !p.type) return null;
      const tags = /_rail$/.test(p.class) ? {railway: p.type} : {highway: p.type};
      if (p.structure === 'bridge' || p.structure === 'tunnel') tags[p.structure] = 'yes';
      if (p.oneway === 'true') tags.oneway = 'yes';
      return tags;
    }
    case 'landuse': {
      const key = Object.keys(landuseKeys).find((k) => landuseKeys[k].includes(p.type));
      const pair = key ? `${key}=${p.type}` : landuseByClass[p.class];
      return pair ? {[pair.split('=')[0]]: pair.split('=')[1]} : null;
    }
    case 'water': return {natural: 'water'};
    case 'waterway': return ['river', 'canal', 'stream', 'drain', 'ditch'].includes(p.type) ? {waterway: p.type} : null;
    case 'place_label': return p.name && p.type ? Object.assign(nameTags(p), {place: p.type}) : null;
    case 'building': return {building: 'yes'};
    default: return null;
  }
}

// Street-map tiles: roads first, so that the named lines of road_label take
// the class of the road segment under them and leave it out of the road.
function streets(c, files) {
  const layerOf = (file) => file.split('/').pop().split('.')[1];
  const segment = (a, b) => (a < b ? a + ' ' + b : b + ' ' + a);
  const roads = [];                // [refs, tags]
  const underSegment = new Map();  // segment -> the road tags there
  for (const [, f] of features(files.filter((f) => layerOf(f) === 'road'))) {
    const tags = f.geometry && streetTags('road', f.properties);
    if (!tags) continue;
    for (const refs of c.linesOf(f.geometry)) {
      roads.push([refs, tags]);
      for (let i = 1; i < refs.length; ++i) underSegment.set(segment(refs[i - 1], refs[i]), tags);
    }
  }
  const named = new Set();
  for (const [, f] of features(files.filter((f) => layerOf(f) === 'road_label'))) {
    if (!f.geometry || !f.properties.name) continue;
    for (const refs of c.linesOf(f.geometry)) {
      const under = refs.slice(1).map((r, i) => underSegment.get(segment(refs[i], r))).find((t) => t);
      if (!under) continue;  // a label of a ferry or of no road kept
      refs.slice(1).forEach((r, i) => named.add(segment(refs[i], r)));
      c.addWay(refs, Object.assign(nameTags(f.properties), under));
    }
  }
  // The rest of each road, in runs of segments no name covers.
  for (const [refs, tags] of roads) {
    let run = [refs[0]];
    for (let i = 1; i <= refs.length; ++i) {
      if (i === refs.length || named.has(segment(refs[i - 1], refs[i]))) {
        if (run.length >= 2) c.addWay(run, tags);
        run = [refs[i]];
      } else {
        run.push(refs[i]);
      }
    }
  }
  for (const [file, f] of features(files.filter((f) => !['road', 'road_label'].includes(layerOf(f))))) {
    const tags = f.geometry && streetTags(layerOf(file), f.properties);
    if (tags) c.add(f.geometry, tags);
  }
}

if (mode === 'mvt') {
  const c = Collector(1);
  for (const [, f] of features(inputs)) {
    const tags = {};
    for (const [k, v] of Object.entries(f.properties || {}))
      if (!k.startsWith('@') && v !== null && v !== '') tags[k] = v;
    if (Object.keys(tags).length === 0 || !f.geometry) continue;
    c.add(f.geometry, tags);
  }
  c.writeAll();
} else if (mode === 'streets') {
  const c = Collector(Number(inputs[0]));
  streets(c, inputs.slice(1));
  c.writeAll();
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
