#!/bin/bash
# Fetches Google Benchmark's sources for the Windows build of the benchmarks:
# Debian packages it for the native build only. The sources come from Debian's
# own source package, of the version the native build uses, through apt with a
# deb-src list of our own made from the machine's sources, so that the
# system's apt setup stays as it is. Prints the source folder.
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

apt_dir="$dest/apt"
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$dest/download"
: >"$apt_dir/sources.list"
# The machine's package sources, each turned into the same source for source packages.
for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$list" ] && sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$list" >>"$apt_dir/sources.list"
done
for sources in /etc/apt/sources.list.d/*.sources; do
  [ -f "$sources" ] && sed 's/^Types:.*/Types: deb-src/' "$sources" >"$apt_dir/sources.list.d/$(basename "$sources")"
done

apt_options=(-q -o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
  -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache" -o "APT::Sandbox::User=root")
# A source without source packages only warns; what matters is that one has it.
apt-get "${apt_options[@]}" update >&2 || true
version=$(dpkg-query -W -f='${source:Version}' libbenchmark-dev 2>/dev/null || true)
(
  cd "$dest/download"
  apt-get "${apt_options[@]}" source --download-only "benchmark${version:+=$version}" >&2 ||
    apt-get "${apt_options[@]}" source --download-only benchmark >&2
)
# The upstream tarball is all the build needs; apt has checked it against the signed index.
tar -xzf "$(ls "$dest"/download/benchmark_*.orig.tar.gz | head -n 1)" -C "$dest"
dirname "$(find "$dest" -maxdepth 2 -path '*/benchmark-*/CMakeLists.txt' -print -quit)"
