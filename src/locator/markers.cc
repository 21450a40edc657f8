#include "locator/markers.h"

#include <cstring>

#include "locator/kernel_area.h"

const char MarkerTable[MarkerCount][MarkerLength + 1] = {
    "!StartOfMainRAM!",
    "!!EndOfMainRAM!!",
    "!StartOfScratch!",
    "!!EndOfScratch!!",
};

std::uint32_t MarkerWords[MarkerCount][4];
std::uint32_t FirstWords[LastMarkerIndex + 2];
int FirstWordCount;
Address FoundSlots[MarkerCount];
Address Sightings[LastMarkerIndex + 1][MaxSightings];
int SightingCounts[LastMarkerIndex + 1];

void BuildMarkerWords() {
  for (int m = 0; m <= LastMarkerIndex; ++m) {
    for (int k = 0; k < 4; ++k) {
      MarkerWords[m][k] = WordAt(reinterpret_cast<const unsigned char*>(MarkerTable[m]) + 4 * k);
    }
  }
  // Markers may share a first word; the scan compares each block with each one once.
  FirstWordCount = 0;
  for (int m = 0; m <= LastMarkerIndex; ++m) {
    int seen = 0;
    while (seen < FirstWordCount && FirstWords[seen] != MarkerWords[m][0]) ++seen;
    if (seen == FirstWordCount) FirstWords[FirstWordCount++] = MarkerWords[m][0];
  }
  if (platform::FindsRamByKernelArea) FirstWords[FirstWordCount++] = KernelVectorFirstWord;
}

void ClearFoundSlots() {
  for (Address& slot : FoundSlots) slot = NotSeen;
  for (int& count : SightingCounts) count = 0;
  ClearKernelAreaSearch();
}

HitsMark MarkHits() {
  HitsMark mark;
  std::memcpy(mark.slots, FoundSlots, sizeof FoundSlots);
  std::memcpy(mark.sightingCounts, SightingCounts, sizeof SightingCounts);
  mark.kernelCandidateCount = KernelCandidateCount;
  return mark;
}

// Sightings are only ever appended: the counts of the mark drop the later ones.
void RewindHits(const HitsMark& mark) {
  std::memcpy(FoundSlots, mark.slots, sizeof FoundSlots);
  std::memcpy(SightingCounts, mark.sightingCounts, sizeof SightingCounts);
  KernelCandidateCount = mark.kernelCandidateCount;
}

void RecordHit(int m, Address address) {
  // Where 0 means "not seen", a hit at 0 leaves the slot unseen.
  FoundSlots[m] = FoundSlots[m] == NotSeen ? address : AmbiguousHit;
  if (m > LastMarkerIndex) return;
  int& count = SightingCounts[m];
  if (count < MaxSightings) Sightings[m][count] = address;
  if (count <= MaxSightings) ++count;
}

bool EvaluateRamBase(const Address slots[MarkerCount], Address& ramBase) {
  const Address s = slots[0];
  const Address e = slots[1];
  // Each seen once, and the end marker in the last 16 bytes of the RAM.
  const bool found = s != NotSeen && e != NotSeen && s != AmbiguousHit && e != AmbiguousHit &&
                     static_cast<Address>(e - s + 16) == MainRamSize;
  ramBase = found ? s : 0;
  return found;
}
