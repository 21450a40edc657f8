#!/bin/sh
# Checks a Windows executable's PE headers and imports (Mirvane.exe, 32-bit,
# or Mirvane64.exe, 64-bit):
#   - it imports DLLs of Windows itself only (the MinGW runtime is linked in);
#   - it is large-address-aware, so that the 32-bit one reaches targets placed
#     above 2 GiB (a 64-bit one is so by default);
#   - it imports nothing that writes to, or runs code in, another process.
# Usage: check_windows_exe.sh EXE [OBJDUMP]
set -eu
exe="$1"
objdump="${2:-i686-w64-mingw32-objdump}"
headers="$("$objdump" -p "$exe")"
failed=0

echo "$headers" | grep -qE 'file format pei-(i386|x86-64)$' || { echo "not a Windows x86 executable: $exe"; failed=1; }

dlls="$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p')"
echo "imports: $(echo "$dlls" | tr '\n' ' ')"
[ -n "$dlls" ] || { echo "no imported DLLs found"; failed=1; }
for dll in $dlls; do
  case "$(echo "$dll" | tr 'A-Z' 'a-z')" in
    kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll | ntdll.dll) ;;
    *) echo "imports a DLL that Windows does not have: $dll"; failed=1 ;;
  esac
done

echo "$headers" | grep -q 'large address aware' || { echo "not large-address-aware"; failed=1; }

for function in WriteProcessMemory VirtualAllocEx VirtualProtectEx CreateRemoteThread; do
  if echo "$headers" | grep -qw "$function"; then
    echo "imports $function: the tool must never write to another process"
    failed=1
  fi
done

[ "$failed" -eq 0 ] && echo "imports and headers ok"
exit "$failed"
