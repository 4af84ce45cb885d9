#!/bin/bash
# Checks that a release binary is hardened: position independent, full
# RELRO, stack protector, fortified libc calls, stack clash protection and
# control-flow protection (CET's indirect-branch tracking on x86, branch
# protection on 64-bit ARM).
# usage: hardening_test.sh BINARY COMPILE_COMMANDS SOURCE_DIR
#   COMPILE_COMMANDS: the build's compile_commands.json; every product
#   source in SOURCE_DIR/src must have been compiled with the flags.
set -euo pipefail
bin=$1
commands=$2
source_dir=$3
fail() { echo "$bin: $*"; exit 1; }

readelf -h "$bin" | grep -Eq 'Type:[[:space:]]+DYN' || fail "not position independent"
readelf -lW "$bin" | grep -q 'GNU_RELRO' || fail "no RELRO segment"
if readelf -lW "$bin" | grep -q 'INTERP'; then
  readelf -dW "$bin" | grep -Eq 'BIND_NOW|FLAGS_1.*NOW' || fail "RELRO is partial: no BIND_NOW"
fi
symbols=$(readelf -sW "$bin")
grep -q '__stack_chk_fail' <<<"$symbols" || fail "no stack protector"
# Which calls get checked variants depends on the compiler (clang can't
# fortify the printf family), but some always do.
grep -Eq '__(mem[a-z]*|str[a-z]*|[a-z]*printf|explicit_bzero|read)_chk' <<<"$symbols" ||
  fail "libc calls are not fortified"

machine=$(readelf -h "$bin" | sed -n 's/^ *Machine: *//p')
case $machine in
  *X86-64*|*80386*) flow=-fcf-protection ;;
  *AArch64*) flow=-mbranch-protection=standard ;;
  *) flow= ;;
esac

# The instrumentation itself, where one instruction shows it: an indirect
# branch may only land on an end-branch (x86) or landing-pad (ARM) marker,
# and main is reached indirectly from the C library.
first=$(objdump -d --disassemble=main "$bin" | awk '/<main>:/ && !seen {getline; print; seen = 1}')
case $machine in
  *X86-64*) grep -q 'endbr64' <<<"$first" || fail "main does not start with endbr64: $first" ;;
  *AArch64*) grep -Eq 'paciasp|bti|hint[[:space:]]+#(25|34)' <<<"$first" ||
               fail "main starts with no branch-protection marker: $first" ;;
esac

# Stack clash probes only appear in functions with large frames, so the
# proof is in how each product source was compiled: the compile database,
# and the switches GCC records in the debug information when there is some.
python3 - "$commands" "$source_dir/src/" -fstack-clash-protection $flow <<'EOF' ||
import json, shlex, sys
commands, prefix, wanted = sys.argv[1], sys.argv[2], sys.argv[3:]
entries = [e for e in json.load(open(commands)) if e["file"].startswith(prefix)]
if not entries:
    sys.exit(f"no product sources under {prefix} in {commands}")
for e in entries:
    args = shlex.split(e["command"]) if "command" in e else e["arguments"]
    missing = [w for w in wanted if not any(a == w or a.startswith(w + "=") for a in args)]
    if missing:
        sys.exit(f"{e['file']} compiled without {' '.join(missing)}")
EOF
  fail "compile flags"
producers=$(readelf --debug-dump=info "$bin" 2>/dev/null | grep 'DW_AT_producer.*GNU C++' || true)
if [ -n "$producers" ]; then
  for flag in -fstack-clash-protection $flow; do
    if grep -v -- "$flag" <<<"$producers" | grep -q .; then
      fail "a unit was compiled without $flag"
    fi
  done
fi
echo "$bin is hardened"
