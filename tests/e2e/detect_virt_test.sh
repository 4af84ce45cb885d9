#!/bin/sh
# orlim-inspect agrees with systemd-detect-virt on the machine the tests run
# on: the same hypervisor and the same container, by the same names, wherever
# both answer. (orlim-inspect also reads the runtimes' cgroup paths, which
# systemd-detect-virt doesn't; a container found only there is not compared.)
# usage: detect_virt_test.sh ORLIM_INSPECT
set -u
inspect=$1
command -v systemd-detect-virt >/dev/null ||
  { echo "skipped: systemd-detect-virt is not installed (package systemd)"; exit 77; }
command -v jq >/dev/null || { echo "skipped: jq is not installed"; exit 77; }

json=$("$inspect" --json) || { echo "FAIL: orlim-inspect --json"; exit 1; }
theirs_vm=$(systemd-detect-virt --vm)
theirs_container=$(systemd-detect-virt --container)
ours_vm=$(printf '%s' "$json" | jq -r '.environment.hypervisor // "none"')
ours_container=$(printf '%s' "$json" | jq -r '.environment.container // "none"')
by=$(printf '%s' "$json" | jq -r '[.environment.evidence[] | select(.decided) | .signal] | join(" ")')
echo "systemd-detect-virt: vm $theirs_vm, container $theirs_container"
echo "orlim-inspect:       vm $ours_vm, container $ours_container (decided by: $by)"

failures=0
[ "$ours_vm" = "$theirs_vm" ] || { echo "FAIL: hypervisor differs"; failures=1; }
case " $by " in
  *" cgroup-"*|*" root-mount "*) ;;  # signals systemd-detect-virt doesn't read
  *) [ "$ours_container" = "$theirs_container" ] || { echo "FAIL: container differs"; failures=1; } ;;
esac
exit $failures
