// VirtualQueryEx over /proc/PID/maps, read once per walk: each maps line below
// AddressSpaceEnd is a region of its own, the gaps between them are free regions.
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/posix/internal.h"

namespace platform {
namespace {

DWORD ProtectionOf(const posix::Mapping& mapping) {
  if (mapping.executable) {
    if (mapping.writable) return PAGE_EXECUTE_READWRITE;
    return mapping.readable ? PAGE_EXECUTE_READ : PAGE_EXECUTE;
  }
  if (mapping.writable) return PAGE_READWRITE;  // write-only pages read as well
  return mapping.readable ? PAGE_READONLY : PAGE_NOACCESS;
}

void FillRegion(MEMORY_BASIC_INFORMATION& region, std::uint64_t base, std::uint64_t end) {
  // All of the 4 GiB does not fit a 32-bit size: the last page becomes a region of its own.
  if (end - base > static_cast<SIZE_T>(~static_cast<SIZE_T>(0))) end -= posix::PageSize();
  std::memset(&region, 0, sizeof region);
  region.BaseAddress = static_cast<ULONG_PTR>(base);
  region.RegionSize = static_cast<SIZE_T>(end - base);
}

}  // namespace

SIZE_T VirtualQueryEx(HANDLE hProcess, ULONG_PTR lpAddress, MEMORY_BASIC_INFORMATION* lpBuffer,
                      SIZE_T dwLength) {
  posix::HandleRecord* process = posix::FindLiveHandle(hProcess, posix::ProcessHandle);
  if (process == nullptr || lpBuffer == nullptr || dwLength < sizeof(MEMORY_BASIC_INFORMATION)) {
    return 0;
  }
  const std::uint64_t page = lpAddress & ~static_cast<std::uint64_t>(posix::PageSize() - 1);
  // A walk asks in increasing order: a question below the last one begins another.
  if (page <= process->lastQueried) process->mapsCurrent = false;
  process->lastQueried = page;
  const std::vector<posix::Mapping>* maps = posix::CurrentMaps(*process);
  if (maps == nullptr) return 0;
  const auto mapping = posix::FirstEndingAbove(*maps, page);
  if (mapping == maps->end() || mapping->start >= posix::AddressSpaceEnd || mapping->start > page) {
    const std::uint64_t freeEnd =
        mapping == maps->end() ? posix::AddressSpaceEnd : std::min(mapping->start, posix::AddressSpaceEnd);
    FillRegion(*lpBuffer, page, freeEnd);
    lpBuffer->State = MEM_FREE;
    lpBuffer->Protect = PAGE_NOACCESS;
    return sizeof(MEMORY_BASIC_INFORMATION);
  }
  // Each maps line is a region of its own, as Windows reports one region per
  // run of equal protection; the lines of one mapping share its AllocationBase.
  FillRegion(*lpBuffer, page, std::min(mapping->end, posix::AddressSpaceEnd));
  const bool accessible = mapping->readable || mapping->writable || mapping->executable;
  lpBuffer->AllocationBase = static_cast<ULONG_PTR>(mapping->allocationBase);
  lpBuffer->AllocationProtect = ProtectionOf(*mapping);
  lpBuffer->State = accessible ? MEM_COMMIT : MEM_RESERVE;
  lpBuffer->Protect = accessible ? ProtectionOf(*mapping) : 0;
  // Shared mappings are views of one memory, as Windows' mapped views; a
  // private mapping of a file holds its pages copied on write, as an image does.
  if (mapping->shared) {
    lpBuffer->Type = MEM_MAPPED;
  } else {
    lpBuffer->Type = mapping->inode != 0 ? MEM_IMAGE : MEM_PRIVATE;
  }
  return sizeof(MEMORY_BASIC_INFORMATION);
}

}  // namespace platform
