#!/bin/bash
# Builds Debian's Beetle PSX libretro core (a Mednafen-based emulator) for
# Windows with a MinGW-w64 toolchain, from the package's upstream tarball as
# the Debian archive serves it. Kept in DEST, so that a second run only prints
# the DLL's path.
#
#   bash tests/emulator/build-beetle-core.sh DEST TRIPLE   (TRIPLE: x86_64-w64-mingw32 or i686-w64-mingw32)
set -euo pipefail
dest=${1:?usage: build-beetle-core.sh DEST TRIPLE}
triple=${2:?usage: build-beetle-core.sh DEST TRIPLE}
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)
dll="$dest/$triple/mednafen_psx_libretro.dll"
if [ -f "$dll" ]; then
  echo "$dll"
  exit 0
fi

tarball=$(bash "$(dirname "${BASH_SOURCE[0]}")/../../scripts/fetch-debian-source.sh" "$dest/source" libretro-beetle-psx)
# The tarball holds the tree without a top folder.
rm -rf "$dest/$triple.partial"
mkdir -p "$dest/$triple.partial"
tar -xzf "$tarball" -C "$dest/$triple.partial"
# The core's own Windows build, unchanged. Its makefile links the C and C++
# runtimes in; -static (read from the environment, ahead of its own flags)
# links in the thread library too, which Debian's posix-thread MinGW
# toolchain would else import from a DLL a bare Windows lacks.
# Its many warnings go to a log, shown in part when the build fails.
log="$dest/$triple-build.log"
echo "build-beetle-core: building the $triple core (about a minute on 2 cores; log: $log)" >&2
if ! LDFLAGS=-static make -C "$dest/$triple.partial" -j2 platform=win CC="$triple-gcc" CXX="$triple-g++" \
  >"$log" 2>&1; then
  tail -n 30 "$log" >&2
  exit 1
fi
rm -rf "${dest:?}/$triple"
mv "$dest/$triple.partial" "$dest/$triple"
echo "$dll"
