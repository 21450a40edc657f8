#include "locator/kernel_area.h"

Address KernelCandidates[MaxSightings];
int KernelCandidateCount;
KernelAreaRecord KernelAreaSearch;

namespace {

// A word-aligned address in the kernel's 64 KiB, past the vectors, in one of
// the segments that show the RAM.
bool IsKernelAddress(std::uint32_t address) {
  const std::uint32_t segment = address >> 29;
  return (segment == 0 || segment == 4 || segment == 5) && address % 4 == 0 &&
         KernelPhysical(address) >= 0x200 && KernelPhysical(address) < 0x10000;
}

enum SizeRule { SizeIs, SizeIsMultipleOf, AnySize };
struct KernelTable {
  Address offset;  // of its address; its size follows
  SizeRule rule;
  std::uint32_t size;
};
const KernelTable Tables[] = {
    {0x100, SizeIs, 0x20},            // exception control blocks
    {0x108, SizeIs, 4},               // the process control block
    {0x110, SizeIsMultipleOf, 0xC0},  // thread control blocks
    {0x120, SizeIsMultipleOf, 0x1C},  // event control blocks
    {0x140, SizeIs, 0x2C0},           // file control blocks
    {0x150, AnySize, 0},              // device control blocks
};
const Address PcbOffset = 0x108;
const Address TcbOffset = 0x110;
const std::uint32_t TcbSize = 0xC0;

std::uint32_t HeadWord(const unsigned char* head, Address offset) {
  return WordAt(head + (offset - KernelVectorOffset));
}

}  // namespace

std::uint32_t KernelPhysical(std::uint32_t address) { return address & 0x1FFFFFFF; }

// The handler's address in the second word differs from BIOS to BIOS.
bool KernelVectorHolds(const unsigned char* head) {
  return WordAt(head) == KernelVectorFirstWord && WordAt(head + 4) >> 16 == 0x275A &&
         WordAt(head + 8) == 0x03400008 && WordAt(head + 12) == 0;
}

bool KernelTablesHold(const unsigned char* head) {
  for (const KernelTable& table : Tables) {
    const std::uint32_t size = HeadWord(head, table.offset + 4);
    if (!IsKernelAddress(HeadWord(head, table.offset))) return false;
    if (table.rule == SizeIs && size != table.size) return false;
    if (table.rule == SizeIsMultipleOf && (size == 0 || size % table.size != 0)) return false;
  }
  return true;
}

std::uint32_t CurrentThreadPointerAt(const unsigned char* head) {
  return KernelPhysical(HeadWord(head, PcbOffset));
}

bool CurrentThreadIsABlock(const unsigned char* head, std::uint32_t current) {
  if (!IsKernelAddress(current)) return false;
  const std::uint32_t tcbs = HeadWord(head, TcbOffset);
  const std::uint32_t step = KernelPhysical(current) - KernelPhysical(tcbs);  // wraps when below the first
  return step % TcbSize == 0 && step < HeadWord(head, TcbOffset + 4);
}

void ClearKernelAreaSearch() {
  KernelCandidateCount = 0;
  KernelAreaSearch = KernelAreaRecord();
}

void TryKernelVectorAt(const unsigned char* at, std::size_t available, Address address) {
  if (!KernelVectorHolds(at)) return;
  // The table of tables, where the copy reaches it: most that pass the vector stop here.
  if (available >= KernelHeadBytes && !KernelTablesHold(at)) return;
  // A vector in the first 0x80 bytes of the address space leaves no room for its RAM.
  if (address < KernelVectorOffset) return;
  if (KernelCandidateCount < MaxSightings)
    KernelCandidates[KernelCandidateCount] = address - KernelVectorOffset;
  if (KernelCandidateCount <= MaxSightings) ++KernelCandidateCount;
}
