#!/usr/bin/env bash
# The whole job on this machine: builds the native Mirvane (and the stand-in
# emulator) if needed, starts the stand-in with its RAM at the start of a
# region, lets Mirvane find that RAM by the stand-in's PID, and prints what
# Mirvane answered beside what the stand-in expected. Runs from any folder.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/native"

bash "$root/scripts/install-deps.sh" native
if [ ! -f "$build/CMakeCache.txt" ]; then
  (cd "$root" && cmake --preset native >/dev/null)
fi
(cd "$root" && cmake --build --preset native --target Mirvane StandInEmu >/dev/null)

tool="$build/Mirvane"
standin="$(find "$build" -type f -name StandInEmu -perm -u+x -print -quit)"
if [ ! -x "$tool" ] || [ -z "$standin" ]; then
  echo "demo: the build gave no Mirvane or no StandInEmu under $build" >&2
  exit 1
fi

# The stand-in runs until its input closes: a coprocess gives us that input.
coproc STANDIN { exec "$standin" ram-at-region-start --seconds 120; }
standin_pid=$STANDIN_PID
standin_out=${STANDIN[0]}
standin_in=${STANDIN[1]}

stop_standin() {
  exec {standin_in}>&- 2>/dev/null || true
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    kill -0 "$standin_pid" 2>/dev/null || return 0
    sleep 0.2
  done
  kill "$standin_pid" 2>/dev/null || true
}
trap stop_standin EXIT

pid="" expected=""
while read -r -t 10 -u "$standin_out" word value; do
  case "$word" in
    pid) pid=$value ;;
    expect) expected=$value ;;
    ready) break ;;
    *) echo "demo: the stand-in could not stage its RAM" >&2; exit 1 ;;
  esac
done
if [ -z "$pid" ] || [ -z "$expected" ]; then
  echo "demo: the stand-in did not get ready" >&2
  exit 1
fi

echo "Stand-in emulator: PID $pid, its RAM placed at $expected"
echo "Running: Mirvane $pid"
status=0
answer="$("$tool" "$pid")" || status=$?
echo "Mirvane answered:  $answer (exit status $status: 2 found, 0 not found)"
echo "Stand-in expected: $expected"
if [ "$answer" = "$expected" ] && [ "$status" -eq 2 ]; then
  echo "Match: Mirvane found the emulated RAM."
else
  echo "Mismatch." >&2
  exit 1
fi
