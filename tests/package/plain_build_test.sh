#!/bin/bash
# The build a packager types, without the presets: a plain Release build
# (-O3) with the tests on, configured as it comes. It must not turn warnings
# into errors (another compiler version or other flags may warn where ours
# don't) and must build: the tool and the test program that GCC 12 at -O3
# warns about in a standard-library inline (-Wrestrict), which between them
# compile most of the sources (the presets build every target, with warnings
# as errors, clang's at -O3).
# usage: plain_build_test.sh SOURCE_DIR CXX_COMPILER
set -euo pipefail
source_dir=$1
compiler=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$(dirname "$0")/copy_sources.sh" "$source_dir" "$work/orlim"
CXX=$compiler cmake -S "$work/orlim" -B "$work/build" -DCMAKE_BUILD_TYPE=Release \
  >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "configure"; }
if grep -q -- '-Werror\b' "$work/build/compile_commands.json"; then
  grep -o -- '-Werror[^ ]*' "$work/build/compile_commands.json" | sort | uniq -c
  fail "a plain build turns warnings into errors"
fi
grep -q -- ' -O3 ' "$work/build/compile_commands.json" || fail "not an -O3 build"
cmake --build "$work/build" --parallel "$(nproc)" --target orlim test_decode \
  >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "build"; }
warnings=$(grep -c 'warning:' "$work/build.log" || true)
echo "a plain Release build with $compiler builds ($warnings compiler warnings)"
