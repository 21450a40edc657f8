#include "locator/memory_scan.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "locator/kernel_area.h"
#include "locator/ram_views.h"
#include "locator/region_scan.h"
#include "platform/output_lines.h"

using namespace platform;

WalkRecord LastWalk;
HANDLE WalkedProcess = nullptr;
bool WritesErrLines = true;

namespace {

// A marker that starts in the last 12 bytes of one piece ends in the next:
// those bytes are carried over and scanned again with the piece after them.
const SIZE_T CarriedBytes = MarkerLength - 4;
// Pieces are read to this offset in the buffer, a cache-line step, with the
// carried bytes just before it: the kernel copies several times slower into a
// destination that is not so aligned.
const SIZE_T PieceOffset = 64;
// The longest stretch of touched pages asked for at once, read in pieces: one
// question per 64 MiB costs little, and an answer is never far ahead of the reads.
const SIZE_T LongestTouchedStretch = 0x4000000;

// A stretch of the target copied and scanned as one: a region, or where the
// build joins them, consecutive readable regions of one allocation.
struct ReadRun {
  ULONG_PTR base;
  SIZE_T size;  // 0 while none is pending
  ULONG_PTR allocationBase;
};

// Whether a region may be copied. The 32-bit tool copies every committed
// region, and reports with "Err!" what it could not read.
bool Copyable(const MEMORY_BASIC_INFORMATION& region) {
  if ((region.State & MEM_COMMIT) == 0 || (region.State & MEM_FREE) != 0) return false;
  if (!JoinsRegionsOfOneAllocation) return true;
  return (region.Protect & ReadableProtections) != 0 && (region.Protect & PAGE_GUARD) == 0;
}

bool Continues(const ReadRun& run, const MEMORY_BASIC_INFORMATION& region) {
  return JoinsRegionsOfOneAllocation && run.size != 0 && region.BaseAddress == run.base + run.size &&
         region.AllocationBase == run.allocationBase;
}

// How much of a run one read takes: all of it where runs are read whole.
SIZE_T PieceSize(SIZE_T runSize) { return ReadPieceSize == 0 ? runSize : std::min(runSize, ReadPieceSize); }

// Where, from `done` on, the run's next stretch to read lies: [done, until)
// after passing over what needs no reading (`tells` turns false, and the rest
// of the run is the stretch, where the system can't tell); false where
// nothing more of the run needs reading.
//
// A page of a private mapping that the system shows neither in memory nor
// swapped out was never written: memory of no file reads as zeros there, a
// file's private mapping as the file's own bytes. Neither can hold a marker:
// the marker program builds them at run time, no file holds them, and they
// hold no zero byte. Reading such a page would make the system map a page
// there for the target (a file's read from disk first): passing it over
// leaves the target as big as it was. No marker lies across a page passed
// over, so the bytes carried over are dropped there. Pages of shared mappings
// may be in memory through another view, so the system counts them all as
// touched; where it can't tell at all, the rest of the run is read.
bool NextStretch(HANDLE handle, const ReadRun& run, bool& tells, SIZE_T& done, SIZE_T& until,
                 SIZE_T& carried) {
  if (!tells || done < until) return true;
  ULONG_PTR stretchBase = 0;
  SIZE_T stretchSize = 0;
  const ULONG_PTR from = run.base + done;
  if (FindTouchedPages(handle, from, run.size - done, LongestTouchedStretch, &stretchBase, &stretchSize) ==
          FALSE ||
      stretchBase < from || stretchBase - from > run.size - done ||
      stretchSize > run.size - done - (stretchBase - from)) {
    // Can't tell (or an answer that doesn't fit the run): the rest is read.
    tells = false;
    until = run.size;
    return true;
  }
  if (stretchSize == 0) return false;
  if (stretchBase != from) carried = 0;
  done += stretchBase - from;
  until = done + stretchSize;
  return true;
}

// Reads the run piece by piece to `pieceStart`, each piece behind the bytes
// carried over from the one before (room for them lies just before it), and
// scans what the buffer holds: the same steps, hits and order as one whole
// copy. Where the build reads only touched pages, pieces end where a stretch
// of them ends. Returns false, with no hits of this run kept, when any piece
// comes back short.
bool CopyAndScanPieces(HANDLE handle, const ReadRun& run, unsigned char* pieceStart, SIZE_T piece) {
  const HitsMark before = MarkHits();
  SIZE_T carried = 0;
  bool tells = ReadsOnlyTouchedPages;
  SIZE_T until = tells ? 0 : run.size;  // where the stretch being read ends
  for (SIZE_T done = 0; done < run.size;) {
    if (!NextStretch(handle, run, tells, done, until, carried)) break;
    const SIZE_T wanted = std::min(piece, until - done);
    // Reset for every read, so a read that fails without a count never passes for a full one.
    SIZE_T bytesRead = 0;
    ReadProcessMemory(handle, run.base + done, pieceStart, wanted, &bytesRead);
    if (bytesRead != wanted) {
      RewindHits(before);
      return false;
    }
    ScanRegionBuffer(pieceStart - carried, carried + wanted, run.base + done - carried);
    done += wanted;
    // Pieces are whole pages, longer than what is carried; room for it lies before them.
    if (done < run.size) {
      carried = CarriedBytes;
      std::memmove(pieceStart - carried, pieceStart + wanted - carried, carried);
    }
  }
  return true;
}

// Copies one run and scans the copy; a short copy is reported, not counted.
void CopyAndScanRun(HANDLE handle, const ReadRun& run) {
  const SIZE_T piece = PieceSize(run.size);
  // A run read whole needs exactly its size; pieces need room for the carried bytes before them.
  const SIZE_T offset = piece == run.size ? 0 : PieceOffset;
  void* buffer = VirtualAlloc(nullptr, offset + piece, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (buffer == nullptr) throw std::bad_alloc();
  const bool whole = CopyAndScanPieces(handle, run, static_cast<unsigned char*>(buffer) + offset, piece);
  VirtualFree(buffer, 0, MEM_RELEASE);
  ++LastWalk.regions;
  if (!whole) {
    ++LastWalk.shortCopies;
    if (WritesErrLines) WriteOutputLine("Err!");
  }
}

// Copies the pending run if it can hold the RAM, and leaves none pending.
void FinishRun(HANDLE handle, ReadRun& run) {
  if (run.size >= MainRamSize) CopyAndScanRun(handle, run);
  run.size = 0;
}

}  // namespace

void ScanEmulatorMemory(DWORD pid) {
  LastWalk = WalkRecord();
  // The handle stays open until the next walk, or the tool's end.
  if (WalkedProcess != nullptr) CloseHandle(WalkedProcess);
  WalkedProcess = OpenProcess(TargetAccess, FALSE, pid);
  const HANDLE handle = WalkedProcess;
  if (handle == nullptr) {
    LastWalk.openError = GetLastError();
    throw SearchFailed;
  }
  ScanAddressSpace(handle);
  // After a walk that ended, not one cut short by a failure.
  MergeViewsOfOneRam(handle);
  if (SightingCounts[0] == 0 && SightingCounts[1] == 0) FindRamByKernelArea(handle);
}

bool RamMarkersStillAt(HANDLE handle, Address ramBase) {
  const Address places[2] = {ramBase, ramBase + MainRamSize - MarkerLength};
  for (int m = 0; m < 2; ++m) {
    char bytes[MarkerLength];
    SIZE_T bytesRead = 0;
    if (handle == nullptr || ReadProcessMemory(handle, places[m], bytes, MarkerLength, &bytesRead) == FALSE ||
        bytesRead != MarkerLength || std::memcmp(bytes, MarkerTable[m], MarkerLength) != 0) {
      return false;
    }
  }
  return true;
}

void ScanAddressSpace(HANDLE handle) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const ULONG_PTR bound = info.lpMaximumApplicationAddress;
  ULONG_PTR address = 0;
  ReadRun run = {0, 0, 0};
  while (address < bound) {
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQueryEx(handle, address, &region, sizeof region) == 0) break;
    if (!Copyable(region)) {
      FinishRun(handle, run);
    } else if (Continues(run, region)) {
      run.size += region.RegionSize;
    } else {
      FinishRun(handle, run);
      run = ReadRun{region.BaseAddress, region.RegionSize, region.AllocationBase};
    }
    // A region that joins no other is read at once, before the next query.
    if (!JoinsRegionsOfOneAllocation) FinishRun(handle, run);
    const ULONG_PTR next = region.BaseAddress + region.RegionSize;
    // An empty region, or one that ends at the top of the address space, would
    // otherwise send the walk round for ever.
    if (next <= address) break;
    address = next;
  }
  // The walk's end, or a query that failed, ends the run that was pending: its
  // regions were seen readable, and a target that has gone reads short.
  FinishRun(handle, run);
}
