#!/bin/bash
# The build a packager types, without the presets: a plain Release build
# (-O3) with the tests on, configured as it comes, of a copy of the sources
# in OUT/orlim, built in OUT/build and kept there. It must not turn warnings
# into errors (another compiler version or other flags may warn where ours
# don't) and must build: the RPM's tools and pages, and the test program that
# GCC 12 at -O3 warns about in a standard-library inline (-Wrestrict). The
# reproducibility test compares its RPM with the one of the build that runs
# this (the presets build every target, with warnings as errors, clang's at
# -O3).
# usage: plain_build_test.sh SOURCE_DIR CXX_COMPILER OUT
set -euo pipefail
source_dir=$1
compiler=$2
out=$3
fail() { echo "FAIL: $*"; exit 1; }

rm -rf "$out"
"$(dirname "$0")/copy_sources.sh" "$source_dir" "$out/orlim"
# cpack, which the reproducibility test runs here, would otherwise build every
# target first, the whole test suite included; the option changes no output.
CXX=$compiler cmake -S "$out/orlim" -B "$out/build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  >"$out/configure.log" 2>&1 || { cat "$out/configure.log"; fail "configure"; }
if grep -q -- '-Werror\b' "$out/build/compile_commands.json"; then
  grep -o -- '-Werror[^ ]*' "$out/build/compile_commands.json" | sort | uniq -c
  fail "a plain build turns warnings into errors"
fi
grep -q -- ' -O3 ' "$out/build/compile_commands.json" || fail "not an -O3 build"
cmake --build "$out/build" --parallel "$(nproc)" \
  --target orlim-static orlim-inspect-static orlim_package_files test_decode \
  >"$out/build.log" 2>&1 || { cat "$out/build.log"; fail "build"; }
warnings=$(grep -c 'warning:' "$out/build.log" || true)
echo "a plain Release build with $compiler builds ($warnings compiler warnings)"
