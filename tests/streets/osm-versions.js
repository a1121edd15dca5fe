// node osm-versions.js V1.opl V2.opl V3.opl
// Two later versions of the Montevideo extract (OPL, as osmium writes it),
// for the street update tests: version 2 renames Pedro P de la Sierra,
// deletes a large building of Punta Carretas and adds a road off the coast
// (where the map shows water before); version 3 renames Lepanto and a
// hundred streets of the east, far from the test's untouched zone.
'use strict';
const fs = require('fs');

const [v1, v2, v3] = process.argv.slice(2);
if (!v3) {
  console.error('usage: osm-versions.js V1.opl V2.opl V3.opl');
  process.exit(2);
}
const lines = fs.readFileSync(v1, 'utf8').split('\n').filter((l) => l);
const kRenamed = 16669, kDeleted = 17327, kRenamedLater = 16404;

// A way's line with its name replaced and its version raised.
function renamed(line, name) {
  return line.replace(/ v(\d+) /, (m, v) => ` v${Number(v) + 1} `).replace(/ t\S+ /, ' t2017-12-02T00:00:00Z ')
    .replace(/([ ,T])name=[^,]*( |,)/, `$1name=${name.replace(/ /g, '%20%')}$2`);
}
const id = (line) => Number(line.slice(1, line.indexOf(' ')));
const nodes = lines.filter((l) => l[0] === 'n'), ways = lines.filter((l) => l[0] === 'w');
const others = lines.filter((l) => l[0] !== 'n' && l[0] !== 'w');
let next = id(nodes[nodes.length - 1]) + 1;
const stamp = 'v1 dV c0 t2017-12-02T00:00:00Z i0 u';
const road = [[-56.1500, -34.9240], [-56.1470, -34.9240], [-56.1440, -34.9240]].map(([x, y]) => ({id: next++, x, y}));
const newNodes = road.map((n) => `n${n.id} ${stamp} T x${n.x.toFixed(7)} y${n.y.toFixed(7)}`);
const newWay = `w${id(ways[ways.length - 1]) + 1} ${stamp} Thighway=secondary,name=Rambla%20%del%20%Cambio ` +
  `N${road.map((n) => 'n' + n.id).join(',')}`;
const second = ways.filter((l) => id(l) !== kDeleted)
  .map((l) => (id(l) === kRenamed ? renamed(l, 'Calle del Cambio') : l));
fs.writeFileSync(v2, [...nodes, ...newNodes, ...second, newWay, ...others].join('\n') + '\n');

// Version 3: named streets whose nodes all lie east of 56.13 W.
const west = new Set(nodes.filter((l) => Number(/ x(\S+)/.exec(l)[1]) < -56.13).map(id));
let count = 0;
const third = second.map((l) => {
  if (id(l) === kRenamedLater) return renamed(l, 'Calle Lejana');
  const refs = / N(\S+)$/.exec(l);
  if (count >= 100 || !/(?:[ ,T])highway=/.test(l) || !/(?:[ ,T])name=/.test(l) || !refs) return l;
  if (refs[1].split(',').some((r) => west.has(Number(r.slice(1))))) return l;
  count++;
  return renamed(l, 'Calle Nueva ' + count);
});
fs.writeFileSync(v3, [...nodes, ...newNodes, ...third, newWay, ...others].join('\n') + '\n');
