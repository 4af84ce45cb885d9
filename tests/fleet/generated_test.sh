#!/bin/bash
# A realistic run: a generated fleet of a few thousand real tokens, decoded
# by the real orlim-decode, with known changes between two collections
# (cards replaced, UUIDs byte-reversed, clones, hosts renamed, added,
# removed, failed, unreachable, listed twice). orlim-fleet's verdict,
# warnings and move for every label must be exactly the generator's, in
# JSON and in text.
# usage: generated_test.sh ORLIM_FLEET ORLIM_DECODE MAKE_FLEET
set -euo pipefail
read -ra emulator <<<"${ORLIM_TEST_EMULATOR:-}"
fleet=("${emulator[@]}" "$1")
decode=("${emulator[@]}" "$2")
make_fleet=("${emulator[@]}" "$3")
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

"${make_fleet[@]}" 3000 1 21 "$tmp"
"${decode[@]}" --json <"$tmp/old.tokens" >"$tmp/old.jsonl"
# The failed tokens and unreachable hosts make the decoder exit 1; their
# error records are input too.
"${decode[@]}" --json <"$tmp/now.tokens" >"$tmp/now.jsonl" 2>/dev/null || true

status=0
"${fleet[@]}" --json --previous "$tmp/old.jsonl" "$tmp/now.jsonl" >"$tmp/out.json" || status=$?
test "$status" = 1 || { echo "FAIL: exit status $status, not 1"; exit 1; }
"${fleet[@]}" --previous "$tmp/old.jsonl" "$tmp/now.jsonl" >"$tmp/out.txt" || true

python3 - "$tmp/expected" "$tmp/out.json" "$tmp/out.txt" <<'PY'
import collections, json, sys
expected = {}
for line in open(sys.argv[1]):
    label, status, warnings, move = line.split()
    expected[label] = (status, [] if warnings == "-" else warnings.split(","), move)
objects = [json.loads(l) for l in open(sys.argv[2])]
summary = objects.pop()["summary"]
def move(o):
    if "moved_from" in o:
        return "<" + o["moved_from"]
    return ">" + o["moved_to"] if "moved_to" in o else "-"
got = {o["label"]: (o["status"], o["warnings"], move(o)) for o in objects}
failures = []
if len(got) != len(objects):
    failures.append("a label reported twice")
for label in sorted(set(expected) | set(got)):
    if expected.get(label) != got.get(label):
        failures.append(f"{label}: expected {expected.get(label)}, got {got.get(label)}")
counts = collections.Counter(s for s, _, _ in expected.values())
for status in ["same", "new", "gone", "card-changed", "uuid-changed", "uuid-byte-order",
               "replaced", "failed", "unreachable"]:
    if summary[status] != counts[status]:
        failures.append(f"summary {status}: {summary[status]}, expected {counts[status]}")
if summary["labels"] != len(expected) or summary["bad_lines"] != 0 or not summary["needs_look"]:
    failures.append(f"summary: {summary}")
# The text table: one row per label, its status first.
rows = collections.Counter()
for line in open(sys.argv[3]):
    words = line.split()
    if len(words) >= 2 and words[0] in counts and words[1] in expected:
        rows[words[1]] += 1
        if expected[words[1]][0] != words[0]:
            failures.append(f"text: {words[1]} is {words[0]}")
if set(rows) != set(expected) or any(n != 1 for n in rows.values()):
    failures.append("text: not one row per label")
for f in failures[:20]:
    print("FAIL:", f)
print(f"{len(expected)} labels, {len(failures)} failures; {dict(counts)}")
sys.exit(1 if failures else 0)
PY
