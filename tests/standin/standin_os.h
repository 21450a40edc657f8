// What the stand-in emulator needs from the operating system: committed memory
// at addresses it can announce, memory that can't be read, memory that changes
// the moment another process reads it, its own PID, and a way to wait until it
// is told to stop. One implementation per platform (standin_os_posix.cc,
// standin_os_win32.cc). Addresses and sizes are 64-bit numbers whatever the
// width of our own pointers.
#pragma once

#include <cstdint>

// Where a region should lie in the address space.
enum RegionPlace {
  PlaceLow,         // below 2 GiB
  PlaceHigh,        // at or above 0x80000000, below 4 GiB, so the address has its top bit set
  PlaceAnywhere,    // wherever the system finds room (for regions too big for one half)
  PlaceAcross4GiB,  // half below 4 GiB, half above (64-bit processes only)
  PlaceAbove4GiB,   // wholly above 4 GiB (64-bit processes only)
};

// Commits `size` readable and writable bytes at a fresh place, apart from every
// other region of ours (so that no two of them read as one). Pages we never
// touch cost no memory. Null on failure.
unsigned char* CommitRegion(std::uint64_t size, RegionPlace place);

// Gives a region from CommitRegion back to the system.
bool ReleaseRegion(unsigned char* region, std::uint64_t size);

// Turns committed memory into memory that nobody may read.
bool MakeInaccessible(unsigned char* region, std::uint64_t size);

// Maps `size` committed bytes of which only the first `readable` ones (whole
// pages) can be read: a file mapping longer than its file. Null where the
// platform can't stage it.
unsigned char* MapUnreadableRegion(std::uint64_t size, std::uint64_t readable);

// Shared memory of `size` bytes that can be mapped more than once, as
// emulators map their RAM; it lives until we end. -1 on failure.
int CreateSharedMemory(std::uint64_t size);

// Maps all of shared memory `memory` (of `size` bytes), readable and writable,
// at a fresh place as CommitRegion places its regions. Null on failure.
unsigned char* MapSharedView(int memory, std::uint64_t size, RegionPlace place);

// Address space without memory, at a fresh place, for views placed inside it
// as a fast-memory layout does. Null on failure.
unsigned char* ReserveRange(std::uint64_t size, RegionPlace place);

// Maps all of shared memory `memory` at `at`, inside a range from ReserveRange.
bool MapSharedViewAt(int memory, std::uint64_t size, unsigned char* at);

// Maps shared memory `memory` (of `size` bytes) `count` times back to back
// from address 0, or with `memory` -1 commits `size` private bytes there, as
// root may on Linux. False where the system refuses it.
bool MapFromAddressZero(int memory, std::uint64_t size, int count);

// Our memory at address 0, once mapped there: a pointer the compiler can't
// take for a null one.
unsigned char* AddressZero();

// Turns memory read-only, as emulators protect pages of a view of their RAM.
bool MakeReadOnly(unsigned char* memory, std::uint64_t size);

// The host address of our own memory.
std::uint64_t AddressOf(const unsigned char* memory);

std::uint32_t CurrentProcessId();

// What happens the first time another process reads a watched region.
enum ReadReaction {
  ExitOnRead,              // the stand-in ends while the read waits
  StopOnRead,              // the read goes on, and the stand-in stops as if its input had ended
  UnmapUpperHalfOnRead,    // the region's upper half is unmapped, then the read goes on
  ProtectUpperHalfOnRead,  // the upper half is made inaccessible, then the read goes on
};

// Watches a region we have never touched: the first read of it by another
// process waits until `reaction` is done (inside WaitForStop), so the region
// changes between that process's query of it and its read. False where this
// platform can't watch reads.
bool WatchFirstRead(unsigned char* region, std::uint64_t size, ReadReaction reaction);

// Lets other processes of the same user read our memory.
void AllowMemoryReaders();

// Waits until standard input ends (or is closed), a watched read stops us, or
// `milliseconds` have passed, meanwhile reacting to the first read of a
// watched region.
void WaitForStop(unsigned milliseconds);
