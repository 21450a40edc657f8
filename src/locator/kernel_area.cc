#include "locator/kernel_area.h"

#include "locator/ram_views.h"

using namespace platform;

Address KernelCandidates[MaxSightings];
int KernelCandidateCount;
KernelAreaRecord KernelAreaSearch;

namespace {

// The vector and the table of tables, read as one: RAM offsets 0x80 to 0x157.
const Address TablesOffset = 0x100;
const std::size_t HeadBytes = 0x158 - KernelVectorOffset;
const std::size_t VectorBytes = 16;

std::uint32_t WordAt(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The handler's address in the second word differs from BIOS to BIOS.
bool VectorHolds(const unsigned char* head) {
  return WordAt(head) == KernelVectorFirstWord && WordAt(head + 4) >> 16 == 0x275A &&
         WordAt(head + 8) == 0x03400008 && WordAt(head + 12) == 0;
}

// Where in the RAM a kernel address lies, the segment bits (cached, uncached,
// user) taken off.
std::uint32_t Physical(std::uint32_t address) { return address & 0x1FFFFFFF; }

// A word-aligned address in the kernel's 64 KiB, past the vectors, in one of
// the segments that show the RAM.
bool IsKernelAddress(std::uint32_t address) {
  const std::uint32_t segment = address >> 29;
  return (segment == 0 || segment == 4 || segment == 5) && address % 4 == 0 && Physical(address) >= 0x200 &&
         Physical(address) < 0x10000;
}

enum SizeRule { SizeIs, SizeIsMultipleOf, AnySize };
struct KernelTable {
  Address offset;  // of its address; its size follows
  SizeRule rule;
  std::uint32_t size;
};
const KernelTable Tables[] = {
    {0x100, SizeIs, 0x20},             // exception control blocks
    {0x108, SizeIs, 4},                // the process control block
    {0x110, SizeIsMultipleOf, 0xC0},   // thread control blocks
    {0x120, SizeIsMultipleOf, 0x1C},   // event control blocks
    {0x140, SizeIs, 0x2C0},            // file control blocks
    {0x150, AnySize, 0},               // device control blocks
};
const Address PcbOffset = 0x108;
const Address TcbOffset = 0x110;
const std::uint32_t TcbSize = 0xC0;
const std::uint32_t ThreadInUse = 0x4000;

// `head`: the RAM from offset 0x80 on, HeadBytes of it.
bool TablesHold(const unsigned char* head) {
  for (const KernelTable& table : Tables) {
    const unsigned char* entry = head + (table.offset - KernelVectorOffset);
    const std::uint32_t size = WordAt(entry + 4);
    if (!IsKernelAddress(WordAt(entry))) return false;
    if (table.rule == SizeIs && size != table.size) return false;
    if (table.rule == SizeIsMultipleOf && (size == 0 || size % table.size != 0)) return false;
  }
  return true;
}

bool ReadWord(HANDLE handle, Address address, std::uint32_t& word) {
  unsigned char bytes[4];
  SIZE_T bytesRead = 0;
  ReadProcessMemory(handle, address, bytes, sizeof bytes, &bytesRead);
  word = WordAt(bytes);
  return bytesRead == sizeof bytes;
}

// The process control block points at the current thread's block, one of
// the thread blocks, and a running game's current thread is in use.
bool CurrentThreadHolds(HANDLE handle, Address ramBase, const unsigned char* head) {
  const std::uint32_t pcb = WordAt(head + (PcbOffset - KernelVectorOffset));
  const std::uint32_t tcbs = WordAt(head + (TcbOffset - KernelVectorOffset));
  const std::uint32_t tcbsSize = WordAt(head + (TcbOffset - KernelVectorOffset) + 4);
  std::uint32_t current = 0;
  std::uint32_t state = 0;
  if (!ReadWord(handle, ramBase + Physical(pcb), current) || !IsKernelAddress(current)) return false;
  const std::uint32_t step = Physical(current) - Physical(tcbs);  // wraps when below the first
  return step % TcbSize == 0 && step < tcbsSize && ReadWord(handle, ramBase + Physical(current), state) &&
         state == ThreadInUse;
}

}  // namespace

void ClearKernelAreaSearch() {
  KernelCandidateCount = 0;
  KernelAreaSearch = KernelAreaRecord();
}

void TryKernelVectorAt(const unsigned char* at, std::size_t available, Address address) {
  if (!VectorHolds(at)) return;
  // The table of tables, where the copy reaches it: most that pass the vector stop here.
  if (available >= HeadBytes && !TablesHold(at)) return;
  // A vector in the first 0x80 bytes of the address space leaves no room for its RAM.
  if (address < KernelVectorOffset) return;
  if (KernelCandidateCount < MaxSightings) KernelCandidates[KernelCandidateCount] = address - KernelVectorOffset;
  if (KernelCandidateCount <= MaxSightings) ++KernelCandidateCount;
}

// The 2 MiB must lie in memory that can be read: a copy of the kernel's 64
// KiB alone, as some save-state formats hold, is no RAM.
bool KernelAreaAt(HANDLE handle, Address ramBase) {
  unsigned char head[HeadBytes];
  SIZE_T bytesRead = 0;
  ReadProcessMemory(handle, ramBase + KernelVectorOffset, head, sizeof head, &bytesRead);
  return bytesRead == sizeof head && VectorHolds(head) && TablesHold(head) &&
         CurrentThreadHolds(handle, ramBase, head) &&
         AccessibleThroughout(handle, ramBase, MainRamSize, ReadableProtections);
}

void FindRamByKernelArea(HANDLE handle) {
  if (!FindsRamByKernelArea) return;
  KernelAreaRecord& record = KernelAreaSearch;
  // Beyond those kept, nothing can be shown.
  if (KernelCandidateCount > MaxSightings) {
    record.sightings = MaxSightings + 1;
    return;
  }
  Address holding[MaxSightings];
  for (int i = 0; i < KernelCandidateCount; ++i) {
    if (KernelAreaAt(handle, KernelCandidates[i])) holding[record.sightings++] = KernelCandidates[i];
  }
  if (record.sightings == 1) {
    record.found = true;
    record.ramBase = holding[0];
  } else if (record.sightings > 1) {
    record.found = ChooseViewOfOneRam(handle, holding, record.sightings, nullptr, 0, record.ramBase,
                                      record.privateSightings);
  }
}
