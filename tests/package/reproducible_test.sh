#!/bin/bash
# Builds of the same sources in different folders must give byte-identical
# packages:
#  - the RPM and the static binary in it: this build tree's (inside its
#    source tree), against a second CMake build of a copy of the sources
#    configured alike, outside it, made at least a second later;
#  - the Debian packages, made by dpkg-buildpackage once more in another
#    folder, against those of DEBS_DIR (debian_build.sh).
# usage: reproducible_test.sh SOURCE_DIR BUILD_DIR DEBS_DIR ARCH
set -euo pipefail
source_dir=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
debs=$(cd "$3" && pwd)
arch=$4
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The date this tree was configured with (the manual pages carry it) is the
# one the second build gets.
SOURCE_DATE_EPOCH=$(sed -n 's/.*set(ENV{SOURCE_DATE_EPOCH} "\([0-9]*\)").*/\1/p' \
                    "$build/CPackProjectConfig.cmake")
[ -n "$SOURCE_DATE_EPOCH" ] || { echo "FAIL: no SOURCE_DATE_EPOCH in $build"; exit 1; }
export SOURCE_DATE_EPOCH
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }

cpack --config "$build/CPackConfig.cmake" -B "$work/one/packages" >"$work/log" 2>&1 ||
  { cat "$work/log"; echo "FAIL: cpack in $build"; exit 1; }
# At least a second apart, so that a clock read anywhere shows.
sleep 1
"$here/copy_sources.sh" "$source_dir" "$work/two/elsewhere/orlim-source"
# The RPM's tools alone, with this tree's compiler and flags.
cmake -S "$work/two/elsewhere/orlim-source" -B "$work/two/out-of-tree" -G Ninja \
  -DCMAKE_BUILD_TYPE="$(cache CMAKE_BUILD_TYPE)" -DCMAKE_CXX_COMPILER="$(cache CMAKE_CXX_COMPILER)" \
  -DCMAKE_CXX_FLAGS="$(cache CMAKE_CXX_FLAGS)" -DORLIM_STATIC="$(cache ORLIM_STATIC)" \
  -DORLIM_TESTS=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >"$work/log" 2>&1 &&
  cmake --build "$work/two/out-of-tree" --target orlim-static orlim-inspect-static orlim_package_files \
    >>"$work/log" 2>&1 &&
  cpack --config "$work/two/out-of-tree/CPackConfig.cmake" -B "$work/two/packages" >>"$work/log" 2>&1 ||
  { cat "$work/log"; echo "FAIL: the second build"; exit 1; }
"$here/debian_build.sh" "$source_dir" "$work/debs/elsewhere" "$arch" >/dev/null

differ=0
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
rpms=("$work"/one/packages/*.rpm)
[ "${#rpms[@]}" = 1 ] && [ -f "${rpms[0]}" ] || { echo "FAIL: expected one RPM"; differ=1; }
for rpm in "${rpms[@]}"; do
  compare "$(basename "$rpm")" "$rpm" "$work/two/packages/$(basename "$rpm")"
  # The build time is the sources' date, not the clock's.
  built=$(rpm -qp --qf '%{BUILDTIME}' "$rpm" 2>/dev/null)
  [ "$built" = "$SOURCE_DATE_EPOCH" ] || { echo "FAIL: RPM build time $built"; differ=1; }
done
compare orlim-static "$build/src/cli/orlim-static" "$work/two/out-of-tree/src/cli/orlim-static"
count=0
for deb in "$debs"/*.deb; do
  compare "$(basename "$deb")" "$deb" "$work/debs/elsewhere/$(basename "$deb")"
  count=$((count + 1))
done
[ "$count" -ge 4 ] || { echo "FAIL: only $count .debs in $debs"; differ=1; }
exit $differ
