#!/bin/bash
# Runs every benchmark and prints the report (Markdown) with the machine it ran on:
#   - the scan's throughput by each path the processor runs (the naive
#     reference, SSE2, AVX2, NEON) over a 1 MiB piece and a 256 MiB buffer,
#     beside memcpy, natively and for the Windows build in-process under Wine;
#   - the native tool end to end against bulk targets, beside the copy-only
#     limit and Debian's scanmem, with its peak memory, and what the scan alone
#     costs beside the piecewise copy; against targets with
#     4,000 and 16,000 small mappings and against Debian's 64-bit pcsxr running
#     the marker program, beside the copy-only limit;
#   - the native tool beside 4 and 16 GiB never touched and in pcsxr freshly
#     started: its time and the target's growth (VmRSS), beside the copy of the
#     touched pages only (its limit) and the copy of everything (what it read before);
#   - the native tool under --watch beside the stand-in emulator: its CPU time
#     while nothing changes, and how soon a move of the RAM gives a new line.
# Installs what it needs first. Builds in build/bench-native and build/bench-win32;
# the figures and the report are left in build/bench-results.
#
#   bash bench/run-all.sh            the full run (a few minutes)
#   bash bench/run-all.sh --quick    smaller targets, fewer repetitions (CI's optional stage)
#
# The report goes to standard output, progress and the benchmarks' own output
# to standard error. Exits 0 when the benchmarks ran, also when a target figure is missed (the
# report marks it MISSED); non-zero only when something could not run.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
case "${1:-}" in
  --quick) quick=1 ;;
  "") ;;
  *) echo "usage: bash bench/run-all.sh [--quick]" >&2; exit 2 ;;
esac

if [ "$quick" -eq 1 ]; then
  scan_options=(--benchmark_repetitions=3 --benchmark_min_time=0.1)
  e2e_options=(--sizes 256,1024 --rounds 3 --scanmem-rounds 1 --timeout 30)
else
  scan_options=(--benchmark_repetitions=10)
  e2e_options=(--sizes 256,1024,2048 --rounds 9 --scanmem-rounds 3 --timeout 60)
fi
# Beside many small mappings, and in the real emulator; a Mirvane run is ended after the timeout.
e2e_options+=(--mappings 4000,16000 --untouched-gib 4,16 --pcsxr build/bench-native/tessil/TESSIL.EXE)
scan_options+=(--benchmark_report_aggregates_only=true)

echo "=== installing what is missing" >&2
bash scripts/install-deps.sh bench >&2
# The Windows build is 32-bit: where this machine runs no 32-bit programs, Wine
# can't start it, and the report gives the reason with its figures missed.
runs32=$(sh scripts/probe-32bit.sh build/runs-32bit)

results=build/bench-results
rm -rf "$results"
mkdir -p "$results"

echo "=== native: build" >&2
cmake -S . -B build/bench-native -DCMAKE_BUILD_TYPE=Release -DMIRVANE_TESTS=OFF -DMIRVANE_BENCH=ON >/dev/null
cmake --build build/bench-native -j 2 --target Mirvane scan_bench bulk_target copy_limit watch_standin tessil >&2

if [ "$runs32" = yes ]; then
  echo "=== win32: build" >&2
  benchmark_source=$(bash bench/fetch-benchmark-source.sh build/bench-src)
  cmake --no-warn-unused-cli -S . -B build/bench-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=Release \
    -DMIRVANE_TESTS=OFF -DMIRVANE_BENCH=ON -DMIRVANE_BENCHMARK_SOURCE="$benchmark_source" >/dev/null
  cmake --build build/bench-win32 -j 2 --target scan_bench >&2
fi

echo "=== native: scan" >&2
build/bench-native/bench/scan_bench "${scan_options[@]}" --benchmark_out="$results/scan-native.json" \
  --benchmark_out_format=json >&2

if [ "$runs32" = yes ]; then
  echo "=== win32: scan, in-process under Wine" >&2
  (
    export WINEPREFIX="$PWD/build/bench-win32/wineprefix" WINEDEBUG=-all DISPLAY=
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    # Wine takes the relative output path from the folder it was started in.
    (cd "$results" && wine ../bench-win32/bench/scan_bench.exe "${scan_options[@]}" \
      --benchmark_out=scan-win32.json --benchmark_out_format=json >&2)
    wineserver -k 2>/dev/null || true  # this prefix's server only
  )
else
  echo "=== win32: not run: this machine does not run 32-bit programs" >&2
  echo "this machine does not run 32-bit programs (scripts/probe-32bit.sh)" > "$results/scan-win32.not-run"
fi

echo "=== native: end to end" >&2
python3 bench/e2e_bench.py --build build/bench-native "${e2e_options[@]}" --json "$results/e2e.json" >&2

echo "=== native: --watch" >&2
python3 bench/watch_bench.py --tool build/bench-native/Mirvane --standin build/bench-native/bench/watch_standin \
  --pcsxr build/bench-native/tessil/TESSIL.EXE --json "$results/watch.json" > "$results/watch.md"

echo "=== report (also in $results/report.md)" >&2
{ python3 bench/report.py "$results"; echo; cat "$results/watch.md"; } | tee "$results/report.md"
