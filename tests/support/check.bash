# The shell tests' checks, sourced by each (bash):
#   check NAME CONDITION...     runs CONDITION; when it fails, says "FAIL: NAME"
#   check_eq NAME EXPECTED ACTUAL   the same for two strings, saying both
#   run ARGS...                 runs "${tool[@]}" ARGS (standard input passed
#                               through), setting out, err and status
#   finish WHAT                 a line when every check passed; the status
# A test counts on $failures for its own summary if it wants one. run needs
# the test's scratch folder in $tmp (standard error goes through it) and the
# command in the array tool; emulator holds the words of
# ORLIM_TEST_EMULATOR, which a cross build's binaries run under.

failures=0
read -ra emulator <<<"${ORLIM_TEST_EMULATOR:-}"

check() {  # check NAME CONDITION...
  local name=$1; shift
  if ! "$@"; then echo "FAIL: $name"; failures=$((failures + 1)); fi
}

check_eq() {  # check_eq NAME EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1: expected \"$2\", got \"$3\""; failures=$((failures + 1))
  fi
}

run() {  # run ARGS... (stdin passed through); sets out, err, status
  out=$("${tool[@]}" "$@" 2>"$tmp/err"); status=$?; err=$(cat "$tmp/err")
}

finish() {  # finish WHAT
  [ "$failures" = 0 ] && echo "$1: all checks passed"
  exit $((failures != 0))
}
