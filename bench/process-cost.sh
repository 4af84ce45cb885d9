#!/bin/bash
# Whole-process cost of one `orlim -u` run against /bin/true, in a private
# namespace laid out like a small server: SMBIOS tables in sysfs, one card
# with an address, and lo. Reports wall time (pair by pair), instructions
# (callgrind), system calls (strace -c -f) and peak memory.
# usage: bench/process-cost.sh ORLIM [RUNS]   (as root; needs valgrind, strace)
set -euo pipefail
orlim=$(realpath "$1")
runs=${2:-200}
here=$(cd "$(dirname "$0")" && pwd)
cost=${PROCESS_COST:-$(dirname "$orlim")/../../bench/process_cost}
dump=${SMBIOS_SYSFS:-$here/../../shared/smbios-dumps/libsmbios-xps9365.sysfs}

exec unshare --mount --net --propagation private bash -euo pipefail -c '
orlim=$1 runs=$2 cost=$3 dump=$4
mount -t sysfs sysfs /sys
ip tuntap add eth0 mode tap
ip link set eth0 address 52:54:00:12:34:56
ip addr add 10.1.2.3/24 dev eth0
mount -t tmpfs tmpfs /sys/firmware
mkdir -p /sys/firmware/dmi/tables
cp "$dump/smbios_entry_point" "$dump/DMI" /sys/firmware/dmi/tables/

echo "token: $("$orlim" -u -v 2>&1)"
echo
echo "== wall time and peak memory, $runs runs pair by pair (first: /bin/true, second: orlim -u)"
"$cost" "$runs" /bin/true -- "$orlim" -u

instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
    sed -n "s/.*Collected : *\([0-9]*\).*/\1/p"
}
echo
echo "== instructions (callgrind, whole process)"
echo "/bin/true  $(instructions /bin/true)"
echo "orlim -u   $(instructions "$orlim" -u)"

echo
echo "== system calls (strace -c -f)"
echo "/bin/true  $(strace -c -f "/bin/true" 2>&1 >/dev/null | awk "/total/ {print \$4}")"
echo "orlim -u   $(strace -c -f "$orlim" -u 2>&1 >/dev/null | awk "/total/ {print \$4}")"
' bench "$orlim" "$runs" "$cost" "$dump"
