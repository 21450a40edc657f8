#!/bin/bash
# Static checks; fails on any finding.
#   clang-tidy (.clang-tidy) over the sources under src/ and fuzz/ that the
#   native build compiles, with that build's compile_commands.json;
#   clang-format (.clang-format) in dry-run mode over src/, fuzz/, tests/*.cc,
#   tests/wine/*.cc and tests/emulator/*.c (the libretro host).
# Usage: bash scripts/static-checks.sh [BUILD_DIR]   (default: build/native,
# configured here when it has no compile_commands.json yet)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
build="${1:-build/native}"

# clang-tidy and clang-format come with scripts/install-deps.sh.
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
  { find src fuzz -name '*.cc' -o -name '*.h'; ls tests/*.cc tests/wine/*.cc tests/emulator/*.c 2>/dev/null; } | sort)
echo "=== clang-format: ${#format_files[@]} files"
if ! clang-format --dry-run --Werror "${format_files[@]}"; then
  failed=1
fi

if [ "$failed" -ne 0 ]; then
  echo "static checks: findings above" >&2
  exit 1
fi
echo "static checks: clean"
