#!/bin/bash
# Makes the fleet page from a registry the real tools filled, for the
# browser test, and prints the figures the page must show as the registry's
# own JSON gives them (collections --json, report --json).
# Two collections of a generated fleet of real tokens, decoded by the real
# decoder; NOW adds labels that try to be markup (each a clone of another
# machine, so that it needs a look) and its name does too.
# usage: html_registry_page.sh ORLIM_FLEET ORLIM_DECODE MAKE_FLEET OUT.html
set -euo pipefail
fleet=$(realpath "$1") decode=$(realpath "$2") make_fleet=$(realpath "$3") out=$(realpath -m "$4")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"  # the page names the registry as given: fleet.sqlite
"$make_fleet" 200 3 7 "$tmp" >/dev/null
token=$(awk 'NR == 1 { print $2 }' "$tmp/now.tokens")
{
  cat "$tmp/now.tokens"
  echo "<img/src=x/onerror=document.title='pwned'> $token"
  echo "</script><script>document.title='pwned'</script> $token"
} >"$tmp/now-hostile.tokens"
"$decode" --json <"$tmp/old.tokens" >"$tmp/old.jsonl" 2>/dev/null || true
"$decode" --json <"$tmp/now-hostile.tokens" >"$tmp/now.jsonl" 2>/dev/null || true
registry=fleet.sqlite
"$fleet" --registry "$registry" record --name 2025-renewal "$tmp/old.jsonl" >/dev/null || true
"$fleet" --registry "$registry" record --name '2026<i>renewal</i>' "$tmp/now.jsonl" >/dev/null || true
"$fleet" --registry "$registry" report --html "$out"
"$fleet" --registry "$registry" collections --json >"$tmp/collections.json"
"$fleet" --registry "$registry" report --json >"$tmp/report.json"
jq -n --arg registry "$registry" --slurpfile c "$tmp/collections.json" --slurpfile r "$tmp/report.json" '{
  registry: $registry,
  collections: [$c[] | {name: .collection} + del(.collection, .recorded, .recorded_utc, .records, .labels)],
  needs_look: ($r[] | select(.summary) | .summary.needs_look),
  listed: [$r[] | select(.summary | not) | .label]
}'
