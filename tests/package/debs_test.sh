#!/bin/bash
# Checks the Debian packages that dpkg-buildpackage made for one architecture
# (debian_build.sh) as a distribution would: lintian on the .changes (the
# .dsc with it for a source build) and every .deb; the control fields; which
# files each package carries; every package's libc6 dependency against the
# newest GLIBC_ symbol version each of its binaries needs; the -dbgsym
# packages holding the debug information of exactly the stripped binaries,
# by build ID; the binaries hardened. Then the packages are installed with
# dpkg inside a private mount namespace with throw-away overlays on /usr,
# /var and /etc (the host's dpkg database and files are untouched) and the
# installed tools are run, under qemu-user for a foreign architecture.
# usage: debs_test.sh DIR ARCH
set -euo pipefail
dir=$(cd "$1" && pwd)
arch=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

version=$(dpkg-parsechangelog -l "$dir/orlim/debian/changelog" -S Version)
field=$dir/orlim_${version}_$arch.deb
decoder=$dir/orlim-decode_${version}_$arch.deb
native=false
[ "$arch" = "$(dpkg --print-architecture)" ] && native=true
# The architecture-independent package comes with the host's build.
debs=("$field" "$decoder" "$dir/orlim-dbgsym_${version}_$arch.deb"
      "$dir/orlim-decode-dbgsym_${version}_$arch.deb")
$native && debs+=("$dir/orlim-collect_${version}_all.deb")
for deb in "${debs[@]}"; do
  [ -f "$deb" ] || { ls "$dir"; fail "missing package: $deb"; }
done
[ "$(echo "$dir"/*.deb | wc -w)" = "${#debs[@]}" ] || { ls "$dir"; fail "unexpected packages"; }
changes=$dir/orlim_${version}_$arch.changes
$native && { [ -f "$dir/orlim_$version.dsc" ] || fail "no .dsc"; }

# lintian: no tag at all, pedantic and experimental ones included, beyond
# those overridden in debian/*.lintian-overrides, each with its reason.
lintian --fail-on error,warning,info,pedantic,experimental --display-info \
  --display-experimental --pedantic "$changes" >"$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log"; fail "lintian"; }
if grep -v '^running with root privileges' "$work/lintian.log" | grep -q .; then
  cat "$work/lintian.log"; fail "lintian reports tags"
fi
# The .changes names every package: lintian saw them all.
for deb in "${debs[@]}"; do
  grep -q " $(basename "$deb")\$" "$changes" || fail "$(basename "$deb") not in $changes"
done

contents() { dpkg-deb -c "$1" | awk '{print $6}'; }
expect_files() {  # expect_files DEB FILE...
  local deb=$1 listing; shift
  listing=$(contents "$deb")
  for file in "$@"; do grep -qx "$file" <<<"$listing" || fail "$(basename "$deb"): no $file"; done
}
is_elf() { [ "$(head -c 4 "$1" | od -An -c | tr -d ' ')" = '177ELF' ]; }

for deb in "${debs[@]}"; do
  name=$(dpkg-deb -f "$deb" Package)
  case $name in *-dbgsym) continue ;; esac
  [ "$(dpkg-deb -f "$deb" Multi-Arch)" = foreign ] || fail "$name: Multi-Arch is not foreign"
  [ "$(dpkg-deb -f "$deb" Homepage)" = https://orlim.dev/ ] || fail "$name: Homepage"
  grep -q '@orlim\.dev>$' <<<"$(dpkg-deb -f "$deb" Maintainer)" || fail "$name: Maintainer"
  expect_files "$deb" "./usr/share/doc/$name/copyright" "./usr/share/doc/$name/changelog.gz"
done
[ "$(dpkg-deb -f "$field" Architecture)" = "$arch" ] || fail "orlim: Architecture"
[ "$(dpkg-deb -f "$field" Section)" = admin ] || fail "orlim: Section"
[ "$(dpkg-deb -f "$decoder" Section)" = utils ] || fail "orlim-decode: Section"

expect_files "$field" ./usr/sbin/orlim ./usr/share/man/man8/orlim.8.gz \
  ./usr/sbin/orlim-inspect ./usr/share/man/man8/orlim-inspect.8.gz
# The key holder's tools: the decoder, and orlim-fleet where the sources
# have it.
expect_files "$decoder" ./usr/bin/orlim-decode ./usr/share/man/man1/orlim-decode.1.gz
if [ -f "$dir/orlim/man/orlim-fleet.1" ]; then
  expect_files "$decoder" ./usr/bin/orlim-fleet ./usr/share/man/man1/orlim-fleet.1.gz
fi
# SQLite, for orlim-fleet's registry, is the key holder's dependency alone.
if [ -f "$dir/orlim/src/fleet/fleet_registry.cpp" ]; then
  grep -q 'libsqlite3-0' <<<"$(dpkg-deb -f "$decoder" Depends)" || fail "orlim-decode: no libsqlite3-0 dependency"
fi
if grep -q sqlite <<<"$(dpkg-deb -f "$field" Depends)"; then fail "orlim depends on SQLite"; fi
if grep -q decode <<<"$(contents "$field")"; then fail "the orlim package carries the decoder"; fi
if grep -q '/sbin/' <<<"$(contents "$decoder")"; then fail "the decoder package carries orlim"; fi
if $native; then
  collect=$dir/orlim-collect_${version}_all.deb
  [ "$(dpkg-deb -f "$collect" Architecture)" = all ] || fail "orlim-collect: Architecture"
  grep -qw openssh-client <<<"$(dpkg-deb -f "$collect" Depends)" || fail "orlim-collect: Depends"
  grep -qw ansible-core <<<"$(dpkg-deb -f "$collect" Suggests)" || fail "orlim-collect: Suggests"
  expect_files "$collect" ./usr/bin/orlim-collect ./usr/share/man/man1/orlim-collect.1.gz
  if [ -f "$dir/orlim/contrib/orlim-collect.yml" ]; then
    expect_files "$collect" ./usr/share/orlim-collect/orlim-collect.yml
  fi
  # Collection happens away from the key holder: no decoder, no binary
  # that could carry the token key.
  if grep -q 'orlim-decode' <<<"$(contents "$collect")"; then fail "orlim-collect carries the decoder"; fi
  dpkg-deb -x "$collect" "$work/collect"
  while IFS= read -r -d '' file; do
    ! is_elf "$file" || fail "orlim-collect carries a binary: $file"
  done < <(find "$work/collect" -type f -print0)
fi

# Each binary of the arch-dependent packages: covered by its package's libc6
# dependency, stripped, hardened, and its debug information in the -dbgsym
# package under its build ID.
objdump=objdump
$native || objdump=$(dpkg-architecture -a"$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)-objdump
build_tree=$(echo "$dir"/orlim/obj-*)
for deb in "$field" "$decoder"; do
  name=$(dpkg-deb -f "$deb" Package)
  dbgsym=$dir/${name}-dbgsym_${version}_$arch.deb
  rm -rf "$work/x" "$work/dbg"
  dpkg-deb -x "$deb" "$work/x"
  dpkg-deb -x "$dbgsym" "$work/dbg"
  declared=$(dpkg-deb -f "$deb" Depends)
  floor=$(sed -n 's/.*libc6 (>= \([0-9.]*\)).*/\1/p' <<<"$declared")
  [ -n "$floor" ] || fail "$name: no libc6 dependency in '$declared'"
  ids=()
  while IFS= read -r -d '' file; do
    is_elf "$file" || continue
    [ "$(readelf -h "$file" | sed -n 's/^ *Machine: *//p')" = "$(readelf -h "$build_tree/src/cli/orlim" | sed -n 's/^ *Machine: *//p')" ] ||
      fail "$file: built for another machine"
    needed=$(readelf -W --version-info "$file" | grep -o 'Name: GLIBC_[0-9.]*' | sed 's/.*GLIBC_//' |
             sort -V | tail -n 1)
    dpkg --compare-versions "$floor" ge "$needed" ||
      fail "$name: depends on libc6 (>= $floor) but ${file#"$work/x"} uses GLIBC_$needed"
    if grep -Eq ' \.(symtab|debug_info) ' <<<"$(readelf -SW "$file")"; then
      fail "${file#"$work/x"} is not stripped"
    fi
    id=$(readelf -n "$file" | sed -n 's/^ *Build ID: *//p')
    [ -n "$id" ] || fail "${file#"$work/x"} has no build ID"
    debug=$work/dbg/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug
    [ -f "$debug" ] || fail "$name-dbgsym: no debug file for ${file#"$work/x"} ($id)"
    # (readelf complains, with a failing status, of the interpreter that a
    # debug file names but does not hold.)
    grep -Eq ' \.debug_info ' <<<"$(readelf -SW "$debug" 2>/dev/null || true)" ||
      fail "$debug holds no debug information"
    ids+=("$id")
    # The packaged binary has no symbols left to find main by: its build
    # tree's copy, before stripping.
    unstripped=$(find "$build_tree/src" -type f -name "$(basename "$file")")
    OBJDUMP=$objdump "$here/hardening_test.sh" "$unstripped" "$build_tree/compile_commands.json" \
      "$dir/orlim" >"$work/hardening.log" || { cat "$work/hardening.log"; fail "$name: not hardened"; }
  done < <(find "$work/x" -type f -print0)
  [ "${#ids[@]}" -gt 0 ] || fail "$name: no binaries"
  [ "$(dpkg-deb -f "$dbgsym" Build-Ids | tr ' ' '\n' | sort)" = "$(printf '%s\n' "${ids[@]}" | sort)" ] ||
    fail "$name-dbgsym: Build-Ids '$(dpkg-deb -f "$dbgsym" Build-Ids)', binaries ${ids[*]}"
done

run=()
$native || run=("qemu-$(dpkg-architecture -a"$arch" -qDEB_HOST_GNU_CPU 2>/dev/null)")
installed=("$field" "$decoder")
$native && installed+=("$collect")
mkdir -p "$work/ov"
unshare --mount --propagation private bash -euo pipefail -c '
  work=$1; native=$2; run=$3; shift 3
  read -ra run <<<"$run"
  mount -t tmpfs tmpfs "$work/ov"
  for d in usr var etc; do
    mkdir -p "$work/ov/$d/upper" "$work/ov/$d/work"
    mount -t overlay overlay -o "lowerdir=/$d,upperdir=$work/ov/$d/upper,workdir=$work/ov/$d/work" "/$d"
  done
  # No --force option: the dependencies must be met as declared.
  dpkg -i "$@" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; exit 1; }
  usage=$("${run[@]}" /usr/sbin/orlim -h)
  [ "$(printf "%s\n" "$usage" | head -n 1)" = "Usage: orlim [-h]" ] || { echo "installed orlim -h: $usage"; exit 1; }
  "${run[@]}" /usr/bin/orlim-decode --version | grep -q "^orlim-decode "
  "${run[@]}" /usr/sbin/orlim-inspect --version | grep -q "^orlim-inspect "
  "${run[@]}" /usr/sbin/orlim-inspect --json | grep "\"token_fields\": " >/dev/null
  if [ -e /usr/bin/orlim-fleet ]; then
    "${run[@]}" /usr/bin/orlim-fleet --version | grep -q "^orlim-fleet "
  fi
  if [ "$native" = true ]; then
    status=0; said=$(/usr/bin/orlim-collect 2>&1) || status=$?
    [ "$status" != 0 ] && grep -qi usage <<<"$said" ||
      { echo "installed orlim-collect without arguments: exit $status, $said"; exit 1; }
  fi
  # Every manual page the packages installed.
  mapfile -t pages < <(dpkg-query -L orlim orlim-decode $([ "$native" = true ] && echo orlim-collect) |
                       grep "^/usr/share/man/man[0-9]/.*\.gz$")
  [ "${#pages[@]}" -ge 3 ] || { echo "manual pages: ${pages[*]}"; exit 1; }
  for file in "${pages[@]}"; do
    page=${file#/usr/share/man/}; page=${page%.gz}
    warnings=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "man $page: $warnings"; exit 1; }
    lint=$(mandoc -T lint "$file" 2>&1) || { echo "mandoc $page: $lint"; exit 1; }
    MANWIDTH=80 man -l "$file" 2>/dev/null | grep "^EXAMPLES" >/dev/null || { echo "$page: no EXAMPLES"; exit 1; }
    # By name and section, as an administrator would look it up.
    name=${page#*/}
    MANWIDTH=80 man "${name##*.}" "${name%.*}" 2>/dev/null | grep "^NAME" >/dev/null ||
      { echo "man ${name##*.} ${name%.*} finds nothing"; exit 1; }
  done
' inner "$work" "$native" "${run[*]}" "${installed[@]}" || fail "installed packages"

echo "$arch packages pass lintian, carry what they should, install and work"
