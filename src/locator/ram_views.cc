#include "locator/ram_views.h"

#include <algorithm>

#include "locator/markers.h"

namespace {

// Where the end marker of a RAM that starts at `start` lies.
Address EndMarkerOf(Address start) { return start + MainRamSize - MarkerLength; }

}  // namespace

void MergeViewsOfOneRam(platform::HANDLE handle) {
  if (!platform::MergesRamViews) return;
  const int count = SightingCounts[0];
  // One sighting is the plain case; beyond those kept, nothing can be shown.
  if (count < 2 || count > MaxSightings || SightingCounts[1] != count) return;
  Address starts[MaxSightings];
  std::copy(Sightings[0], Sightings[0] + count, starts);
  std::sort(starts, starts + count);
  const Address* const ends = Sightings[1];
  for (int i = 0; i < count; ++i) {
    // Distinct starts with an end each, as many as there are ends: a stray end marker can't hide.
    if (i > 0 && starts[i] == starts[i - 1]) return;
    if (std::find(ends, ends + count, EndMarkerOf(starts[i])) == ends + count) return;
  }
  for (int i = 1; i < count; ++i) {
    if (!platform::SameMemoryBehind(handle, starts[0], starts[i], MainRamSize)) return;
  }
  FoundSlots[0] = starts[0];
  FoundSlots[1] = EndMarkerOf(starts[0]);
}
