#!/bin/bash
# Installs what building and testing Mirvane needs on Debian 12, skipping what
# is there already.
#   (no argument)  everything: the native toolchain with GoogleTest's sources;
#                  the 32-bit and 64-bit MinGW-w64 cross toolchains and Wine
#                  (its 64-bit half runs everywhere) for the Windows builds,
#                  which with make also build the Beetle PSX emulator core
#                  for the test on a real emulator under Wine (its source is
#                  fetched with apt-get source at the test's first run, through
#                  a source list of its own); the aarch64 cross toolchain and
#                  qemu's user-mode emulation for the ARM64 build and its
#                  tests; the MIPS cross tools and an ISO writer for the marker
#                  program; Debian's 64-bit pcsxr emulator with Xvfb, Mesa and
#                  ImageMagick, and Debian's Beetle PSX libretro core and
#                  standalone Mednafen, for the tests on real emulators; clang with its
#                  fuzzer and sanitizer runtimes, clang-tidy and clang-format.
#                  Where this machine runs 32-bit programs
#                  (scripts/probe-32bit.sh) also Wine's 32-bit half and the
#                  32-bit pcsxr, unpacked into build/pcsxr-i386 with the 32-bit
#                  libraries it needs installed; elsewhere they could not run.
#   native         only what the native build and its tests need.
#   bench          everything, and what the benchmarks need besides (Google
#                  Benchmark, scanmem).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# The 32-bit pcsxr package can't be installed beside the 64-bit one, so its
# files are unpacked here; tests/emulator points the emulator at its plugins.
pcsxr_i386="$root/build/pcsxr-i386"

packages=(cmake make g++ googletest python3 dpkg-dev lintian)
if [ "${1:-}" = bench ]; then
  packages+=(libbenchmark-dev scanmem)
fi
runs32=no
if [ "${1:-}" != native ]; then
  packages+=(g++-mingw-w64-i686-posix mingw-w64-i686-dev wine
             g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine64
             g++-aarch64-linux-gnu qemu-user
             binutils-mipsel-linux-gnu genisoimage
             pcsxr:amd64 xvfb imagemagick libgl1-mesa-dri libglx-mesa0 libretro-beetle-psx mednafen
             clang libclang-rt-14-dev clang-tidy clang-format)
  runs32=$(sh "$root/scripts/probe-32bit.sh" "$root/build/runs-32bit")
  if [ "$runs32" = yes ]; then
    # The unpacked pcsxr's dependencies (Debian 12's pcsxr:i386), and Mesa's
    # 32-bit renderer for its OpenGL plugin.
    packages+=(wine32:i386 libgl1-mesa-dri:i386 libglx-mesa0:i386
               libc6:i386 libgdk-pixbuf-2.0-0:i386 libgl1:i386 libglib2.0-0:i386
               libgtk-3-0:i386 libpango-1.0-0:i386 libsdl2-2.0-0:i386 libx11-6:i386
               libxext6:i386 libxtst6:i386 libxv1:i386 libxxf86vm1:i386 zlib1g:i386)
  else
    echo "install-deps: this machine does not run 32-bit programs; Wine's 32-bit half and the 32-bit pcsxr are left out"
  fi
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
unpack=no
[ "$runs32" = no ] || [ -x "$pcsxr_i386/usr/games/pcsxr" ] || unpack=yes
[ ${#missing[@]} -gt 0 ] || [ "$unpack" = yes ] || exit 0

# Wine's 32-bit half and the emulator come from the i386 architecture.
if [ "$runs32" = yes ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
"${sudo_cmd[@]}" apt-get update -q
if [ ${#missing[@]} -gt 0 ]; then
  # Where pcsxr:i386 is installed, the 64-bit pcsxr takes its place.
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
fi
if [ "$unpack" = yes ]; then
  download=$(mktemp -d)
  trap 'rm -rf "$download"' EXIT
  # As root, apt warns that it downloads into this private folder unsandboxed.
  (cd "$download" && apt-get download -q pcsxr:i386)
  rm -rf "$pcsxr_i386.partial"
  mkdir -p "$(dirname "$pcsxr_i386")"
  dpkg -x "$download"/pcsxr_*_i386.deb "$pcsxr_i386.partial"
  rm -rf "$pcsxr_i386"
  mv "$pcsxr_i386.partial" "$pcsxr_i386"
  echo "install-deps: the 32-bit pcsxr is unpacked in $pcsxr_i386"
fi
