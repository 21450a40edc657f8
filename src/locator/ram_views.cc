#include "locator/ram_views.h"

#include <algorithm>

#include "locator/markers.h"
#include "locator/memory_scan.h"

using namespace platform;

namespace {

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
void SortSightings(HANDLE handle, const Address* sightings, int count, SortedSightings& sorted) {
  sorted.sharedCount = 0;
  sorted.privateCount = 0;
  sorted.untold = false;
  for (int i = 0; i < count; ++i) {
    MEMORY_BASIC_INFORMATION region;
    const bool known =
        VirtualQueryEx(handle, sightings[i], &region, sizeof region) != 0 && (region.State & MEM_COMMIT) != 0;
    if (known && region.Type == MEM_MAPPED) {
      sorted.shared[sorted.sharedCount++] = sightings[i];
    } else if (known && (region.Type == MEM_PRIVATE || region.Type == MEM_IMAGE)) {
      ++sorted.privateCount;
    } else {
      sorted.untold = true;
    }
  }
}

}  // namespace

// A page a recompiler or dirty tracking made read-only refuses writes from
// outside too, such as a trainer's.
bool AccessibleThroughout(HANDLE handle, Address from, SIZE_T size, DWORD protections) {
  for (Address at = from; at - from < size;) {
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQueryEx(handle, at, &region, sizeof region) == 0 || (region.State & MEM_COMMIT) == 0 ||
        (region.Protect & protections) == 0 || (region.Protect & PAGE_GUARD) != 0) {
      return false;
    }
    const Address next = region.BaseAddress + region.RegionSize;
    if (next <= at) return false;
    at = next;
  }
  return true;
}

bool ChooseViewOfOneRam(HANDLE handle, const Address* starts, int startCount, const Address* ends,
                        int endCount, Address& chosen, int& privateSightings,
                        std::vector<Address>* viewsChosen) {
  SortedSightings views;
  SortedSightings viewEnds;
  SortSightings(handle, starts, startCount, views);
  SortSightings(handle, ends, ends == nullptr ? 0 : endCount, viewEnds);
  privateSightings = views.privateCount + viewEnds.privateCount;
  const int count = views.sharedCount;
  if (views.untold || viewEnds.untold || count == 0) return false;
  if (ends != nullptr && viewEnds.sharedCount != count) return false;
  Address* const first = views.shared;
  std::sort(first, first + count);
  const Address* const endsSeen = viewEnds.shared;
  for (int i = 0; i < count; ++i) {
    // Distinct starts with an end each, as many as there are ends: a stray end marker can't hide.
    if (i > 0 && first[i] == first[i - 1]) return false;
    if (ends != nullptr && std::find(endsSeen, endsSeen + count, EndMarkerOf(first[i])) == endsSeen + count)
      return false;
  }
  // A lone view must still be shown to lie in shared memory all through.
  for (int i = count == 1 ? 0 : 1; i < count; ++i) {
    if (!SameMemoryBehind(handle, first[0], first[i], MainRamSize)) return false;
  }
  if (viewsChosen != nullptr) viewsChosen->assign(first, first + count);
  chosen = first[0];
  for (int i = 0; i < count; ++i) {
    if (AccessibleThroughout(handle, first[i], MainRamSize, WritableProtections)) {
      chosen = first[i];
      break;
    }
  }
  return true;
}

void MergeViewsOfOneRam(HANDLE handle) {
  if (!MergesRamViews) return;
  const int starts = SightingCounts[0];
  const int ends = SightingCounts[1];
  // One of each is the plain case; beyond those kept, nothing can be shown.
  if ((starts < 2 && ends < 2) || starts > MaxSightings || ends > MaxSightings) return;
  Address chosen = 0;
  if (!ChooseViewOfOneRam(handle, Sightings[0], starts, Sightings[1], ends, chosen, LastWalk.privateSightings,
                          &LastWalk.ramViews))
    return;
  FoundSlots[0] = chosen;
  FoundSlots[1] = EndMarkerOf(chosen);
}
