#!/bin/sh
# Tells whether this machine runs 32-bit x86 Linux programs: prints "yes" or
# "no". Some kernels can't (booted with ia32_emulation=0, some virtual
# machines); there every i386 program, Wine's 32-bit half among them, fails
# with "Exec format error".
#   probe-32bit.sh [CACHE]   the answer is kept in CACHE and read from there
#                            next time (test-all.sh removes it at its start).
# MIRVANE_RUNS_32BIT=yes|no forces the answer, for the tests of the skip path.
set -eu
cache=${1:-}
case "${MIRVANE_RUNS_32BIT:-}" in
  yes|no) echo "$MIRVANE_RUNS_32BIT"; exit 0 ;;
  "") ;;
  *) echo "probe-32bit: MIRVANE_RUNS_32BIT must be yes or no" >&2; exit 2 ;;
esac
if [ -n "$cache" ] && [ -s "$cache" ]; then
  cat "$cache"
  exit 0
fi

# The smallest static i386 program: one ELF header, one loadable segment, and
# "mov eax, 1; mov ebx, 42; int 0x80" (exit with status 42). Written byte by
# byte, so the probe needs no assembler on a machine that has none yet.
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
program=$dir/exit42
{
  # e_ident: ELF, 32-bit, little-endian, version 1
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000'
  # e_type EXEC, e_machine 386, e_version 1, e_entry 0x08048054, e_phoff 52
  printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000'
  # e_shoff 0, e_flags 0, e_ehsize 52, e_phentsize 32, e_phnum 1, no sections
  printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000'
  # PT_LOAD of the whole 96-byte file at 0x08048000, read and execute
  printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010'
  printf '\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000'
  # the code
  printf '\270\001\000\000\000\273\052\000\000\000\315\200'
} > "$program"
chmod +x "$program"
status=0
"$program" 2>/dev/null || status=$?
answer=no
[ "$status" -eq 42 ] && answer=yes
if [ -n "$cache" ]; then
  mkdir -p "$(dirname "$cache")"
  echo "$answer" > "$cache"
fi
echo "$answer"
