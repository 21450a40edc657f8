#include "locator/memory_scan.h"

#include <new>

#include "locator/region_scan.h"
#include "platform/output_lines.h"

using namespace platform;

namespace {

bool Qualifies(const MEMORY_BASIC_INFORMATION& region) {
  return (region.State & MEM_COMMIT) != 0 && (region.State & MEM_FREE) == 0 &&
         region.RegionSize >= MainRamSize;
}

// Copies one region whole and scans the copy; a short copy is reported, not scanned.
void CopyAndScanRegion(HANDLE handle, const MEMORY_BASIC_INFORMATION& region) {
  void* buffer = VirtualAlloc(nullptr, region.RegionSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (buffer == nullptr) throw std::bad_alloc();
  // Reset for every read, so a read that fails without a count never passes for a full one.
  SIZE_T bytesRead = 0;
  ReadProcessMemory(handle, region.BaseAddress, buffer, region.RegionSize, &bytesRead);
  const bool whole = bytesRead == region.RegionSize;
  if (whole)
    ScanRegionBuffer(static_cast<const unsigned char*>(buffer), region.RegionSize, region.BaseAddress);
  VirtualFree(buffer, 0, MEM_RELEASE);
  if (!whole) WriteOutputLine("Err!");
}

}  // namespace

void ScanEmulatorMemory(DWORD pid) {
  // The handle stays open until the tool ends.
  const HANDLE handle = OpenProcess(TargetAccess, FALSE, pid);
  if (handle == nullptr) throw SearchFailed;
  ScanAddressSpace(handle);
}

void ScanAddressSpace(HANDLE handle) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const ULONG_PTR bound = info.lpMaximumApplicationAddress;
  ULONG_PTR address = 0;
  while (address < bound) {
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQueryEx(handle, address, &region, sizeof region) == 0) return;
    if (Qualifies(region)) CopyAndScanRegion(handle, region);
    const ULONG_PTR next = region.BaseAddress + region.RegionSize;
    // An empty region, or one that ends at the top of the 32-bit space, would
    // otherwise send the walk round for ever.
    if (next <= address) return;
    address = next;
  }
}
