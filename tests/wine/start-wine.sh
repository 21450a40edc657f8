#!/bin/sh
# Readies the Wine prefix named by WINEPREFIX (a new one made for WINEARCH)
# and keeps its server running for the tests that follow (the first start of a
# new prefix takes a while).
#   start-wine.sh LOADER   (wine for the 32-bit build, Wine's wine64 for the 64-bit one)
set -e
loader=${1:?usage: start-wine.sh LOADER}
mkdir -p "$WINEPREFIX"
# A server left over from an earlier run (or one still quitting) is replaced.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
# A new prefix is made under a server of its own, which writes the registry to
# disk when it ends: a persistent server keeps it in memory for a while, and
# the test on a real emulator copies the prefix from disk.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$loader" wineboot -i >/dev/null 2>&1 || true
  wineserver -w 2>/dev/null || true
fi
# Then the persistent server: Wine's services stay up between the tests,
# older than every process a test starts.
tries=0
until wineserver -p 2>/dev/null; do
  tries=$((tries + 1))
  [ "$tries" -lt 10 ] || { echo "wineserver would not start" >&2; exit 1; }
  sleep 1
done
"$loader" wineboot -i >/dev/null 2>&1 || true
"$loader" cmd /c exit 0 >/dev/null 2>&1
[ -f "$WINEPREFIX/system.reg" ] || { echo "the prefix $WINEPREFIX has no registry on disk" >&2; exit 1; }
