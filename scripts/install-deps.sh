#!/bin/bash
# Installs what building and testing Mirvane needs on Debian 12, skipping what
# is there already.
#   (no argument)  everything: the native toolchain with GoogleTest's sources;
#                  the 32-bit MinGW-w64 cross toolchain and Wine for the Windows
#                  build; the MIPS cross tools and an ISO writer for the marker
#                  program; Xvfb, Mesa and ImageMagick for the test on a real
#                  emulator; clang with its fuzzer and sanitizer runtimes,
#                  clang-tidy and clang-format. Where this machine runs 32-bit
#                  programs (scripts/probe-32bit.sh) also Wine's 32-bit half and
#                  the 32-bit pcsxr emulator; elsewhere they could not run.
#   native         only what the native build, its tests and its .deb need.
#   bench          everything, and what the benchmarks need besides (Google
#                  Benchmark, scanmem).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

packages=(cmake make g++ googletest python3 dpkg-dev)
if [ "${1:-}" = bench ]; then
  packages+=(libbenchmark-dev scanmem)
fi
runs32=no
if [ "${1:-}" != native ]; then
  packages+=(g++-mingw-w64-i686-posix mingw-w64-i686-dev wine
             binutils-mipsel-linux-gnu genisoimage
             xvfb imagemagick libgl1-mesa-dri libglx-mesa0
             clang libclang-rt-14-dev clang-tidy clang-format)
  runs32=$(sh "$root/scripts/probe-32bit.sh" "$root/build/runs-32bit")
  if [ "$runs32" = yes ]; then
    packages+=(wine32:i386 pcsxr:i386 libgl1-mesa-dri:i386 libglx-mesa0:i386)
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
[ ${#missing[@]} -gt 0 ] || exit 0

# Wine's 32-bit half and the emulator come from the i386 architecture.
if [ "$runs32" = yes ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
"${sudo_cmd[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
