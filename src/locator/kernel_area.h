// The RAM of a game running without the marker program, known by the console
// kernel's fixed structures in its first 64 KiB. Every BIOS (the console's,
// the replacements emulators ship, the stand-ins they write in code) leaves
// them there while a game runs, as games call the kernel through them:
//   0x80   the exception vector: lui k0,0; addiu k0,k0,handler; jr k0; nop
//   0x100  the table of tables: (address, size) of ExCB, PCB, TCB, EvCB, FCB, DCB
//   PCB    a word pointing at the current thread's TCB, which is in use (0x4000)
// This is the rule on the bytes, and where the scan notes the vector;
// kernel_search.h checks the rest in the target after the walk.
#pragma once

#include <cstddef>
#include <cstdint>

#include "locator/markers.h"

const Address KernelVectorOffset = 0x80;
// The vector and the table of tables, read as one: RAM offsets 0x80 to 0x157.
const std::size_t KernelHeadBytes = 0x158 - KernelVectorOffset;
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

// Where in the RAM a kernel address lies, the segment bits (cached, uncached,
// user) taken off.
std::uint32_t KernelPhysical(std::uint32_t address);

// `head`: KernelHeadBytes of the RAM from the vector on. Whether the vector
// holds, and whether each table's address lies in the kernel area and its
// size is one such a table has.
bool KernelVectorHolds(const unsigned char* head);
bool KernelTablesHold(const unsigned char* head);
// Where in the RAM the word that points at the current thread lies.
std::uint32_t CurrentThreadPointerAt(const unsigned char* head);
// Whether `current`, read there, points at one of the thread blocks.
bool CurrentThreadIsABlock(const unsigned char* head, std::uint32_t current);
// A running game's current thread is in use: the first word of its block.
const std::uint32_t ThreadInUse = 0x4000;
