#!/bin/bash
# Builds the Debian packages as a packager does, with dpkg-buildpackage, from
# a copy of the sources in OUT/orlim; the packages land in OUT. For the build
# host's architecture the source package and every binary package (-us -uc);
# for another one a cross build of the architecture-dependent packages
# (-B -aARCH -Pcross,nocheck), which needs the target's libc6 known to dpkg
# through multiarch (tools/deps.sh test sets that up). The tests were run in
# the build that runs this one, so the package build makes the tools alone.
# usage: debian_build.sh SOURCE_DIR OUT ARCH
set -euo pipefail
source_dir=$1
out=$2
arch=$3
rm -rf "$out"
# Dates come from debian/changelog, as on a build daemon, whatever the caller
# set for other builds.
unset SOURCE_DATE_EPOCH
"$(dirname "$0")/copy_sources.sh" "$source_dir" "$out/orlim"
export DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)"
if [ "$arch" = "$(dpkg --print-architecture)" ]; then
  options=(-Pnocheck)
else
  options=(-B "-a$arch" -Pcross,nocheck)
fi
(cd "$out/orlim" && dpkg-buildpackage -us -uc "${options[@]}") >"$out/build.log" 2>&1 ||
  { tail -n 60 "$out/build.log"; echo "FAIL: dpkg-buildpackage ${options[*]}"; exit 1; }
echo "built:" && (cd "$out" && ls -- *.deb *.changes)
