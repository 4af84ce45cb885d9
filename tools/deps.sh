#!/bin/sh
# Installs the Debian packages a task needs, and only those that are missing.
#   tools/deps.sh build   compiler and build tools
#   tools/deps.sh test    plus everything the test suite uses
#   tools/deps.sh package plus what dpkg-buildpackage and cpack need for the
#                         .debs (native and arm64) and the RPM
#   tools/deps.sh bench   plus the benchmark libraries
#   tools/deps.sh clang   plus clang, for the clang preset
#   tools/deps.sh fuzz    clang and libFuzzer, for the fuzz preset
# The build's own dependencies are debian/control's Build-Depends (those
# marked <!nocheck> only for the tests); the lists here add the rest.
set -eu
control=$(dirname "$0")/../debian/control

# build_depends [all|build]: the Build-Depends of debian/control as package
# names (versions, architecture lists and alternatives dropped); "build"
# leaves out those only the tests or the packaging need.
build_depends() {
  awk -v which="$1" '
    /^Build-Depends:/ { on = 1; sub(/^Build-Depends:/, "") }
    on && /^[^ \t#]/ && !/^Build-Depends:/ { on = 0 }
    on && !/^#/ {
      n = split($0, items, ",")
      for (i = 1; i <= n; i++) {
        item = items[i]
        if (which == "build" && item ~ /<!nocheck>/) continue
        sub(/\|.*/, "", item); gsub(/\([^)]*\)|\[[^]]*\]|<[^>]*>|:native/, "", item)
        gsub(/[ \t]/, "", item)
        # debhelper makes the packages; a plain build does without it.
        if (item == "debhelper-compat") item = (which == "build") ? "" : "debhelper"
        if (item != "") print item
      }
    }' "$control" | tr '\n' ' '
}

# g++ and make come with build-essential, which Build-Depends leaves out.
build="g++ $(build_depends build)"
# The VM tests boot Debian's stock kernel under QEMU on SeaBIOS and OVMF. The
# kernel is never installed here (that would touch how the host boots):
# tests/vm/fetch-kernel downloads its package with apt into the build tree and
# unpacks it with dpkg-deb; kmod's depmod indexes its modules.
vm="qemu-system-x86 ovmf seabios busybox-static cpio kmod"
# The package tests: dpkg-buildpackage (dpkg-dev, debhelper), lintian, the
# RPM (rpm), the manual pages (man-db, mandoc, col from bsdextrautils),
# file; orlim-collect's dependency, for installing it.
package="dpkg-dev debhelper lintian rpm mandoc bsdextrautils file man-db openssh-client"
# The aarch64 build beside the native one: Debian's cross compiler, its unit
# tests under user-mode emulation, its VM tests on AAVMF. (The arm64 guest's
# kernel, busybox and dmidecode are downloaded by the tests, not installed.)
# Through dpkg's multiarch: the target's C library, so that dpkg-shlibdeps
# computes the arm64 packages' dependencies and they install, nettle for
# the cipher comparison, SQLite for orlim-fleet's registry and simdjson's
# shared library for its reader (the header is the host's libsimdjson-dev:
# the -dev packages of two architectures can't be installed together).
arm64="g++-aarch64-linux-gnu qemu-user qemu-system-arm qemu-efi-aarch64 libc6:arm64 libc6-dev:arm64 nettle-dev:arm64 libsqlite3-dev:arm64 libsimdjson14:arm64"
# clang and its runtimes too: the suite runs again built by clang, and the fuzz
# targets build with libFuzzer.
# A real container for orlim-inspect's environment test: Debian's podman,
# run nested here with runc (crun can't run in these machines' cgroups).
container="podman runc"
# The fleet page is checked in a real headless browser: Debian's Chromium.
browser="chromium"
test="g++ $(build_depends all) clang libclang-rt-14-dev iproute2 dmidecode jq sqlite3 ansible-core openssh-server $package $vm $arm64 $container $browser"
packaging="$build $package g++-aarch64-linux-gnu libc6:arm64 libc6-dev:arm64 libsqlite3-dev:arm64 libsimdjson14:arm64"
# bench/collect-ssh.sh: a fleet on a loopback sshd, asked by the collector
# and by the fleet tools people run (parallel-ssh, clush, Ansible); the
# record reader's bench against rapidjson and simdjson.
bench="$build pkg-config libbenchmark-dev nettle-dev libgcrypt20-dev valgrind strace bc jq openssh-server pssh clustershell ansible-core rapidjson-dev"

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

# A name without an architecture means the host's: with multiarch a library
# may be installed for another one besides (nettle-dev:arm64).
native=$(dpkg --print-architecture)
status() { dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null || true; }
missing=""
for pkg in $wanted; do
  case $pkg in
    *:*) state=$(status "$pkg") ;;
    *) state=$(status "$pkg:$native"); [ -n "$state" ] || state=$(status "$pkg") ;;
  esac
  [ "$state" = installed ] || missing="$missing $pkg"
done
[ -z "$missing" ] && exit 0

echo "installing:$missing" >&2
# Packages of another architecture (NAME:ARCH) need it added to dpkg first.
for arch in $(printf '%s\n' $missing | sed -n 's/^[^:]*:\(.*\)$/\1/p' | sort -u); do
  if [ "$arch" != "$native" ] &&
     ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    dpkg --add-architecture "$arch"
  fi
done
export DEBIAN_FRONTEND=noninteractive
# Waits for another apt or dpkg run to finish rather than failing at once.
apt-get -o DPkg::Lock::Timeout=600 update -qq
# shellcheck disable=SC2086
apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends $missing
