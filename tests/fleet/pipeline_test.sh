#!/bin/bash
# The key holder's pipeline as run: collections as a collector and an
# editor leave them, decoded by the real orlim-decode and compared by the
# real orlim-fleet. What a machine or a file supplied reaches the terminal
# escaped, and a flood of garbage costs neither memory nor a screenful.
# usage: pipeline_test.sh ORLIM_FLEET ORLIM_DECODE MAKE_TOKEN
# A cross build's binaries run under the emulator named in ORLIM_TEST_EMULATOR.
set -uo pipefail
source "$(dirname "$0")/../support/check.bash"
fleet=("${emulator[@]}" "$1")
decode=("${emulator[@]}" "$2")
make_token=("${emulator[@]}" "$3")
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

one=$("${make_token[@]}" 00112233445566778899aabbccddeeff)
other=$("${make_token[@]}" ffeeddccbbaa99887766554433221100)

# Two files joined, the second saved with a byte-order mark and CR LF line
# ends: the mark is no part of db1's label, so db1 is one machine whose
# UUID changed, not a new label and a gone one.
printf 'web %s\ndb1 %s\n' "$one" "$one" >"$tmp/old.tokens"
{ printf 'web %s\n' "$one"; printf '\357\273\277db1 %s\r\n' "$other"; } >"$tmp/now.tokens"
"${decode[@]}" --json <"$tmp/old.tokens" >"$tmp/old.jsonl"
"${decode[@]}" --json <"$tmp/now.tokens" >"$tmp/now.jsonl"
check "mark mid-input: decoded label" test "$(jq -r .label "$tmp/now.jsonl" | paste -sd,)" = web,db1
out=$("${fleet[@]}" --previous "$tmp/old.jsonl" "$tmp/now.jsonl"); status=$?
check "mark mid-input: status 1" test "$status" = 1
# The text: a block per label, the verdict and the label its first line.
check "mark mid-input: uuid-changed" grep -qx 'uuid-changed  *db1' <<<"$out"
check "mark mid-input: no new, no gone" test "$(grep -cE '^(new|gone) ' <<<"$out")" = 0

# Invisible characters in labels, in each tool's text output: spelled out,
# never passed to the terminal raw.
ends_a_line() {  # ends_a_line TEXT LINES: some line of LINES ends in TEXT
  [[ $'\n'"$2"$'\n' == *"$1"$'\n'* ]]
}
while IFS='|' read -r row bytes shown; do
  label=$(printf '%b' "web$bytes")
  printf '%s %s\n' "$label" "$one" >"$tmp/invisible.tokens"
  text=$("${decode[@]}" <"$tmp/invisible.tokens")
  check "$row: decode text" grep -qxF "label:   web$shown" <<<"$text"
  check "$row: decode text raw" test "$(grep -cF "$label" <<<"$text")" = 0
  "${decode[@]}" --json <"$tmp/invisible.tokens" >"$tmp/invisible.jsonl"
  check "$row: decode JSON keeps it" test "$(jq -r .label "$tmp/invisible.jsonl")" = "$label"
  text=$("${fleet[@]}" "$tmp/invisible.jsonl")
  check "$row: fleet text" ends_a_line " web$shown" "$text"
  check "$row: fleet text raw" test "$(grep -cF "$label" <<<"$text")" = 0
  check "$row: fleet JSON keeps it" \
    test "$("${fleet[@]}" --json "$tmp/invisible.jsonl" | jq -r 'select(.label) | .label')" = "$label"
done <<'ROWS'
zero-width space|\u200b|\u200b
zero-width joiner|\u200d|\u200d
byte-order mark inside|\ufeff|\ufeff
right-to-left override|\u202egpj|\u202egpj
bidi isolate|\u2066x\u2069|\u2066x\u2069
line separator|\u2028|\u2028
ESC|\e[2J|\x1b[2J
ROWS

# A label that reaches the text's width with an invisible character: the
# line breaks before its escape, never inside it.
label=$(printf 'web%078d\u200b' 0)
printf '%s %s\n' "$label" "$one" >"$tmp/long.tokens"
"${decode[@]}" --json <"$tmp/long.tokens" >"$tmp/long.jsonl"
text=$("${fleet[@]}" "$tmp/long.jsonl")
check "long label: the escape whole" grep -qxF '                 \u200b' <<<"$text"
check "long label: not raw" test "$(grep -cF $'\u200b' <<<"$text")" = 0

# A file name is shown escaped in every message.
name=$(printf '%s/bad\u202e\e[31m.jsonl' "$tmp")
printf 'not json\n' >"$name"
"${fleet[@]}" "$name" >/dev/null 2>"$tmp/err"
check "file name escaped" grep -qF "$tmp/bad\\u202e\\x1b[31m.jsonl: line 1" "$tmp/err"
check "file name not raw" test "$(grep -cF "$name" "$tmp/err")" = 0

# 40 MB of lines that are not records: reported up to a cap, then counted,
# in memory that does not grow with them (the peak within 16 MiB of a run
# on one line).
peak() {  # peak FILE: the run's peak resident size in KiB
  /usr/bin/time -f %M "${fleet[@]}" "$1" 2>&1 >/dev/null | tail -1
}
printf 'garbage\n' >"$tmp/small.jsonl"
python3 -c '
import sys
with open(sys.argv[1], "wb") as f:
    for _ in range(100):
        f.write((b"x" * 39 + b"\n") * 10000)
' "$tmp/flood.jsonl"
"${fleet[@]}" "$tmp/flood.jsonl" >"$tmp/flood.out" 2>"$tmp/flood.err"; status=$?
check "flood: status 1" test "$status" = 1
check "flood: messages capped" test "$(wc -l <"$tmp/flood.err")" = 101
check "flood: the rest counted" grep -qx "orlim-fleet: $tmp/flood.jsonl: 999900 more lines not records" "$tmp/flood.err"
if [ -x /usr/bin/time ]; then
  base=$(peak "$tmp/small.jsonl"); flood=$(peak "$tmp/flood.jsonl")
  check "flood: memory ($flood KiB against $base KiB)" test $((flood - base)) -lt $((16 * 1024))
fi

finish pipeline
