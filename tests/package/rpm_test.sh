#!/bin/bash
# Builds the RPMs from this build tree with cpack and checks them: orlim
# (the static field tools), orlim-decode (the decoder and orlim-fleet) and
# orlim-collect (noarch), each named, summarised and licensed as itself
# (LICENSE marked %license), not relocatable, its %changelog the one
# debian/changelog holds, its files and manual pages inside, the pages
# dated as the .debs date theirs (debian/changelog's newest entry), its
# dependencies real; installed into a throw-away root and run there. The
# RPMs are left in BUILD_DIR/rpm-packages.
# usage: rpm_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

out=$build/rpm-packages
rm -rf "$out"
cpack --config "$build/CPackConfig.cmake" -B "$out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
version=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Version)
released=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Timestamp)
machine=$(rpm -qp --qf '%{ARCH}' "$out"/orlim-"$version"-1.*.rpm 2>/dev/null | head -n 1)
[ -n "$machine" ] || { ls "$out"; fail "missing package orlim-$version-1.*.rpm"; }
query() { rpm -qp "$@" "$rpm" 2>/dev/null; }

# check_package NAME ARCH SUMMARY: what every one of the RPMs must be.
check_package() {
  local name=$1 arch=$2 summary=$3 info times changelog entries date maintainer page
  rpm=$out/$name-$version-1.$arch.rpm
  [ -f "$rpm" ] || { ls "$out"; fail "missing package: $rpm"; }
  info=$(query -i)
  grep -qx "Name *: $name" <<<"$info" || fail "$name: RPM name: $info"
  grep -qx "Architecture *: $arch" <<<"$info" || fail "$name: RPM architecture: $info"
  grep -qx 'License *: MIT' <<<"$info" || fail "$name: RPM licence: $info"
  grep -qx "Summary *: $summary" <<<"$info" || fail "$name: RPM summary: $info"
  if grep -qi 'built using CMake' <<<"$info"; then fail "$name: RPM says 'built using CMake'"; fi
  # The tools read fixed paths: the package can't be moved elsewhere.
  [ "$(query --qf '%{PREFIXES}')" = "(none)" ] || fail "$name: RPM is relocatable: $(query --qf '%{PREFIXES}')"
  # Nothing of the machine that built it.
  [ "$(query --qf '%{BUILDHOST}')" = reproducible ] || fail "$name: RPM build host: $(query --qf '%{BUILDHOST}')"
  # Every file dated as the package (SOURCE_DATE_EPOCH), whenever it was made.
  times=$(query --qf '[%{FILEMTIMES}\n]' | sort -u | tr '\n' ' ')
  [ "$times" = "$(query --qf '%{BUILDTIME}') " ] ||
    fail "$name: RPM file times $times, not its build time $(query --qf '%{BUILDTIME}')"
  # The licence, marked as one.
  [ "$(query -L)" = "/usr/share/licenses/$name/LICENSE" ] || fail "$name: RPM licence files: $(query -L)"

  # The history is debian/changelog's, entry for entry, newest first.
  changelog=$(query --changelog)
  date=$(date -u -d "@$released" '+%a %b %d %Y')
  maintainer=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Maintainer)
  [ "$(head -n 1 <<<"$changelog")" = "* $date $maintainer - $version-1" ] ||
    fail "$name: RPM changelog starts '$(head -n 1 <<<"$changelog")', not debian/changelog's newest entry"
  entries=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" --all -S Version | wc -l)
  [ "$(grep -c '^\* ' <<<"$changelog")" = "$entries" ] || fail "$name: RPM changelog: not $entries entries: $changelog"
  # Each item's first line, as written there.
  while IFS= read -r item; do
    grep -qxF -- "- $item" <<<"$changelog" || fail "$name: RPM changelog lacks '- $item'"
  done < <(sed -n 's/^  \* //p' "$source_dir/debian/changelog")
  if grep -qi cpack <<<"$changelog"; then fail "$name: RPM changelog is CPack's placeholder: $changelog"; fi

  # The manual pages, dated as the .debs' are.
  rm -rf "$work/x" && mkdir "$work/x"
  (cd "$work/x" && rpm2cpio "$rpm" | cpio -idm --quiet) || fail "$name: unpacking"
  for page in "$work"/x/usr/share/man/man*/*.gz; do
    [ "$(zcat "$page" | awk '$1 == ".TH" { print $4 }')" = "$(date -u -d "@$released" +%F)" ] ||
      fail "$name: ${page##*/} dated $(zcat "$page" | grep '^\.TH'), not $(date -u -d "@$released" +%F)"
  done
}

expect_files() {  # expect_files LISTING FILE...
  local listing=$1; shift
  for file in "$@"; do grep -qx "$file" <<<"$listing" || fail "missing $file"; done
}
check_package orlim "$machine" "Machine-identity token tool"
expect_files "$(query -l)" /usr/sbin/orlim /usr/share/man/man8/orlim.8.gz \
  /usr/sbin/orlim-inspect /usr/share/man/man8/orlim-inspect.8.gz \
  /usr/share/licenses/orlim/LICENSE
[ -z "$(query -R | grep -v '^rpmlib(')" ] || fail "orlim: static, yet it requires $(query -R)"
field=$rpm
check_package orlim-decode "$machine" "Decoder for orlim machine-identity tokens"
expect_files "$(query -l)" /usr/bin/orlim-decode /usr/share/man/man1/orlim-decode.1.gz \
  /usr/bin/orlim-fleet /usr/share/man/man1/orlim-fleet.1.gz /usr/share/licenses/orlim-decode/LICENSE
# What the binaries link, as rpmbuild found it: the C library at least.
grep -q '^libc\.so\.6' <<<"$(query -R)" || fail "orlim-decode: requires $(query -R)"
for tool in orlim-decode orlim-fleet; do
  for library in $(objdump -p "$work/x/usr/bin/$tool" | awk '$1 == "NEEDED" { print $2 }'); do
    grep -q "^$library" <<<"$(query -R)" || fail "orlim-decode: $tool needs $library, the RPM does not say so"
  done
done
if grep -q '/sbin/' <<<"$(query -l)"; then fail "the decoder's RPM carries orlim"; fi
decoder=$rpm
check_package orlim-collect noarch "Collect orlim machine-identity tokens from a fleet"
expect_files "$(query -l)" /usr/bin/orlim-collect /usr/share/man/man1/orlim-collect.1.gz \
  /usr/share/orlim-collect/orlim-collect.yml /usr/share/orlim-collect/filter_plugins/orlim_collect.py \
  /usr/share/licenses/orlim-collect/LICENSE
for needed in bash coreutils util-linux openssh-clients; do
  grep -qx "$needed" <<<"$(query -R)" || fail "orlim-collect: does not require $needed: $(query -R)"
done
grep -qx ansible-core <<<"$(query --suggests)" || fail "orlim-collect: does not suggest ansible-core"
if grep -q 'orlim-decode' <<<"$(query -l)"; then fail "orlim-collect's RPM carries the decoder"; fi
collector=$rpm

rpm --root "$work/rpmroot" --initdb 2>/dev/null
rpm --root "$work/rpmroot" --nodeps -i "$field" "$decoder" "$collector" 2>"$work/rpm.log" ||
  { cat "$work/rpm.log"; fail "rpm -i"; }
for name in orlim orlim-decode; do
  [ "$(rpm --root "$work/rpmroot" -q $name 2>/dev/null)" = "$name-$version-1.$machine" ] ||
    fail "rpm -q $name in the throw-away root"
done
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
"$work/rpmroot/usr/bin/orlim-decode" --version | grep -q "^orlim-decode " ||
  fail "RPM's orlim-decode --version"
[ "$("$work/rpmroot/usr/bin/orlim-collect" --version)" = "orlim-collect $version" ] ||
  fail "RPM's orlim-collect --version: $("$work/rpmroot/usr/bin/orlim-collect" --version)"
echo "the RPMs carry the static tools, the decoder and the collector, each with debian/changelog's history, and install"
