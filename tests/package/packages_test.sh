#!/bin/bash
# Builds the two Debian packages and the RPM from this build tree and checks
# them as a distribution would: lintian with no error or warning, the
# dependencies that dpkg-shlibdeps computes from the binaries, the control
# fields, where each file lands, the manual pages. The .debs are installed
# with dpkg inside a private mount namespace with throw-away overlays on
# /usr, /var and /etc, so the host's dpkg database and files are untouched
# afterwards; the RPM is installed into a throw-away root.
# usage: packages_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

for generator in DEB RPM; do
  cpack --config "$build/CPackConfig.cmake" -G "$generator" -B "$work/out" \
    >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack -G $generator"; }
done
field=$(echo "$work"/out/orlim_*.deb)
decoder=$(echo "$work"/out/orlim-decode_*.deb)
rpm=$(echo "$work"/out/orlim-*.rpm)
for package in "$field" "$decoder" "$rpm"; do
  [ -f "$package" ] || { ls "$work/out"; fail "missing package: $package"; }
done

# lintian: no error, no warning. The info tag allowed:
#  binary-has-unneeded-section: the compiler's .comment in the C runtime
#  objects and the static libstdc++ that every binary links, which strip
#  keeps.
lintian --fail-on error,warning --info --display-experimental --pedantic \
  --suppress-tags binary-has-unneeded-section \
  "$field" "$decoder" >"$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log"; fail "lintian"; }
if grep -v '^running with root privileges' "$work/lintian.log" | grep -q .; then
  cat "$work/lintian.log"; fail "lintian reports tags"
fi

# Control fields.
for deb in "$field" "$decoder"; do
  name=$(dpkg-deb -f "$deb" Package)
  [ "$(dpkg-deb -f "$deb" Multi-Arch)" = foreign ] || fail "$name: Multi-Arch is not foreign"
  [ -n "$(dpkg-deb -f "$deb" Homepage)" ] || fail "$name: no Homepage"
  grep -q '@orlim\.dev>$' <<<"$(dpkg-deb -f "$deb" Maintainer)" || fail "$name: maintainer"
  # The same dependencies dpkg-shlibdeps computes from the build tree's
  # binary: a hand-written libc6 version misses what static libstdc++ needs.
  case $name in
    orlim) binaries=("$build/src/cli/orlim" "$build/src/inspect/orlim-inspect") ;;
    orlim-decode) binaries=("$build/src/decode/orlim-decode" "$build/src/fleet/orlim-fleet") ;;
  esac
  mkdir -p "$work/shlibs/debian"
  printf 'Source: orlim\n\nPackage: orlim\nArchitecture: any\n' >"$work/shlibs/debian/control"
  computed=$(cd "$work/shlibs" && dpkg-shlibdeps -O "${binaries[@]/#/-e}" 2>/dev/null |
             sed -n 's/^shlibs:Depends=//p')
  declared=$(dpkg-deb -f "$deb" Depends)
  [ -n "$computed" ] && [ "$declared" = "$computed" ] ||
    fail "$name: Depends '$declared', dpkg-shlibdeps says '$computed'"
  # Whatever the binary asks of glibc, the dependency covers.
  needed=$(objdump -T "${binaries[@]}" | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -V | tail -n 1)
  floor=$(sed -n 's/.*libc6 (>= \([0-9.]*\)).*/\1/p' <<<"$declared")
  dpkg --compare-versions "$floor" ge "$needed" ||
    fail "$name: depends on libc6 >= $floor but uses GLIBC_$needed"
done

# What each package carries, and where.
contents() { dpkg-deb -c "$1" | awk '{print $6}'; }
expect_files() {  # expect_files LISTING FILE...
  local listing=$1; shift
  for file in "$@"; do grep -qx "$file" <<<"$listing" || fail "missing $file"; done
}
expect_files "$(contents "$field")" ./usr/sbin/orlim ./usr/share/man/man8/orlim.8.gz \
  ./usr/sbin/orlim-inspect ./usr/share/man/man8/orlim-inspect.8.gz \
  ./usr/share/doc/orlim/copyright ./usr/share/doc/orlim/changelog.gz
expect_files "$(contents "$decoder")" ./usr/bin/orlim-decode \
  ./usr/share/man/man1/orlim-decode.1.gz ./usr/bin/orlim-fleet ./usr/share/man/man1/orlim-fleet.1.gz \
  ./usr/share/doc/orlim-decode/copyright ./usr/share/doc/orlim-decode/changelog.gz
if contents "$field" | grep -q decode; then fail "the orlim package carries the decoder"; fi
if contents "$decoder" | grep -q '/sbin/'; then fail "the decoder package carries orlim"; fi

# The RPM: named, summarised and licensed as itself, the static orlim inside.
info=$(rpm -qpi "$rpm" 2>/dev/null)
grep -qx 'Name *: orlim' <<<"$info" || fail "RPM name: $info"
grep -qx 'License *: MIT' <<<"$info" || fail "RPM licence: $info"
grep -qx 'Summary *: Machine-identity token tool' <<<"$info" || fail "RPM summary: $info"
if grep -qi 'built using CMake' <<<"$info"; then fail "RPM says 'built using CMake'"; fi
expect_files "$(rpm -qpl "$rpm" 2>/dev/null)" /usr/sbin/orlim /usr/share/man/man8/orlim.8.gz \
  /usr/sbin/orlim-inspect /usr/share/man/man8/orlim-inspect.8.gz \
  /usr/share/licenses/orlim/LICENSE
rpm --root "$work/rpmroot" --initdb 2>/dev/null
rpm --root "$work/rpmroot" --nodeps -i "$rpm" 2>"$work/rpm.log" || { cat "$work/rpm.log"; fail "rpm -i"; }
[ "$(rpm --root "$work/rpmroot" -q orlim 2>/dev/null)" = "orlim-1.0.0-1.$(rpm -qp --qf '%{ARCH}' "$rpm" 2>/dev/null)" ] ||
  fail "rpm -q orlim in the throw-away root"
installed=$work/rpmroot/usr/sbin/orlim
description=$(file -b "$installed")
grep -q 'static-pie linked' <<<"$description" || fail "RPM's orlim is not static: $description"
grep -q ', stripped' <<<"$description" || fail "RPM's orlim is not stripped: $description"
[ "$("$installed" -h | head -n 1)" = "Usage: orlim [-h]" ] || fail "RPM's orlim -h"
[ -f "$work/rpmroot/usr/share/man/man8/orlim.8.gz" ] || fail "RPM's manual page"
description=$(file -b "$work/rpmroot/usr/sbin/orlim-inspect")
grep -q 'static-pie linked' <<<"$description" || fail "RPM's orlim-inspect is not static: $description"
"$work/rpmroot/usr/sbin/orlim-inspect" --version | grep -q "^orlim-inspect " ||
  fail "RPM's orlim-inspect --version"

mkdir -p "$work/ov"
unshare --mount --propagation private bash -euo pipefail -c '
  work=$1; shift
  mount -t tmpfs tmpfs "$work/ov"
  for d in usr var etc; do
    mkdir -p "$work/ov/$d/upper" "$work/ov/$d/work"
    mount -t overlay overlay -o "lowerdir=/$d,upperdir=$work/ov/$d/upper,workdir=$work/ov/$d/work" "/$d"
  done
  dpkg -i "$@" >/dev/null
  usage=$(/usr/sbin/orlim -h)
  [ "$(printf "%s\n" "$usage" | head -n 1)" = "Usage: orlim [-h]" ] || { echo "installed orlim -h: $usage"; exit 1; }
  /usr/bin/orlim-decode --version | grep -q "^orlim-decode "
  /usr/bin/orlim-fleet --version | grep -q "^orlim-fleet "
  /usr/sbin/orlim-inspect --version | grep -q "^orlim-inspect "
  /usr/sbin/orlim-inspect --json | grep -q "\"token_fields\": "
  for page in man8/orlim.8 man1/orlim-decode.1 man1/orlim-fleet.1 man8/orlim-inspect.8; do
    file=/usr/share/man/$page.gz
    warnings=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "man $page: $warnings"; exit 1; }
    lint=$(mandoc -T lint "$file" 2>&1) || { echo "mandoc $page: $lint"; exit 1; }
    MANWIDTH=80 man -l "$file" 2>/dev/null | grep -q "^EXAMPLES"
  done
  # By name and section, as an administrator would look them up.
  MANWIDTH=80 man 8 orlim 2>/dev/null | grep -q "^NAME"
  MANWIDTH=80 man 1 orlim-decode 2>/dev/null | grep -q "^NAME"
  MANWIDTH=80 man 1 orlim-fleet 2>/dev/null | grep -q "^NAME"
  MANWIDTH=80 man 8 orlim-inspect 2>/dev/null | grep -q "^NAME"
' inner "$work" "$field" "$decoder" || fail "installed packages"

echo "packages pass lintian, install and work"
