#!/bin/bash
# Checks that a release binary is hardened: position independent, full
# RELRO, stack protector and fortified libc calls.
# usage: hardening_test.sh BINARY
set -euo pipefail
bin=$1
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
echo "$bin is hardened"
