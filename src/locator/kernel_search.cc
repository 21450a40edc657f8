#include "locator/kernel_search.h"

#include "locator/kernel_area.h"
#include "locator/memory_scan.h"
#include "locator/ram_views.h"

using namespace platform;

namespace {

bool ReadWord(HANDLE handle, Address address, std::uint32_t& word) {
  unsigned char bytes[4];
  SIZE_T bytesRead = 0;
  ReadProcessMemory(handle, address, bytes, sizeof bytes, &bytesRead);
  word = WordAt(bytes);
  return bytesRead == sizeof bytes;
}

}  // namespace

// The process control block points at the current thread's block, one of the
// thread blocks, and a running game's current thread is in use. The 2 MiB
// must lie in memory that can be read: a copy of the kernel's 64 KiB alone,
// as some save-state formats hold, is no RAM.
bool KernelAreaAt(HANDLE handle, Address ramBase) {
  unsigned char head[KernelHeadBytes];
  SIZE_T bytesRead = 0;
  ReadProcessMemory(handle, ramBase + KernelVectorOffset, head, sizeof head, &bytesRead);
  if (bytesRead != sizeof head || !KernelVectorHolds(head) || !KernelTablesHold(head)) return false;
  std::uint32_t current = 0;
  std::uint32_t state = 0;
  return ReadWord(handle, ramBase + CurrentThreadPointerAt(head), current) &&
         CurrentThreadIsABlock(head, current) && ReadWord(handle, ramBase + KernelPhysical(current), state) &&
         state == ThreadInUse && AccessibleThroughout(handle, ramBase, MainRamSize, ReadableProtections);
}

bool EvaluateRamOfWalk(Address& ramBase, bool& byKernelArea) {
  byKernelArea = false;
  if (EvaluateRamBase(FoundSlots, ramBase)) return true;
  // The walk looks for the kernel area only where no marker was seen.
  if (!KernelAreaSearch.found) return false;
  byKernelArea = true;
  ramBase = KernelAreaSearch.ramBase;
  return true;
}

void FindRamByKernelArea(HANDLE handle) {
  if (!FindsRamByKernelArea) return;
  KernelAreaRecord& record = KernelAreaSearch;
  // Beyond those kept, nothing can be shown.
  if (KernelCandidateCount > MaxSightings) {
    record.sightings = MaxSightings + 1;
    return;
  }
  Address holding[MaxSightings];
  for (int i = 0; i < KernelCandidateCount; ++i) {
    if (KernelAreaAt(handle, KernelCandidates[i])) holding[record.sightings++] = KernelCandidates[i];
  }
  if (record.sightings == 1) {
    record.found = true;
    record.ramBase = holding[0];
  } else if (record.sightings > 1) {
    record.found = ChooseViewOfOneRam(handle, holding, record.sightings, nullptr, 0, record.ramBase,
                                      record.privateSightings, &LastWalk.ramViews);
  }
}
