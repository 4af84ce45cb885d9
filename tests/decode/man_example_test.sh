#!/bin/bash
# The manual page's examples hold: the token it shows decodes to exactly the
# lines it shows, and its jq pipeline reads those fields from --json.
# usage: man_example_test.sh ORLIM_DECODE PAGE
set -euo pipefail
decode=$1
page=$2
text=$(mandoc -T ascii "$page" | col -bx | sed "s/^ *//")
token=$(sed -n 's/^\$ orlim-decode \([0-9A-F]\{58\}\)$/\1/p' <<<"$text")
[ -n "$token" ] || { echo "no 'orlim-decode TOKEN' example in $page"; exit 1; }
shown=$(sed -n "/^\\\$ orlim-decode $token\$/,/^\$/p" <<<"$text" | sed '1d;/^$/d')
actual=$("$decode" "$token")
if [ "$shown" != "$actual" ]; then
  echo "the page shows:"; echo "$shown"; echo "orlim-decode prints:"; echo "$actual"; exit 1
fi
filter=$(sed -n "s/^\\\$ orlim-decode --json < tokens.txt | jq -r '\\(.*\\)'\$/\\1/p" <<<"$text")
[ -n "$filter" ] || { echo "no jq example in $page"; exit 1; }
fields=$("$decode" --json "$token" | jq -r "$filter")
expected=$(awk '/^uuid:/ {u=$2} /^legacy:/ {l=$2} /^time:/ {t=$2} END {print u "\t" l "\t" t}' <<<"$actual")
[ "$fields" = "$expected" ] || { echo "jq example gives '$fields', expected '$expected'"; exit 1; }
echo "the examples in $page hold"
