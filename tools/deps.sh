#!/bin/sh
# Installs the Debian packages a task needs, and only those that are missing.
#   tools/deps.sh build   compiler and build tools
#   tools/deps.sh test    plus everything the test suite uses
#   tools/deps.sh package plus what cpack needs for the .debs and the RPM
#   tools/deps.sh bench   plus the benchmark libraries
#   tools/deps.sh clang   plus clang, for the clang preset
#   tools/deps.sh fuzz    clang and libFuzzer, for the fuzz preset
set -eu

build="g++ cmake ninja-build"
# The VM tests boot Debian's stock kernel under QEMU on SeaBIOS and OVMF. The
# kernel is never installed here (that would touch how the host boots):
# tests/vm/fetch-kernel downloads its package with apt into the build tree and
# unpacks it with dpkg-deb; kmod's depmod indexes its modules.
vm="qemu-system-x86 ovmf seabios busybox-static cpio kmod"
# The package tests: dependencies from the binaries (dpkg-dev), lintian, the
# RPM (rpm), the manual pages (man-db, mandoc, col from bsdextrautils), file.
package="dpkg-dev lintian rpm mandoc bsdextrautils file"
# clang and its runtimes too: the suite runs again built by clang, and the fuzz
# targets build with libFuzzer.
# The aarch64 build beside the native one: Debian's cross compiler, its unit
# tests under user-mode emulation, its VM tests on AAVMF. (The arm64 guest's
# kernel, busybox and dmidecode are downloaded by the tests, not installed.)
arm64="g++-aarch64-linux-gnu qemu-user qemu-system-arm qemu-efi-aarch64"
# A real container for orlim-inspect's environment test: Debian's podman,
# run nested here with runc (crun can't run in these machines' cgroups).
container="podman runc"
test="$build clang libclang-rt-14-dev pkg-config libgtest-dev libgmock-dev nettle-dev iproute2 dmidecode python3 man-db jq ansible-core openssh-server $package $vm $arm64 $container"
packaging="$build dpkg-dev rpm"
bench="$build pkg-config libbenchmark-dev nettle-dev libgcrypt20-dev valgrind strace bc jq"

clang="$test"
fuzz="$build clang libclang-rt-14-dev"

case "${1:-}" in
  build) wanted=$build ;;
  test) wanted=$test ;;
  package) wanted=$packaging ;;
  bench) wanted=$bench ;;
  clang) wanted=$clang ;;
  fuzz) wanted=$fuzz ;;
  *) echo "usage: $0 build|test|package|bench|clang|fuzz" >&2; exit 2 ;;
esac

missing=""
for pkg in $wanted; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
  [ "$status" = installed ] || missing="$missing $pkg"
done
[ -z "$missing" ] && exit 0

echo "installing:$missing" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing
