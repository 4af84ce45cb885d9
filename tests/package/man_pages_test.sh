#!/bin/bash
# Every manual page in man/ renders without a warning, as man-db and mandoc
# see it (mandoc's STYLE notes included).
# usage: man_pages_test.sh MAN_DIR
set -euo pipefail
status=0
for page in "$1"/*.[0-9]; do
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null || true)
  lint=$(mandoc -T lint -W style "$page" 2>&1 || true)
  if [ -n "$warnings$lint" ]; then
    echo "$page:"; echo "$warnings$lint"; status=1
  fi
done
[ $status -eq 0 ] && echo "manual pages render cleanly"
exit $status
