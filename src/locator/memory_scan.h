// The walk over the emulator's address space: every committed region large
// enough to hold the emulated main RAM is copied (whole, or in pieces where
// the build reads in pieces) and scanned for markers. Where the build joins
// them, a region is each run of consecutive readable regions of one
// allocation, however its pages are protected.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "locator/markers.h"
#include "platform/process_services.h"

// Ends the guarded search without a message (no process, or it can't be opened).
enum SearchFailure { SearchFailed };

// Access asked of the target: query and read, never write.
const platform::DWORD TargetAccess = platform::PROCESS_QUERY_INFORMATION | platform::PROCESS_VM_READ;

// What the last walk met, for the reasons given when the answer is 0: the
// system's error when the process could not be opened, the regions (runs)
// large enough to hold the RAM that were copied, how many came back short, and
// how many sightings of a marker seen more than once lay in private memory.
struct WalkRecord {
  platform::DWORD openError = 0;
  int regions = 0;
  int shortCopies = 0;
  int privateSightings = 0;
  std::vector<Address> ramViews;  // the views shown to be one RAM, lowest first, where there were several
};
extern WalkRecord LastWalk;

// The process the last walk opened (null before any): kept open for re-checks,
// closed when the next walk opens one.
extern platform::HANDLE WalkedProcess;

// Whether a region copied short is reported by an "Err!" line on standard
// output, where the result line follows it (not before JSON lines, nor while
// watching, where the walks between answers print nothing).
extern bool WritesErrLines;

// Whether the two markers are still where they proved the RAM at `ramBase`:
// the 16 bytes at each place are read again, nothing else.
bool RamMarkersStillAt(platform::HANDLE handle, Address ramBase);

// Opens the process and walks it, then counts views of one RAM as one sighting
// where the build does; throws SearchFailed when it can't be opened,
// std::bad_alloc when a copy buffer can't be had.
void ScanEmulatorMemory(platform::DWORD pid);

void ScanAddressSpace(platform::HANDLE handle);
