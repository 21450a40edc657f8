#!/bin/bash
# Builds the command-line fuzzer with clang (preset "fuzz", build/fuzz) and runs
# it: once over the seed corpus in fuzz/corpus, then for a bounded time.
#   bash scripts/fuzz.sh [SECONDS]     (default 60)
# Inputs the fuzzer finds go to build/fuzz/found, never into the repository; an
# input that breaks a check is kept in build/fuzz/artifacts and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

# clang and its fuzzer runtime come with scripts/install-deps.sh.
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target command_line_fuzzer
fuzzer=build/fuzz/fuzz/command_line_fuzzer
found=build/fuzz/found
artifacts=build/fuzz/artifacts
mkdir -p "$found" "$artifacts"

echo "=== fuzz: the seed corpus"
"$fuzzer" -runs=0 fuzz/corpus

echo "=== fuzz: ${seconds} s"
# Lines of up to 40000 bytes reach past the longest command line Windows allows;
# an input that takes more than 5 s is a hang. The run's chatter goes to a log.
log=build/fuzz/fuzz.log
if ! "$fuzzer" -max_total_time="$seconds" -max_len=40000 -timeout=5 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$found" fuzz/corpus >"$log" 2>&1; then
  tail -n 60 "$log"
  echo "fuzz: an input broke a check; it is kept in $artifacts (log: $log)" >&2
  exit 1
fi
grep '^stat::\|^Done' "$log"
