#!/bin/bash
# The Debian packages of a cross build: named and marked for their own
# architecture, their libc6 dependency covering what the binaries ask of
# glibc, the files where they belong; installed with dpkg (told not to mind
# the architecture, whose libc6 the host's dpkg doesn't know) inside a
# private mount namespace with throw-away overlays on /usr, /var and /etc,
# and the installed tools run under the emulator named in ORLIM_TEST_EMULATOR.
# usage: foreign_packages_test.sh BUILD_DIR DEBIAN_ARCH OBJDUMP
set -euo pipefail
build=$(cd "$1" && pwd)
arch=$2
objdump=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
field=$(echo "$work"/out/orlim_*_"$arch".deb)
decoder=$(echo "$work"/out/orlim-decode_*_"$arch".deb)
for package in "$field" "$decoder"; do
  [ -f "$package" ] || { ls "$work/out"; fail "missing package: $package"; }
done

for deb in "$field" "$decoder"; do
  name=$(dpkg-deb -f "$deb" Package)
  [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "$name: Architecture is not $arch"
  case $name in
    orlim) binary=$build/src/cli/orlim ;;
    orlim-decode) binary="$build/src/decode/orlim-decode $build/src/fleet/orlim-fleet" ;;
  esac
  # Whatever the binaries ask of glibc, the dependency covers.
  declared=$(dpkg-deb -f "$deb" Depends)
  # shellcheck disable=SC2086 # the package's binaries, one word each
  needed=$("$objdump" -T $binary | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -V | tail -n 1)
  floor=$(sed -n 's/.*libc6 (>= \([0-9.]*\)).*/\1/p' <<<"$declared")
  [ -n "$floor" ] && dpkg --compare-versions "$floor" ge "$needed" ||
    fail "$name: depends on '$declared' but uses GLIBC_$needed"
done
dpkg-deb -c "$field" | awk '{print $6}' | grep -qx ./usr/sbin/orlim || fail "orlim not in sbin"
dpkg-deb -c "$decoder" | awk '{print $6}' | grep -qx ./usr/bin/orlim-decode || fail "decoder not in bin"
dpkg-deb -c "$decoder" | awk '{print $6}' | grep -qx ./usr/bin/orlim-fleet || fail "orlim-fleet not in bin"

mkdir -p "$work/ov"
unshare --mount --propagation private bash -euo pipefail -c '
  work=$1; shift
  read -ra run <<<"${ORLIM_TEST_EMULATOR:-}"
  mount -t tmpfs tmpfs "$work/ov"
  for d in usr var etc; do
    mkdir -p "$work/ov/$d/upper" "$work/ov/$d/work"
    mount -t overlay overlay -o "lowerdir=/$d,upperdir=$work/ov/$d/upper,workdir=$work/ov/$d/work" "/$d"
  done
  dpkg -i --force-architecture --force-depends "$@" >/dev/null 2>"$work/dpkg.log" ||
    { cat "$work/dpkg.log"; exit 1; }
  usage=$("${run[@]}" /usr/sbin/orlim -h)
  [ "$(printf "%s\n" "$usage" | head -n 1)" = "Usage: orlim [-h]" ] || { echo "installed orlim -h: $usage"; exit 1; }
  "${run[@]}" /usr/bin/orlim-decode --version | grep -q "^orlim-decode "
  "${run[@]}" /usr/bin/orlim-fleet --version | grep -q "^orlim-fleet "
  MANWIDTH=80 man 8 orlim 2>/dev/null | grep -q "^NAME"
  MANWIDTH=80 man 1 orlim-decode 2>/dev/null | grep -q "^NAME"
' inner "$work" "$field" "$decoder" || fail "installed packages"

echo "$arch packages install and work"
