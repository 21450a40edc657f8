#!/bin/bash
# Builds the Windows release, build/win32/Mirvane-1.0-win32.zip (Mirvane.exe,
# Mirvane64.exe from the win64 build, Mirvane.bat, README.txt, LICENSE.txt, and
# TESSIL.EXE/TESSIL.ISO where they were built), and checks what the zip holds
# and what both executables import.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target package
python3 packaging/check_release_zip.py --source . --build build/win32
# The executables as packed (stripped), each read by its own toolchain's objdump.
for exe in Mirvane.exe:i686 Mirvane64.exe:x86_64; do
  name=${exe%%:*}
  echo "=== $name in the zip"
  python3 -c 'import sys, zipfile; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))' \
    build/win32/Mirvane-1.0-win32.zip "Mirvane-1.0-win32/$name" > "build/win32/packed-$name"
  sh packaging/check_windows_exe.sh "build/win32/packed-$name" "${exe##*:}-w64-mingw32-objdump"
done
