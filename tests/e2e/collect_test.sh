#!/bin/bash
# The fleet collection recipe (contrib/orlim-collect) end to end: three
# inventory hosts over Ansible's local connection, each running the real
# orlim in its own namespace scenario (a host variable names it): a working
# machine, one whose firmware carries a vendor's placeholder UUID, and one
# without firmware tables, which gives no token. The tokens are collected,
# the machine without one is reported, and orlim-decode turns the rest into
# the expected labelled records. The ssh form runs against a stand-in ssh
# that maps host names to the same scenarios.
# usage: collect_test.sh COLLECT SCENARIO_EXEC ORLIM ORLIM_DECODE   (as root)
set -uo pipefail
collect=$1 scenario=$2 orlim=$3 decode=$4
if ! command -v ansible >/dev/null; then
  echo "ansible is not installed (tools/deps.sh test installs ansible-core): skipped"
  exit 77
fi
failures=0
check() {  # check NAME CONDITION...
  local name=$1; shift
  if ! "$@"; then echo "FAIL: $name"; failures=$((failures + 1)); fi
}
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
export ANSIBLE_LOCAL_TEMP=$tmp/ansible ANSIBLE_REMOTE_TEMP=$tmp/ansible HOME=$tmp
printf "[defaults]\n" >"$tmp/ansible.cfg"  # no configuration from the host
export ANSIBLE_NOCOLOR=1 ANSIBLE_DEPRECATION_WARNINGS=0 ANSIBLE_CONFIG=$tmp/ansible.cfg

cat >"$tmp/inventory" <<INVENTORY
[fleet]
web-01 scenario=working
nas-02 scenario=placeholder
box-03 scenario=no-firmware

[fleet:vars]
ansible_connection=local
ansible_python_interpreter=$(command -v python3)
ansible_become_method=su
INVENTORY

expected() {  # the decoded records, sorted by label, as jq prints the fields checked
  cat <<'RECORDS'
{"label":"nas-02","uuid":"03000200-0400-0500-0006-000700080009","legacy":"12153A58","machine":"03000200-0400-0500-0006-000700080009/12153A58","warnings":["placeholder-uuid"]}
{"label":"web-01","uuid":"33221100-5544-7766-8899-aabbccddeeff","legacy":"12153A58","machine":"33221100-5544-7766-8899-aabbccddeeff/12153A58","warnings":[]}
RECORDS
}
decoded() {  # decoded FILE
  "$decode" --json <"$1" | jq -c '{label: .label, uuid, legacy, machine, warnings}' | sort
}

ORLIM="$scenario {{ scenario }} $orlim" "$collect" ansible fleet -i "$tmp/inventory" \
  >"$tmp/out" 2>"$tmp/err"
status=$?
check "ansible: status 1 (one machine without a token)" test "$status" = 1
check "ansible: two HOST TOKEN lines" test "$(grep -cE '^(web-01|nas-02) [0-9A-F]{58}$' "$tmp/out")" = 2
check "ansible: nothing else on stdout" test "$(wc -l <"$tmp/out")" = 2
check "ansible: the machine without a token reported with why" \
  grep -q "^orlim-collect: box-03: no token: .*Failure reading system ID (-2/16)" "$tmp/err"
check "ansible: decoded into the labelled records" diff <(expected) <(decoded "$tmp/out")
[ "$failures" = 0 ] || { echo "--- stdout"; cat "$tmp/out"; echo "--- stderr"; cat "$tmp/err"; }

# ssh: a stand-in that runs the remote command in the host's scenario.
mkdir "$tmp/bin"
cat >"$tmp/bin/ssh" <<SSH
#!/bin/bash
while [ "\${1#-}" != "\$1" ]; do case \$1 in -o) shift 2 ;; *) shift ;; esac; done
host=\$1; shift
case \$host in web-01) s=working ;; nas-02) s=placeholder ;; *) s=no-firmware ;; esac
exec "$scenario" "\$s" "\$@"
SSH
chmod +x "$tmp/bin/ssh"
PATH="$tmp/bin:$PATH" ORLIM=$orlim SUDO= "$collect" ssh web-01 box-03 nas-02 \
  >"$tmp/out" 2>"$tmp/err"
status=$?
check "ssh: status 1" test "$status" = 1
check "ssh: hosts in order" test "$(cut -d' ' -f1 "$tmp/out" | paste -sd,)" = "web-01,nas-02"
check "ssh: the machine without a token reported" \
  grep -q "^orlim-collect: box-03: no token: Failure reading system ID (-2/16)" "$tmp/err"
check "ssh: decoded into the labelled records" diff <(expected) <(decoded "$tmp/out")

[ "$failures" = 0 ] && echo "fleet collection: all checks passed"
exit $((failures != 0))
