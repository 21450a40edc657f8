// Windows: every region is an allocation of its own, so a region query never
// joins two of them. The executable is large-address-aware, so memory above
// 2 GiB can be had; a 32-bit process has nothing at or above 4 GiB.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>

#include "standin_os.h"

unsigned char* CommitRegion(std::uint64_t size, RegionPlace place) {
  if (place == PlaceAcross4GiB || place == PlaceAbove4GiB || size > SIZE_MAX) return nullptr;
  const DWORD direction = place == PlaceHigh ? MEM_TOP_DOWN : 0;
  void* const region =
      VirtualAlloc(nullptr, static_cast<SIZE_T>(size), MEM_COMMIT | MEM_RESERVE | direction, PAGE_READWRITE);
  if (!region) return nullptr;
  if (place == PlaceAnywhere) return static_cast<unsigned char*>(region);
  const bool high = reinterpret_cast<std::uintptr_t>(region) >= 0x80000000u;
  if (high != (place == PlaceHigh)) {
    VirtualFree(region, 0, MEM_RELEASE);
    return nullptr;
  }
  return static_cast<unsigned char*>(region);
}

bool MakeInaccessible(unsigned char* region, std::uint64_t size) {
  DWORD previous = 0;
  return VirtualProtect(region, static_cast<SIZE_T>(size), PAGE_NOACCESS, &previous) != 0;
}

// A committed region that can't be read is a PAGE_NOACCESS one here, and Wine
// reads even those for another process: nothing more can be staged.
unsigned char* MapUnreadableRegion(std::uint64_t, std::uint64_t) { return nullptr; }

// Not yet staged on Windows.
int CreateSharedMemory(std::uint64_t) { return -1; }
unsigned char* MapSharedView(int, std::uint64_t, RegionPlace) { return nullptr; }
unsigned char* ReserveRange(std::uint64_t, RegionPlace) { return nullptr; }
bool MapSharedViewAt(int, std::uint64_t, unsigned char*) { return false; }
bool MakeReadOnly(unsigned char*, std::uint64_t) { return false; }

std::uint64_t AddressOf(const unsigned char* memory) { return reinterpret_cast<std::uintptr_t>(memory); }

std::uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

// Nothing tells a Windows program that another process reads its memory.
bool WatchFirstRead(unsigned char*, std::uint64_t, ReadReaction) { return false; }

// Any process of the same user may read us already.
void AllowMemoryReaders() {}

// Where the pipe can be looked into (Windows itself), the wait ends at the end
// of input or at the time limit. Wine can't look into a Unix pipe: there we
// block until the input ends, and whoever started us closes it or ends us.
void WaitForStop(unsigned milliseconds) {
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  const bool isPipe =
      input != nullptr && input != INVALID_HANDLE_VALUE && GetFileType(input) == FILE_TYPE_PIPE;
  char discard[256];
  DWORD got = 0;
  while (GetTickCount64() < deadline) {
    DWORD available = 0;
    if (isPipe && !PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) {
      if (GetLastError() == ERROR_BROKEN_PIPE) return;
      while (ReadFile(input, discard, sizeof discard, &got, nullptr) && got > 0) {
      }
      return;
    }
    if (available > 0) {
      const DWORD wanted = available < sizeof discard ? available : sizeof discard;
      if (!ReadFile(input, discard, wanted, &got, nullptr) || got == 0) return;
      continue;
    }
    const ULONGLONG left = deadline - GetTickCount64();
    Sleep(left < 50 ? static_cast<DWORD>(left) : 50);
  }
}
