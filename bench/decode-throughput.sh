#!/bin/bash
# orlim-decode at fleet scale: COUNT valid tokens (default a million) on
# standard input to /dev/null, as text and as --json, side by side with a
# plain C loop over libgcrypt's Twofish CBC-CTS that decrypts the same tokens
# (key set once, hex in, the same text fields out; see gcrypt_decode.c).
# Checks first that the loop and orlim-decode print the same records, then
# reports instructions per token (callgrind, the difference between SAMPLE
# tokens and none) and CPU time and tokens per second over all COUNT tokens.
# usage: bench/decode-throughput.sh BUILD_DIR [COUNT [SAMPLE]]   (bench preset; needs valgrind)
set -euo pipefail
build=$1
count=${2:-1000000}
sample=${3:-100000}
decode=$build/src/decode/orlim-decode
gcrypt=$build/bench/gcrypt_decode
key=$("$build/bench/make_tokens" --key)
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
"$build/bench/make_tokens" "$count" >"$tmp/tokens"
head -n "$sample" "$tmp/tokens" >"$tmp/sample"
: >"$tmp/none"

"$gcrypt" "$key" <"$tmp/sample" >"$tmp/gcrypt.txt"
"$decode" <"$tmp/sample" >"$tmp/orlim.txt"
cmp -s "$tmp/gcrypt.txt" "$tmp/orlim.txt" || { echo "the two print different records" >&2; exit 1; }

instructions() {  # instructions INPUT COMMAND...
  local input=$1; shift
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" <"$input" 2>&1 >/dev/null |
    sed -n 's/.*Collected : *\([0-9]*\).*/\1/p'
}
per_token() {  # per_token COMMAND...
  echo $((($(instructions "$tmp/sample" "$@") - $(instructions "$tmp/none" "$@")) / sample))
}
cpu_seconds() {  # user+sys seconds of COMMAND over all tokens
  local TIMEFORMAT='%U %S'
  { time "$@" <"$tmp/tokens" >/dev/null; } 2>&1 | awk '{ print $1 + $2 }'
}

i_text=$(per_token "$decode")
i_json=$(per_token "$decode" --json)
i_gcrypt=$(per_token "$gcrypt" "$key")
t_text=$(cpu_seconds "$decode")
t_json=$(cpu_seconds "$decode" --json)
t_gcrypt=$(cpu_seconds "$gcrypt" "$key")

printf '%-22s %14s %12s %14s %12s %12s\n' "$count tokens" instr/token "x libgcrypt" "cpu seconds" "x libgcrypt" tokens/s
row() {
  printf '%-22s %14d %12.3f %14.3f %12.3f %12.0f\n' "$1" "$2" "$(echo "$2 / $i_gcrypt" | bc -l)" \
    "$3" "$(echo "$3 / $t_gcrypt" | bc -l)" "$(echo "$count / $3" | bc -l)"
}
row "orlim-decode" "$i_text" "$t_text"
row "orlim-decode --json" "$i_json" "$t_json"
row "libgcrypt loop" "$i_gcrypt" "$t_gcrypt"
