#!/bin/bash
# orlim-fleet at fleet scale: two collections of COUNT labels (default a
# million) made of real tokens and decoded by orlim-decode --json, this
# one with PERCENT percent (default 1) of the machines under each kind of
# change (cards replaced, UUIDs byte-reversed or changed, machines
# replaced, cloned, copied with a new card, renamed, added, removed,
# failed, listed twice; see tests/fleet/make_fleet.cpp). Reports wall time
# and peak memory of `orlim-fleet --json --previous`, run by run beside a
# jq program that does only the same/changed join on the same files, and
# the bytes of peak memory per label.
# usage: bench/fleet-compare.sh BUILD_DIR [COUNT [PERCENT [RUNS]]]   (bench preset; needs jq)
set -euo pipefail
build=$(realpath "$1")
count=${2:-1000000}
percent=${3:-1}
runs=${4:-3}
fleet=$build/src/fleet/orlim-fleet
decode=$build/src/decode/orlim-decode
jq=$(command -v jq)
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

"$build/bench/make_fleet" "$count" "$percent" 1 "$tmp"
"$decode" --json <"$tmp/old.tokens" >"$tmp/old.jsonl"
"$decode" --json <"$tmp/now.tokens" >"$tmp/now.jsonl" 2>/dev/null || true  # the failed ones
rm "$tmp"/*.tokens
echo "old: $(wc -l <"$tmp/old.jsonl") records, $(du -m "$tmp/old.jsonl" | cut -f1) MB;" \
     "now: $(wc -l <"$tmp/now.jsonl") records, $(du -m "$tmp/now.jsonl" | cut -f1) MB"

# The join in jq: both files slurped, records paired by label with group_by
# (jq's sort, in C; a reduce into an object, the obvious form, takes time
# quadratic in the labels with jq 1.6 and would not finish), and the pairs
# counted as the same machine or not. Labels listed twice form no pair, so
# its "same" falls short of orlim-fleet's by those.
join='[($old[], $now[]) | {l: .label, m: .machine}] | group_by(.l) | map(select(length == 2))
      | {same: (map(select(.[0].m == .[1].m)) | length), changed: (map(select(.[0].m != .[1].m)) | length)}'
jq_counts=$("$jq" -c -n --slurpfile old "$tmp/old.jsonl" --slurpfile now "$tmp/now.jsonl" "$join")
summary=$("$fleet" --json --previous "$tmp/old.jsonl" "$tmp/now.jsonl" | tail -n 1 || true)
echo "orlim-fleet: $summary"
echo "jq join:     $jq_counts"

echo
echo "== $runs runs pair by pair (first: orlim-fleet --json --previous, second: the jq join), output to /dev/null"
result=$("$build/bench/process_cost" "$runs" "$fleet" --json --previous "$tmp/old.jsonl" "$tmp/now.jsonl" \
         -- "$jq" -n --slurpfile old "$tmp/old.jsonl" --slurpfile now "$tmp/now.jsonl" "$join")
echo "$result"
rss=$(sed -n 's/^first .*peak RSS \([0-9]*\) KiB$/\1/p' <<<"$result")
labels=$("$jq" .summary.labels <<<"$summary")
echo "orlim-fleet peak memory per label: $((rss * 1024 / labels)) bytes ($labels labels in either collection)"
