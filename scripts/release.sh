#!/bin/bash
# Builds the Windows release, build/win32/Mirvane-1.0-win32.zip (Mirvane.exe,
# Mirvane.bat, README.txt, and TESSIL.EXE/TESSIL.ISO where they were built),
# and checks what the zip holds.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target package
python3 packaging/check_release_zip.py --source . --build build/win32
