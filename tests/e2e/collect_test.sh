#!/bin/bash
# Fleet collection (contrib/orlim-collect and contrib/orlim-collect.yml) end
# to end, over a real sshd: a loopback sshd in namespaces made here
# (tests/support/ssh_lab.bash), one host alias per row below, each running
# the real orlim in its own end-to-end scenario (working, placeholder UUID,
# no firmware) or acting as a hostile host: a banner and shell greetings
# around the token, noise on standard error, a terminal forced on the
# session (CRLF), two token lines, a command that never ends, one that never
# stops talking, a server that accepts and never speaks, a refused
# connection, an unknown name, control characters, no sudo.
# Both forms run against the same hosts, the ansible one over
# ansible_connection=ssh, one form per run (FORM ssh or ansible), so that the
# two can run side by side; each row checks the output's line for the host
# (its token, or why there is none), the per-host report, the exit status
# and the records orlim-decode makes.
# usage: collect_test.sh FORM CONTRIB_DIR SCENARIO_EXEC ORLIM ORLIM_DECODE   (as root)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/ssh_lab.bash"
lab_enter "$0" "$@"

form=$1
contrib=$(realpath "$2") scenario=$(realpath "$3") orlim=$(realpath "$4") decode=$(realpath "$5")
case $form in ssh | ansible) ;; *) echo "no such form: $form"; exit 2 ;; esac
collect=$contrib/orlim-collect
trap 'lab_stop; rm -rf "$lab"' EXIT
lab_start_sshd || exit 1

# ---------------------------------------------------------------- the fleet
# The ssh form's report names the command that ran: CMD stands for it.
# host      ssh_config lines  what the host does         its line: a token scenario, or !KIND
#                                                        and the ssh form's report (ERE)
hosts=$(cat <<'HOSTS'
web-01     -                  working                    working
web.01     -                  placeholder                placeholder
box-03     -                  no-firmware                !no-token no token: no token line in the answer to 'CMD -u'; 'CMD -u -v' \(status 0\) said: Failure reading system ID \(-2/16\)$
motd-04    -                  greeting+working           working
noisy-05   -                  stderr+working             working
crlf-06    RequestTTY=force   working                    working
twice-07   -                  twice                      !no-token no token: 2 token lines in the answer to 'CMD -u'; 'CMD -u -v' \(status 0\) said: [0-9A-F]{58} \| [0-9A-F]{58}$
hung-08    -                  hang                       !unreachable no token: no answer to 'CMD -u' within the deadline of 10 s$
silent-09  Port=2998          -                          !unreachable no token: ssh failed: Connection timed out during banner exchange \| Connection to 127.0.0.1 port 2998 timed out$
refused-10 Port=2999          -                          !unreachable no token: ssh failed: ssh: connect to host 127.0.0.1 port 2999: Connection refused$
nosuch.invalid  -             -                          !unreachable no token: ssh failed: ssh: Could not resolve hostname nosuch.invalid: .*$
escape-11  -                  escape                     !no-token no token: 'CMD -u' exited with status 3; 'CMD -u -v' \(status 3\) said: \\x1B\[31mred\\x1B\]0;title\\x07 \| back\\\\slash \| \\xC2\\x9B2J$
flood-12   -                  flood                      !no-token no token: the answer to 'CMD -u' was longer than 65536 bytes; 'CMD -u -v' \(status 153\) said: y \| y \| y
HOSTS
)
# The output's line of a host without a token, REASON as an ERE.
lines=$(cat <<'LINES'
box-03 !no-token Failure reading system ID \(-2/16\)
hung-08 !unreachable no answer to 'CMD -u' within the deadline of [0-9]+ s
refused-10 !unreachable .*Connection refused
nosuch.invalid !unreachable .*Could not resolve hostname nosuch\.invalid.*
escape-11 !no-token \\x1B\[31mred\\x1B\]0;title\\x07 \| back\\\\slash \| \\xC2\\x9B2J
flood-12 !no-token y( \| y)*\.\.\.
LINES
)
while read -r host options _; do
  [ "$host" = nosuch.invalid ] && continue
  if [ "$options" = - ]; then lab_alias "$host"; else lab_alias "$host" "${options/=/ }"; fi
done <<<"$hosts"
# Asked through a program that leaves a mark: whether a run asked any host.
lab_alias probe "ProxyCommand $lab/bin/mark"
# A host without sudo, where orlim is on the PATH (its .bashrc below).
lab_alias nosudo-13

# A server that accepts connections and never says a word.
python3 -c '
import socket, time
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 2998))
s.listen(64)
held = []
while True:
    held.append(s.accept())
' &

# The login shell's part of the hostile hosts: a banner and a greeting
# before the command's output and another after it, as a .bashrc may print;
# a PATH without sudo (only what a shell and the bound on the command need).
mkdir "$lab/nosudo-path"
ln -s "$(command -v sh)" "$(command -v timeout)" "$lab/nosudo-path/"
cat >/root/.bashrc <<BASHRC
if [ "\$ORLIM_TEST_HOST" = motd-04 ]; then
  echo "*** Authorised use only ***"
  echo "Welcome to motd-04"
  trap 'echo "Last login: never"' EXIT
fi
[ "\$ORLIM_TEST_HOST" = nosudo-13 ] && PATH=$lab/nosudo-path
BASHRC

# orlim as each host runs it: the real binary in the host's scenario, or
# the host's misbehaviour. A line that looks like a token on standard error
# must not count.
mkdir "$lab/bin"
cat >"$lab/bin/orlim" <<REMOTE
#!/bin/bash
what=\$(awk -v h="\$ORLIM_TEST_HOST" '\$1 == h { print \$3 }' "$lab/hosts")
case \$what in
  greeting+working) what=working ;;
  stderr+working)
    echo "ld.so: object 'libfoo.so' from LD_PRELOAD cannot be preloaded: ignored." >&2
    echo 0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789 >&2
    what=working ;;
  twice) "$scenario" working "$orlim" "\$@"; what=working ;;
  hang) exec sleep 1000 ;;
  flood) exec yes ;;
  escape) printf '\033[31mred\033]0;title\007\nback\\\\slash\n\302\2332J\n'; exit 3 ;;
esac
exec "$scenario" "\$what" "$orlim" "\$@"
REMOTE
printf '#!/bin/sh\ntouch "%s/proxy-ran"\n' "$lab" >"$lab/bin/mark"
chmod +x "$lab/bin/orlim" "$lab/bin/mark"
echo "$hosts" >"$lab/hosts"

# ----------------------------------------------------------------- helpers
# expected_record SCENARIO LABEL: the decoded record, as decoded() prints it.
expected_record() {
  case $1 in
    working)
      echo "{\"label\":\"$2\",\"uuid\":\"33221100-5544-7766-8899-aabbccddeeff\",\"legacy\":\"12153A58\",\"machine\":\"33221100-5544-7766-8899-aabbccddeeff/12153A58\",\"warnings\":[]}" ;;
    placeholder)
      echo "{\"label\":\"$2\",\"uuid\":\"03000200-0400-0500-0006-000700080009\",\"legacy\":\"12153A58\",\"machine\":\"03000200-0400-0500-0006-000700080009/12153A58\",\"warnings\":[\"placeholder-uuid\"]}" ;;
  esac
}
decoded() {  # decoded FILE
  "$decode" --json <"$1" | jq -c '{label: .label, uuid, legacy, machine, warnings}'
}
# check_tokens ROW FILE HOST:SCENARIO|HOST:!KIND...: FILE holds exactly one
# line per HOST, in this order: its token, which decodes to the scenario's
# record, or "HOST !KIND[ REASON]" with one line of printable ASCII.
check_tokens() {
  local row=$1 file=$2 pair expected_hosts="" expected_records=""
  shift 2
  for pair in "$@"; do
    if [[ ${pair#*:} == !* ]]; then
      expected_hosts+="${pair%%:*} ${pair#*:}"$'\n'
    else
      expected_hosts+="${pair%%:*} token"$'\n'
      expected_records+="$(expected_record "${pair#*:}" "${pair%%:*}")"$'\n'
    fi
  done
  check "$row: only HOST TOKEN and HOST !KIND lines" \
    test "$(LC_ALL=C grep -cvE '^[^ ]+ ([0-9A-F]{58}|!(unreachable|no-token)( [ -~]{1,200})?)$' "$file")" = 0
  check "$row: every host asked, in order" diff <(printf '%s' "$expected_hosts") \
    <(sed -E 's/^([^ ]+) [0-9A-F]{58}$/\1 token/; s/^([^ ]+) (![a-z-]+).*/\1 \2/' "$file")
  check "$row: decoded records" diff <(printf '%s' "$expected_records") \
    <(grep -E '^[^ ]+ [0-9A-F]{58}$' "$file" | decoded /dev/stdin)
}
# check_lines ROW FILE HOST...: the lines of FILE for these hosts (without a
# token) are as the table "lines" above says.
check_lines() {
  local row=$1 file=$2 host line
  shift 2
  for host in "$@"; do
    line=$(awk -v h="$host" '$1 == h' <<<"$lines")
    check "$row: $host's line" grep -qxE -- "${line//CMD/$command_re}" "$file"
  done
}
# no_leftovers ROW: nothing a host ran outlives the run.
no_leftovers() {
  check "$1: no command left running on the hosts" test -z "$(pgrep -fa 'sleep 1000|^yes$')"
}
command_re=$(sed 's/[.[\*^$()+?{|]/\\&/g' <<<"$lab/bin/orlim")

# ---------------------------------------------------------------- ssh form
if [ "$form" = ssh ]; then
  all=()
  while read -r host _; do all+=("$host"); done <<<"$hosts"
  start=$SECONDS
  "$collect" ssh -j 5 -t 2 -d 10 -c "$lab/bin/orlim" -- "${all[@]}" >"$lab/out" 2>"$lab/err"
  status=$?
  check "ssh: status 1 (hosts without a token)" test "$status" = 1
  check "ssh: ended by the deadlines" test $((SECONDS - start)) -lt 30
  no_leftovers ssh
  pairs=() reports=0
  while read -r host _ _ kind expect; do
    case $kind in
      working | placeholder) pairs+=("$host:$kind") ;;
      *)
        pairs+=("$host:$kind")
        reports=$((reports + 1))
        # The name as a literal, the rest a pattern.
        check "ssh: $host reported" \
          grep -qE "^orlim-collect: ${host//./\\.}: ${expect//CMD/$command_re}" "$lab/err" ;;
    esac
  done <<<"$hosts"
  check_tokens ssh "$lab/out" "${pairs[@]}"
  check_lines ssh "$lab/out" box-03 hung-08 refused-10 nosuch.invalid escape-11 flood-12
  check "ssh: one report line per host without a token" test "$(wc -l <"$lab/err")" = "$reports"
  check "ssh: no raw control character on the terminal" \
    test "$(LC_ALL=C grep -c '[[:cntrl:]]' "$lab/err")" = 0
  [ "$failures" = 0 ] || { echo "--- stdout"; cat "$lab/out"; echo "--- stderr"; cat "$lab/err"; }

  # The same hosts one at a time, into a file the user names; the list from a
  # file (a blank line and a comment in it).
  printf 'web-01\n\n# a comment\nweb.01\r\nbox-03\n' >"$lab/list"
  "$collect" ssh -j 1 -o "$lab/named" -f "$lab/list" -c "$lab/bin/orlim" >"$lab/out" 2>"$lab/err"
  status=$?
  check "ssh -j 1 -o -f: status 1" test "$status" = 1
  check "ssh -j 1 -o -f: nothing on stdout" test ! -s "$lab/out"
  check_tokens "ssh -j 1 -o -f" "$lab/named" web-01:working web.01:placeholder box-03:!no-token
  check "ssh -j 1 -o -f: box-03 reported" grep -q "^orlim-collect: box-03: no token: " "$lab/err"

  # Every host with a token: status 0, nothing on stderr. A command that
  # is more than words, as the host's shell reads it.
  "$collect" ssh -c "true && '$lab/bin/orlim'" crlf-06 noisy-05 >"$lab/out" 2>"$lab/err"
  status=$?
  check "ssh all good: status 0" test "$status" = 0
  check "ssh all good: stderr empty" test ! -s "$lab/err"
  check_tokens "ssh all good" "$lab/out" crlf-06:working noisy-05:working

  # The default command on a host without sudo: the report names what ran.
  "$collect" ssh -d 10 nosudo-13 >"$lab/out" 2>"$lab/err"
  status=$?
  check "ssh without sudo: status 1" test "$status" = 1
  said="timeout: failed to run command 'sudo': No such file or directory"
  check "ssh without sudo: report" grep -qxF "orlim-collect: nosudo-13: no token: 'sudo orlim -u' exited with status 127; 'sudo orlim -u -v' (status 127) said: $said" "$lab/err"
  check "ssh without sudo: line" grep -qxF "nosudo-13 !no-token $said" "$lab/out"

  # An output that can't be written is found before any host is asked:
  # status 3, a message, nothing asked, no file left behind.
  mkdir "$lab/folder"
  while IFS='|' read -r row file expect; do
    rm -f "$lab/proxy-ran"
    "$collect" ssh -o "$file" -c "$lab/bin/orlim" probe web-01 >"$lab/out" 2>"$lab/err"
    status=$?
    check "ssh -o $row: status 3" test "$status" = 3
    check "ssh -o $row: message" grep -qxE "orlim-collect: cannot write the tokens to $expect" "$lab/err"
    check "ssh -o $row: nothing asked" test ! -e "$lab/proxy-ran"
    check "ssh -o $row: nothing left" test -z "$(find "$lab/folder" -mindepth 1)"
  done <<ROWS
unwritable|$lab/folder/missing/tokens|.*/missing/tokens: No such file or directory
folder|$lab/folder|.*/folder: it is a folder
ROWS
  # Written whole, in place of the earlier file, with the usual mode.
  echo stale >"$lab/folder/tokens"
  (umask 022 && "$collect" ssh -o "$lab/folder/tokens" -c "$lab/bin/orlim" web-01 >"$lab/out" 2>"$lab/err")
  check_tokens "ssh -o over a file" "$lab/folder/tokens" web-01:working
  check "ssh -o over a file: its mode" test "$(stat -c %a "$lab/folder/tokens")" = 644
  check "ssh -o over a file: no temporary file left" test "$(ls -A "$lab/folder")" = tokens

  # Usage on request, and the version.
  while IFS='|' read -r row args expect; do
    read -ra argv <<<"$args"
    "$collect" "${argv[@]}" >"$lab/out" 2>"$lab/err"
    status=$?
    check "$row: status 0" test "$status" = 0
    check "$row: on stdout" grep -qE "$expect" "$lab/out"
    check "$row: nothing on stderr" test ! -s "$lab/err"
  done <<'ROWS'
-h|-h|^usage: orlim-collect ssh
--help|--help|^usage: orlim-collect ssh
ssh -h|ssh -h|^usage: orlim-collect ssh
ssh --help|ssh --help|^usage: orlim-collect ssh
--version|--version|^orlim-collect 1\.0\.0$
ROWS

  # Refused before anything runs: names that ssh could take for options, an
  # empty list, bad values. Status 2 and one line, nothing on stdout.
  touch "$lab/no-hosts"
  while IFS='|' read -r row args expect; do
    read -ra argv <<<"$args"
    rm -f "$lab/proxy-ran"
    "$collect" ssh "${argv[@]}" >"$lab/out" 2>"$lab/err"
    status=$?
    check "ssh $row: status 2" test "$status" = 2
    check "ssh $row: nothing on stdout" test ! -s "$lab/out"
    check "ssh $row: message" grep -qE "^orlim-collect: $expect" "$lab/err"
    check "ssh $row: nothing ran" test ! -e "$lab/proxy-ran"
  done <<ROWS
option as host|web-01 -oProxyCommand=$lab/bin/mark|host name starts with '-': -oProxyCommand=
option after --|-- -oProxyCommand=$lab/bin/mark|host name starts with '-'
no hosts|-c x|no hosts given
empty host list file|-f $lab/no-hosts|no hosts given
missing host list file|-f $lab/none|cannot read the host list
jobs 0|-j 0 web-01|-j: not a positive whole number
unknown long option|--verbose web-01|unknown option --
deadline text|-d soon web-01|-d: not a positive number of seconds
unknown option|-x web-01|unknown option -x
ROWS
fi

# ------------------------------------------------------------ ansible form
if [ "$form" = ansible ]; then
  if ! command -v ansible-playbook >/dev/null; then
    echo "ansible-playbook is not installed (tools/deps.sh test installs ansible-core): skipped"
    exit 77
  fi
  export HOME=/root ANSIBLE_LOCAL_TEMP=$lab/ansible-local ANSIBLE_REMOTE_TEMP=$lab/ansible-remote
  printf "[defaults]\n" >"$lab/ansible.cfg"  # no configuration from the machine
  export ANSIBLE_CONFIG=$lab/ansible.cfg ANSIBLE_NOCOLOR=1 ANSIBLE_DEPRECATION_WARNINGS=0
  # No lingering connection masters; connections that fail do so quickly.
  export ANSIBLE_SSH_ARGS="-o ControlMaster=no" ANSIBLE_TIMEOUT=2 ANSIBLE_PIPELINING=1
  # Every host of the inventory at once, as a fleet run would be tuned.
  export ANSIBLE_FORKS=16
  # No Python on the fleet: the playbook asks hosts without it.
  cat >"$lab/inventory" <<INVENTORY
[fleet]
web-01
web.01
box-03
motd-04
noisy-05
hung-08 orlim_timeout=5
refused-10
nosuch.invalid
escape-11
nosudo-13 ansible_become_method=sudo orlim_command=orlim

[empty]

[elsewhere]
probe

[fleet:vars]
ansible_python_interpreter=/nonexistent/python3

[all:vars]
ansible_connection=ssh
ansible_become_method=su
orlim_command=$lab/bin/orlim
orlim_timeout=20
INVENTORY
  playbook() {  # playbook ARG...: the playbook as documented; sets status
    (cd "$lab" && ansible-playbook "$contrib/orlim-collect.yml" "$@") \
      >"$lab/report" 2>&1
    status=$?
  }

  start=$SECONDS
  playbook -i "$lab/inventory" -e orlim_hosts=fleet -e orlim_tokens=tokens
  check "playbook: status non-zero" test "$status" != 0
  check "playbook: ended by the deadlines" test $((SECONDS - start)) -lt 60
  no_leftovers playbook
  check_tokens playbook "$lab/tokens" web-01:working web.01:placeholder box-03:!no-token \
    motd-04:working noisy-05:working hung-08:!unreachable refused-10:!unreachable \
    nosuch.invalid:!unreachable escape-11:!no-token nosudo-13:!no-token
  check_lines playbook "$lab/tokens" box-03 hung-08 refused-10 nosuch.invalid escape-11
  # Worded as the ssh form words it (CMD: the command that ran), in JSON.
  while IFS='|' read -r host expect; do
    check "playbook: $host reported" \
      grep -qE "^fatal: \[${host//./\\.}\]: ${expect//CMD/$command_re}" "$lab/report"
  done <<'ROWS'
box-03|FAILED! => .*"msg": "no token: no token line in the answer to 'CMD -u'; 'CMD -u -v' \(status 0\) said: Failure reading system ID \(-2/16\)"
hung-08|FAILED! => .*"msg": "no token: no answer to 'CMD -u' within the deadline of 5 s"
escape-11|FAILED! => .*"msg": "no token: 'CMD -u' exited with status 3; 'CMD -u -v' \(status 3\) said: \\\\x1B\[31mred\\\\x1B\]0;title\\\\x07 \| back\\\\\\\\slash \| \\\\xC2\\\\x9B2J"
nosudo-13|FAILED! => .*"msg": "no token: 'orlim -u' (exited with status 127|did not run).*sudo.*not found
refused-10|UNREACHABLE! => .*Connection refused
refused-10|FAILED! => .*"msg": "no token: .*Connection refused
nosuch.invalid|UNREACHABLE! => .*Could not resolve hostname
ROWS
  check "playbook: recap" grep -qE "^box-03 +: ok=[0-9]+ +changed=0 +unreachable=0 +failed=1" "$lab/report"
  check "playbook: recap of an unreachable host" grep -qE "^refused-10 +: .* failed=1" "$lab/report"
  check "playbook: recap of a good host" \
    grep -qE "^web\.01 +: ok=[0-9]+ +changed=0 +unreachable=0 +failed=0" "$lab/report"
  check "playbook: no raw control character in the report" \
    test "$(LC_ALL=C grep -c '[[:cntrl:]]' "$lab/report")" = 0
  [ "$failures" = 0 ] || { echo "--- report"; cat "$lab/report"; echo "--- tokens"; cat "$lab/tokens"; }

  # Runs that ask no host, or can't start: a non-zero status and no tokens
  # file, not an empty "success". An earlier run's file is removed (an
  # option error stops ansible-playbook before any play: the status tells).
  while IFS='|' read -r row args expect; do
    read -ra argv <<<"$args"
    echo stale >"$lab/tokens"
    playbook "${argv[@]}" -e orlim_tokens=tokens
    check "playbook $row: status non-zero" test "$status" != 0
    [ "$row" = "option error" ] ||
      check "playbook $row: no tokens file" test ! -e "$lab/tokens"
    check "playbook $row: says why" grep -qE -- "$expect" "$lab/report"
  done <<ROWS
empty group|-i $lab/inventory -e orlim_hosts=empty|no hosts matched \\\\"empty\\\\"
unknown pattern|-i $lab/inventory -e orlim_hosts=nosuchgroup|no hosts matched
missing inventory|-i $lab/none|no hosts matched \\\\"all\\\\"
option error|-i $lab/inventory --no-such-option|unrecognized arguments: --no-such-option
ROWS
  # Every host unreachable: each still has its line.
  playbook -i "$lab/inventory" -e orlim_hosts=refused-10 -e orlim_tokens=tokens
  check "playbook every host unreachable: status non-zero" test "$status" != 0
  check_tokens "playbook every host unreachable" "$lab/tokens" refused-10:!unreachable

  # A tokens file that can't be written is found before any host is asked,
  # and a folder is never taken for it.
  mkdir "$lab/folder"
  touch "$lab/folder/keep"
  while IFS='|' read -r row file expect; do
    rm -f "$lab/proxy-ran"
    playbook -i "$lab/inventory" -e orlim_hosts=probe -e orlim_tokens="$file"
    check "playbook tokens $row: status non-zero" test "$status" != 0
    check "playbook tokens $row: says why" grep -qE -- "$expect" "$lab/report"
    check "playbook tokens $row: nothing asked" test ! -e "$lab/proxy-ran"
    check "playbook tokens $row: the folder kept" test "$(ls -A "$lab/folder")" = keep
  done <<ROWS
unwritable|$lab/folder/missing/tokens|cannot create .*missing/tokens
folder|$lab/folder|a folder, not a file for the tokens
ROWS
  # The same through the wrapper: status 3, before Ansible starts.
  while IFS='|' read -r row file expect; do
    rm -f "$lab/proxy-ran"
    "$collect" ansible -o "$file" probe -i "$lab/inventory" >"$lab/out" 2>"$lab/err"
    status=$?
    check "orlim-collect ansible -o $row: status 3" test "$status" = 3
    check "orlim-collect ansible -o $row: message" \
      grep -qxE "orlim-collect: cannot write the tokens to $expect" "$lab/err"
    check "orlim-collect ansible -o $row: nothing asked" test ! -e "$lab/proxy-ran"
  done <<ROWS
unwritable|$lab/folder/missing/tokens|.*/missing/tokens: No such file or directory
folder|$lab/folder|.*/folder: it is a folder
ROWS

  # The wrapper: the tokens on stdout, Ansible's report on stderr.
  "$collect" ansible web-01:noisy-05:box-03 -i "$lab/inventory" >"$lab/out" 2>"$lab/err"
  status=$?
  check "orlim-collect ansible: status non-zero" test "$status" != 0
  check_tokens "orlim-collect ansible" "$lab/out" web-01:working noisy-05:working box-03:!no-token
  check "orlim-collect ansible: box-03 reported" grep -q '^fatal: \[box-03\]: FAILED!' "$lab/err"
  [ "$failures" = 0 ] || cat "$lab/err"
  # As installed: the script in PREFIX/bin finds the playbook in PREFIX/share.
  mkdir -p "$lab/prefix/bin" "$lab/prefix/share/orlim-collect"
  cp "$collect" "$lab/prefix/bin/"
  cp -r "$contrib/orlim-collect.yml" "$contrib/filter_plugins" "$lab/prefix/share/orlim-collect/"
  "$lab/prefix/bin/orlim-collect" ansible -o "$lab/named" 'web*' -i "$lab/inventory" \
    >"$lab/out" 2>"$lab/err"
  status=$?
  check "orlim-collect ansible -o: status 0" test "$status" = 0
  check "orlim-collect ansible -o: nothing on stdout" test ! -s "$lab/out"
  check_tokens "orlim-collect ansible -o" "$lab/named" web-01:working web.01:placeholder
  "$collect" ansible empty -i "$lab/inventory" >"$lab/out" 2>"$lab/err"
  status=$?
  check "orlim-collect ansible empty: status non-zero" test "$status" != 0
  check "orlim-collect ansible empty: nothing on stdout" test ! -s "$lab/out"
  "$collect" ansible -i "$lab/inventory" >"$lab/out" 2>"$lab/err"
  status=$?
  check "orlim-collect ansible without pattern: status 2" test "$status" = 2
fi

finish "fleet collection, $form form"
