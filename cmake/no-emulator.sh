#!/bin/sh
# Stands in for a missing user-mode emulator: a test of the cross build that
# would run under it is reported skipped (CTest's SKIP_RETURN_CODE 77), with
# the reason, never passed.
#   no-emulator.sh EMULATOR DEBIAN_PACKAGE PROGRAM [ARGUMENTS...]
echo "skipped: $1 is not installed (Debian: $2), so this build's programs can't run here"
exit 77
