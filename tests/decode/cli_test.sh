#!/bin/bash
# orlim-decode as a command: arguments and standard input, messages that
# name the bad token while the others still decode, exit statuses, JSON.
# usage: cli_test.sh ORLIM_DECODE GOOD_TOKEN
# A cross build's decoder runs under the emulator named in ORLIM_TEST_EMULATOR
# (words separated by spaces).
set -uo pipefail
read -ra emulator <<<"${ORLIM_TEST_EMULATOR:-}"
decode=("${emulator[@]}" "$1")
good=$2
failures=0
check() {  # check NAME CONDITION...
  local name=$1; shift
  if ! "$@"; then echo "FAIL: $name"; failures=$((failures + 1)); fi
}
run() {  # run ARGS... (stdin passed through); sets out, err, status
  out=$("${decode[@]}" "$@" 2>"$tmp/err"); status=$?; err=$(cat "$tmp/err")
}
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

run "$good" "XYZ" "${good:1}"
check "args: status 1 when one failed" test "$status" = 1
check "args: good token decoded" grep -q "^version: 1$" <<<"$out"
check "args: bad hex named" grep -qx "orlim-decode: argument 2: character 1 is not a hex digit" <<<"$err"
check "args: short token named" grep -qx "orlim-decode: argument 3: not 58 hex digits (57)" <<<"$err"

run < <(printf '%s\n\n  %s  \nnot-a-token\n' "$good" "${good,,}")
check "stdin: status 1" test "$status" = 1
check "stdin: both good lines decoded" test "$(grep -c '^version: 1$' <<<"$out")" = 2
check "stdin: line number of bad token" grep -qx "orlim-decode: line 4: character 1 is not a hex digit" <<<"$err"

run --json "$good" "$good"
check "json: status 0" test "$status" = 0
check "json: parses" python3 -c '
import json, sys
lines = sys.stdin.read().splitlines()
assert len(lines) == 2, lines
for line in lines:
    o = json.loads(line)
    assert o["version"] == 1 and len(o["uuid"]) == 36 and len(o["legacy"]) == 8, o
' <<<"$out"

run --json XYZ "$good"
check "args: named by command-line position" grep -qx "orlim-decode: argument 2: character 1 is not a hex digit" <<<"$err"

"${decode[@]}" "$good" >/dev/full 2>"$tmp/err"; status=$?
check "lost output: status 1" test "$status" = 1
check "lost output: message" grep -q "^orlim-decode: write error" "$tmp/err"

run --help
check "help: status 0" test "$status" = 0
check "help: usage" grep -q "^Usage: orlim-decode" <<<"$out"
run --version
check "version: status 0" test "$status" = 0
run --bogus "$good"
check "unknown option: status 2" test "$status" = 2
check "unknown option: message" grep -q "unknown option '--bogus'" <<<"$err"

[ "$failures" = 0 ] && echo "orlim-decode command line: all checks passed"
exit $((failures != 0))
