// The machine as GetSystemInfo describes it, and the page size and processor
// count the other services read from it.
#include <unistd.h>

#include <cstring>

#include "platform/posix/internal.h"

namespace platform {
namespace posix {

std::size_t PageSize() {
  long size = sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<std::size_t>(size) : 4096;
}

DWORD ProcessorCount() {
  long count = sysconf(_SC_NPROCESSORS_ONLN);
  return count > 0 ? static_cast<DWORD>(count) : 1;
}

}  // namespace posix

namespace {
const ULONG_PTR LowestApplicationAddress = 0x10000;
const DWORD AllocationGranularity = 0x10000;
}  // namespace

void GetSystemInfo(SYSTEM_INFO* lpSystemInfo) {
  if (lpSystemInfo == nullptr) return;
  std::memset(lpSystemInfo, 0, sizeof *lpSystemInfo);
  DWORD processors = posix::ProcessorCount();
  // x86 as a 32-bit process sees the machine, else x86-64.
  lpSystemInfo->wProcessorArchitecture = MIRVANE_ADDRESS_BITS == 32 ? 0 : 9;
  lpSystemInfo->dwPageSize = static_cast<DWORD>(posix::PageSize());
  lpSystemInfo->lpMinimumApplicationAddress = LowestApplicationAddress;
  lpSystemInfo->lpMaximumApplicationAddress = static_cast<ULONG_PTR>(posix::AddressSpaceEnd - 1);
  lpSystemInfo->dwActiveProcessorMask =
      processors >= 32 ? 0xFFFFFFFFu : (static_cast<ULONG_PTR>(1) << processors) - 1;
  lpSystemInfo->dwNumberOfProcessors = processors;
  lpSystemInfo->dwProcessorType = 586;
  lpSystemInfo->dwAllocationGranularity = AllocationGranularity;
  lpSystemInfo->wProcessorLevel = 6;
}

}  // namespace platform
