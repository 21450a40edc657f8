#!/bin/bash
# Downloads a Debian source package's .dsc and upstream tarball through apt,
# with a deb-src list of our own made from the machine's package sources, so
# that the system's apt setup stays as it is. Prints the tarball's path, once
# its SHA-256 matches the one the .dsc names (the archive may lack the
# package's .debian.tar.xz: the upstream tarball is all our builds need).
#
#   bash scripts/fetch-debian-source.sh DEST PACKAGE [VERSION]   (DEST: a folder under build/)
set -euo pipefail
dest=${1:?usage: fetch-debian-source.sh DEST PACKAGE [VERSION]}
package=${2:?usage: fetch-debian-source.sh DEST PACKAGE [VERSION]}
version=${3:-}
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)

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
# A file the archive lacks fails the download after the others arrived: the
# checks below say whether what is needed is there.
(
  cd "$dest/download"
  apt-get "${apt_options[@]}" source --download-only "$package${version:+=$version}" >&2 ||
    apt-get "${apt_options[@]}" source --download-only "$package" >&2 || true
)

dsc=$(ls -t "$dest"/download/"${package}"_*.dsc 2>/dev/null | head -n 1)
[ -n "$dsc" ] || { echo "fetch-debian-source: no .dsc of $package was downloaded" >&2; exit 1; }
# The first Checksums-Sha256 line naming an .orig tarball.
read -r sum _ tarball < <(sed -n '/^Checksums-Sha256:/,/^[^ ]/s/^ \([0-9a-f]\{64\} [0-9]* .*\.orig\.tar\.[a-z0-9]*\)$/\1/p' "$dsc" | head -n 1)
[ -n "${tarball:-}" ] || { echo "fetch-debian-source: $dsc names no upstream tarball" >&2; exit 1; }
[ -f "$dest/download/$tarball" ] || { echo "fetch-debian-source: $tarball was not downloaded" >&2; exit 1; }
echo "$sum  $dest/download/$tarball" | sha256sum --check --quiet >&2 ||
  { echo "fetch-debian-source: $tarball does not match the SHA-256 in $dsc" >&2; exit 1; }
echo "$dest/download/$tarball"
