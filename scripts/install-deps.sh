#!/bin/bash
# Installs what building and testing Mirvane needs on Debian 12: the native
# toolchain with GoogleTest's sources, the 32-bit MinGW-w64 cross toolchain,
# and Wine with its 32-bit half to run the Windows build.
set -euo pipefail

packages=(cmake make g++ googletest python3 g++-mingw-w64-i686-posix mingw-w64-i686-dev wine wine32)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  missing+=(wine32)
fi
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
