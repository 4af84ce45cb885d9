#!/bin/bash
# The registry of collections as a key holder's file: a real SQLite file
# driven through the real orlim-fleet. Every row checks afterwards that the
# collections recorded before are whole (their export is byte for byte the
# JSON Lines that went in) and that SQLite finds the file sound.
#  - export gives back what went in; history and collections read it;
#  - kill -9 of a recorder at random points;
#  - two recorders at once (the second compares with the first's records);
#  - a reader while one records; a recorder that waits for a lock in vain;
#  - a registry of a newer schema (refused, untouched), an older one
#    (migrated in place), files that are not registries;
#  - a full disk and a read-only file system (a small tmpfs in a private
#    mount namespace; skipped, and said, where namespaces can't be made).
# usage: registry_test.sh ORLIM_FLEET ORLIM_DECODE MAKE_FLEET
# A cross build's binaries run under the emulator named in ORLIM_TEST_EMULATOR.
set -uo pipefail
source "$(dirname "$0")/../support/check.bash"
fleet=("${emulator[@]}" "$1")
decode=("${emulator[@]}" "$2")
make_fleet=("${emulator[@]}" "$3")
fleet_binary=$1
tool=("${fleet[@]}")  # what run runs
tmp=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT

sound() { test "$(sqlite3 "$1" 'PRAGMA integrity_check')" = ok; }
# The named collections of REGISTRY export exactly FILE... (name=file pairs).
intact() {  # intact REGISTRY NAME=FILE...
  local registry=$1 pair; shift
  sound "$registry" || return 1
  for pair in "$@"; do
    "${fleet[@]}" --registry "$registry" export "${pair%%=*}" >"$tmp/intact.jsonl" 2>/dev/null || return 1
    cmp -s "$tmp/intact.jsonl" "${pair#*=}" || return 1
  done
}
names() { "${fleet[@]}" --registry "$1" collections --json | jq -r .collection | paste -sd ' '; }

# Collections of real tokens decoded by the real decoder: a small fleet
# collected twice, and a large one for the rows that need a record to last.
"${make_fleet[@]}" 3000 1 7 "$tmp"
"${decode[@]}" --json <"$tmp/old.tokens" >"$tmp/small-old.jsonl"
# A bare token, a line that is no token, and what the collector writes for
# hosts that gave none join the failed tokens' error records.
{
  cat "$tmp/now.tokens"
  echo 828351548306B6F3931109457B2CC953FF9FBEE0C4776C332A26651B2A
  echo "db-09 not-a-token"
  echo "db-10 !unreachable ssh: connect to host db-10 port 22: Connection timed out"
  echo "db-11 !no-token orlim -u printed nothing"
} | "${decode[@]}" --json >"$tmp/small-now.jsonl" 2>/dev/null
"${make_fleet[@]}" 100000 1 8 "$tmp"
"${decode[@]}" --json <"$tmp/now.tokens" >"$tmp/large.jsonl" 2>/dev/null
rm "$tmp"/*.tokens

base=$tmp/base.registry
"${fleet[@]}" --registry "$base" record --name 2025 "$tmp/small-old.jsonl" >/dev/null
"${fleet[@]}" --registry "$base" record --name 2026 "$tmp/small-now.jsonl" >/dev/null
two=(2025="$tmp/small-old.jsonl" 2026="$tmp/small-now.jsonl")

# --- what went in comes out ------------------------------------------------------
check "export: each collection byte for byte" intact "$base" "${two[@]}"
run --registry "$base" export
check "export: the latest without a name" test "$status" = 0 -a "$out" = "$(cat "$tmp/small-now.jsonl")"
# Field by field too, so that the check outlives a writer that orders keys
# otherwise: every record's every key and value.
"${fleet[@]}" --registry "$base" export 2026 | jq -c -S . >"$tmp/export-fields"
jq -c -S . "$tmp/small-now.jsonl" >"$tmp/input-fields"
check "export: every field of every record" cmp -s "$tmp/export-fields" "$tmp/input-fields"
check "export: error records and a bare token among them" \
  test "$(jq -s '[.[] | select(.error)] | length' "$tmp/export-fields")" -ge 3 \
       -a "$(jq -s '[.[] | select(.label == null and .token)] | length' "$tmp/export-fields")" = 1
run --registry "$base" export 2031
check "export: an unknown name refused" test "$status" = 2
check "export: the unknown name said" grep -q "no collection named '2031'" <<<"$err"
plain=$("${fleet[@]}" --json --previous "$tmp/small-old.jsonl" "$tmp/small-now.jsonl")
old_labels=$(wc -l <"$tmp/small-old.jsonl")
run --registry "$base" collections --json
check "collections: both, with their labels per verdict as the plain comparison counts them" \
  test "$(jq -r '"\(.collection) \(.labels) \(.new) \(.gone) \(.failed)"' <<<"$out" | paste -sd ' ')" \
  = "2025 $old_labels $old_labels 0 0 2026 $(tail -n 1 <<<"$plain" | jq -r '.summary | "\(.labels) \(.new) \(.gone) \(.failed)"')"
label=$(jq -r 'select(.label) | .label' "$tmp/small-old.jsonl" | head -n 1)
run --registry "$base" history --json "$label"
check "history: one entry a collection, as the plain comparison said" \
  test "$(jq -r .verdict <<<"$out" | paste -sd ' ')" = "new $(jq -r --arg l "$label" 'select(.label == $l) | .status' <<<"$plain")"
run --registry "$base" history no-such-host
check "history: an unknown label, status 1" test "$status" = 1

# --- kill -9 at random points ----------------------------------------------------------
# The time a whole record takes here, then kills spread over it.
cp "$base" "$tmp/timing.registry"
start=$(date +%s%N)
"${fleet[@]}" --registry "$tmp/timing.registry" record --name timing "$tmp/large.jsonl" >/dev/null
span_ms=$((($(date +%s%N) - start) / 1000000))
killed=$tmp/killed.registry
cp "$base" "$killed"
for i in 1 2 3 4 5 6 7 8; do
  delay_ms=$((RANDOM % (span_ms + 1)))
  "${fleet[@]}" --registry "$killed" record --name "killed-$i" "$tmp/large.jsonl" >/dev/null 2>&1 &
  pid=$!; pids+=("$pid")
  sleep "$(printf '0.%03d' "$delay_ms")" 2>/dev/null || sleep "$((delay_ms / 1000))"
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  check "kill -9 after ${delay_ms} ms (of ${span_ms}): earlier collections whole, file sound" intact "$killed" "${two[@]}"
  # A record the kill came too late for is there whole, or not at all.
  if grep -qw "killed-$i" <<<"$(names "$killed")"; then
    check "kill -9 after ${delay_ms} ms: the finished record whole" intact "$killed" "killed-$i=$tmp/large.jsonl"
  fi
done
run --registry "$killed" record --name after-kills "$tmp/small-old.jsonl"
check "after the kills: records again" test "$status" -le 1

# --- two recorders at once --------------------------------------------------------------
both=$tmp/both.registry
cp "$base" "$both"
"${fleet[@]}" --registry "$both" record --json --name first "$tmp/large.jsonl" >"$tmp/first.out" 2>&1 &
first=$!; pids+=("$first")
"${fleet[@]}" --registry "$both" record --json --name second "$tmp/large.jsonl" >"$tmp/second.out" 2>&1 &
second=$!; pids+=("$second")
wait "$first"; first_status=$?
wait "$second"; second_status=$?
check "two recorders: both recorded" test "$first_status" -le 1 -a "$second_status" -le 1
# The one that took the lock second compared with the other's records: all
# its labels are known, none new.
later=$(names "$both" | awk '{print $NF}')
check "two recorders: the later one compared with the earlier's records" \
  test "$(tail -n 1 "$tmp/$later.out" | jq .summary.new)" = 0
check "two recorders: earlier collections whole" intact "$both" "${two[@]}" first="$tmp/large.jsonl" second="$tmp/large.jsonl"

# --- a reader while one records --------------------------------------------------------
reading=$tmp/reading.registry
cp "$base" "$reading"
"${fleet[@]}" --registry "$reading" record --name during "$tmp/large.jsonl" >/dev/null 2>&1 &
recorder=$!; pids+=("$recorder")
reads=0; bad_reads=0; overlapped=0
while kill -0 "$recorder" 2>/dev/null; do
  if ! out=$("${fleet[@]}" --registry "$reading" collections --json 2>&1); then
    bad_reads=$((bad_reads + 1)); echo "$out"
  else
    # The new collection is not there yet, or there whole.
    during=$(jq -r 'select(.collection == "during") | .records' <<<"$out")
    [ -z "$during" ] || [ "$during" = "$(wc -l <"$tmp/large.jsonl")" ] || bad_reads=$((bad_reads + 1))
  fi
  kill -0 "$recorder" 2>/dev/null && overlapped=$((overlapped + 1))
  reads=$((reads + 1))
done
wait "$recorder"
check "reader during a record: every read whole ($reads reads, $overlapped while recording)" \
  test "$bad_reads" = 0 -a "$overlapped" -ge 1
check "reader during a record: all whole after" intact "$reading" "${two[@]}" during="$tmp/large.jsonl"

# --- a recorder that waits in vain -------------------------------------------------------
locked=$tmp/locked.registry
cp "$base" "$locked"
{ echo 'BEGIN IMMEDIATE;'; sleep 14; echo 'COMMIT;'; } | sqlite3 "$locked" &
holder=$!; pids+=("$holder")
sleep 1
start=$(date +%s)
run --registry "$locked" record --name waited "$tmp/small-old.jsonl"
waited=$(($(date +%s) - start))
check "lock held elsewhere: refused" test "$status" = 2
check "lock held elsewhere: said" grep -q "another process is recording into it; gave up waiting after 10 s; nothing recorded" <<<"$err"
check "lock held elsewhere: waited (${waited} s)" test "$waited" -ge 9
wait "$holder"
check "lock held elsewhere: nothing recorded" test "$(names "$locked")" = "2025 2026"

# --- schemas and files that are not registries --------------------------------------------
newer=$tmp/newer.registry
cp "$base" "$newer"
sqlite3 "$newer" 'PRAGMA user_version = 99'
sum=$(md5sum <"$newer")
for command in collections "record --name x $tmp/small-old.jsonl"; do
  # shellcheck disable=SC2086
  run --registry "$newer" $command
  check "newer schema, $command: refused" test "$status" = 2
  check "newer schema, $command: said" grep -q "made by a newer orlim-fleet (registry schema 99" <<<"$err"
done
check "newer schema: untouched" test "$(md5sum <"$newer")" = "$sum"

older=$tmp/older.registry
cp "$base" "$older"
expected=$("${fleet[@]}" --registry "$base" collections --json)
sqlite3 "$older" 'DROP TABLE counts; PRAGMA user_version = 1'
run --registry "$older" collections --json
check "older schema: read after migration, counts as before" test "$status" = 0 -a "$out" = "$expected"
check "older schema: migrated in place" test "$(sqlite3 "$older" 'PRAGMA user_version')" = 2

echo "a line of text" >"$tmp/text"
sqlite3 "$tmp/other.db" 'CREATE TABLE notes(x); INSERT INTO notes VALUES (1)'
: >"$tmp/empty"
mkdir "$tmp/folder"
while IFS='|' read -r file command message; do
  sum=$({ md5sum <"$file"; } 2>/dev/null)
  # shellcheck disable=SC2086
  run --registry "$file" $command
  check "$file, $command: refused" test "$status" = 2
  check "$file, $command: said" grep -qF "$message" <<<"$err"
  check "$file, $command: untouched" test "$({ md5sum <"$file"; } 2>/dev/null)" = "$sum"
done <<EOF
$tmp/text|collections|not an orlim-fleet registry (not an SQLite database)
$tmp/text|record $tmp/small-old.jsonl|not an orlim-fleet registry (not an SQLite database)
$tmp/other.db|collections|not an orlim-fleet registry (an SQLite database of another program)
$tmp/other.db|record $tmp/small-old.jsonl|not an orlim-fleet registry (an SQLite database of another program)
$tmp/empty|collections|an empty file: nothing recorded yet
$tmp/folder|collections|not a regular file
$tmp/missing|history web-01|No such file or directory
EOF

# --- the command line -------------------------------------------------------------------
while IFS='|' read -r args message; do
  # shellcheck disable=SC2086
  run $args
  check "usage: $args: status 2" test "$status" = 2
  check "usage: $args: said" grep -qF -e "$message" <<<"$err"
done <<EOF
--registry $base|--registry needs a command
--registry $base frobnicate|unknown registry command 'frobnicate'
--registry $base history|history needs a LABEL
--registry $base collections extra|one operand too many: 'extra'
--registry $base export 2025 extra|one operand too many: 'extra'
--registry $base --previous $tmp/small-old.jsonl record $tmp/small-now.jsonl|with --registry the registry holds the past
--registry $base --name x collections|--name names what record keeps
--name x $tmp/small-now.jsonl|--name needs --registry
EOF
check "usage errors: the registry untouched" intact "$base" "${two[@]}"

# --- a full disk and a read-only file system -----------------------------------------------
# In a private mount namespace: a tmpfs with room for the two small
# collections and little more.
if unshare -m --propagation private true 2>/dev/null; then
  disk=$tmp/disk
  mkdir "$disk"
  export tmp base fleet_binary
  unshare -m --propagation private bash -c '
    mount -t tmpfs -o size=$(( $(stat -c %s "$base") / 1024 + 1024 ))k orlim-test "$0" || exit 125
    cp "$base" "$0/registry"
    read -ra emulator <<<"${ORLIM_TEST_EMULATOR:-}"
    "${emulator[@]}" "$fleet_binary" --registry "$0/registry" record --name full "$tmp/large.jsonl" >/dev/null 2>"$tmp/full.err"
    echo "$?" >"$tmp/full.status"
    cp "$0/registry" "$tmp/full.registry"
    mount -o remount,size=256m "$0"
    "${emulator[@]}" "$fleet_binary" --registry "$0/registry" record --name roomy "$tmp/small-old.jsonl" >/dev/null 2>&1
    echo "$?" >"$tmp/roomy.status"
    mount -o remount,ro "$0"
    "${emulator[@]}" "$fleet_binary" --registry "$0/registry" record --name ro "$tmp/small-old.jsonl" >/dev/null 2>"$tmp/ro.err"
    echo "$?" >"$tmp/ro.status"
    "${emulator[@]}" "$fleet_binary" --registry "$0/registry" collections --json >"$tmp/ro.collections" 2>&1
    echo "$?" >"$tmp/ro-read.status"
    "${emulator[@]}" "$fleet_binary" --registry "$0/registry" export 2026 >"$tmp/ro.export" 2>&1
  ' "$disk"
  check "full disk: refused" test "$(cat "$tmp/full.status")" = 2
  check "full disk: said" grep -q "the disk is full; nothing recorded" "$tmp/full.err"
  check "full disk: earlier collections whole, nothing else" intact "$tmp/full.registry" "${two[@]}"
  check "full disk: nothing else" test "$(names "$tmp/full.registry")" = "2025 2026"
  check "full disk, then room: records" test "$(cat "$tmp/roomy.status")" -le 1
  check "read-only file system: record refused" test "$(cat "$tmp/ro.status")" = 2
  check "read-only file system: said" grep -q "Read-only file system; nothing recorded" "$tmp/ro.err"
  check "read-only file system: still read" test "$(cat "$tmp/ro-read.status")" = 0 \
    -a "$(jq -r .collection "$tmp/ro.collections" | paste -sd ' ')" = "2025 2026 roomy"
  check "read-only file system: exports" cmp -s "$tmp/ro.export" "$tmp/small-now.jsonl"
else
  echo "SKIP: full disk and read-only rows: no private mount namespace here (needs root)"
fi

[ "$failures" = 0 ] || echo "$failures check(s) failed"
finish registry
