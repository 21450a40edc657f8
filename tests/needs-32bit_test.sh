#!/bin/sh
# The skip path of tests that need 32-bit programs, with the probe's answer
# forced: "no" skips without running the test and says why; "yes" runs it and
# keeps its status, but a test's own 77 never passes for a skip.
#   needs-32bit_test.sh NEEDS_32BIT_SH PROBE_SH
wrapper=$1
probe=$2
cache=$(mktemp -d)/answer
failed=0
expect() {  # expect STATUS OUTPUT_PATTERN ANSWER COMMAND...
  want_status=$1 want_output=$2 answer=$3
  shift 3
  output=$(MIRVANE_RUNS_32BIT=$answer sh "$wrapper" "$probe" "$cache" "$@")
  status=$?
  if [ "$status" -ne "$want_status" ] || ! printf '%s\n' "$output" | grep -qx "$want_output"; then
    echo "FAILED: answer $answer, $*: status $status, output '$output'"
    failed=1
  fi
}
expect 77 "skipped: this machine does not run 32-bit programs" no echo ran
expect 0 "ran" yes echo ran
expect 3 "" yes sh -c 'exit 3'
expect 1 "" yes sh -c 'exit 77'
# The real probe answers, and keeps its answer where it is told to.
answer=$(env -u MIRVANE_RUNS_32BIT sh "$probe" "$cache")
if [ "$answer" != yes ] && [ "$answer" != no ] || [ "$(cat "$cache")" != "$answer" ]; then
  echo "FAILED: the probe answered '$answer'"
  failed=1
fi
rm -rf "$(dirname "$cache")"
[ "$failed" -eq 0 ] && echo "4 passed, 0 failed"
exit "$failed"
