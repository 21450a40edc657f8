#!/bin/bash
# Installs what is missing, builds the native tool (with its .deb and portable
# archive), the Windows Mirvane64.exe and Mirvane.exe and the ARM64 tool (with
# its archive), and runs every test: unit tests on all four, end-to-end tests
# natively, under Wine (64-bit Wine for Mirvane64.exe, on every machine) and
# under qemu for the ARM64 build, the native tests again under ASan and UBSan,
# the static checks, and the command-line fuzzer for 60 s. Ends with a summary
# of what ran and what was skipped, and why.
set -euo pipefail
cd "$(dirname "$0")/.."

# Asked once per run; the tests that need 32-bit programs read this answer.
rm -f build/runs-32bit
runs32=$(sh scripts/probe-32bit.sh build/runs-32bit)

bash scripts/install-deps.sh

stages=()
summary() {
  echo
  echo "=== summary"
  [ "$runs32" = yes ] && echo "this machine runs 32-bit programs: every test that needs them was run"
  [ "$runs32" = no ] && echo "this machine does not run 32-bit programs: the tests that need them were skipped"
  for line in "${stages[@]}"; do echo "$line"; done
}
trap summary EXIT

# Why a test of this preset was skipped: the ARM64 build's tests run under
# qemu-aarch64 (cmake/no-emulator.sh), the chroot case of the archive needs
# root (packaging/check_release_zip.py), every other skip needs 32-bit programs
# (tests/needs-32bit.sh).
skip_reason() {
  if [ "$1" = aarch64 ]; then echo "qemu-aarch64 is not installed"
  elif [ "$2" = linux_archive ]; then echo "the chroot case needs root, chroot and a /proc mount"
  else echo "this machine does not run 32-bit programs"; fi
}

# win64 before win32: the win32 build packs the win64 build's Mirvane64.exe.
for preset in native win64 win32 aarch64 sanitize; do
  echo "=== $preset: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  if [ "$preset" = native ] || [ "$preset" = aarch64 ]; then
    # The .deb (native) and the portable archive, in build/$preset.
    cmake --build --preset "$preset" --target package
  fi
  echo "=== $preset: test"
  log="build/$preset/ctest-summary.log"
  status=0
  ctest --preset "$preset" 2>&1 | tee "$log" || status=$?
  passed=$(grep -cE 'Test +#[0-9]+: .* +Passed ' "$log" || true)
  skipped=$(grep -E 'Test +#[0-9]+: .*\*\*\*Skipped ' "$log" | sed -E 's/.*Test +#[0-9]+: ([^ ]+) .*/\1/' || true)
  line="$preset: $passed tests passed"
  for test in $skipped; do
    reason=$(skip_reason "$preset" "$test")
    line="$line; skipped $test, as $reason"
    if [ "$runs32" = yes ] && [ "$reason" = "this machine does not run 32-bit programs" ]; then
      line="$line; FAILED: nothing may be skipped on a machine that runs them"
      status=1
    fi
  done
  [ "$status" -eq 0 ] || line="$line; FAILED (see above)"
  stages+=("$line")
  [ "$status" -eq 0 ] || exit "$status"
done

echo "=== static checks"
bash scripts/static-checks.sh build/native
stages+=("static checks: ran")

echo "=== fuzz"
bash scripts/fuzz.sh 60
stages+=("fuzzer: ran 60 s")
