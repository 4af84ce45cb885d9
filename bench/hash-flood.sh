#!/bin/bash
# orlim-fleet on collections crafted to flood a hash table: COUNT labels
# (default 40,000) that all hash alike under the unkeyed multiply-and-shift
# hash orlim-fleet once used, twice COUNT UUIDs alike under it, and as many
# random ones of each; see make_hash_flood.cpp. With the tables keyed per
# run the crafted rows cost what the random ones do; under the old hash the
# crafted ones took time quadratic in their number.
# usage: bench/hash-flood.sh BUILD_DIR [COUNT]   (bench preset)
set -euo pipefail
build=$(realpath "$1")
count=${2:-40000}
fleet=$build/src/fleet/orlim-fleet
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

"$build/bench/make_hash_flood" labels "$count" >"$tmp/labels.jsonl"
"$build/bench/make_hash_flood" random "$count" >"$tmp/random-labels.jsonl"
"$build/bench/make_hash_flood" uuids $((2 * count)) >"$tmp/uuids.jsonl"
"$build/bench/make_hash_flood" random $((2 * count)) >"$tmp/random-uuids.jsonl"
for row in labels random-labels uuids random-uuids; do
  start=$(date +%s.%N)
  "$fleet" --json "$tmp/$row.jsonl" >/dev/null || true
  end=$(date +%s.%N)
  printf '%-14s %7d records  %6.2f s\n' "$row" "$(wc -l <"$tmp/$row.jsonl")" "$(echo "$end - $start" | bc)"
done
