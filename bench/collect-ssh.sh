#!/bin/bash
# Fleet collection beside the tools people run on a fleet: HOSTS host
# aliases (default 200) on one loopback sshd in namespaces made here
# (tests/support/ssh_lab.bash), each answering with a token after a fixed
# DELAY (default 0.2 s), asked by
#
#   orlim-collect ssh          the collector's ssh form
#   pssh                       parallel-ssh (Debian's pssh)
#   clush                      ClusterShell's clush (Debian's clustershell)
#   orlim-collect ansible      the collector's playbook, through its wrapper
#   ansible -m raw             Ansible's ad-hoc raw module
#   ansible -m command         Ansible's ad-hoc command module (Python on
#                              the hosts, as Ansible sets it up by default)
#
# all on the same host list at the same parallelism (JOBS, default 32),
# ROUNDS rounds (default 3) with the tools interleaved, so that a change in
# the machine's load falls on all of them alike. Prints each one's median
# wall time and its ratio to orlim-collect ssh, then the same list with
# one host that never answers, whose cost should be no more than its
# deadline. Beside the wall times, the CPU time each spent (the tool's
# processes: the control node's share) and the sshd's (the hosts' share,
# all on this one machine here), which a loaded machine skews less. The goals: the ssh form within 1.1x of the faster of pssh and
# clush, the playbook within 1.2x of Ansible's ad-hoc raw module.
# Login as root, no become anywhere; each Ansible run has its own folder of
# connection masters, so that none reuses another's.
# usage: bench/collect-ssh.sh [HOSTS [DELAY [ROUNDS]]]   (as root; needs
#        openssh-server, pssh, clustershell, ansible-core: tools/deps.sh bench)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/support/ssh_lab.bash"
lab_enter "$0" "$@"
hosts=${1:-200}
delay=${2:-0.2}
rounds=${3:-3}
jobs=${BENCH_JOBS:-32}
collect=$here/../contrib/orlim-collect
trap 'lab_stop; rm -rf "$lab"' EXIT
lab_start_sshd || exit 1

names=()
for i in $(seq -f '%03g' "$hosts"); do
  lab_alias "host-$i"
  names+=("host-$i")
done
lab_alias hung
printf '%s\n' "${names[@]}" >"$lab/hosts"
token=5B0E0C6F2D3A9A5B0E0C6F2D3A9A5B0E0C6F2D3A9A5B0E0C6F2D3A9A11
cat >"$lab/answer" <<ANSWER
#!/bin/sh
[ "\$ORLIM_TEST_HOST" = hung ] && exec sleep 1000
sleep $delay
echo $token
ANSWER
chmod +x "$lab/answer"

# Ansible: the same hosts, its own configuration only, as many forks as the
# others' parallelism; Python on the hosts for the command module.
{
  echo "[fleet]"
  printf '%s\n' "${names[@]}"
  echo "[all:vars]"
  echo "ansible_connection=ssh"
  echo "ansible_python_interpreter=$(command -v python3)"
  echo "orlim_command=$lab/answer"
  echo "orlim_become=false"
} >"$lab/inventory"
printf '[defaults]\n' >"$lab/ansible.cfg"
export HOME=/root ANSIBLE_CONFIG=$lab/ansible.cfg ANSIBLE_FORKS=$jobs ANSIBLE_NOCOLOR=1 \
  ANSIBLE_LOCAL_TEMP=$lab/ansible-local ANSIBLE_DEPRECATION_WARNINGS=0 LC_ALL=C.UTF-8

# tool NAME: one collection by tool NAME, its output in $lab/out; each
# prints its answers, one line per host, or fails.
tool() {
  export ANSIBLE_SSH_CONTROL_PATH_DIR=$lab/cp-$1-$RANDOM
  case $1 in
    orlim-ssh) "$collect" ssh -j "$jobs" -c "$lab/answer" -- "${names[@]}" ;;
    pssh) parallel-ssh -p "$jobs" -h "$lab/hosts" -o "$lab/pssh-out" "$lab/answer -u" ;;
    clush) clush -f "$jobs" -L -w "host-[001-$(printf '%03d' "$hosts")]" "$lab/answer -u" ;;
    orlim-ansible) "$collect" ansible fleet -i "$lab/inventory" ;;
    ansible-raw) ansible fleet -i "$lab/inventory" -m raw -a "$lab/answer -u" ;;
    ansible-command) ansible fleet -i "$lab/inventory" -m command -a "$lab/answer -u" ;;
  esac >"$lab/out" 2>"$lab/err"
}
# answers: how many hosts' answers came (lines or files with the token).
answers() {
  if [ "$1" = pssh ]; then
    cat "$lab"/pssh-out/* 2>/dev/null | grep -c "$token"
  else
    grep -c "$token" "$lab/out"
  fi
}

# One connection's cost without any delay, for reading the figures.
start=$EPOCHREALTIME
for i in 1 2 3 4 5 6 7 8 9 10; do ssh -n host-001 true; done
one=$(echo "($EPOCHREALTIME - $start) / 10" | bc -l | xargs printf '%.3f')
echo "$hosts hosts answering after $delay s, $jobs at once, $rounds rounds;" \
  "one ssh connection, serially: $one s; load average: $(cut -d' ' -f1-3 /proc/loadavg)" \
  "on $(nproc) processors"

# cpu FILE: CPU seconds used so far by this shell's finished children (each
# tool, all it ran included) and by the sshd's (the hosts' side), as two
# numbers in FILE. `times` runs in this shell itself: a subshell (a command
# substitution) has its own count.
cpu() {
  times >"$lab/times"
  awk -v hz="$(getconf CLK_TCK)" -v stat="$(cat "/proc/$lab_sshd/stat")" '
    function seconds(x) { sub(/s$/, "", x); split(x, p, "m"); return p[1] * 60 + p[2] }
    NR == 2 { split(stat, f, " "); printf "%.2f %.2f\n", seconds($1) + seconds($2), (f[16] + f[17]) / hz }
  ' "$lab/times" >"$1"
}

tools=(${BENCH_TOOLS:-orlim-ssh pssh clush orlim-ansible ansible-raw ansible-command})
declare -A walls mine theirs
for round in $(seq "$rounds"); do
  for name in "${tools[@]}"; do
    rm -rf "$lab/pssh-out"
    cpu "$lab/cpu0"
    read -r mine0 theirs0 <"$lab/cpu0"
    start=$EPOCHREALTIME
    tool "$name"
    status=$?
    wall=$(echo "$EPOCHREALTIME - $start" | bc -l | xargs printf '%.2f')
    cpu "$lab/cpu1"
    read -r mine1 theirs1 <"$lab/cpu1"
    got=$(answers "$name")
    walls[$name]+="$wall "
    mine[$name]+="$(echo "$mine1 - $mine0" | bc -l) "
    theirs[$name]+="$(echo "$theirs1 - $theirs0" | bc -l) "
    printf 'round %d %-16s %7s s  cpu %6.2f s + sshd %6.2f s  answers %s/%s  status %s\n' "$round" \
      "$name" "$wall" "$(echo "$mine1 - $mine0" | bc -l)" "$(echo "$theirs1 - $theirs0" | bc -l)" \
      "$got" "$hosts" "$status" >&2
    # A run that failed says why.
    [ "$status" = 0 ] || grep -E 'fatal|FAILED|UNREACHABLE|ERROR|rror' "$lab/err" "$lab/out" | head -n 5 >&2
  done
done

median() { tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
base=$(median <<<"${walls[orlim-ssh]:-1}")
printf '%-16s %9s %6s %8s %9s   %s\n' tool median/s ratio cpu/s sshd-cpu/s "wall per round/s"
for name in "${tools[@]}"; do
  m=$(median <<<"${walls[$name]}")
  printf '%-16s %9.2f %6.2f %8.2f %9.2f   %s\n' "$name" "$m" "$(echo "$m / $base" | bc -l)" \
    "$(median <<<"${mine[$name]}")" "$(median <<<"${theirs[$name]}")" "${walls[$name]}"
done
# goal NAME OTHER...: NAME's median over the fastest of the OTHERs', where
# all of them ran.
goal() {
  local name=$1 other best= m
  shift
  [ -n "${walls[$name]:-}" ] || return 0
  for other in "$@"; do
    [ -n "${walls[$other]:-}" ] || continue
    m=$(median <<<"${walls[$other]}")
    if [ -z "$best" ] || [ "$(echo "$m < $best" | bc -l)" = 1 ]; then best=$m; fi
  done
  [ -z "$best" ] || echo "$(median <<<"${walls[$name]}") / $best" | bc -l
}
ratio=$(goal orlim-ssh pssh clush)
[ -z "$ratio" ] || printf 'orlim-collect ssh / the faster of pssh and clush: %.2f (goal 1.1)\n' "$ratio"
ratio=$(goal orlim-ansible ansible-raw)
[ -z "$ratio" ] || printf 'orlim-collect ansible / ansible -m raw: %.2f (goal 1.2)\n' "$ratio"

# A host that never answers holds one place for its deadline, no longer:
# the run takes the longer of the two.
for deadline in ${BENCH_DEADLINES-30}; do
  start=$EPOCHREALTIME
  "$collect" ssh -j "$jobs" -d "$deadline" -c "$lab/answer" -- hung "${names[@]}" >"$lab/out" 2>"$lab/err"
  printf 'orlim-collect ssh, one host hung, -d %s: %.2f s, %s/%s tokens\n' "$deadline" \
    "$(echo "$EPOCHREALTIME - $start" | bc -l)" "$(grep -c "$token" "$lab/out")" "$hosts"
done
