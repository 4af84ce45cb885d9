#!/bin/bash
# Builds the RPM from this build tree with cpack and checks it: named,
# summarised and licensed as itself, not relocatable, its %changelog the
# one debian/changelog holds, the static tools and their manual pages
# inside, installed into a throw-away root and run there.
# usage: rpm_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
rpm=$(echo "$work"/out/orlim-*.rpm)
[ -f "$rpm" ] || { ls "$work/out"; fail "missing package: $rpm"; }
query() { rpm -qp "$@" "$rpm" 2>/dev/null; }

info=$(query -i)
grep -qx 'Name *: orlim' <<<"$info" || fail "RPM name: $info"
grep -qx 'License *: MIT' <<<"$info" || fail "RPM licence: $info"
grep -qx 'Summary *: Machine-identity token tool' <<<"$info" || fail "RPM summary: $info"
if grep -qi 'built using CMake' <<<"$info"; then fail "RPM says 'built using CMake'"; fi
# The tools read fixed paths: the package can't be moved elsewhere.
[ "$(query --qf '%{PREFIXES}')" = "(none)" ] || fail "RPM is relocatable: $(query --qf '%{PREFIXES}')"
# Nothing of the machine that built it.
[ "$(query --qf '%{BUILDHOST}')" = reproducible ] || fail "RPM build host: $(query --qf '%{BUILDHOST}')"
# Every file dated as the package (SOURCE_DATE_EPOCH), whenever it was made.
times=$(query --qf '[%{FILEMTIMES}\n]' | sort -u | tr '\n' ' ')
[ "$times" = "$(query --qf '%{BUILDTIME}') " ] ||
  fail "RPM file times $times, not its build time $(query --qf '%{BUILDTIME}')"

# The history is debian/changelog's, entry for entry, newest first.
changelog=$(query --changelog)
version=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Version)
date=$(date -u -d "$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Date)" '+%a %b %d %Y')
maintainer=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" -S Maintainer)
[ "$(head -n 1 <<<"$changelog")" = "* $date $maintainer - $version-1" ] ||
  fail "RPM changelog starts '$(head -n 1 <<<"$changelog")', not debian/changelog's newest entry"
entries=$(dpkg-parsechangelog -l "$source_dir/debian/changelog" --all -S Version | wc -l)
[ "$(grep -c '^\* ' <<<"$changelog")" = "$entries" ] || fail "RPM changelog: not $entries entries: $changelog"
# Each item's first line, as written there.
while IFS= read -r item; do
  grep -qxF -- "- $item" <<<"$changelog" || fail "RPM changelog lacks '- $item'"
done < <(sed -n 's/^  \* //p' "$source_dir/debian/changelog")
if grep -qi cpack <<<"$changelog"; then fail "RPM changelog is CPack's placeholder: $changelog"; fi

expect_files() {  # expect_files LISTING FILE...
  local listing=$1; shift
  for file in "$@"; do grep -qx "$file" <<<"$listing" || fail "missing $file"; done
}
expect_files "$(query -l)" /usr/sbin/orlim /usr/share/man/man8/orlim.8.gz \
  /usr/sbin/orlim-inspect /usr/share/man/man8/orlim-inspect.8.gz \
  /usr/share/licenses/orlim/LICENSE
rpm --root "$work/rpmroot" --initdb 2>/dev/null
rpm --root "$work/rpmroot" --nodeps -i "$rpm" 2>"$work/rpm.log" || { cat "$work/rpm.log"; fail "rpm -i"; }
[ "$(rpm --root "$work/rpmroot" -q orlim 2>/dev/null)" = "orlim-$version-1.$(query --qf '%{ARCH}')" ] ||
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
echo "the RPM carries the static tools and debian/changelog's history, and installs"
