// The marker protocol shared with the test program inside the emulator, and
// the bookkeeping that turns marker hits into the RAM base.
#pragma once

#include <cstdint>

#include "platform/address_width.h"

typedef platform::HostWord Address;  // a host address of the build's width; arithmetic wraps

const int MarkerCount = 4;
const int MarkerLength = 16;
// Markers 0..LastMarkerIndex are searched; the others stay in the table only.
const int LastMarkerIndex = 1;
const Address MainRamSize = 0x200000;
// A slot value meaning "seen more than once".
const Address AmbiguousHit = ~static_cast<Address>(0);  // all bits set
// A slot value meaning "not seen": 0 where no RAM is looked for at address 0,
// else a value no hit can have, as hits lie on 4-byte steps.
const Address NotSeen = platform::ZeroIsAnAddress ? AmbiguousHit - 1 : 0;

extern const char MarkerTable[MarkerCount][MarkerLength + 1];

// The little-endian word of the 4 bytes at `p`: the word form of the markers,
// and of the console's memory, whatever the host's byte order.
inline std::uint32_t WordAt(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// MarkerWords[m][k]: bytes 4k..4k+3 of marker m as a little-endian word.
extern std::uint32_t MarkerWords[MarkerCount][4];

// The distinct first words of the searched markers, and of the kernel's
// exception vector where the build looks for it, FirstWordCount of them: a
// step whose first word is none of these holds nothing the scan looks for.
extern std::uint32_t FirstWords[LastMarkerIndex + 2];
extern int FirstWordCount;

// Per marker: NotSeen, AmbiguousHit seen more than once, else the one address.
extern Address FoundSlots[MarkerCount];

// Where each searched marker was seen, in the order seen, for telling views of
// one memory from copies: the first MaxSightings of them are kept, and the
// count goes on past that (to MaxSightings + 1, where it stays).
const int MaxSightings = 64;
extern Address Sightings[LastMarkerIndex + 1][MaxSightings];
extern int SightingCounts[LastMarkerIndex + 1];

// The hits up to one moment, so that those of a region can be taken back.
struct HitsMark {
  Address slots[MarkerCount];
  int sightingCounts[LastMarkerIndex + 1];
  int kernelCandidateCount;
};

void BuildMarkerWords();
// Clears the slots and the sightings, of the markers and of the kernel area.
void ClearFoundSlots();
HitsMark MarkHits();
void RewindHits(const HitsMark& mark);
void RecordHit(int m, Address address);
// Whether the slots show one RAM, and `ramBase` its address (0 where not).
bool EvaluateRamBase(const Address slots[MarkerCount], Address& ramBase);
