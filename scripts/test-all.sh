#!/bin/bash
# Installs what is missing, builds the native tool and the Windows Mirvane.exe,
# and runs every test: unit tests on both, end-to-end tests natively and under Wine,
# the native tests again under ASan and UBSan, the static checks, and the
# command-line fuzzer for 60 s.
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

echo "=== static checks"
bash scripts/static-checks.sh build/native

echo "=== fuzz"
bash scripts/fuzz.sh 60
