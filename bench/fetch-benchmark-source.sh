#!/bin/bash
# Fetches Google Benchmark's sources for the Windows build of the benchmarks:
# Debian packages it for the native build only. The sources come from Debian's
# own source package, of the version the native build uses, fetched through a
# source list of our own (scripts/fetch-debian-source.sh). Prints the source folder.
#
#   bash bench/fetch-benchmark-source.sh DEST     (DEST: a folder under build/)
set -euo pipefail
dest=${1:?usage: fetch-benchmark-source.sh DEST}
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)

existing=$(find "$dest" -maxdepth 2 -path '*/benchmark-*/CMakeLists.txt' -print -quit)
if [ -n "$existing" ]; then
  dirname "$existing"
  exit 0
fi

version=$(dpkg-query -W -f='${source:Version}' libbenchmark-dev 2>/dev/null || true)
tarball=$(bash "$(dirname "${BASH_SOURCE[0]}")/../scripts/fetch-debian-source.sh" "$dest" benchmark "$version")
tar -xzf "$tarball" -C "$dest"
dirname "$(find "$dest" -maxdepth 2 -path '*/benchmark-*/CMakeLists.txt' -print -quit)"
