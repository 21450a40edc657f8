#include "locator/memory_scan.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "locator/kernel_search.h"
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

// A page of a private mapping that the system shows neither in memory nor
// swapped out was never written: memory of no file reads as zeros there, a
// file's private mapping as the file's own bytes. Neither can hold a marker
// (the marker program builds them at run time, no file holds them, and they
// hold no zero byte) nor a running game's kernel area. Reading such a page
// would make the system map a page there for the target (a file's read from
// disk first): passing it over leaves the target as big as it was. Pages of
// shared mappings may be in memory through another view, so the system counts
// them all as touched; where it can't tell at all, the rest of the run is read.
//
// What is known of the run's touched pages: the stretch found and not yet
// read, [pendingStart, pendingEnd) in run offsets (none where equal; from the
// run's end where no touched page is left).
struct TouchedPages {
  bool tells;  // false once the system can't tell: then every page is read
  SIZE_T pendingStart;
  SIZE_T pendingEnd;
};

// The most stretches one piece is read in: a 512 KiB piece of 4 KiB pages,
// every other one touched, has 64.
const int MostPartsPerPiece = 256;

// Part of a piece to read, in run offsets.
struct PiecePart {
  SIZE_T from;
  SIZE_T to;
};

// Finds the stretch of touched pages from `from` on; false where the system
// can't tell, or gives an answer that doesn't fit the run.
bool FindPendingStretch(HANDLE handle, const ReadRun& run, SIZE_T from, TouchedPages& touched) {
  ULONG_PTR stretchBase = 0;
  SIZE_T stretchSize = 0;
  if (FindTouchedPages(handle, run.base + from, run.size - from, LongestTouchedStretch, &stretchBase,
                       &stretchSize) == FALSE ||
      stretchBase < run.base + from || stretchBase - run.base > run.size ||
      stretchSize > run.size - (stretchBase - run.base)) {
    touched.tells = false;
    return false;
  }
  touched.pendingStart = stretchSize == 0 ? run.size : stretchBase - run.base;
  touched.pendingEnd = stretchSize == 0 ? run.size : touched.pendingStart + stretchSize;
  return true;
}

// The parts of the next piece, from `done` on, at most `piece` bytes: all of
// it, or where the system tells touched pages, the stretches of them that lie
// in it, `done` moved on to the first (where pages before it were never
// touched). Returns where the piece ends (`done` and no parts where no touched
// page is left).
SIZE_T GatherPiece(HANDLE handle, const ReadRun& run, SIZE_T piece, TouchedPages& touched, SIZE_T& done,
                   PiecePart* parts, int& count) {
  count = 0;
  if (touched.tells && touched.pendingStart == touched.pendingEnd)
    FindPendingStretch(handle, run, done, touched);
  if (!touched.tells) {
    parts[count++] = {done, std::min(run.size, done + piece)};
    return parts[0].to;
  }
  if (touched.pendingStart >= run.size) return done;
  done = touched.pendingStart;
  const SIZE_T pieceEnd = std::min(run.size, done + piece);
  for (;;) {
    parts[count++] = {touched.pendingStart, std::min(touched.pendingEnd, pieceEnd)};
    if (touched.pendingEnd > pieceEnd) {
      touched.pendingStart = pieceEnd;  // the rest is the next piece's
      break;
    }
    const SIZE_T after = touched.pendingEnd;
    touched.pendingStart = after;  // none pending
    if (after == pieceEnd || count == MostPartsPerPiece) break;
    if (!FindPendingStretch(handle, run, after, touched)) {
      // Can't tell any more: the rest of the piece is read with the rest of the run.
      parts[count++] = {after, pieceEnd};
      break;
    }
    if (touched.pendingStart >= pieceEnd) break;
  }
  return parts[count - 1].to;
}

// Reads the parts of the piece that starts at `done` to their places from
// `pieceStart`, in one call; the pages between them read as zeros, as the
// target reads pages it never touched. False where any comes back short.
bool ReadPiece(HANDLE handle, const ReadRun& run, SIZE_T done, const PiecePart* parts, int count,
               unsigned char* pieceStart) {
  // Reset for every read, so a read that fails without a count never passes for a full one.
  SIZE_T bytesRead = 0;
  SIZE_T wanted = 0;
  MEMORY_STRETCH stretches[MostPartsPerPiece];
  for (int i = 0; i < count; ++i) {
    if (i > 0) std::memset(pieceStart + (parts[i - 1].to - done), 0, parts[i].from - parts[i - 1].to);
    stretches[i] = {run.base + parts[i].from, parts[i].to - parts[i].from,
                    pieceStart + (parts[i].from - done)};
    wanted += stretches[i].size;
  }
  ReadProcessMemoryStretches(handle, stretches, count, &bytesRead);
  return bytesRead == wanted;
}

// Reads the run piece by piece to `pieceStart`, each piece behind the bytes
// carried over from the one before (room for them lies just before it), and
// scans what the buffer holds: the same steps, hits and order as one whole
// copy in which the pages never touched read as zeros. No marker lies across
// pages passed over, so the bytes carried over are dropped there. Returns
// false, with no hits of this run kept, when any piece comes back short.
bool CopyAndScanPieces(HANDLE handle, const ReadRun& run, unsigned char* pieceStart, SIZE_T piece) {
  const HitsMark before = MarkHits();
  SIZE_T carried = 0;
  TouchedPages touched = {ReadsOnlyTouchedPages, 0, 0};
  PiecePart parts[MostPartsPerPiece];
  for (SIZE_T done = 0; done < run.size;) {
    const SIZE_T asked = done;
    int count = 0;
    const SIZE_T end = GatherPiece(handle, run, piece, touched, done, parts, count);
    if (count == 0) break;
    if (done != asked) carried = 0;
    if (!ReadPiece(handle, run, done, parts, count, pieceStart)) {
      RewindHits(before);
      return false;
    }
    const SIZE_T length = end - done;
    ScanRegionBuffer(pieceStart - carried, carried + length, run.base + done - carried);
    done = end;
    // Pieces are whole pages, longer than what is carried; room for it lies before them.
    if (done < run.size) {
      carried = CarriedBytes;
      std::memmove(pieceStart - carried, pieceStart + length - carried, carried);
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
