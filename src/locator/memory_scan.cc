#include "locator/memory_scan.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "locator/ram_views.h"
#include "locator/region_scan.h"
#include "platform/output_lines.h"

using namespace platform;

WalkRecord LastWalk;

namespace {

// A marker that starts in the last 12 bytes of one piece ends in the next:
// those bytes are carried over and scanned again with the piece after them.
const SIZE_T CarriedBytes = MarkerLength - 4;
// Pieces are read to this offset in the buffer, a cache-line step, with the
// carried bytes just before it: the kernel copies several times slower into a
// destination that is not so aligned.
const SIZE_T PieceOffset = 64;

bool Qualifies(const MEMORY_BASIC_INFORMATION& region) {
  return (region.State & MEM_COMMIT) != 0 && (region.State & MEM_FREE) == 0 &&
         region.RegionSize >= MainRamSize;
}

// How much of the region one read takes: all of it where regions are read whole.
SIZE_T PieceSize(SIZE_T regionSize) {
  return ReadPieceSize == 0 ? regionSize : std::min(regionSize, ReadPieceSize);
}

// Reads the region piece by piece to `pieceStart`, each piece behind the bytes
// carried over from the one before (room for them lies just before it), and
// scans what the buffer holds: the same steps, hits and order as one whole
// copy. Returns false, with no hits of this region kept, when any piece comes
// back short.
bool CopyAndScanPieces(HANDLE handle, const MEMORY_BASIC_INFORMATION& region, unsigned char* pieceStart,
                       SIZE_T piece) {
  const HitsMark before = MarkHits();
  SIZE_T carried = 0;
  for (SIZE_T done = 0; done < region.RegionSize;) {
    const SIZE_T wanted = std::min(piece, region.RegionSize - done);
    // Reset for every read, so a read that fails without a count never passes for a full one.
    SIZE_T bytesRead = 0;
    ReadProcessMemory(handle, region.BaseAddress + done, pieceStart, wanted, &bytesRead);
    if (bytesRead != wanted) {
      RewindHits(before);
      return false;
    }
    ScanRegionBuffer(pieceStart - carried, carried + wanted, region.BaseAddress + done - carried);
    done += wanted;
    // Every piece but the last is a whole one, far longer than what is carried.
    if (done < region.RegionSize) {
      carried = CarriedBytes;
      std::memmove(pieceStart - carried, pieceStart + wanted - carried, carried);
    }
  }
  return true;
}

// Copies one region and scans the copy; a short copy is reported, not counted.
void CopyAndScanRegion(HANDLE handle, const MEMORY_BASIC_INFORMATION& region) {
  const SIZE_T piece = PieceSize(region.RegionSize);
  // A region read whole needs exactly its size; pieces need room for the carried bytes before them.
  const SIZE_T offset = piece == region.RegionSize ? 0 : PieceOffset;
  void* buffer = VirtualAlloc(nullptr, offset + piece, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (buffer == nullptr) throw std::bad_alloc();
  const bool whole = CopyAndScanPieces(handle, region, static_cast<unsigned char*>(buffer) + offset, piece);
  VirtualFree(buffer, 0, MEM_RELEASE);
  ++LastWalk.regions;
  if (!whole) ++LastWalk.shortCopies;
  if (!whole) WriteOutputLine("Err!");
}

}  // namespace

void ScanEmulatorMemory(DWORD pid) {
  // The handle stays open until the tool ends.
  const HANDLE handle = OpenProcess(TargetAccess, FALSE, pid);
  if (handle == nullptr) LastWalk.openError = GetLastError();
  if (handle == nullptr) throw SearchFailed;
  ScanAddressSpace(handle);
  // After a walk that ended, not one cut short by a failure.
  MergeViewsOfOneRam(handle);
}

void ScanAddressSpace(HANDLE handle) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const ULONG_PTR bound = info.lpMaximumApplicationAddress;
  ULONG_PTR address = 0;
  while (address < bound) {
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQueryEx(handle, address, &region, sizeof region) == 0) return;
    if (Qualifies(region)) CopyAndScanRegion(handle, region);
    const ULONG_PTR next = region.BaseAddress + region.RegionSize;
    // An empty region, or one that ends at the top of the address space, would
    // otherwise send the walk round for ever.
    if (next <= address) return;
    address = next;
  }
}
