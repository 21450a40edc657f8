#!/bin/sh
# Runs a test that needs 32-bit x86 programs (Wine's 32-bit half, the 32-bit
# emulator), or reports it skipped (status 77, which CTest reads as skipped)
# where this machine can't run them.
#   needs-32bit.sh PROBE CACHE COMMAND [ARGUMENT ...]
# The test's own status 77 is turned into a failure: a test that ran is never
# taken for skipped.
probe=$1
cache=$2
shift 2
answer=$(sh "$probe" "$cache") || exit 1
if [ "$answer" = no ]; then
  echo "skipped: this machine does not run 32-bit programs"
  exit 77
fi
status=0
"$@" || status=$?
[ "$status" -ne 77 ] || status=1
exit "$status"
