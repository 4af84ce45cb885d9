#!/bin/bash
# Builds the two Debian packages from this build tree, installs them with
# dpkg and checks the installed tools and manual pages. The install happens
# inside a private mount namespace with throw-away overlays on /usr, /var and
# /etc, so the host's dpkg database and files are untouched afterwards.
# usage: packages_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log"; exit 1; }
debs=("$work"/out/orlim_*.deb "$work"/out/orlim-decode_*.deb)
for deb in "${debs[@]}"; do
  [ -f "$deb" ] || { echo "missing package: $deb"; ls "$work/out"; exit 1; }
done

# What each package carries.
field=$(dpkg-deb -c "${debs[0]}")
decoder=$(dpkg-deb -c "${debs[1]}")
grep -q ' ./usr/bin/orlim$' <<<"$field"
grep -q ' ./usr/share/man/man1/orlim.1.gz$' <<<"$field"
grep -q ' ./usr/sbin/orlim-inspect$' <<<"$field"
grep -q ' ./usr/share/man/man8/orlim-inspect.8.gz$' <<<"$field"
grep -q ' ./usr/bin/orlim-decode$' <<<"$decoder"
grep -q ' ./usr/share/man/man1/orlim-decode.1.gz$' <<<"$decoder"
if grep -q orlim-decode <<<"$field"; then echo "orlim package carries the decoder"; exit 1; fi

mkdir -p "$work/ov"
unshare --mount --propagation private bash -euo pipefail -c '
  work=$1; shift
  mount -t tmpfs tmpfs "$work/ov"
  for d in usr var etc; do
    mkdir -p "$work/ov/$d/upper" "$work/ov/$d/work"
    mount -t overlay overlay -o "lowerdir=/$d,upperdir=$work/ov/$d/upper,workdir=$work/ov/$d/work" "/$d"
  done
  dpkg -i "$@" >/dev/null
  usage=$(/usr/bin/orlim -h)
  [ "$(printf "%s\n" "$usage" | head -n 1)" = "Usage: orlim [-h]" ] || { echo "installed orlim -h: $usage"; exit 1; }
  /usr/bin/orlim-decode --version | grep -q "^orlim-decode "
  /usr/sbin/orlim-inspect --version | grep -q "^orlim-inspect "
  /usr/sbin/orlim-inspect --json | grep -q "\"token_fields\": "
  for page in man1/orlim.1 man1/orlim-decode.1 man8/orlim-inspect.8; do
    warnings=$(MANWIDTH=80 man --warnings -l "/usr/share/man/$page.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "man $page: $warnings"; exit 1; }
    MANWIDTH=80 man -l "/usr/share/man/$page.gz" 2>/dev/null | grep -q "NAME"
  done
' inner "$work" "${debs[@]}" || exit 1

echo "packages install and work"
