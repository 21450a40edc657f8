#!/bin/bash
# Static checks; fails on any finding.
#   clang-tidy (.clang-tidy) over the sources under src/ and fuzz/ that the
#   native build compiles, with that build's compile_commands.json;
#   clang-format (.clang-format) in dry-run mode over src/, fuzz/, tests/*.cc
#   and tests/wine/*.cc.
# Usage: bash scripts/static-checks.sh [BUILD_DIR]   (default: build/native,
# configured here when it has no compile_commands.json yet)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
build="${1:-build/native}"

missing=()
for p in cmake clang-tidy clang-format; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
fi

if [ ! -f "$build/compile_commands.json" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
database="$(cd "$build" && pwd)/compile_commands.json"

failed=0

# Only what the native build compiles has compile flags; the Windows-only
# sources are reported as skipped.
tidy_files=()
while IFS= read -r file; do
  if grep -qF "\"file\": \"$root/$file\"" "$database"; then
    tidy_files+=("$file")
  else
    echo "clang-tidy: skipped $file (not in the native build)"
  fi
done < <(find src fuzz -name '*.cc' | sort)
echo "=== clang-tidy: ${#tidy_files[@]} files"
if ! clang-tidy -p "$build" --quiet "${tidy_files[@]}" 2> >(grep -v 'warnings generated\|^Suppressed\|^Use -header' >&2); then
  failed=1
fi

format_files=()
while IFS= read -r file; do format_files+=("$file"); done < <(
  { find src fuzz -name '*.cc' -o -name '*.h'; ls tests/*.cc tests/wine/*.cc 2>/dev/null; } | sort)
echo "=== clang-format: ${#format_files[@]} files"
if ! clang-format --dry-run --Werror "${format_files[@]}"; then
  failed=1
fi

if [ "$failed" -ne 0 ]; then
  echo "static checks: findings above" >&2
  exit 1
fi
echo "static checks: clean"
