#!/bin/bash
# Two builds of the same sources, in different folders (one build tree inside
# its source tree, the other outside), with the same SOURCE_DATE_EPOCH, must
# give byte-identical Debian packages and static binary.
# usage: reproducible_test.sh SOURCE_DIR CXX_COMPILER BUILD_TYPE
set -euo pipefail
source_dir=$(cd "$1" && pwd)
compiler=$2
build_type=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-1796860800}

# The sources as checked out, without build trees.
copy_sources() {
  mkdir -p "$1"
  if git -C "$source_dir" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git -C "$source_dir" ls-files -z --cached --others --exclude-standard |
      (cd "$source_dir" && xargs -0 tar -cf - --no-recursion --ignore-failed-read 2>/dev/null) | tar -xf - -C "$1"
  else
    tar -C "$source_dir" --exclude=./build -cf - . | tar -xf - -C "$1"
  fi
}
copy_sources "$work/one/orlim"
copy_sources "$work/two/elsewhere/orlim-source"

build() {  # build SOURCE BUILD OUT
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" \
    -DCMAKE_CXX_COMPILER="$compiler" -DORLIM_TESTS=OFF >"$work/log" 2>&1 &&
    cmake --build "$2" >>"$work/log" 2>&1 &&
    cpack --config "$2/CPackConfig.cmake" -G DEB -B "$3" >>"$work/log" 2>&1 ||
    { cat "$work/log"; echo "FAIL: build in $2"; exit 1; }
}
build "$work/one/orlim" "$work/one/orlim/build/release" "$work/one/packages"
build "$work/two/elsewhere/orlim-source" "$work/two/out-of-tree" "$work/two/packages"

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
for deb in "$work"/one/packages/*.deb; do
  compare "$(basename "$deb")" "$deb" "$work/two/packages/$(basename "$deb")"
done
compare orlim-static "$work/one/orlim/build/release/src/cli/orlim-static" \
  "$work/two/out-of-tree/src/cli/orlim-static"
[ "$(ls "$work"/one/packages/*.deb | wc -l)" = 2 ] || { echo "FAIL: expected two .debs"; differ=1; }
exit $differ
