#!/bin/sh
# Installs the Debian packages a task needs, and only those that are missing.
#   tools/deps.sh build   compiler and build tools
#   tools/deps.sh test    plus everything the test suite uses
#   tools/deps.sh bench   plus the benchmark libraries
#   tools/deps.sh clang   plus clang, for the clang preset
#   tools/deps.sh fuzz    clang and libFuzzer, for the fuzz preset
set -eu

build="g++ cmake ninja-build"
# The VM tests boot the stock kernel, with its modules, under QEMU on SeaBIOS and OVMF.
vm="qemu-system-x86 ovmf seabios linux-image-amd64 busybox-static cpio kmod"
# clang and its runtimes too: the suite runs again built by clang, and the fuzz
# targets build with libFuzzer.
test="$build clang libclang-rt-14-dev pkg-config libgtest-dev libgmock-dev nettle-dev iproute2 dmidecode python3 man-db mandoc jq ansible-core $vm"
bench="$build pkg-config libbenchmark-dev nettle-dev libgcrypt20-dev valgrind strace bc"

clang="$test"
fuzz="$build clang libclang-rt-14-dev"

case "${1:-}" in
  build) wanted=$build ;;
  test) wanted=$test ;;
  bench) wanted=$bench ;;
  clang) wanted=$clang ;;
  fuzz) wanted=$fuzz ;;
  *) echo "usage: $0 build|test|bench|clang|fuzz" >&2; exit 2 ;;
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
