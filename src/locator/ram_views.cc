#include "locator/ram_views.h"

#include <algorithm>

#include "locator/markers.h"
#include "locator/memory_scan.h"

using namespace platform;

namespace {

// Protections under which every page can be written; PAGE_GUARD makes any of them fault.
const DWORD WritableProtections =
    PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

// Where the end marker of a RAM that starts at `start` lies.
Address EndMarkerOf(Address start) { return start + MainRamSize - MarkerLength; }

// The sightings of one marker in shared memory, and how many lay in private memory.
struct SortedSightings {
  Address shared[MaxSightings];
  int sharedCount;
  int privateCount;
  bool untold;  // a sighting in memory that is neither, or can't be told
};

// Shared memory is a view of a section or of a shared file mapping (Linux:
// memfd and /dev/shm objects too); private memory is the process's own, or an
// image or file whose pages are copied on write. An emulator's live RAM is one
// or the other; copies of it (rewind, run-ahead, save states kept in memory)
// are always the process's own.
void SortSightings(HANDLE handle, int m, SortedSightings& sorted) {
  sorted.sharedCount = 0;
  sorted.privateCount = 0;
  sorted.untold = false;
  for (int i = 0; i < SightingCounts[m]; ++i) {
    MEMORY_BASIC_INFORMATION region;
    const bool known = VirtualQueryEx(handle, Sightings[m][i], &region, sizeof region) != 0 &&
                       (region.State & MEM_COMMIT) != 0;
    if (known && region.Type == MEM_MAPPED) {
      sorted.shared[sorted.sharedCount++] = Sightings[m][i];
    } else if (known && (region.Type == MEM_PRIVATE || region.Type == MEM_IMAGE)) {
      ++sorted.privateCount;
    } else {
      sorted.untold = true;
    }
  }
}

// Whether every page of [from, from + size) can be written by a user of the
// address, such as a trainer: a page a recompiler or dirty tracking made
// read-only refuses writes from outside too.
bool WritableThroughout(HANDLE handle, Address from, SIZE_T size) {
  for (Address at = from; at - from < size;) {
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQueryEx(handle, at, &region, sizeof region) == 0 || (region.State & MEM_COMMIT) == 0 ||
        (region.Protect & WritableProtections) == 0 || (region.Protect & PAGE_GUARD) != 0) {
      return false;
    }
    const Address next = region.BaseAddress + region.RegionSize;
    if (next <= at) return false;
    at = next;
  }
  return true;
}

}  // namespace

void MergeViewsOfOneRam(HANDLE handle) {
  if (!MergesRamViews) return;
  const int starts = SightingCounts[0];
  const int ends = SightingCounts[1];
  // One of each is the plain case; beyond those kept, nothing can be shown.
  if ((starts < 2 && ends < 2) || starts > MaxSightings || ends > MaxSightings) return;
  SortedSightings views;
  SortedSightings viewEnds;
  SortSightings(handle, 0, views);
  SortSightings(handle, 1, viewEnds);
  LastWalk.privateSightings = views.privateCount + viewEnds.privateCount;
  const int count = views.sharedCount;
  if (views.untold || viewEnds.untold || count == 0 || viewEnds.sharedCount != count) return;
  Address* const first = views.shared;
  std::sort(first, first + count);
  const Address* const endsSeen = viewEnds.shared;
  for (int i = 0; i < count; ++i) {
    // Distinct starts with an end each, as many as there are ends: a stray end marker can't hide.
    if (i > 0 && first[i] == first[i - 1]) return;
    if (std::find(endsSeen, endsSeen + count, EndMarkerOf(first[i])) == endsSeen + count) return;
  }
  // A lone view must still be shown to lie in shared memory all through.
  for (int i = count == 1 ? 0 : 1; i < count; ++i) {
    if (!SameMemoryBehind(handle, first[0], first[i], MainRamSize)) return;
  }
  Address chosen = first[0];
  for (int i = 0; i < count; ++i) {
    if (WritableThroughout(handle, first[i], MainRamSize)) {
      chosen = first[i];
      break;
    }
  }
  FoundSlots[0] = chosen;
  FoundSlots[1] = EndMarkerOf(chosen);
  LastWalk.ramViews.assign(first, first + count);
}
