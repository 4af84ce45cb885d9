#!/bin/bash
# orlim-fleet as a command: where it reads, usage errors, files that can't
# be opened, and the exit statuses a nightly job alerts on.
# usage: cli_test.sh ORLIM_FLEET
# A cross build's binary runs under the emulator named in ORLIM_TEST_EMULATOR.
set -uo pipefail
source "$(dirname "$0")/../support/check.bash"
fleet=("${emulator[@]}" "$1")
tool=("${fleet[@]}")
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

record() {  # record LABEL LEGACY [UUID_END] (the UUID ends with the legacy characters unless given)
  local uuid=00112233-4455-6677-8899-aabb${3:-$2}
  printf '{"label": "%s", "token": "%s", "version": 1, "time": 1796861430, "time_utc": "2026-12-10T00:10:30Z", "uuid": "%s", "legacy": "%s", "machine": "%s/%s", "warnings": []}\n' \
    "$1" 828351548306B6F3931109457B2CC953FF9FBEE0C4776C332A26651B2A "$uuid" "$2" "$uuid" "$2"
}
{ record web-01 12153A58; record web-02 0A1B2C3D; } >"$tmp/old.jsonl"
{ record web-01 12153A58; record web-03 0A1B2C3E; } >"$tmp/now.jsonl"
record web-01 FFFFFFFF 12153A58 >"$tmp/changed.jsonl"

run --previous "$tmp/old.jsonl" "$tmp/now.jsonl"
check "file: status 0 for same, new, gone" test "$status" = 0
check "file: count line" grep -qx "3 labels: 1 same, 1 new, 1 gone" <<<"$out"

run --json --previous "$tmp/old.jsonl" - <"$tmp/now.jsonl"
check "stdin as '-': status 0" test "$status" = 0
check "stdin as '-': summary" grep -q '^{"summary": {"labels": 3, "same": 1, "new": 1, "gone": 1,' <<<"$out"

run --previous "$tmp/old.jsonl" <"$tmp/changed.jsonl"
check "stdin by default: status 1 for a change" test "$status" = 1
check "stdin by default: card-changed block" grep -qx "card-changed  *web-01" <<<"$out"
run --wide --previous "$tmp/old.jsonl" <"$tmp/changed.jsonl"
check "--wide: card-changed row" grep -q "^card-changed  *web-01  *00112233-" <<<"$out"
check "--wide: header" grep -q "^STATUS  *LABEL  *MACHINE  *TIME  *PREVIOUS MACHINE  *PREVIOUS TIME$" <<<"$out"

# Several collections, oldest first: web-02, missing from the latest, is
# compared with its identity from the one before when it comes back.
{ record web-01 12153A58; } >"$tmp/latest.jsonl"
record web-02 0A1B2C3F 0A1B2C3D >"$tmp/back.jsonl"
run --json --previous "$tmp/old.jsonl" --previous "$tmp/latest.jsonl" "$tmp/back.jsonl"
check "several --previous: status 1" test "$status" = 1
check "several --previous: card-changed against the older one" \
  grep -q '"label": "web-02", "status": "card-changed", .*"previous_collection": "'"$tmp"'/old.jsonl"' <<<"$out"
check "several --previous: web-01 gone" grep -q '"label": "web-01", "status": "gone"' <<<"$out"
run --previous "$tmp/old.jsonl" --previous - - <"$tmp/now.jsonl"
check "stdin twice among several: usage error" test "$status" = 2
run --previous "$tmp/old.jsonl" --previous "$tmp/missing.jsonl" "$tmp/now.jsonl"
check "several --previous, one missing: status 2" test "$status" = 2
check "several --previous, one missing: named" \
  grep -qx "orlim-fleet: $tmp/missing.jsonl: No such file or directory" <<<"$err"

# An empty collection is said, not taken for every label gone; through a
# file or standard input.
: >"$tmp/empty.jsonl"
run --previous "$tmp/old.jsonl" "$tmp/empty.jsonl"
check "empty file: status 1" test "$status" = 1
check "empty file: said" grep -qx "orlim-fleet: $tmp/empty.jsonl: no records, where the previous collections have some: nothing compared" <<<"$err"
run --previous "$tmp/old.jsonl" </dev/null
check "empty stdin: status 1" test "$status" = 1
check "empty stdin: said" grep -qx "orlim-fleet: standard input: no records, where the previous collections have some: nothing compared" <<<"$err"

run --previous - - <"$tmp/now.jsonl"
check "both on stdin: usage error" test "$status" = 2
run "$tmp/now.jsonl" "$tmp/old.jsonl"
check "two collections: usage error" test "$status" = 2
check "two collections: said" grep -q "one collection to compare" <<<"$err"
run --previous
check "--previous without value: usage error" test "$status" = 2
run --frobnicate
check "unknown option: usage error" test "$status" = 2
check "unknown option: named" grep -q "unknown option '--frobnicate'" <<<"$err"
run --json=yes
check "option given a value: usage error" test "$status" = 2
run --previous "$tmp/missing.jsonl" "$tmp/now.jsonl"
check "missing file: status 2" test "$status" = 2
check "missing file: named" grep -qx "orlim-fleet: $tmp/missing.jsonl: No such file or directory" <<<"$err"
# A named file that is no file of lines is refused before anything is
# read, as a missing one is; standard input that can't be read is a read
# error (status 1), as in orlim-decode. Names are shown escaped.
mkdir "$tmp/dir"
while IFS='|' read -r row name reason; do
  name=$(printf '%b' "${name//TMP/$tmp}")
  run --previous "$tmp/old.jsonl" "$name"
  check "$row: status 2" test "$status" = 2
  check "$row: named, escaped" grep -qxF "orlim-fleet: $tmp/$reason" <<<"$err"
done <<'ROWS'
directory|TMP/dir|dir: Is a directory
missing with an escape in its name|TMP/no\e[2J\u202e.jsonl|no\x1b[2J\u202e.jsonl: No such file or directory
ROWS
run <"$tmp/dir"
check "stdin a directory: status 1" test "$status" = 1
check "stdin a directory: said" grep -qx "orlim-fleet: standard input: read error: Is a directory" <<<"$err"

run --help
check "--help: status 0" test "$status" = 0
check "--help: exit statuses documented" grep -q "^Exit status:" <<<"$out"
run --version
check "--version" grep -qx "orlim-fleet [0-9.]*" <<<"$out"

printf 'not json\n' >>"$tmp/now.jsonl"
run --previous "$tmp/old.jsonl" "$tmp/now.jsonl"
check "bad line: status 1" test "$status" = 1
check "bad line: named by file and line" \
  grep -qx "orlim-fleet: $tmp/now.jsonl: line 3: not a JSON value" <<<"$err"
check "bad line: the rest compared" grep -q "^3 labels: 1 same, 1 new, 1 gone; 1 line not records$" <<<"$out"

if [ -w /dev/full ]; then
  "${fleet[@]}" "$tmp/now.jsonl" >/dev/full 2>"$tmp/err"; status=$?
  check "write error: status 1" test "$status" = 1
  check "write error: said" grep -q "write error" "$tmp/err"
fi

# The registry's page: its usage errors, a registry that isn't there, a page
# that can't be written (the page itself: tests/fleet/html_browser_test.py).
for row in "report|report needs --html OUT.html or --json: 'report'" \
           "collections --html $tmp/page.html|--html names the page report writes: '$tmp/page.html'" \
           "report one|one operand too many: 'one'"; do
  IFS=' ' read -ra words <<<"${row%%|*}"
  run --registry "$tmp/page.registry" "${words[@]}"
  check "report usage (${row%%|*}): status 2" test "$status" = 2
  check "report usage (${row%%|*}): said" grep -qF -e "${row#*|}" <<<"$err"
done
run --html "$tmp/page.html" "$tmp/now.jsonl"
check "--html without --registry: status 2" test "$status" = 2
run --registry "$tmp/absent.registry" report --html "$tmp/page.html"
check "report of no registry: status 2, no page" test "$status" = 2 -a ! -e "$tmp/page.html"
run --registry "$tmp/page.registry" record "$tmp/old.jsonl"
run --registry "$tmp/page.registry" report --html "$tmp/no-such-dir/page.html"
check "page not writable: status 1" test "$status" = 1
check "page not writable: said" grep -q "cannot write $tmp/no-such-dir/page.html: No such file" <<<"$err"
run --registry "$tmp/page.registry" report --html "$tmp/page.html"
check "page written: status 0" test "$status" = 0 -a -s "$tmp/page.html"

[ "$failures" = 0 ] && echo "all passed"
exit $((failures != 0))
