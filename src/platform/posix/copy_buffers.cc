// VirtualAlloc and VirtualFree for the walk's copy buffers: each starts on a
// 2 MiB boundary, with its header in the page before, so that transparent huge
// pages can back it; the last released one is kept mapped for reuse.
#include <sys/mman.h>

#include <cstdint>

#include "platform/posix/internal.h"

namespace platform {
namespace {

const std::size_t HugePageSize = 0x200000;

// The headers form the LiveAllocations list, so VirtualFree can check what it is given.
struct AllocationHeader {
  AllocationHeader* nextLive;
  void* buffer;
  void* mapping;
  std::size_t mappingLength;
};

AllocationHeader* LiveAllocations = nullptr;
// The last released buffer, kept mapped for the next one of no larger size:
// the walk releases each region's copy before it allocates the next, and
// fresh pages cost the kernel a zeroing on first touch. At most one is kept,
// and it goes before a larger buffer is mapped, so there is never more than
// one copy buffer's worth of memory.
AllocationHeader* IdleAllocation = nullptr;

void UnmapAllocation(AllocationHeader* header) {
  void* mapping = header->mapping;
  std::size_t length = header->mappingLength;  // the header goes with the mapping
  munmap(mapping, length);
}

}  // namespace

void* VirtualAlloc(void* lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect) {
  if (lpAddress != nullptr || dwSize == 0 || (flAllocationType & MEM_COMMIT) == 0 ||
      flProtect != PAGE_READWRITE) {
    return nullptr;
  }
  const std::size_t page = posix::PageSize();
  const std::size_t size = static_cast<std::size_t>(dwSize);
  if (size > SIZE_MAX - HugePageSize - 2 * page) return nullptr;
  const std::size_t bufferLength = (size + page - 1) & ~(page - 1);
  if (IdleAllocation != nullptr) {
    AllocationHeader* idle = IdleAllocation;
    IdleAllocation = nullptr;
    if (idle->mappingLength - page >= bufferLength) {
      idle->nextLive = LiveAllocations;
      LiveAllocations = idle;
      return idle->buffer;
    }
    UnmapAllocation(idle);
  }
  const std::size_t rawLength = page + HugePageSize + bufferLength;
  void* raw = mmap(nullptr, rawLength, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;

  const std::uintptr_t rawStart = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t bufferStart = (rawStart + page + HugePageSize - 1) & ~(HugePageSize - 1);
  const std::uintptr_t mappingStart = bufferStart - page;
  const std::uintptr_t mappingEnd = bufferStart + bufferLength;
  if (mappingStart > rawStart) munmap(raw, mappingStart - rawStart);
  if (rawStart + rawLength > mappingEnd) {
    munmap(reinterpret_cast<void*>(mappingEnd), rawStart + rawLength - mappingEnd);
  }
  void* buffer = reinterpret_cast<void*>(bufferStart);
#ifdef MADV_HUGEPAGE
  madvise(buffer, bufferLength, MADV_HUGEPAGE);  // only advice: without it the buffer still works
#endif

  AllocationHeader* header = reinterpret_cast<AllocationHeader*>(mappingStart);
  header->buffer = buffer;
  header->mapping = reinterpret_cast<void*>(mappingStart);
  header->mappingLength = mappingEnd - mappingStart;
  header->nextLive = LiveAllocations;
  LiveAllocations = header;
  return buffer;
}

BOOL VirtualFree(void* lpAddress, SIZE_T dwSize, DWORD dwFreeType) {
  if (lpAddress == nullptr || dwSize != 0 || dwFreeType != MEM_RELEASE) return FALSE;
  for (AllocationHeader** link = &LiveAllocations; *link != nullptr; link = &(*link)->nextLive) {
    AllocationHeader* header = *link;
    if (header->buffer != lpAddress) continue;
    *link = header->nextLive;
    if (IdleAllocation != nullptr) UnmapAllocation(IdleAllocation);
    IdleAllocation = header;
    return TRUE;
  }
  return FALSE;
}

}  // namespace platform
