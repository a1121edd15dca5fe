#!/bin/sh
# osm-versions.sh DIR EXTRACT
# Later versions of the Montevideo EXTRACT for the street update tests
# (tests/streets/osm-versions.js says what changes), as an operator gets
# them: DIR/1.osc.gz and DIR/2.osc.gz, the changes from each version to the
# next (osmium derive-changes), and DIR/replication/, a replication source
# whose sequence 1 and 2 are those changes (state.txt, 000/000/00N.osc.gz
# and .state.txt), for osm2pgsql-replication to read over HTTP.
set -e
dir=${1:?usage: osm-versions.sh DIR EXTRACT}
extract=${2:?usage: osm-versions.sh DIR EXTRACT}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$dir/replication/000/000"
osmium cat -O -f opl -o "$dir/v1.opl" "$extract"
node "$here/../tests/streets/osm-versions.js" "$dir/v1.opl" "$dir/v2.opl" "$dir/v3.opl"
for v in 1 2 3; do osmium cat -O -o "$dir/v$v.osm.pbf" "$dir/v$v.opl"; rm "$dir/v$v.opl"; done
osmium derive-changes -O -o "$dir/1.osc.gz" "$dir/v1.osm.pbf" "$dir/v2.osm.pbf"
osmium derive-changes -O -o "$dir/2.osc.gz" "$dir/v2.osm.pbf" "$dir/v3.osm.pbf"
state() { printf '#plivors test source\nsequenceNumber=%s\ntimestamp=2017-12-0%sT00\\:00\\:00Z\n' "$1" "$(($1 + 1))"; }
for n in 1 2; do
  cp "$dir/$n.osc.gz" "$dir/replication/000/000/00$n.osc.gz"
  state $n >"$dir/replication/000/000/00$n.state.txt"
done
state 2 >"$dir/replication/state.txt"
chmod -R a+rX "$dir"
