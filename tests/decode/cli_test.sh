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

# Arguments are counted among the inputs, options and their values aside,
# in messages and in the "argument" key of JSON records.
while IFS='|' read -r row args expect; do
  read -ra argv <<<"${args//GOOD/$good}"
  run "${argv[@]}"
  check "$row: status 1" test "$status" = 1
  check "$row: message" grep -qx "orlim-decode: argument $expect: character 1 is not a hex digit" <<<"$err"
  check "$row: record" test "$(jq -c 'select(.error) | .argument' <<<"$out")" = "$expect"
done <<'ROWS'
after an option|--json XYZ GOOD|1
after an option and its value|--json --max-age 3 GOOD XYZ|2
after a value joined to its option|--json --max-age=3 GOOD GOOD XYZ|3
after --|--json GOOD -- XYZ|2
options after|GOOD XYZ --json|2
ROWS
run --json "$good" - "$good" < <(printf '%s\n\n%s\n' "$good" "$good")
check "json origins: argument, lines of -, argument" \
  test "$(jq -c '[.argument, .line]' <<<"$out" | paste -sd' ')" = "[1,null] [null,1] [null,3] [3,null]"

"${decode[@]}" "$good" >/dev/full 2>"$tmp/err"; status=$?
check "lost output: status 1" test "$status" = 1
check "lost output: message" grep -q "^orlim-decode: write error" "$tmp/err"

run --help
check "help: status 0" test "$status" = 0
check "help: usage" grep -q "^Usage: orlim-decode" <<<"$out"
run --version
check "version: status 0" test "$status" = 0
run -h
check "-h: status 0" test "$status" = 0
check "-h: usage" grep -q "^Usage: orlim-decode" <<<"$out"
check "prefix of --help" bash -c '"$0" "$@" --he | grep -q "^Usage: orlim-decode"' "${decode[@]}"

# One line saying what is wrong and one pointing at --help, nothing else.
for bad in --bogus -x "--max-age" "--max-age=soon" "--json=yes"; do
  run "$good" "$bad"
  check "usage error $bad: status 2" test "$status" = 2
  check "usage error $bad: no output" test -z "$out"
  check "usage error $bad: two lines" test "$(wc -l <<<"$err")" = 2
  check "usage error $bad: try --help" grep -qx "Try 'orlim-decode --help' for more information." <<<"$err"
done
run --bogus
check "unknown long option named" grep -qx "orlim-decode: unknown option '--bogus'" <<<"$err"
run -x
check "unknown short option named" grep -qx "orlim-decode: unknown option '-x'" <<<"$err"

# --opt=value, prefixes, options after inputs, "--", and "-" for standard
# input in its place among the arguments.
run --js --max-age=100000 "web-01 $good" -- - "$good" < <(printf 'db-02 %s\n' "$good")
check "mixed: status 0" test "$status" = 0
check "mixed: records in argument order" test "$(jq -r '.label // "-"' <<<"$out" | paste -sd,)" = "web-01,db-02,-"
run "$good" --max-age 0
check "max-age 0: an old token fails" test "$status" = 1
check "max-age 0: message" grep -q "^orlim-decode: argument 1: older than 0 days (made 2026-12-10T00:10:30Z)$" <<<"$err"

# --json: a record for every line but the blank ones, carrying its line number.
run --json < <(printf '%s\nh1 XYZ\n\n\t\nh2 %s\n%s\n' "$good" "${good:3}" "$good")
check "json stream: status 1" test "$status" = 1
check "json stream: one record per line" test "$(wc -l <<<"$out")" = 4
check "json stream: records in order" test "$(jq -r 'if .error then "E:" + (.label // "") else "OK" end' <<<"$out" | paste -sd,)" = "OK,E:h1,E:h2,OK"
check "json stream: line numbers" test "$(jq -r .line <<<"$out" | paste -sd,)" = "1,2,5,6"

# Hosts that gave no token, as the collector lists them: an error record of
# their kind carrying the reason, escaped; every other error is "invalid".
while IFS='|' read -r row line kind message shown; do
  run --json < <(printf '%b\n' "$line")
  check "$row: status 1" test "$status" = 1
  check "$row: kind" test "$(jq -r .kind <<<"$out")" = "$kind"
  check "$row: label" test "$(jq -r .label <<<"$out")" = db1
  check "$row: error" test "$(jq -r .error <<<"$out")" = "$(printf '%b' "$message")"
  run < <(printf '%b\n' "$line")
  check "$row: text message" grep -qxF "orlim-decode: line 1 (db1): ${shown:-$message}" <<<"$err"
done <<'ROWS'
unreachable|db1 !unreachable ssh: connect to host db1: Connection refused|unreachable|host unreachable: ssh: connect to host db1: Connection refused
no token|db1   !no-token  orlim: not found |no-token|host gave no token: orlim: not found
no reason|db1 !no-token|no-token|host gave no token
hostile reason|db1 !unreachable \033[2J\xe2\x80\xae|unreachable|host unreachable: \033[2J\xe2\x80\xae|host unreachable: \x1b[2J\u202e
not a token|db1 !other|invalid|character 5 is not a hex digit
ROWS

# A read error is not the end of the input.
run < /
check "stdin a directory: status 1" test "$status" = 1
check "stdin a directory: message" grep -qx "orlim-decode: read error: Is a directory" <<<"$err"
# Directly, not through $(...): there the closed descriptor would be
# taken by the capturing pipe.
"${decode[@]}" >"$tmp/out" 2>"$tmp/err" <&-; status=$?; err=$(cat "$tmp/err")
check "stdin closed: status 1" test "$status" = 1
check "stdin closed: message" grep -qx "orlim-decode: read error: Bad file descriptor" <<<"$err"

[ "$failures" = 0 ] && echo "orlim-decode command line: all checks passed"
exit $((failures != 0))
