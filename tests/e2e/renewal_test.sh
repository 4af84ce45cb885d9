#!/bin/bash
# The key holder's yearly renewal over three years, as orlim-fleet(1) tells
# it: collect with contrib/orlim-collect over a real sshd (a loopback sshd
# in namespaces made here, tests/support/ssh_lab.bash, one host alias per
# host, each running the real orlim as a machine of its own), decode with
# orlim-decode --json, compare with orlim-fleet against every earlier
# year's records (several --previous, oldest first), and again recorded
# year by year into a registry (orlim-fleet --registry), which must give
# the same verdicts and keep each year's records. The fleet:
#   year 1: six hosts, each its own machine;
#   year 2: web-02 is down (its connection refused);
#   year 3: web-02 is back with a new card; old-01 is retired and db-02
#           now runs old-01's machine; box-05 answers without a token.
# Each year's verdicts, label by label, with the moves linked, and the exit
# status; the text form kept to 100 columns.
# usage: renewal_test.sh CONTRIB_DIR SCENARIO_EXEC ORLIM ORLIM_DECODE ORLIM_FLEET   (as root)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/ssh_lab.bash"
lab_enter "$0" "$@"

contrib=$(realpath "$1") scenario=$(realpath "$2") orlim=$(realpath "$3")
decode=$(realpath "$4") fleet=$(realpath "$5")
collect=$contrib/orlim-collect
trap 'lab_stop; rm -rf "$lab"' EXIT
lab_start_sshd || exit 1
cp /root/.ssh/config "$lab/ssh_config.base"

# ---------------------------------------------------------------- the fleet
# host    year 1             year 2             year 3
# Each a machine (scenario_exec machine:NN:MAC: the UUID's last byte, the
# card), "down" (the connection refused), "no-firmware" (orlim gives no
# token) or "-" (not asked: retired).
fleet_years=$(cat <<'FLEET'
web-01  machine:01:52:54:00:00:00:01  machine:01:52:54:00:00:00:01  machine:01:52:54:00:00:00:01
web-02  machine:02:52:54:00:00:00:02  down                          machine:02:52:54:00:00:02:02
db-01   machine:03:52:54:00:00:00:03  machine:03:52:54:00:00:00:03  machine:03:52:54:00:00:00:03
old-01  machine:04:52:54:00:00:00:04  machine:04:52:54:00:00:00:04  -
db-02   machine:05:52:54:00:00:00:05  machine:05:52:54:00:00:00:05  machine:04:52:54:00:00:00:04
box-05  machine:06:52:54:00:00:00:06  machine:06:52:54:00:00:00:06  no-firmware
FLEET
)

# The verdicts each year: label, status, moved_from, moved_to ("-": none).
expected_1=$(cat <<'EXPECTED'
web-01 new - -
web-02 new - -
db-01 new - -
old-01 new - -
db-02 new - -
box-05 new - -
EXPECTED
)
expected_2=$(cat <<'EXPECTED'
web-01 same - -
web-02 unreachable - -
db-01 same - -
old-01 same - -
db-02 same - -
box-05 same - -
EXPECTED
)
expected_3=$(cat <<'EXPECTED'
web-01 same - -
web-02 card-changed - -
db-01 same - -
old-01 gone - db-02
db-02 replaced old-01 -
box-05 failed - -
EXPECTED
)
expected_status=(- 0 1 1)

# orlim as each host runs it: the real binary as the host's machine this
# year.
mkdir "$lab/bin"
cat >"$lab/bin/orlim" <<REMOTE
#!/bin/bash
what=\$(awk -v h="\$ORLIM_TEST_HOST" '\$1 == h { print \$2 }' "$lab/this-year")
exec "$scenario" "\$what" "$orlim" "\$@"
REMOTE
chmod +x "$lab/bin/orlim"

# verdicts JSONL: "label status moved_from moved_to" per label, sorted.
verdicts() {
  jq -r 'select(.label) | [.label, .status, (.moved_from // "-"), (.moved_to // "-")] | join(" ")' "$1" | sort
}

records=()
for year in 1 2 3; do
  # This year's hosts: the ssh configuration made again, a down host's
  # alias on a port nobody listens on.
  cp "$lab/ssh_config.base" /root/.ssh/config
  : >"$lab/this-year" && : >"$lab/hosts-$year"
  while read -r host y1 y2 y3; do
    what=$(eval echo "\$y$year")
    [ "$what" = - ] && continue
    echo "$host" >>"$lab/hosts-$year"
    if [ "$what" = down ]; then
      lab_alias "$host" "Port 2999"
    else
      lab_alias "$host"
      echo "$host $what" >>"$lab/this-year"
    fi
  done <<<"$fleet_years"

  # Collect and decode, as the manual page tells.
  "$collect" ssh -t 5 -d 30 -c "$lab/bin/orlim" -f "$lab/hosts-$year" >"$lab/tokens-$year" 2>"$lab/collect-$year.err"
  collect_status=$?
  "$decode" --json <"$lab/tokens-$year" >"$lab/records-$year.jsonl" 2>"$lab/decode-$year.err"
  check "year $year: every host asked has a record" \
    test "$(jq -r .label "$lab/records-$year.jsonl" | sort)" = "$(sort "$lab/hosts-$year")"
  [ "$year" = 1 ] && check "year 1: collected without a fault" test "$collect_status" = 0
  [ "$year" != 1 ] && check "year $year: the collector says a host gave no token" test "$collect_status" != 0

  # Compare with every earlier year, oldest first.
  previous=()
  for r in "${records[@]}"; do previous+=(--previous "$r"); done
  "$fleet" --json "${previous[@]}" "$lab/records-$year.jsonl" >"$lab/verdicts-$year.json"
  status=$?
  check "year $year: exit status ${expected_status[$year]}" test "$status" = "${expected_status[$year]}"
  expected_var=expected_$year
  check "year $year: verdicts" \
    diff <(sort <<<"${!expected_var}") <(verdicts "$lab/verdicts-$year.json")
  "$fleet" "${previous[@]}" "$lab/records-$year.jsonl" >"$lab/verdicts-$year.txt"
  check "year $year: text within 100 columns" \
    test "$(awk '{ if (length($0) > 100) n++ } END { print n + 0 }' "$lab/verdicts-$year.txt")" = 0
  check "year $year: text and JSON count alike" \
    test "$(grep -c '^[a-z]' "$lab/verdicts-$year.txt")" = "$(($(wc -l <"$lab/verdicts-$year.json") - 1))"
  # The same year recorded into the registry: the same verdicts, with the
  # registry's collections as the earlier years.
  "$fleet" --registry "$lab/fleet.registry" record --name "year-$year" --json \
    "$lab/records-$year.jsonl" >"$lab/recorded-$year.json"
  status=$?
  check "year $year, registry: exit status ${expected_status[$year]}" test "$status" = "${expected_status[$year]}"
  check "year $year, registry: verdicts" \
    diff <(sort <<<"${!expected_var}") <(verdicts "$lab/recorded-$year.json")
  if [ "$failures" != 0 ]; then
    echo "--- year $year: tokens"; cat "$lab/tokens-$year"
    echo "--- collector"; cat "$lab/collect-$year.err"
    echo "--- verdicts"; cat "$lab/verdicts-$year.txt"
    break
  fi
  records+=("$lab/records-$year.jsonl")
done

# Year 3's facts: web-02 compared with year 1's identity (year 2 had none),
# the unreachable host kept its identity in year 2, the move in the text.
if [ "$failures" = 0 ]; then
  check "year 2: web-02 keeps its last known machine" \
    test "$(jq -r 'select(.label == "web-02") | .previous_machine' "$lab/verdicts-2.json")" = \
         "$(jq -r 'select(.label == "web-02") | .machine' "$lab/records-1.jsonl")"
  check "year 3: web-02 compared with year 1's record" \
    test "$(jq -r 'select(.label == "web-02") | .previous_collection' "$lab/verdicts-3.json")" = \
         "$lab/records-1.jsonl"
  check "year 3: box-05's reason carried" \
    test "$(jq -r 'select(.label == "box-05") | .error' "$lab/verdicts-3.json" | grep -c .)" = 1
  check "year 3: the move in the text" grep -qx "  moved from   old-01" "$lab/verdicts-3.txt"
  check "year 3: the move's other end" grep -qx "  moved to     db-02" "$lab/verdicts-3.txt"
  # The latest year alone knows nothing of web-02's card: only the last
  # known identity across the years finds the change.
  "$fleet" --json --previous "$lab/records-2.jsonl" "$lab/records-3.jsonl" >"$lab/only-2.json"
  check "year 3 against year 2 alone: web-02 is new" \
    test "$(jq -r 'select(.label == "web-02") | .status' "$lab/only-2.json")" = new
  # The registry: web-02's years, the move at both ends, each year's
  # records given back as they went in.
  check "registry: web-02 compared with year 1's record" \
    test "$(jq -r 'select(.label == "web-02") | .previous_collection' "$lab/recorded-3.json")" = year-1
  check "registry: web-02's history" \
    test "$("$fleet" --registry "$lab/fleet.registry" history --json web-02 | jq -r .verdict | paste -sd ' ')" = \
         "new unreachable card-changed"
  check "registry: old-01's history ends moved to db-02" \
    test "$("$fleet" --registry "$lab/fleet.registry" history --json old-01 | jq -r '"\(.verdict) \(.moved_to)"' | tail -n 1)" = \
         "gone db-02"
  check "registry: db-02's history ends moved from old-01" \
    test "$("$fleet" --registry "$lab/fleet.registry" history --json db-02 | jq -r '"\(.verdict) \(.moved_from)"' | tail -n 1)" = \
         "replaced old-01"
  for year in 1 2 3; do
    check "registry: year $year exported as recorded" \
      cmp -s <("$fleet" --registry "$lab/fleet.registry" export "year-$year") "$lab/records-$year.jsonl"
  done
  check "registry: three collections" \
    test "$("$fleet" --registry "$lab/fleet.registry" collections --json | jq -r .collection | paste -sd ' ')" = \
         "year-1 year-2 year-3"
  # The three years as the fleet page, kept where ORLIM_RENEWAL_PAGE says
  # for people to look at (the browser tests check such pages in Chromium).
  page=${ORLIM_RENEWAL_PAGE:-$lab/fleet.html}
  mkdir -p "$(dirname "$page")"
  check "registry: the fleet page" "$fleet" --registry "$lab/fleet.registry" report --html "$page"
  check "registry: the page lists web-02 and db-02" \
    test "$(grep -o "data-label='\(web\|db\)-02'" "$page" | sort | paste -sd ' ')" = \
         "data-label='db-02' data-label='web-02'"
  # Its picture beside it, where there is a Chromium (the README's).
  if command -v chromium >/dev/null; then
    chromium --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking \
      --disable-component-update --disable-sync --user-data-dir="$lab/chromium" --hide-scrollbars \
      --window-size=1280,1200 --screenshot="${page%.html}.png" "file://$page" >/dev/null 2>&1
    check "registry: the page's picture" test -s "${page%.html}.png"
  fi
fi

finish "three-year renewal"
