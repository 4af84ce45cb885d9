#!/bin/bash
# Builds of the same sources in different folders must give byte-identical
# packages:
#  - the RPM and the static binary in it, from two CMake builds with the
#    same SOURCE_DATE_EPOCH (one build tree inside its source tree, the
#    other outside), made some seconds apart;
#  - the Debian packages, made by dpkg-buildpackage once more in another
#    folder, against those of DEBS_DIR (debian_build.sh).
# usage: reproducible_test.sh SOURCE_DIR CXX_COMPILER BUILD_TYPE DEBS_DIR ARCH
set -euo pipefail
source_dir=$(cd "$1" && pwd)
compiler=$2
build_type=$3
debs=$(cd "$4" && pwd)
arch=$5
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-1796860800}

"$here/copy_sources.sh" "$source_dir" "$work/one/orlim"
"$here/copy_sources.sh" "$source_dir" "$work/two/elsewhere/orlim-source"

build() {  # build SOURCE BUILD OUT: the RPM's tools alone, and the RPM
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" \
    -DCMAKE_CXX_COMPILER="$compiler" -DORLIM_TESTS=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
    >"$work/log" 2>&1 &&
    cmake --build "$2" --target orlim-static orlim-inspect-static orlim_package_files >>"$work/log" 2>&1 &&
    cpack --config "$2/CPackConfig.cmake" -B "$3" >>"$work/log" 2>&1 ||
    { cat "$work/log"; echo "FAIL: build in $2"; exit 1; }
}
build "$work/one/orlim" "$work/one/orlim/build/release" "$work/one/packages"
# At least a second apart, so that a clock read anywhere shows.
sleep 1
build "$work/two/elsewhere/orlim-source" "$work/two/out-of-tree" "$work/two/packages"
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
compare orlim-static "$work/one/orlim/build/release/src/cli/orlim-static" \
  "$work/two/out-of-tree/src/cli/orlim-static"
count=0
for deb in "$debs"/*.deb; do
  compare "$(basename "$deb")" "$deb" "$work/debs/elsewhere/$(basename "$deb")"
  count=$((count + 1))
done
[ "$count" -ge 4 ] || { echo "FAIL: only $count .debs in $debs"; differ=1; }
exit $differ
