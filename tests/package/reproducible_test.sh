#!/bin/bash
# Builds of the same sources in different folders must give byte-identical
# packages:
#  - the RPMs and the static binary in one: this build tree's (inside its
#    source tree) against the plain Release build's of a copy of the sources
#    (plain_build_test.sh, outside it, made at another time), which must be
#    configured alike;
#  - the Debian packages, made by dpkg-buildpackage once more in another
#    folder, against those of DEBS_DIR (debian_build.sh).
# Both RPMs are dated SOURCE_DATE_EPOCH, which the caller sets to the date
# this tree was configured with.
# usage: reproducible_test.sh SOURCE_DIR BUILD_DIR PLAIN_BUILD_DIR DEBS_DIR ARCH
set -euo pipefail
source_dir=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
plain=$(cd "$3" && pwd)
debs=$(cd "$4" && pwd)
arch=$5
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -n "${SOURCE_DATE_EPOCH:-}" ] || { echo "FAIL: SOURCE_DATE_EPOCH is not set"; exit 1; }

differ=0
cache() { sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"; }
for name in CMAKE_BUILD_TYPE CMAKE_CXX_COMPILER CMAKE_CXX_FLAGS ORLIM_STATIC; do
  if [ "$(cache "$build" $name)" != "$(cache "$plain" $name)" ]; then
    echo "FAIL: $name is '$(cache "$build" $name)' here and '$(cache "$plain" $name)'" \
         "in the plain build: the RPMs can't be compared"
    differ=1
  fi
done
[ "$differ" = 0 ] || exit 1

package() {  # package BUILD_DIR OUT
  cpack --config "$1/CPackConfig.cmake" -B "$2" >"$work/log" 2>&1 ||
    { cat "$work/log"; echo "FAIL: cpack in $1"; exit 1; }
}
package "$build" "$work/one"
# At least a second apart, so that a clock read anywhere shows.
sleep 1
package "$plain" "$work/two"
"$here/debian_build.sh" "$source_dir" "$work/debs/elsewhere" "$arch" >/dev/null

compare() {  # compare NAME FILE1 FILE2
  if [ ! -f "$2" ] || [ ! -f "$3" ]; then
    echo "FAIL: $1 missing"; differ=1
  elif cmp -s "$2" "$3"; then
    echo "identical: $1 ($(sha256sum <"$2" | cut -c1-16))"
  else
    echo "FAIL: $1 differs between the two builds"; differ=1
    if command -v diffoscope >/dev/null; then diffoscope "$2" "$3" | head -n 60 || true; fi
  fi
}
rpms=("$work"/one/*.rpm)
# orlim, orlim-decode, orlim-collect.
[ "${#rpms[@]}" = 3 ] && [ -f "${rpms[0]}" ] || { echo "FAIL: expected three RPMs"; differ=1; }
for rpm in "${rpms[@]}"; do
  compare "$(basename "$rpm")" "$rpm" "$work/two/$(basename "$rpm")"
  # The build time is the sources' date, not the clock's.
  built=$(rpm -qp --qf '%{BUILDTIME}' "$rpm" 2>/dev/null)
  [ "$built" = "$SOURCE_DATE_EPOCH" ] || { echo "FAIL: RPM build time $built"; differ=1; }
done
compare orlim-static "$build/src/cli/orlim-static" "$plain/src/cli/orlim-static"
count=0
for deb in "$debs"/*.deb; do
  compare "$(basename "$deb")" "$deb" "$work/debs/elsewhere/$(basename "$deb")"
  count=$((count + 1))
done
[ "$count" -ge 4 ] || { echo "FAIL: only $count .debs in $debs"; differ=1; }
exit $differ
