#!/bin/bash
# orlim-collect's ssh form at fleet scale: HOSTS host aliases (default 200)
# on one loopback sshd in namespaces made here (tests/support/ssh_lab.bash),
# each answering with a token after a fixed DELAY (default 0.2 s). Reports
# the collection's wall time at the default parallelism and at -j 1 against
# the serial time (hosts x delay) and the goal, 1.3 x (hosts / jobs) x
# delay; then the same list with one host that never answers, whose cost
# should be no more than its deadline.
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

# cpu: CPU seconds used so far by this script's children (the collector
# and all it ran) and by the sshd's finished connections.
cpu() {
  local ticks
  ticks=$(getconf CLK_TCK)
  {
    times | tail -n 1 | tr -d 'ms' | awk '{ print $1 + $2 }'
    awk -v t="$ticks" '{ print ($16 + $17) / t }' "/proc/$lab_sshd/stat"
  } | paste -sd+ | bc -l
}

# run ARG...: one collection; its wall time and the CPU time it cost, in
# seconds, on stdout.
run() {
  local start end status cpu0
  cpu0=$(cpu)
  start=$(date +%s.%N)
  "$collect" ssh -c "$lab/answer" "$@" >"$lab/out" 2>"$lab/err"
  status=$?
  end=$(date +%s.%N)
  printf '%.2f %.2f\n' "$(echo "$end - $start" | bc -l)" "$(echo "$(cpu) - $cpu0" | bc -l)"
  [ "$status" = 0 ] || [ "$(grep -c . "$lab/err")" -le 1 ] || cat "$lab/err" >&2
}

# One connection's cost without any delay, for reading the figures.
start=$(date +%s.%N)
for i in 1 2 3 4 5 6 7 8 9 10; do ssh -n host-001 true; done
one=$(echo "($(date +%s.%N) - $start) / 10" | bc -l | xargs printf '%.3f')
echo "one ssh connection, serially: $one s; load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) processors"
serial=$(echo "$hosts * $delay" | bc -l)
echo "serial time: $hosts hosts x $delay s = $serial s"
printf '%-30s %8s %8s %8s %8s %s\n' "run" "wall/s" "ideal/s" "goal/s" "cpu/s" "tokens"
for jobs in ${BENCH_JOBS:-32 16 1}; do
  ideal=$(echo "($hosts / $jobs) * $delay" | bc -l)
  read -r wall used < <(run -j "$jobs" -- "${names[@]}")
  printf '%-30s %8s %8.2f %8.2f %8s %s\n' "-j $jobs$([ "$jobs" = 32 ] && echo ' (default)')" \
    "$wall" "$ideal" "$(echo "1.3 * $ideal" | bc -l)" "$used" "$(grep -c . "$lab/out")/$hosts"
done
for deadline in ${BENCH_DEADLINES-5 10}; do
  read -r wall used < <(run -d "$deadline" -- hung "${names[@]}")
  printf '%-30s %8s %8s %8s %8s %s\n' "-j 32, one host hung, -d $deadline" "$wall" - - "$used" \
    "$(grep -c . "$lab/out")/$hosts"
done
