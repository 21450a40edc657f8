#!/bin/sh
# Readies the Wine prefix named by WINEPREFIX (a new one made for WINEARCH)
# and keeps its server running for the tests that follow (the first start of a
# new prefix takes a while).
#   start-wine.sh LOADER   (wine for the 32-bit build, Wine's wine64 for the 64-bit one)
set -e
loader=${1:?usage: start-wine.sh LOADER}
mkdir -p "$WINEPREFIX"
# The persistent server comes first: Wine's services then stay up between the
# tests, older than every process a test starts. A server left over from an
# earlier run (or one still quitting) is replaced.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
tries=0
until wineserver -p 2>/dev/null; do
  tries=$((tries + 1))
  [ "$tries" -lt 10 ] || { echo "wineserver would not start" >&2; exit 1; }
  sleep 1
done
"$loader" wineboot -i >/dev/null 2>&1 || true
"$loader" cmd /c exit 0 >/dev/null 2>&1
