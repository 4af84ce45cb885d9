#!/bin/bash
# Instructions per cipher job (callgrind), ours against nettle's and
# libgcrypt's: each job counted as the difference between COUNT runs and none.
# usage: bench/cipher-instructions.sh BUILD_DIR [COUNT]   (needs valgrind)
set -euo pipefail
driver=$1/bench/cipher_instructions
count=${2:-200}

instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$driver" "$@" 2>&1 >/dev/null |
    sed -n 's/.*Collected : *\([0-9]*\).*/\1/p'
}

per_job() {  # library job count -> instructions per job
  local base with
  base=$(instructions "$1" "$2" 0)
  with=$(instructions "$1" "$2" "$3")
  echo $(((with - base) / $3))
}

printf '%-12s %12s %12s %12s %10s %10s\n' job orlim nettle libgcrypt orlim/nettle orlim/gcrypt
for job in key block cbc4k token first-token; do
  n=$count
  [ "$job" = first-token ] && n=1
  o=$(per_job orlim "$job" "$n")
  t=$(per_job nettle "$job" "$n")
  g=$(per_job libgcrypt "$job" "$n")
  printf '%-12s %12d %12d %12d %10.3f %10.3f\n' "$job" "$o" "$t" "$g" \
    "$(echo "$o / $t" | bc -l)" "$(echo "$o / $g" | bc -l)"
done
