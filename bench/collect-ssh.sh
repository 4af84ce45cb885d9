#!/bin/bash
# orlim-collect's ssh form at fleet scale: HOSTS host aliases (default 200)
# on one loopback sshd in namespaces made here (tests/support/ssh_lab.bash),
# each answering with a token after a fixed DELAY (default 0.2 s). Reports
# the collection's wall time at the default parallelism and at -j 1 against
# the serial time (hosts x delay) and the goal, 1.3 x (hosts / jobs) x
# delay, and the CPU time spent by the collector (the control node's share)
# and by the sshd (the machines' share, all on this one machine here); then
# the same list with one host that never answers, whose cost should be no
# more than its deadline.
# usage: bench/collect-ssh.sh [HOSTS [DELAY]]   (as root; needs openssh-server)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/support/ssh_lab.bash"
lab_enter "$0" "$@"
hosts=${1:-200}
delay=${2:-0.2}
collect=$here/../contrib/orlim-collect
trap 'lab_stop; rm -rf "$lab"' EXIT
lab_start_sshd || exit 1

names=()
for i in $(seq -f '%03g' "$hosts"); do
  lab_alias "host-$i"
  names+=("host-$i")
done
lab_alias hung
token=5B0E0C6F2D3A9A5B0E0C6F2D3A9A5B0E0C6F2D3A9A5B0E0C6F2D3A9A11
cat >"$lab/answer" <<ANSWER
#!/bin/sh
[ "\$ORLIM_TEST_HOST" = hung ] && exec sleep 1000
sleep $delay
echo $token
ANSWER
chmod +x "$lab/answer"

# cpu FILE: CPU seconds used so far by the collector (the children of the
# shell that runs this, all they ran included) and by the sshd's finished
# connections (the machines' side of a real fleet), as two numbers in FILE.
# `times` runs in the calling shell itself: a subshell has its own count.
cpu() {
  times >"$1"
  tail -n 1 "$1" | tr -d 'ms' | awk '{ printf "%s ", $1 + $2 }' >"$1.sum"
  awk -v t="$(getconf CLK_TCK)" '{ print ($16 + $17) / t }' "/proc/$lab_sshd/stat" >>"$1.sum"
}

# run ARG...: one collection; its wall time, the collector's CPU time and
# the sshd's, in seconds, on stdout.
run() {
  local start end mine0 theirs0 mine theirs
  cpu "$lab/cpu0"
  start=$EPOCHREALTIME
  "$collect" ssh -c "$lab/answer" "$@" >"$lab/out" 2>"$lab/err"
  end=$EPOCHREALTIME
  cpu "$lab/cpu1"
  read -r mine0 theirs0 <"$lab/cpu0.sum"
  read -r mine theirs <"$lab/cpu1.sum"
  printf '%.2f %.2f %.2f\n' "$(echo "$end - $start" | bc -l)" "$(echo "$mine - $mine0" | bc -l)" \
    "$(echo "$theirs - $theirs0" | bc -l)"
}

# One connection's cost without any delay, for reading the figures.
start=$EPOCHREALTIME
for i in 1 2 3 4 5 6 7 8 9 10; do ssh -n host-001 true; done
one=$(echo "($EPOCHREALTIME - $start) / 10" | bc -l | xargs printf '%.3f')
echo "one ssh connection, serially: $one s; load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) processors"
serial=$(echo "$hosts * $delay" | bc -l)
echo "serial time: $hosts hosts x $delay s = $serial s"
printf '%-32s %7s %7s %7s %9s %9s %s\n' "run" "wall/s" "ideal/s" "goal/s" "cpu-ssh/s" \
  "cpu-sshd/s" "tokens"
for jobs in ${BENCH_JOBS:-32 1}; do
  ideal=$(echo "($hosts / $jobs) * $delay" | bc -l)
  read -r wall mine theirs < <(run -j "$jobs" -- "${names[@]}")
  printf '%-32s %7s %7.2f %7.2f %9s %9s %s\n' \
    "-j $jobs$([ "$jobs" = 32 ] && echo ' (default)')" "$wall" "$ideal" \
    "$(echo "1.3 * $ideal" | bc -l)" "$mine" "$theirs" "$(grep -c . "$lab/out")/$hosts"
done
# A host that never answers holds one place for its deadline, no longer:
# the run takes the longer of the two.
for deadline in ${BENCH_DEADLINES-30}; do
  read -r wall mine theirs < <(run -d "$deadline" -- hung "${names[@]}")
  printf '%-32s %7s %7s %7s %9s %9s %s\n' "-j 32, one host hung, -d $deadline" "$wall" - - \
    "$mine" "$theirs" "$(grep -c . "$lab/out")/$hosts"
done
