// Windows: every region is an allocation of its own, so a region query never
// joins two of them. The executable is large-address-aware, so memory above
// 2 GiB can be had; a 32-bit process has nothing at or above 4 GiB. A 64-bit
// one asks for the regions across and above 4 GiB at addresses of its choice.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>

#include "standin_os.h"

namespace {

const std::uint64_t FourGiB = 0x100000000;
const bool WideAddresses = sizeof(void*) > 4;
const std::uint64_t GapSize = 0x1000000;  // 16 MiB of nothing after each region

// A 64-bit process puts the regions that must lie high below 4 GiB, or above
// it, into slots of a band; a slot taken already is passed over.
struct Band {
  std::uint64_t next;
  std::uint64_t end;
};
Band HighBand = {0xC0000000, FourGiB - 0x4000000};
Band AboveBand = {0x7E5A00000000, 0x7E6A00000000};

unsigned char* CommitAt(std::uint64_t address, std::uint64_t size) {
  void* const wanted = reinterpret_cast<void*>(static_cast<std::uintptr_t>(address));
  void* const got = VirtualAlloc(wanted, static_cast<SIZE_T>(size), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (got == wanted) return static_cast<unsigned char*>(got);
  if (got) VirtualFree(got, 0, MEM_RELEASE);
  return nullptr;
}

unsigned char* CommitInBand(Band& band, std::uint64_t size) {
  while (band.next + size <= band.end) {
    const std::uint64_t address = band.next;
    band.next += size + GapSize;
    if (unsigned char* const region = CommitAt(address, size)) return region;
  }
  return nullptr;
}

}  // namespace

unsigned char* CommitRegion(std::uint64_t size, RegionPlace place) {
  if (size > SIZE_MAX) return nullptr;
  if (WideAddresses) {
    // Top-down, a 64-bit process would get the top of its address space.
    if (place == PlaceHigh) return CommitInBand(HighBand, size);
    if (place == PlaceAcross4GiB) return CommitAt(FourGiB - size / 2, size);
    if (place == PlaceAbove4GiB) return CommitInBand(AboveBand, size);
  } else if (place == PlaceAcross4GiB || place == PlaceAbove4GiB) {
    return nullptr;
  }
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

bool ReleaseRegion(unsigned char* region, std::uint64_t) { return VirtualFree(region, 0, MEM_RELEASE) != 0; }

bool MakeInaccessible(unsigned char* region, std::uint64_t size) {
  DWORD previous = 0;
  return VirtualProtect(region, static_cast<SIZE_T>(size), PAGE_NOACCESS, &previous) != 0;
}

// A committed region that can't be read is a PAGE_NOACCESS one here, and Wine
// reads even those for another process: nothing more can be staged.
unsigned char* MapUnreadableRegion(std::uint64_t, std::uint64_t) { return nullptr; }

// Shared memory is a section in the paging file, named by its place here.
namespace {

const int MostSections = 8;
HANDLE Sections[MostSections];
int SectionCount = 0;

bool MapViewAt(int memory, std::uint64_t size, unsigned char* at) {
  if (memory < 0 || memory >= SectionCount || size > SIZE_MAX) return false;
  return MapViewOfFileEx(Sections[memory], FILE_MAP_ALL_ACCESS, 0, 0, static_cast<SIZE_T>(size), at) == at;
}

// Where CommitRegion would put a region of that size, now free again: we run
// one thread, so nothing takes the place before we map there.
unsigned char* FreePlace(std::uint64_t size, RegionPlace place) {
  unsigned char* const region = CommitRegion(size, place);
  if (region) VirtualFree(region, 0, MEM_RELEASE);
  return region;
}

bool ReserveAt(unsigned char* at, std::uint64_t size) {
  return size == 0 || VirtualAlloc(at, static_cast<SIZE_T>(size), MEM_RESERVE, PAGE_NOACCESS) == at;
}

}  // namespace

int CreateSharedMemory(std::uint64_t size) {
  if (SectionCount == MostSections) return -1;
  const HANDLE section =
      CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, static_cast<DWORD>(size >> 32),
                         static_cast<DWORD>(size), nullptr);
  if (!section) return -1;
  Sections[SectionCount] = section;
  return SectionCount++;
}

unsigned char* MapSharedView(int memory, std::uint64_t size, RegionPlace place) {
  unsigned char* const at = FreePlace(size, place);
  return at && MapViewAt(memory, size, at) ? at : nullptr;
}

unsigned char* ReserveRange(std::uint64_t size, RegionPlace place) {
  unsigned char* const at = FreePlace(size, place);
  return at && ReserveAt(at, size) ? at : nullptr;
}

// A view can't be mapped into a reservation: the reservation around `at` is
// released, the view mapped in its place, and what lies before and after it
// reserved again. (Placeholders would do it in place; Wine 8 has none.)
bool MapSharedViewAt(int memory, std::uint64_t size, unsigned char* at) {
  MEMORY_BASIC_INFORMATION reserved;
  if (VirtualQuery(at, &reserved, sizeof reserved) == 0 || reserved.State != MEM_RESERVE) return false;
  unsigned char* const start = static_cast<unsigned char*>(reserved.AllocationBase);
  unsigned char* const end = static_cast<unsigned char*>(reserved.BaseAddress) + reserved.RegionSize;
  if (at + size > end || !VirtualFree(start, 0, MEM_RELEASE)) return false;
  return MapViewAt(memory, size, at) && ReserveAt(start, static_cast<std::uint64_t>(at - start)) &&
         ReserveAt(at + size, static_cast<std::uint64_t>(end - (at + size)));
}

// Windows keeps the first 64 KiB of every process unmapped.
bool MapFromAddressZero(int, std::uint64_t, int) { return false; }
unsigned char* AddressZero() { return nullptr; }

bool MakeReadOnly(unsigned char* memory, std::uint64_t size) {
  DWORD previous = 0;
  return VirtualProtect(memory, static_cast<SIZE_T>(size), PAGE_READONLY, &previous) != 0;
}

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
