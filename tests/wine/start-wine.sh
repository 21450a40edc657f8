#!/bin/sh
# Readies the Wine prefix named by WINEPREFIX and keeps its server running for
# the tests that follow (the first start of a new prefix takes a while).
set -e
wineboot -i >/dev/null 2>&1 || true
wineserver -p
wine cmd /c exit 0 >/dev/null 2>&1
