// The RAM of a game running without the marker program, known by the console
// kernel's fixed structures in its first 64 KiB. Every BIOS (the console's,
// the replacements emulators ship, the stand-ins they write in code) leaves
// them there while a game runs, as games call the kernel through them:
//   0x80   the exception vector: lui k0,0; addiu k0,k0,handler; jr k0; nop
//   0x100  the table of tables: (address, size) of ExCB, PCB, TCB, EvCB, FCB, DCB
//   PCB    a word pointing at the current thread's TCB, which is in use (0x4000)
// Where no marker was seen at all, the walk notes where the vector lies and,
// after it, checks the rest in the target and chooses among what holds as
// among the views and copies of a RAM found by its markers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "locator/markers.h"
#include "platform/process_services.h"

const Address KernelVectorOffset = 0x80;
// The exception vector's first word: one more word for the scan's block compare.
const std::uint32_t KernelVectorFirstWord = 0x3C1A0000;

// Where the scan saw the vector, the RAM it implies, in the order seen: the
// first MaxSightings are kept, and the count goes on to MaxSightings + 1.
extern Address KernelCandidates[MaxSightings];
extern int KernelCandidateCount;

// What the search by the kernel area found, after the walk.
struct KernelAreaRecord {
  int sightings = 0;         // kernel areas that hold, MaxSightings + 1 where there were more
  int privateSightings = 0;  // of them in private memory, where they were not one RAM
  bool found = false;
  Address ramBase = 0;
};
extern KernelAreaRecord KernelAreaSearch;

// Clears the candidates and the record.
void ClearKernelAreaSearch();

// The scan saw the vector's first word at `at` in a copy, `available` bytes
// of the copy from there on (at least 16), at target address `address`:
// notes the RAM it implies where the vector holds, and the table of tables
// too where the copy reaches it.
void TryKernelVectorAt(const unsigned char* at, std::size_t available, Address address);

// After a walk in which no marker was seen: checks each candidate in the
// target and chooses the RAM among those that hold. Does nothing where the
// build finds the RAM by its markers alone (platform/address_width.h).
void FindRamByKernelArea(platform::HANDLE handle);

// Whether the target holds a kernel area of a running game in a RAM at `ramBase`.
bool KernelAreaAt(platform::HANDLE handle, Address ramBase);
