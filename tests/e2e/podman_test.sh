#!/bin/bash
# orlim-inspect and orlim in a real container: Debian's podman runs a scratch
# image that holds only the two static tools, built here from a tarball
# (nothing is pulled). Once with the container's own /sys (the host's
# firmware hidden), once with the host's /sys mounted in and its firmware
# unmasked. The report must name podman, judge the container's veth as new
# at every start, and flag the UUID seen through the host's /sys as the
# host's.
#
# Everything runs in private mount and network namespaces: podman's storage
# lives in WORKDIR, /run, /var/lib and /var/tmp are private tmpfs, and the
# bridge, firewall rules and address leases that the container network makes
# vanish with the namespace. The host's firmware view is a tmpfs over
# /sys/firmware in that namespace, holding SMBIOS tables made here.
# usage: podman_test.sh ORLIM_STATIC ORLIM_INSPECT_STATIC WORKDIR   (as root)
set -uo pipefail
orlim=$(realpath "$1") inspect=$(realpath "$2") work=$3

skip() { echo "skipped: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root"
command -v podman >/dev/null || skip "podman is not installed (tools/deps.sh test installs it)"
command -v runc >/dev/null || skip "runc is not installed (tools/deps.sh test installs it)"
command -v jq >/dev/null || skip "jq is not installed"

rm -rf "$work" && mkdir -p "$work/image/bin" || exit 1
work=$(realpath "$work")
trap 'rm -rf "$work"' EXIT
cp "$orlim" "$work/image/bin/orlim" && cp "$inspect" "$work/image/bin/orlim-inspect" || exit 1
tar -C "$work/image" -cf "$work/image.tar" . || exit 1
# What fails on these machines without it: podman's default ulimits can't
# be raised without CAP_SYS_RESOURCE.
printf '[containers]\ndefault_ulimits = []\n' >"$work/containers.conf"

# SMBIOS 3.0 tables of a host: one type-1 structure, UUID bytes 00 11 .. ff
# as stored (read back with the first three fields turned around).
python3 - "$work/tables" <<'PY' || exit 1
import os, struct, sys
out = sys.argv[1]
os.makedirs(out)
uuid = bytes(range(0x00, 0x100, 0x11))
table = (bytes([1, 27, 1, 0, 1, 2, 0, 0]) + uuid + bytes([6, 0, 0]) + b"Test Host\0Server\0\0"
         + bytes([127, 4, 2, 0, 0, 0]))
ep = bytearray(b"_SM3_" + bytes([0, 24, 3, 0, 0, 1, 0]) + struct.pack("<IQ", len(table), 0))
ep[5] = (-sum(ep)) & 0xFF
open(os.path.join(out, "smbios_entry_point"), "wb").write(ep)
open(os.path.join(out, "DMI"), "wb").write(table)
PY

export WORK=$work INSPECT=$inspect CONTAINERS_CONF=$work/containers.conf TMPDIR=$work/tmp
export CHECKS=$(realpath "$(dirname "$0")/../support/check.bash")
mkdir -p "$TMPDIR"
unshare --mount --net --propagation private bash -uo pipefail -c '
for dir in /run /var/lib /var/tmp; do mount -t tmpfs tmpfs "$dir" || exit 1; done
mount -t tmpfs tmpfs /sys/firmware && mkdir -p /sys/firmware/dmi/tables &&
  cp "$WORK/tables/smbios_entry_point" "$WORK/tables/DMI" /sys/firmware/dmi/tables/ || exit 1
# The run root under the private /run: podman refuses one longer than 50
# characters, which a build tree deep in a home folder easily gives.
podman=(podman --root "$WORK/storage" --runroot /run/orlim-podman --tmpdir "$WORK/libpod"
        --runtime runc --cgroup-manager cgroupfs --events-backend none)
# Where podman cannot start a container here, say why and skip.
if ! out=$("${podman[@]}" import "$WORK/image.tar" orlim-test:1 2>&1); then
  echo "skipped: podman import failed: $out"; exit 77
fi
if ! out=$(timeout 120 "${podman[@]}" run --rm orlim-test:1 /bin/orlim-inspect --version 2>&1); then
  echo "skipped: podman cannot run a container here: $out"; exit 77
fi

source "$CHECKS"
in_container() { timeout 120 "${podman[@]}" run --rm "$@"; }
shown=(-v /sys:/sys:ro,rbind --security-opt unmask=/sys/firmware)

host_uuid=$("$INSPECT" --json | jq -r .uuid.value)
check_eq "the host reads its own tables" 33221100-5544-7766-8899-aabbccddeeff "$host_uuid"

for view in hidden shown; do
  opts=(); [ $view = shown ] && opts=("${shown[@]}")
  echo "== orlim-inspect in the container, host /sys $view"
  in_container "${opts[@]}" orlim-test:1 /bin/orlim-inspect
  json=$(in_container "${opts[@]}" orlim-test:1 /bin/orlim-inspect --json)
  token=$(in_container "${opts[@]}" orlim-test:1 /bin/orlim -u -v 2>&1)
  [ $view = shown ] && token=$(in_container "${opts[@]}" orlim-test:1 /bin/orlim -u 2>/dev/null)
  field() { jq -r "$1" <<<"$json"; }
  check_eq "$view: container" podman "$(field .environment.container)"
  check "$view: kind $(field .environment.kind)" grep -qx "container\|container-in-vm" <<<"$(field .environment.kind)"
  check_eq "$view: card" eth0 "$(field .network.card)"
  check_eq "$view: card verdict" container-interface "$(field .stability.card.verdict)"
  # Either way the advice is how to reach the host'"'"'s identity.
  check "$view: advice names the unmasked firmware" grep -q "unmask=/sys/firmware" <<<"$(field .stability.advice)"
  if [ $view = hidden ]; then
    check_eq "$view: no UUID" null "$(field .uuid.value)"
    check_eq "$view: no token" "Failure reading system ID (-2/16)" "$token"
    check_eq "$view: overall" no-token "$(field .stability.overall)"
  else
    check_eq "$view: the host UUID" "$host_uuid" "$(field .uuid.value)"
    check_eq "$view: the UUID is the host'"'"'s" host "$(field .stability.uuid.verdict)"
    check_eq "$view: a token" 58 "${#token}"
    check_eq "$view: overall" changes-on-restart "$(field .stability.overall)"
  fi
done
finish podman
'
