// How wide a host address is, fixed when the tool is built, and what follows
// from it. This is the one place that knows: the 32-bit Windows tool keeps
// 32-bit addresses and reads every region whole; the 64-bit tools reach the
// whole 64-bit address space, read regions in small pieces, read a mapping
// whose pages differ in protection as one region, count views of one memory,
// mapped more than once, as one sighting of the RAM (the view a user can
// write, where private copies lie beside it), find a RAM at address 0, say on
// standard error why the answer is 0, read only the pages the system shows
// may have been written, where no marker was seen at all, find the RAM of a
// game running without the marker program by the console kernel's structures
// in its first 64 KiB, and take --watch, --interval and --json. The native
// build also compiles its unit tests at 32 bits (MIRVANE_ADDRESS_BITS=32), so
// the rules of both widths are tested on every machine.
#pragma once

#include <cstdint>

#ifndef MIRVANE_ADDRESS_BITS
#if UINTPTR_MAX > 0xFFFFFFFFu
#define MIRVANE_ADDRESS_BITS 64
#else
#define MIRVANE_ADDRESS_BITS 32
#endif
#endif

namespace platform {

#if MIRVANE_ADDRESS_BITS == 32
// An address or a size in the target process; arithmetic wraps at 2^32.
typedef std::uint32_t HostWord;
// 0: each qualifying region is copied whole, with one read, into a buffer of its size.
const HostWord ReadPieceSize = 0;
// Every sighting of a marker counts, even where two are views of one memory.
const bool MergesRamViews = false;
// Each region the system reports is read on its own, whatever its protection.
const bool JoinsRegionsOfOneAllocation = false;
// Not found is a silent 0, as it always was.
const bool ExplainsNotFound = false;
// 0 means "not seen" and "not found": no RAM is ever looked for at address 0.
const bool ZeroIsAnAddress = false;
// Every page of a qualifying region is read, whether or not it was ever touched.
const bool ReadsOnlyTouchedPages = false;
// Only the markers tell where the RAM is.
const bool FindsRamByKernelArea = false;
// The command line is "[name | pid] [/type]" and no more: "--watch" and the
// like are names, as any other argument.
const bool TakesWatchOptions = false;
#elif MIRVANE_ADDRESS_BITS == 64
typedef std::uint64_t HostWord;
// Regions are read in pieces of 512 KiB into one small buffer, which the scan
// then finds in the processor's cache (half of a 1 MiB second-level cache: a
// 1 MiB piece is scanned partly from farther away, and costs more in all); a
// region of many GiB costs no more memory than a small one.
const HostWord ReadPieceSize = 0x80000;
// Emulators map their RAM more than once: sightings of the RAM that the system
// shows to be views of the same memory count as one, the lowest.
const bool MergesRamViews = true;
// Emulators write-protect pages of their RAM (translated code, dirty tracking),
// and the system then reports one region per run of equal protection: the
// consecutive readable regions of one allocation are read as one, and memory
// the system marks unreadable is passed over unread.
const bool JoinsRegionsOfOneAllocation = true;
// Not found comes with a reason on standard error: no such process, no rights,
// no marker, or markers not shown to be one RAM.
const bool ExplainsNotFound = true;
// Root may map page 0 on Linux, and emulators run as root put their RAM there:
// "seen" and "found" are kept apart from the address, which may be 0.
const bool ZeroIsAnAddress = true;
// Reading a page the target never touched makes the system give it one of
// its own: only the pages the system shows may have been written are read,
// where it can tell (Linux), so the target is left as it was found.
const bool ReadsOnlyTouchedPages = true;
// A game running without the marker program leaves the console kernel's
// vector and tables in the first 64 KiB of the RAM: where no marker was seen,
// they tell the RAM instead.
const bool FindsRamByKernelArea = true;
// Trackers run for hours beside the emulator: --watch keeps following the
// RAM, --json answers for programs, each on a line of its own.
const bool TakesWatchOptions = true;
#else
#error "MIRVANE_ADDRESS_BITS is 32 or 64"
#endif

}  // namespace platform
