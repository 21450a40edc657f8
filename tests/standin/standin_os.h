// What the stand-in emulator needs from the operating system: committed memory
// at addresses it can announce, memory that can't be read, memory that changes
// the moment another process reads it, its own PID, and a way to wait until it
// is told to stop. One implementation per platform (standin_os_posix.cc,
// standin_os_win32.cc).
#pragma once

#include <cstdint>

// Where a region should lie in the 32-bit address space.
enum RegionPlace {
  PlaceLow,       // below 2 GiB
  PlaceHigh,      // at or above 0x80000000, so the address has its top bit set
  PlaceAnywhere,  // wherever the system finds room (for regions too big for one half)
};

// Commits `size` readable and writable bytes at a fresh place, apart from every
// other region of ours (so that no two of them read as one). Null on failure.
unsigned char* CommitRegion(std::uint32_t size, RegionPlace place);

// Turns a committed region into one that nobody may read.
bool MakeInaccessible(unsigned char* region, std::uint32_t size);

// Maps `size` committed bytes of which only the first page can be read (a file
// mapping longer than its file). Null where the platform can't stage it.
unsigned char* MapUnreadableRegion(std::uint32_t size);

// The host address of our own memory as a 32-bit value.
std::uint32_t AddressOf(const unsigned char* memory);

std::uint32_t CurrentProcessId();

// What happens the first time another process reads a watched region.
enum ReadReaction {
  ExitOnRead,              // the stand-in ends while the read waits
  UnmapUpperHalfOnRead,    // the region's upper half is unmapped, then the read goes on
  ProtectUpperHalfOnRead,  // the upper half is made inaccessible, then the read goes on
};

// Watches a region we have never touched: the first read of it by another
// process waits until `reaction` is done (inside WaitForStop), so the region
// changes between that process's query of it and its read. False where this
// platform can't watch reads.
bool WatchFirstRead(unsigned char* region, std::uint32_t size, ReadReaction reaction);

// Lets other processes of the same user read our memory.
void AllowMemoryReaders();

// Waits until standard input ends (or is closed) or `milliseconds` have
// passed, meanwhile reacting to the first read of a watched region.
void WaitForStop(unsigned milliseconds);
