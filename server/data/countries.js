// Spanish country names by ISO 3166-1 alpha-2 code, from the iso-codes
// package's list and its Spanish gettext catalogue.
// usage: node countries.js iso_3166-1.json iso_3166-1.mo countries.tsv
'use strict';
const fs = require('fs');
const [listFile, catalogue, out] = process.argv.slice(2);
const mo = fs.readFileSync(catalogue);
const le = mo.readUInt32LE(0) === 0x950412de;
const u32 = at => (le ? mo.readUInt32LE(at) : mo.readUInt32BE(at));
const count = u32(8), originals = u32(12), translations = u32(16);
const spanish = new Map();
for (let i = 0; i < count; ++i) {
  const text = (table) => mo.toString('utf8', u32(table + 8 * i + 4), u32(table + 8 * i + 4) + u32(table + 8 * i));
  spanish.set(text(originals), text(translations));
}
const rows = JSON.parse(fs.readFileSync(listFile, 'utf8'))['3166-1'].map(c => {
  const english = c.common_name || c.name;
  return c.alpha_2 + '\t' + (spanish.get(english) || spanish.get(c.name) || english);
});
rows.push('XK\tKosovo');  // GeoNames' code, not an ISO one
fs.writeFileSync(out, rows.join('\n') + '\n');
