#!/bin/bash
# Installs what is missing, builds the native tool and the Windows Mirvane.exe,
# and runs every test: unit tests on both, end-to-end tests natively and under Wine,
# the native tests again under ASan and UBSan, and the command-line fuzzer for 60 s.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

for preset in native win32 sanitize; do
  echo "=== $preset: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "=== $preset: test"
  ctest --preset "$preset"
done

echo "=== fuzz"
bash scripts/fuzz.sh 60
