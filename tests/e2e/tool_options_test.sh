#!/bin/bash
# -h, --help and --version answered alike by orlim-inspect, orlim-decode and
# orlim-fleet: usage or version on standard output and status 0; anything
# else they do not take is two lines on standard error and status 2.
# usage: tool_options_test.sh ORLIM_INSPECT ORLIM_DECODE ORLIM_FLEET
# A cross build's binaries run under the emulator named in ORLIM_TEST_EMULATOR.
set -uo pipefail
source "$(dirname "$0")/../support/check.bash"
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

for binary in "$@"; do
  name=$(basename "$binary")
  tool=("${emulator[@]}" "$binary")
  while IFS='|' read -r args want first; do
    read -ra argv <<<"$args"
    run "${argv[@]}" </dev/null
    check_eq "$name $args: status" "$want" "$status"
    if [ "$want" = 0 ]; then
      check "$name $args: output" grep -q "^${first//NAME/$name}" <<<"$out"
      check_eq "$name $args: nothing on standard error" "" "$err"
    else
      check_eq "$name $args: nothing on standard output" "" "$out"
      check_eq "$name $args: usage error" \
        "${first//NAME/$name}"$'\n'"Try '$name --help' for more information." "$err"
    fi
  done <<'ROWS'
-h|0|Usage: NAME
--help|0|Usage: NAME
--he|0|Usage: NAME
--version|0|NAME [0-9]*\.[0-9]*\.[0-9]*$
--json --version|0|NAME [0-9]
-q|2|NAME: unknown option '-q'
--frobnicate|2|NAME: unknown option '--frobnicate'
--help=yes|2|NAME: option '--help=yes' takes no value
ROWS
  # What was given, shown escaped: an ESC or a right-to-left override
  # (U+202E) in an argument never reaches the terminal raw. A row for one
  # tool names it, * is every tool; the arguments are printf %b forms, the
  # message as it should read.
  while IFS='|' read -r only args message; do
    [ "$only" = '*' ] || [ "$only" = "$name" ] || continue
    read -ra words <<<"$args"
    argv=()
    for word in "${words[@]}"; do argv+=("$(printf '%b' "$word")"); done
    run "${argv[@]}" </dev/null
    check_eq "$name $args: status" 2 "$status"
    check_eq "$name $args: escaped" "$name: $message"$'\n'"Try '$name --help' for more information." "$err"
    check "$name $args: nothing raw" test "$(grep -c $'\e\\|\xe2\x80\xae' <<<"$err")" = 0
  done <<'ROWS'
*|--x\e[31m\xe2\x80\xaey|unknown option '--x\x1b[31m\u202ey'
*|--help=\e]0;t\a\xe2\x80\xae|option '--help=\x1b]0;t\x07\u202e' takes no value
orlim-inspect|-- a\e[2J\xe2\x80\xae|unexpected argument 'a\x1b[2J\u202e'
orlim-decode|--max-age=\e[2J\xe2\x80\xae|--max-age takes a whole number of days, not '\x1b[2J\u202e'
orlim-fleet|a b\e[2J\xe2\x80\xae|one collection to compare, not also 'b\x1b[2J\u202e'
ROWS
done
finish "-h, --help and --version"
