#!/bin/bash
# The registry of collections at fleet scale: four collections of COUNT
# labels (default a million) made of real tokens (two generated fleets,
# each collected twice with PERCENT percent of its machines under each kind
# of change; see tests/fleet/make_fleet.cpp) and decoded by orlim-decode
# --json, recorded one after another into one registry. Reports the wall
# and processor time (user + system) of each `record` (the fourth into a
# registry holding three), of `history LABEL` on the full registry (the
# mean of RUNS runs, the whole process, beside `orlim-fleet --version`, a
# process that does nothing), of `collections`, of `export` and of
# `report --html` (with the page's size and its time to open in headless
# Chromium, where there is one), and the registry's size against the JSON
# Lines it holds. On a busy machine the
# processor times are the figures to compare.
# usage: bench/fleet-registry.sh BUILD_DIR [COUNT [PERCENT [RUNS]]]
#   BUILD_DIR: the bench preset's (bench/make_fleet) or any build with the
#   tests (tests/fleet/test_make_fleet); a Release build gives the figures.
set -euo pipefail
build=$(realpath "$1")
count=${2:-1000000}
percent=${3:-1}
runs=${4:-100}
fleet=$build/src/fleet/orlim-fleet
decode=$build/src/decode/orlim-decode
make_fleet=$build/bench/make_fleet
[ -x "$make_fleet" ] || make_fleet=$build/tests/fleet/test_make_fleet
tmp=$(mktemp -d "${TMPDIR:-/var/tmp}/fleet-registry.XXXXXX"); trap 'rm -rf "$tmp"' EXIT

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc -l | xargs printf '%.3f'; }
timed() {  # timed WHAT COMMAND...: its wall and processor time (output dropped); status 0 or 1
  local status=0
  /usr/bin/time -f "$1: %e s wall, %U s user + %S s system, peak %M KiB" -o "$tmp/time" "${@:2}" >/dev/null || status=$?
  grep -v "^Command exited" "$tmp/time"
  [ "$status" -le 1 ] || { echo "$1 failed ($status)"; exit 1; }
}
# The mean of RUNS runs of a command, wall and processor time, in ms.
mean() {  # mean WHAT COMMAND...
  /usr/bin/time -f "%e %U %S" -o "$tmp/time" bash -c 'for ((i = 0; i < $0; ++i)); do "$@" >/dev/null; done' "$runs" "${@:2}"
  read -r wall user system <"$tmp/time"
  echo "$1: $(echo "$wall * 1000 / $runs" | bc -l | xargs printf '%.2f') ms wall," \
       "$(echo "($user + $system) * 1000 / $runs" | bc -l | xargs printf '%.2f') ms processor a run ($runs runs)"
}

for seed in 1 2; do
  mkdir "$tmp/$seed"
  "$make_fleet" "$count" "$percent" "$seed" "$tmp/$seed"
  for which in old now; do
    # The failed tokens make the decoder exit 1; their error records are input too.
    "$decode" --json <"$tmp/$seed/$which.tokens" >"$tmp/$seed-$which.jsonl" 2>/dev/null || true
  done
  rm -r "${tmp:?}/$seed"
done
collections=("$tmp/1-old.jsonl" "$tmp/1-now.jsonl" "$tmp/2-old.jsonl" "$tmp/2-now.jsonl")
jsonl_bytes=0
for f in "${collections[@]}"; do jsonl_bytes=$((jsonl_bytes + $(stat -c %s "$f"))); done
echo "collections: $(wc -l <"${collections[0]}") records each, $((jsonl_bytes / 1048576)) MB of JSON Lines in all"

registry=$tmp/fleet.registry
year=2023
for f in "${collections[@]}"; do
  year=$((year + 1))
  timed "record $year" "$fleet" --registry "$registry" record --name "$year" --json "$f"
done

label=$(jq -r 'select(.label) | .label' "${collections[3]}" | sed -n "$((count / 2))p")
mean "history $label" "$fleet" --registry "$registry" history "$label"
mean "orlim-fleet --version (a process alone)" "$fleet" --version
start=$(now); "$fleet" --registry "$registry" collections >/dev/null; end=$(now)
echo "collections: $(elapsed "$start" "$end") s"
start=$(now); "$fleet" --registry "$registry" export 2025 >"$tmp/export.jsonl"; end=$(now)
echo "export 2025: $(elapsed "$start" "$end") s; same bytes as recorded: $(cmp -s "$tmp/export.jsonl" "${collections[1]}" && echo yes || echo NO)"

# The fleet page: how long report takes, how big the page is, and how long
# headless Chromium takes from navigation to the load event (the best of
# three, in a browser already running), beside an empty page.
timed "report --html" "$fleet" --registry "$registry" report --html "$tmp/page.html"
echo "page: $(($(stat -c %s "$tmp/page.html") / 1024)) KiB"
if command -v chromium >/dev/null; then
  browser_test=$(dirname "$(realpath "$0")")/../tests/fleet/html_browser_test.py
  echo "page in headless Chromium: $(python3 "$browser_test" --open-time "$tmp/page.html")"
  : >"$tmp/empty.html"
  echo "an empty page: $(python3 "$browser_test" --open-time "$tmp/empty.html")"
fi

registry_bytes=$(stat -c %s "$registry")
wal_bytes=$(stat -c %s "$registry-wal" 2>/dev/null || echo 0)
echo "registry: $((registry_bytes / 1048576)) MB (+ $((wal_bytes / 1048576)) MB WAL) for $((jsonl_bytes / 1048576)) MB of JSON Lines:" \
     "$(echo "$registry_bytes / $jsonl_bytes" | bc -l | xargs printf '%.2f') times"
