// A stand-in for an emulator that runs the marker program, or a game without
// it: it commits memory, writes the start and end markers of the 2 MiB main
// RAM, or the console kernel's fixed structures in its first 64 KiB, where a
// scenario says, announces its PID and the RAM base that Mirvane should report (0 where
// it should find nothing), and waits until it is told to stop: until its
// standard input ends, or until the time limit has passed (not under Wine,
// which can't wait on a Unix pipe with a time limit).
//
//   StandInEmu SCENARIO [--seconds N | --milliseconds N]   (time limit, default 120 s)
//   StandInEmu --list
//
// Output, one line each, flushed: "pid N", "expect 0x........", "ready";
// before "ready", where the scenario has one, "cut-short 0x........": what
// Mirvane reports when its walk ends at the scenario's big region; and
// "wide 0x........": where the 64-bit tools find the RAM where the 32-bit one,
// which "expect" is for, reports otherwise (0 there: not found); it may be 0:
// they count views of one memory as one sighting (the view a user can write),
// take private copies beside it for copies, read a mapping whose pages differ
// in protection as one region, find a RAM at address 0, and find a RAM by its
// kernel area where no marker is seen.
// Addresses have eight hex digits, more where they lie above 4 GiB.
// The scenario ram-moves-on-input then takes commands on its standard input,
// one a line, and answers each with "at 0x........" (the RAM's base, 0 where
// there is none), flushed: "move" (the RAM to a new region, the old one
// unmapped), "remove" (its region unmapped), "back" (the RAM in a new region),
// "exit"; it ends at the end of its input too. Lines, not signals: a Windows
// program under Wine reads its input as anywhere, where Unix signals reach it
// awkwardly.
// Exit status: 0 after a normal stop, 1 when the scenario could not be staged,
// 2 on wrong usage, 3 when this platform can't stage the scenario at all.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "standin_os.h"

namespace {

const std::uint64_t MainRamSize = 0x200000;
const std::uint64_t MarkerSize = 16;
const std::uint64_t WideRegionSize = 2 * MainRamSize;
const std::uint64_t PageSize = 0x1000;
const std::uint64_t WatchedRegionSize = 0x4000000;  // 64 MiB
const std::uint64_t BulkRegionSize = 0x8000000;     // 128 MiB
const int BulkRegionCount = 8;
const std::uint64_t HugeRegionSize = 0x60000000;    // 1.5 GiB
const std::uint64_t OverFourGiBSize = 0x100400000;  // 4 GiB + 4 MiB
const std::uint64_t FourGiB = 0x100000000;
// Memory an emulator reserves and never touches (a recompiler's cache).
const std::uint64_t UntouchedSize = FourGiB;
// The 64-bit tools read a region in pieces of this size from its base.
const std::uint64_t ReadPieceSize = 0x80000;
// A file mapping of 8 MiB whose file ends after its first six pieces.
const std::uint64_t ShortRegionSize = 0x800000;
const std::uint64_t ShortRegionReadable = 6 * ReadPieceSize;  // room for the RAM, and more
const bool WideAddresses = UINTPTR_MAX > 0xFFFFFFFFu;
// A fast-memory layout: one range as large as the guest's address space, the
// RAM mapped at the start of each guest segment that shows it (and at the
// first of its mirrors). A 32-bit process has no room for 3 GiB: there the
// same layout an eighth the size.
const std::uint64_t GuestSpaceSize = WideAddresses ? 0xC0000000 : 0x18000000;
const std::uint64_t GuestRamViews[4] = {0, MainRamSize, GuestSpaceSize / 3 * 2, GuestSpaceSize / 6 * 5};
// A recompiler's layout: one section of 8 MiB (2 MiB of it the RAM) mapped as
// a view it write-protects page by page, an unprotected view, and four 2 MiB
// fast-memory views in a range of the guest's 4 GiB (an eighth of it in a
// 32-bit process), at the segments that show the RAM and 6 MiB on.
const std::uint64_t SectionSize = 0x800000;
const std::uint64_t FastMemorySize = WideAddresses ? 0x100000000 : 0x20000000;
const std::uint64_t FastMemoryRamViews[4] = {0, FastMemorySize / 2, FastMemorySize / 2 + FastMemorySize / 8,
                                             FastMemorySize / 2 + 0x600000};
// Pages of the RAM that hold translated code: the kernel's first page and the
// marker program's, which it loads at 0x10000.
const std::uint64_t CodePages[2] = {0, 0x10000};
// A state-tracking core's block, mapped twice, its RAM deep inside on a 4-byte
// step; one view is dirty-tracked, every other 64 KiB of it read-only.
const std::uint64_t TrackedBlockSize = 0x2000000;  // 32 MiB
const std::uint64_t TrackedRamOffset = 0x1234564;
const std::uint64_t TrackedStripe = 0x10000;
// A RAM in an emulator's heap: deep inside a private block on a 4-byte step,
// its exception vector (at 0x80) 12 bytes before the end of a read piece.
const std::uint64_t HeapBlockSize = 0x2000000;  // 32 MiB
const std::uint64_t HeapRamOffset = 19 * ReadPieceSize - 0x80 - 12;

enum Marker { StartMarker = 0, EndMarker = 1 };

// The two markers with every byte XORed with 0x5A. Nothing of ours may hold a
// plain copy: the tool would count it as a second marker if it ever lay in a
// scanned region, so each byte is unscrambled straight into its place.
const unsigned char ScrambledMarkers[2][MarkerSize] = {
    {0x7B, 0x09, 0x2E, 0x3B, 0x28, 0x2E, 0x15, 0x3C, 0x17, 0x3B, 0x33, 0x34, 0x08, 0x1B, 0x17, 0x7B},
    {0x7B, 0x7B, 0x1F, 0x34, 0x3E, 0x15, 0x3C, 0x17, 0x3B, 0x33, 0x34, 0x08, 0x1B, 0x17, 0x7B, 0x7B},
};
// Read at run time, so the compiler can't fold the plain markers into a constant.
volatile unsigned char ScrambleKey = 0x5A;

void WriteMarker(unsigned char* at, Marker marker) {
  const unsigned char key = ScrambleKey;
  for (std::uint64_t i = 0; i < MarkerSize; ++i) at[i] = ScrambledMarkers[marker][i] ^ key;
}

// What the marker program leaves in a correctly found RAM.
void PlaceRam(unsigned char* ramBase) {
  WriteMarker(ramBase, StartMarker);
  WriteMarker(ramBase + MainRamSize - MarkerSize, EndMarker);
}

// The console kernel's exception vector at 0x80 (lui k0,0; addiu k0,k0,0x0C80;
// jr k0; nop), scrambled as the markers are: a plain copy of it in our own
// binary could be taken for a kernel area.
const std::uint64_t VectorAt = 0x80;
const unsigned char ScrambledVector[16] = {0x5A, 0x5A, 0x40, 0x66, 0xDA, 0x56, 0x00, 0x7D,
                                           0x52, 0x5A, 0x1A, 0x59, 0x5A, 0x5A, 0x5A, 0x5A};
// Of the kernel area, the first 64 KiB: all a partial copy in a state holds.
const std::uint64_t KernelAreaSize = 0x10000;
const std::uint32_t PhysicalBits = 0x1FFFFFFF;
const std::uint64_t CurrentThreadInUse = 0x4000;
const std::uint32_t TcbSize = 0xC0;
const std::uint32_t ThreadCount = 4;

// What varies between the kernels that BIOSes leave: the segment of every
// kernel address, where the kernel's structures start, which thread runs, and
// the exception handler the vector jumps to.
struct KernelImage {
  std::uint32_t segment;  // 0, 0x80000000 or 0xA0000000
  std::uint32_t structures;
  std::uint32_t thread;
  std::uint32_t handler;
};
const KernelImage ConsoleKernel = {0xA0000000, 0xE000, 0, 0x0C80};
// Structures low and at the bottom of the kernel area, as BIOS stand-ins keep them.
const KernelImage OlderKernel = {0x80000000, 0x8800, 2, 0x0C50};
const KernelImage LowestKernel = {0, 0x200, ThreadCount - 1, 0x1234};

void PutWord(unsigned char* at, std::uint64_t word) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(word >> (8 * i));
}

// The structures of `kernel` from `structures` on: ExCB, PCB, TCBs, EvCBs, FCB, DCB.
std::uint32_t Excb(const KernelImage& kernel) { return kernel.structures; }
std::uint32_t Pcb(const KernelImage& kernel) { return kernel.structures + 0x20; }
std::uint32_t Tcb(const KernelImage& kernel) { return kernel.structures + 0x30; }
std::uint32_t Evcb(const KernelImage& kernel) { return kernel.structures + 0x330; }
std::uint32_t Fcb(const KernelImage& kernel) { return kernel.structures + 0x600; }
std::uint32_t Dcb(const KernelImage& kernel) { return kernel.structures + 0x8C0; }

// The exception vector, jumping to `handler`, unscrambled straight into its place.
void PlaceVector(unsigned char* ramBase, std::uint32_t handler) {
  const unsigned char key = ScrambleKey;
  for (std::uint64_t i = 0; i < sizeof ScrambledVector; ++i) ramBase[VectorAt + i] = ScrambledVector[i] ^ key;
  ramBase[VectorAt + 4] = static_cast<unsigned char>(handler);
  ramBase[VectorAt + 5] = static_cast<unsigned char>(handler >> 8);
}

// What a BIOS leaves in the first 64 KiB of the RAM while a game runs: the
// exception vector, the table of tables, and the current thread in use.
void PlaceKernel(unsigned char* ramBase, const KernelImage& kernel) {
  PlaceVector(ramBase, kernel.handler);
  // The table of tables: where each structure lies, and its size.
  const std::uint32_t tables[][3] = {
      {0x100, Excb(kernel), 0x20},
      {0x108, Pcb(kernel), 4},
      {0x110, Tcb(kernel), TcbSize * ThreadCount},
      {0x120, Evcb(kernel), 0x1C * 16},
      {0x140, Fcb(kernel), 0x2C0},
      {0x150, Dcb(kernel), 0},
  };
  for (const auto& table : tables) {
    PutWord(ramBase + table[0], kernel.segment | table[1]);
    PutWord(ramBase + table[0] + 4, table[2]);
  }
  const std::uint32_t current = Tcb(kernel) + kernel.thread * TcbSize;
  PutWord(ramBase + Pcb(kernel), kernel.segment | current);
  PutWord(ramBase + current, CurrentThreadInUse);
}

// One word of a console kernel's area broken, each way the tools check it.
// Where the current thread's pointer moves, the word it points at says "in
// use" too, so that only the pointer's place is wrong.
struct KernelBreakage {
  const char* name;
  const char* what;
  std::uint32_t at;
  std::uint32_t word;
};
const KernelBreakage KernelBreakages[] = {
    {"vector-lui", "the vector's first word is lui k0,1", 0x80, 0x3C1B0000},
    {"vector-addiu", "the vector's second word adds to k1", 0x84, 0x275B0C80},
    {"vector-jr", "the vector jumps to k1", 0x88, 0x03600008},
    {"vector-nop", "the vector's last word is add zero,zero,zero, not 0", 0x8C, 0x00000020},
    {"excb-size", "the ExCB's size is 0x24", 0x104, 0x24},
    {"pcb-size", "the PCB's size is 8", 0x10C, 8},
    {"tcb-size", "the TCBs' size is 3.5 TCBs", 0x114, TcbSize * 7 / 2},
    {"evcb-size", "the EvCBs' size is 4 bytes over 16 EvCBs", 0x124, 0x1C * 16 + 4},
    {"evcb-size-zero", "the EvCBs' size is 0", 0x124, 0},
    {"fcb-size", "the FCB's size is 0x2C4", 0x144, 0x2C4},
    {"excb-below", "the ExCB lies at 0x1FC, below the kernel area", 0x100, 0xA00001FC},
    {"dcb-above", "the DCB lies at 0x10000, past the kernel area", 0x150, 0xA0010000},
    {"pcb-segment", "the PCB's address has segment bits 001", 0x108, 0x2000E020},
    {"tcb-segment", "the TCBs' address has segment bits 111", 0x110, 0xE000E030},
    {"fcb-segment", "the FCB's address has segment bits 110", 0x140, 0xC000E600},
    {"evcb-unaligned", "the EvCBs' address is 2 bytes off a word", 0x120, 0xA000E332},
    {"thread-off-step", "the current thread lies half a TCB into the TCBs", 0xE020, 0xA000E090},
    {"thread-past-end", "the current thread lies one TCB past the TCBs", 0xE020, 0xA000E330},
    {"thread-before", "the current thread lies one TCB before the TCBs", 0xE020, 0xA000DF70},
    {"thread-segment", "the current thread's address has segment bits 011", 0xE020, 0x6000E030},
    {"thread-free", "the current thread's TCB says free (0x1000), not in use", 0xE030, 0x1000},
};
const int KernelBreakageCount = sizeof KernelBreakages / sizeof KernelBreakages[0];

// The console's kernel, broken one way.
void PlaceBrokenKernel(unsigned char* ramBase, const KernelBreakage& breakage) {
  PlaceKernel(ramBase, ConsoleKernel);
  PutWord(ramBase + breakage.at, breakage.word);
  if (breakage.at == Pcb(ConsoleKernel))
    PutWord(ramBase + (breakage.word & PhysicalBits), CurrentThreadInUse);
}

enum Scenario {
  RamAtRegionStart,
  RamAtOffset,
  ExactRegion,
  HighAddress,
  SecondStart,
  EndOneRamAway,
  Unaligned,
  Inaccessible,
  UnreadableBeside,
  NoRam,
  AcrossFourGiB,
  AboveFourGiB,
  RegionOverFourGiB,
  MarkerAcrossPieces,
  ShortLaterPiece,
  ManyRegions,
  StopAfterFirstRegion,
  ExitWhileRead,
  UnmapWhileRead,
  ProtectWhileRead,
  HugeRegion,
  HugeAfterRam,
  MappedTwice,
  MappedSixTimes,
  ViewsAndCopy,
  ViewsAndTwoCopies,
  TwoCopies,
  TwoMemories,
  ViewsWriteProtected,
  BlockMappedTwiceTracked,
  RamWithReadOnlyPage,
  ViewsAtZero,
  PrivateAtZero,
  UntouchedBeside,
  KernelPrivate,
  KernelViews,
  KernelViewsAtZero,
  KernelViewsAndCopies,
  KernelAndPartialCopy,
  KernelTwoRams,
  KernelVectorOnly,
  KernelWithMarkers,
  KernelInHeap,
  KernelBroken,  // a family: one scenario per entry of KernelBreakages
  RamMovesOnInput,
  ScenarioCount
};

const char* const ScenarioNames[] = {
    "ram-at-region-start",
    "ram-at-offset",
    "exact-region",
    "high-address",
    "second-start",
    "end-one-ram-away",
    "unaligned",
    "inaccessible",
    "unreadable-beside",
    "no-ram",
    "across-4gib",
    "above-4gib",
    "region-over-4gib",
    "marker-across-pieces",
    "short-later-piece",
    "many-regions",
    "stop-after-first-region",
    "exit-while-read",
    "unmap-while-read",
    "protect-while-read",
    "huge-region",
    "huge-after-ram",
    "mapped-twice",
    "mapped-six-times",
    "views-and-copy",
    "views-and-two-copies",
    "two-copies",
    "two-memories",
    "views-write-protected",
    "block-mapped-twice-tracked",
    "ram-with-read-only-page",
    "views-at-zero",
    "private-at-zero",
    "untouched-beside",
    "kernel-private",
    "kernel-views",
    "kernel-views-at-zero",
    "kernel-views-and-copies",
    "kernel-and-partial-copy",
    "kernel-two-rams",
    "kernel-vector-only",
    "kernel-with-markers",
    "kernel-in-heap",
    "kernel-broken-",  // and the breakage's name
    "ram-moves-on-input",
};

const char* const ScenarioDescriptions[] = {
    "the RAM at the start of a 4 MiB region",
    "the RAM at a 4-byte (not 16-byte) offset inside a 4 MiB region",
    "the RAM filling a region of exactly 2 MiB; a region one page smaller holds decoy markers",
    "the RAM at or above 0x80000000",
    "the RAM with a kernel area, and a second start marker in another region (not found)",
    "the end marker 0x200000 after the start marker instead of 0x1FFFF0 (not found)",
    "the RAM 2 bytes off the 4-byte step (not found)",
    "the RAM in a region made inaccessible afterwards (not found)",
    "the RAM, and beside it a region that can't be read whole (one \"Err!\")",
    "a 4 MiB region without markers (not found)",
    "the RAM from 512 KiB below 4 GiB, its end marker above 4 GiB (64-bit processes)",
    "the RAM in a region above 4 GiB (64-bit processes)",
    "the RAM past the first 4 GiB of one sparse region of 4 GiB + 4 MiB (64-bit processes)",
    "the RAM's start marker across the first 512 KiB piece boundary of its region, 12 bytes before it",
    "a file mapping whose later pieces can't be read, with markers in its first (one \"Err!\"), then the RAM",
    "the RAM at the start of the first of eight 128 MiB regions (a long walk to stop us during)",
    "as many-regions, and the first read of the second region stops us (as our input's end would)",
    "the RAM, then a 64 MiB region whose first read ends the stand-in, then one more region",
    "a 64 MiB region whose upper half is unmapped as it is read (one \"Err!\"), then the RAM",
    "a 64 MiB region whose upper half becomes inaccessible as it is read (one \"Err!\"), then the RAM",
    "the RAM near the end of one region of 1.5 GiB",
    "the RAM, a 1.5 GiB region, then (where there is room) a second start marker (cut short: the RAM)",
    "the RAM's memory mapped twice, the lower view read-only from the middle of the RAM on (64-bit: the "
    "upper, writable all through)",
    "the RAM's memory mapped six times, four of them inside one reserved range (64-bit: the lowest)",
    "the RAM's memory mapped twice, and a private copy of its bytes (64-bit: the lower view; 32-bit: not "
    "found)",
    "the RAM's memory mapped twice, and two private copies of its bytes (64-bit: the lower view; 32-bit: not "
    "found)",
    "two private copies of the RAM (not found)",
    "two shared memories with RAM images that differ, each mapped twice (not found)",
    "an 8 MiB section mapped six times, its code pages read-only in five views (64-bit: the view without "
    "protection; 32-bit: not found)",
    "a 32 MiB block mapped twice, the lower view read-only in every other 64 KiB (the upper, always "
    "writable)",
    "the RAM in one private region with a read-only page inside it (64-bit: found; 32-bit: not found)",
    "the RAM's memory mapped four times back to back from address 0 (Linux, as root; 64-bit: 0)",
    "the RAM in one private region at address 0 (Linux, as root; 64-bit: 0)",
    "4 GiB of private memory never touched, then the RAM (64-bit processes)",
    "no marker; a kernel area in one private region (64-bit: found there; 32-bit: not found)",
    "no marker; a kernel area in four views of one memory in a fast-memory range (64-bit: the lowest; "
    "32-bit: not found)",
    "no marker; a kernel area in four views back to back from address 0 (Linux, as root; 64-bit: 0)",
    "no marker; a kernel area in two views of one memory, a private copy of it, and a private copy of its "
    "first 64 KiB with 4 bytes less than 2 MiB after it (64-bit: the lower view; 32-bit: not found)",
    "no marker; a kernel area in one private region, and a private copy of its first 64 KiB with 4 bytes "
    "less than 2 MiB after it (64-bit: the RAM; 32-bit: not found)",
    "no marker; two private regions, each with a kernel area of its own (not found)",
    "no marker; random data holding the kernel's exception vector alone (not found)",
    "the RAM with markers and a kernel area (found by the markers)",
    "no marker; a kernel area at a 4-byte step deep inside a 32 MiB private block, as in an emulator's heap, "
    "its exception vector across a 512 KiB piece boundary, 12 bytes before it (64-bit: found there; 32-bit: "
    "not "
    "found)",
    "no marker; a kernel area in one private region, broken (not found): ",  // and the breakage's description
    "the RAM at the start of a 4 MiB region, moved, removed and put back by lines on our input (see above)",
};
// One name and one description for each scenario, which --list shows.
static_assert(sizeof ScenarioNames / sizeof ScenarioNames[0] == ScenarioCount, "a scenario without a name");
static_assert(sizeof ScenarioDescriptions / sizeof ScenarioDescriptions[0] == ScenarioCount,
              "a scenario without a description");

// The outcome of staging: the base Mirvane should report, or why there is none.
struct Staging {
  int status;  // 0 staged, 1 failed, 3 not possible on this platform
  std::uint64_t expected;
  const char* problem;
  std::uint64_t cutShort;  // the base a walk that ends at the big region reports (0: no such region)
  bool wideDiffers;  // the 64-bit tools find the RAM, at `wide`, where the 32-bit one reports `expected`
  std::uint64_t wide;
};

Staging Staged(std::uint64_t expected) { return Staging{0, expected, nullptr, 0, false, 0}; }
Staging StagedWide(std::uint64_t expected, std::uint64_t wide) {
  return Staging{0, expected, nullptr, 0, true, wide};
}
Staging Failed(const char* problem) { return Staging{1, 0, problem, 0, false, 0}; }
Staging Unsupported(const char* problem) { return Staging{3, 0, problem, 0, false, 0}; }

const char WatchRefused[] =
    "nothing here tells us when another process reads our memory (Linux: userfaultfd reports such reads "
    "to root only, unless vm.unprivileged_userfaultfd is 1)";
const char HugeRefused[] = "the system won't commit 1.5 GiB in one piece here";
const char NothingAbove4GiB[] = "a 32-bit process has no address space at or above 4 GiB";
const char NoUnreadable[] = "this platform can't map a region that can't be read";
const char NoPageZero[] =
    "the system won't map memory at address 0 for us (Linux: only root may, below vm.mmap_min_addr; "
    "Windows never does)";

// Reads every page of a region we never wrote, as a program may look at its
// memory before it uses it: on Linux each page then shows the system's one
// zero page, which costs no memory but is shown present, so the 64-bit tools
// read it all (a walk that takes its time), while pages never touched at all
// they pass over.
void ReadEveryPage(const unsigned char* region, std::uint64_t size) {
  const volatile unsigned char* const pages = region;
  for (std::uint64_t at = 0; at < size; at += PageSize) (void)pages[at];  // a volatile read is never left out
}

// A region whose first read by another process we can watch: never touched,
// and shared memory, which the tools read whole whether or not its pages were
// touched (they may be in memory through another view).
unsigned char* CommitWatchedRegion(std::uint64_t size, RegionPlace place) {
  const int memory = CreateSharedMemory(size);
  return memory < 0 ? nullptr : MapSharedView(memory, size, place);
}

// The RAM at the start of the first of several big regions in a row; with a
// watch, the first read of the second region stops us.
Staging StageManyRegions(bool stopAfterFirst) {
  unsigned char* first = nullptr;
  unsigned char* last = nullptr;
  for (int i = 0; i < BulkRegionCount; ++i) {
    const bool watched = i == 1 && stopAfterFirst;
    unsigned char* const bulk = watched ? CommitWatchedRegion(BulkRegionSize, PlaceAnywhere)
                                        : CommitRegion(BulkRegionSize, PlaceAnywhere);
    if (!bulk) return Failed("can't commit a region where the scenario needs it");
    if (!watched) ReadEveryPage(bulk, BulkRegionSize);
    if (last && AddressOf(bulk) < AddressOf(last)) return Failed("the regions don't lie in order");
    if (!first) first = bulk;
    if (watched && !WatchFirstRead(bulk, BulkRegionSize, StopOnRead)) {
      return Unsupported(WatchRefused);
    }
    last = bulk;
  }
  PlaceRam(first);
  return Staged(AddressOf(first));
}

// What a RAM holds: the kernel area `kernel`, or where that is null, the
// markers, and `firstByte` after the start marker to tell this RAM image from others.
void PlaceRamImage(unsigned char* ramBase, const KernelImage* kernel, unsigned char firstByte) {
  if (kernel) {
    PlaceKernel(ramBase, *kernel);
    return;
  }
  PlaceRam(ramBase);
  ramBase[MarkerSize] = firstByte;
}

// Views of one shared memory that holds the RAM (PlaceRamImage): `count` of
// them at fresh places; then, with `fastMemory`, four more inside one
// reserved range. Returns the lowest view.
unsigned char* MapRamViews(int count, bool fastMemory, unsigned char firstByte, const KernelImage* kernel) {
  const int memory = CreateSharedMemory(MainRamSize);
  if (memory < 0) return nullptr;
  unsigned char* lowest = nullptr;
  for (int i = 0; i < count; ++i) {
    unsigned char* const view = MapSharedView(memory, MainRamSize, PlaceLow);
    if (!view) return nullptr;
    if (!lowest || view < lowest) lowest = view;
  }
  if (fastMemory) {
    unsigned char* const guest = ReserveRange(GuestSpaceSize, WideAddresses ? PlaceAbove4GiB : PlaceAnywhere);
    if (!guest) return nullptr;
    for (std::uint64_t offset : GuestRamViews) {
      if (!MapSharedViewAt(memory, MainRamSize, guest + offset)) return nullptr;
      if (!lowest || guest + offset < lowest) lowest = guest + offset;
    }
  }
  if (lowest) PlaceRamImage(lowest, kernel, firstByte);
  return lowest;
}

// Every view holds the RAM: counted one by one, it is seen more than once;
// the 64-bit tools answer `view`.
Staging StagedAsViews(const unsigned char* view) {
  if (!view) return Failed("can't map the views where the scenario needs them");
  return StagedWide(0, AddressOf(view));
}

// A private copy of a RAM's first 64 KiB, as some state formats hold, with 4
// bytes less than 2 MiB of readable memory after it: never a RAM.
bool PlacePartialCopy(const unsigned char* ramBase) {
  unsigned char* const region = CommitRegion(MainRamSize + KernelAreaSize, PlaceLow);
  if (!region) return false;
  std::memcpy(region + KernelAreaSize + 4, ramBase, KernelAreaSize);
  return true;
}

// The RAM's views and `copies` private copies of its bytes, and with a
// `kernel` instead of markers, a partial copy too: the 64-bit tools take the
// copies for what they are and answer the lower view.
Staging StageViewsAndCopies(int copies, const KernelImage* kernel) {
  unsigned char* const views = MapRamViews(2, false, 1, kernel);
  if (!views) return Failed("can't map the views where the scenario needs them");
  for (int i = 0; i < copies; ++i) {
    unsigned char* const copy = CommitRegion(MainRamSize, PlaceLow);
    if (!copy) return Failed("can't commit a region where the scenario needs it");
    std::memcpy(copy, views, MainRamSize);
  }
  if (kernel && !PlacePartialCopy(views)) return Failed("can't commit a region where the scenario needs it");
  return StagedWide(0, AddressOf(views));
}

// Four views of the RAM (PlaceRamImage) back to back from address 0, or one
// private region there, as an emulator run by root maps them.
Staging StageAtAddressZero(bool views, const KernelImage* kernel) {
  const int memory = views ? CreateSharedMemory(MainRamSize) : -1;
  if (views && memory < 0) return Failed("can't create the shared memory");
  if (!MapFromAddressZero(memory, views ? MainRamSize : WideRegionSize, views ? 4 : 1)) {
    return Unsupported(NoPageZero);
  }
  PlaceRamImage(AddressZero(), kernel, 0);
  // Counted one by one, the views are seen four times; a hit at 0 was never one.
  return StagedWide(0, 0);
}

// Makes the RAM's code pages read-only in a view of it.
bool ProtectCodePages(unsigned char* ramView) {
  for (std::uint64_t page : CodePages) {
    if (!MakeReadOnly(ramView + page, PageSize)) return false;
  }
  return true;
}

// The recompiler's six views; returns the view without protection, null on failure.
unsigned char* MapProtectedViews() {
  const int memory = CreateSharedMemory(SectionSize);
  unsigned char* const isProtected = memory < 0 ? nullptr : MapSharedView(memory, SectionSize, PlaceLow);
  unsigned char* const unprotected = isProtected ? MapSharedView(memory, SectionSize, PlaceLow) : nullptr;
  unsigned char* const fast =
      unprotected ? ReserveRange(FastMemorySize, WideAddresses ? PlaceAbove4GiB : PlaceAnywhere) : nullptr;
  if (!fast) return nullptr;
  unsigned char* lowest = isProtected < unprotected ? isProtected : unprotected;
  for (std::uint64_t offset : FastMemoryRamViews) {
    if (!MapSharedViewAt(memory, MainRamSize, fast + offset)) return nullptr;
    if (fast + offset < lowest) lowest = fast + offset;
  }
  PlaceRam(lowest);
  if (!ProtectCodePages(isProtected)) return nullptr;
  for (std::uint64_t offset : FastMemoryRamViews) {
    if (!ProtectCodePages(fast + offset)) return nullptr;
  }
  return unprotected;
}

// The block mapped twice, the lower view dirty-tracked; the lower view's RAM
// in `lowerRam`, the upper's in `upperRam`.
bool MapTrackedBlock(unsigned char*& lowerRam, unsigned char*& upperRam) {
  const int memory = CreateSharedMemory(TrackedBlockSize);
  unsigned char* const one = memory < 0 ? nullptr : MapSharedView(memory, TrackedBlockSize, PlaceLow);
  unsigned char* const other = one ? MapSharedView(memory, TrackedBlockSize, PlaceLow) : nullptr;
  if (!other) return false;
  unsigned char* const lower = one < other ? one : other;
  lowerRam = lower + TrackedRamOffset;
  upperRam = (one < other ? other : one) + TrackedRamOffset;
  PlaceRam(lowerRam);
  for (std::uint64_t at = TrackedStripe; at < TrackedBlockSize; at += 2 * TrackedStripe) {
    if (!MakeReadOnly(lower + at, TrackedStripe)) return false;
  }
  return true;
}

// A region whose first read changes it (or ends us), then a region with the RAM.
Staging StageChangeWhileRead(ReadReaction reaction) {
  unsigned char* const watched = CommitWatchedRegion(WatchedRegionSize, PlaceLow);
  unsigned char* const region = CommitRegion(WideRegionSize, PlaceLow);
  if (!watched || !region) return Failed("can't commit a region where the scenario needs it");
  if (!WatchFirstRead(watched, WatchedRegionSize, reaction)) return Unsupported(WatchRefused);
  PlaceRam(region);
  return Staged(AddressOf(region));
}

// The same bytes every run, with no pattern a scan could take for anything.
void FillRandom(unsigned char* memory, std::uint64_t size) {
  std::uint32_t state = 0x2545F491;
  for (std::uint64_t at = 0; at + 4 <= size; at += 4) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    PutWord(memory + at, state);
  }
}

// The region that holds the RAM of ram-moves-on-input; null while removed.
unsigned char* MovingRegion = nullptr;

// Answers the commands of ram-moves-on-input until "exit" or the end of input.
void FollowCommands() {
  char line[64];
  while (std::fgets(line, sizeof line, stdin)) {
    const std::string command(line, std::strcspn(line, "\r\n"));
    if (command == "exit") return;
    unsigned char* const old = MovingRegion;
    if (command == "move" || command == "back") {
      // Committed before the old one goes, so the RAM's new place is another.
      MovingRegion = CommitRegion(WideRegionSize, PlaceLow);
      if (MovingRegion) PlaceRam(MovingRegion);
    }
    if (old && (command == "move" || command == "remove")) {
      ReleaseRegion(old, WideRegionSize);
      if (command == "remove") MovingRegion = nullptr;
    }
    std::printf("at 0x%08llX\n", static_cast<unsigned long long>(MovingRegion ? AddressOf(MovingRegion) : 0));
    std::fflush(stdout);
  }
}

// `breakage` picks the entry of KernelBreakages for the KernelBroken family.
Staging StageScenario(Scenario scenario, int breakage) {
  unsigned char* region = nullptr;
  switch (scenario) {
    case RamAtRegionStart:
      if (!(region = CommitRegion(WideRegionSize, PlaceLow))) break;
      PlaceRam(region);
      return Staged(AddressOf(region));
    case RamAtOffset: {
      if (!(region = CommitRegion(WideRegionSize, PlaceLow))) break;
      const std::uint64_t offset = 0x10004;
      PlaceRam(region + offset);
      return Staged(AddressOf(region) + offset);
    }
    case ExactRegion: {
      // A scan that skipped exactly 2 MiB would miss the RAM; one that took
      // smaller regions would see every marker twice.
      if (!(region = CommitRegion(MainRamSize, PlaceLow))) break;
      unsigned char* const decoy = CommitRegion(MainRamSize - PageSize, PlaceLow);
      if (!decoy) break;
      PlaceRam(region);
      WriteMarker(decoy, StartMarker);
      WriteMarker(decoy + MainRamSize - PageSize - MarkerSize, EndMarker);
      return Staged(AddressOf(region));
    }
    case HighAddress: {
      if (!(region = CommitRegion(WideRegionSize, PlaceHigh))) break;
      const std::uint64_t offset = 0x1234;
      PlaceRam(region + offset);
      return Staged(AddressOf(region) + offset);
    }
    case SecondStart: {
      if (!(region = CommitRegion(WideRegionSize, PlaceLow))) break;
      unsigned char* const other = CommitRegion(WideRegionSize, PlaceLow);
      if (!other) break;
      // Its kernel area, as a BIOS leaves it, counts for nothing where markers were seen.
      PlaceRam(region);
      PlaceKernel(region, ConsoleKernel);
      WriteMarker(other + 0x40, StartMarker);
      return Staged(0);
    }
    case EndOneRamAway:
      if (!(region = CommitRegion(WideRegionSize, PlaceLow))) break;
      WriteMarker(region, StartMarker);
      WriteMarker(region + MainRamSize, EndMarker);
      return Staged(0);
    case Unaligned:
      if (!(region = CommitRegion(WideRegionSize, PlaceLow))) break;
      PlaceRam(region + 2);
      return Staged(0);
    case Inaccessible:
      if (!(region = CommitRegion(WideRegionSize, PlaceLow))) break;
      PlaceRam(region);
      if (!MakeInaccessible(region, WideRegionSize)) return Failed("can't make the region inaccessible");
      return Staged(0);
    case UnreadableBeside: {
      if (!(region = CommitRegion(WideRegionSize, PlaceLow))) break;
      if (!MapUnreadableRegion(WideRegionSize, PageSize)) return Unsupported(NoUnreadable);
      PlaceRam(region);
      return Staged(AddressOf(region));
    }
    case NoRam:
      if (!(region = CommitRegion(WideRegionSize, PlaceLow))) break;
      return Staged(0);
    case AcrossFourGiB: {
      // A 64-bit walk that ended at 4 GiB, or cut addresses to 32 bits, loses the end marker.
      if (!WideAddresses) return Unsupported(NothingAbove4GiB);
      if (!(region = CommitRegion(WideRegionSize, PlaceAcross4GiB))) break;
      if (AddressOf(region) + WideRegionSize / 2 != FourGiB) {
        return Failed("the region doesn't lie across 4 GiB");
      }
      // 512 KiB below 4 GiB: the piece that holds the end marker starts above it.
      const std::uint64_t offset = WideRegionSize / 2 - MainRamSize / 4;
      PlaceRam(region + offset);
      return Staged(AddressOf(region) + offset);
    }
    case AboveFourGiB: {
      if (!WideAddresses) return Unsupported(NothingAbove4GiB);
      if (!(region = CommitRegion(WideRegionSize, PlaceAbove4GiB))) break;
      const std::uint64_t offset = 0x1234;
      PlaceRam(region + offset);
      return Staged(AddressOf(region) + offset);
    }
    case RegionOverFourGiB: {
      // Past 4 GiB + 1 MiB: a size cut to 32 bits never reaches it, an offset cut to 32 bits misplaces it.
      if (!WideAddresses) return Unsupported(NothingAbove4GiB);
      if (!(region = CommitRegion(OverFourGiBSize, PlaceAbove4GiB))) break;
      const std::uint64_t offset = FourGiB + ReadPieceSize + 4;
      PlaceRam(region + offset);
      return Staged(AddressOf(region) + offset);
    }
    case MarkerAcrossPieces: {
      // 12 of its 16 bytes in the first piece: all that a piece carries over to the next.
      if (!(region = CommitRegion(WideRegionSize, PlaceLow))) break;
      const std::uint64_t offset = ReadPieceSize - (MarkerSize - 4);
      PlaceRam(region + offset);
      return Staged(AddressOf(region) + offset);
    }
    case ShortLaterPiece: {
      // A walk that kept the short region's hits would see every marker twice;
      // one that stopped at it would miss the RAM after it.
      unsigned char* const shortRegion = MapUnreadableRegion(ShortRegionSize, ShortRegionReadable);
      if (!shortRegion) return Unsupported(NoUnreadable);
      if (!(region = CommitRegion(WideRegionSize, PlaceLow))) break;
      if (AddressOf(region) < AddressOf(shortRegion)) return Failed("the regions don't lie in order");
      PlaceRam(shortRegion);
      PlaceRam(region);
      return Staged(AddressOf(region));
    }
    case ManyRegions: return StageManyRegions(false);
    case StopAfterFirstRegion: return StageManyRegions(true);
    case ExitWhileRead: {
      // The RAM comes before the region whose read ends us: its hits are in by then.
      if (!(region = CommitRegion(WideRegionSize, PlaceLow))) break;
      unsigned char* const watched = CommitWatchedRegion(WatchedRegionSize, PlaceLow);
      if (!watched || !CommitRegion(WideRegionSize, PlaceLow)) break;
      if (!WatchFirstRead(watched, WatchedRegionSize, ExitOnRead)) return Unsupported(WatchRefused);
      PlaceRam(region);
      return Staged(AddressOf(region));
    }
    case UnmapWhileRead: return StageChangeWhileRead(UnmapUpperHalfOnRead);
    case ProtectWhileRead: return StageChangeWhileRead(ProtectUpperHalfOnRead);
    case HugeRegion: {
      if (!(region = CommitRegion(HugeRegionSize, PlaceAnywhere))) return Unsupported(HugeRefused);
      // Near the end, so that nothing short of the whole region finds it.
      const std::uint64_t offset = HugeRegionSize - 2 * MainRamSize + 4;
      PlaceRam(region + offset);
      return Staged(AddressOf(region) + offset);
    }
    case HugeAfterRam: {
      if (!(region = CommitRegion(WideRegionSize, PlaceLow))) break;
      unsigned char* const huge = CommitRegion(HugeRegionSize, PlaceAnywhere);
      if (!huge) return Unsupported(HugeRefused);
      if (AddressOf(huge) < AddressOf(region)) return Failed("the regions don't lie in order");
      PlaceRam(region);
      // A second start marker past the big region tells whether the walk went
      // on after it. Wine keeps the space above a region this big for itself.
      unsigned char* const last = CommitRegion(WideRegionSize, PlaceHigh);
      const bool markedAfter = last && AddressOf(last) > AddressOf(huge);
      if (markedAfter) WriteMarker(last + 0x40, StartMarker);
      Staging staging = Staged(markedAfter ? 0 : AddressOf(region));
      staging.cutShort = AddressOf(region);
      return staging;
    }
    case MappedTwice: {
      // A view of a larger memory, the RAM in its middle: the read-only half
      // makes the RAM span two regions of the lower view.
      const int memory = CreateSharedMemory(WideRegionSize);
      unsigned char* const lower = memory < 0 ? nullptr : MapSharedView(memory, WideRegionSize, PlaceLow);
      unsigned char* const upper = lower ? MapSharedView(memory, WideRegionSize, PlaceLow) : nullptr;
      if (!upper || upper < lower) break;
      const std::uint64_t offset = WideRegionSize / 4;
      PlaceRam(upper + offset);
      if (!MakeReadOnly(lower + WideRegionSize / 2, WideRegionSize / 2)) break;
      return StagedAsViews(upper + offset);
    }
    case MappedSixTimes: return StagedAsViews(MapRamViews(2, true, 1, nullptr));
    case ViewsAndCopy: return StageViewsAndCopies(1, nullptr);
    case ViewsAndTwoCopies: return StageViewsAndCopies(2, nullptr);
    case TwoCopies: {
      if (!(region = CommitRegion(MainRamSize, PlaceLow))) break;
      unsigned char* const copy = CommitRegion(MainRamSize, PlaceLow);
      if (!copy) break;
      PlaceRam(region);
      PlaceRam(copy);
      return Staged(0);
    }
    case TwoMemories:
      if (!MapRamViews(2, false, 1, nullptr) || !MapRamViews(2, false, 2, nullptr)) break;
      return Staged(0);
    // At 32 bits each view's start marker lies alone in a page-sized region,
    // while the end marker is seen in two views.
    case ViewsWriteProtected: return StagedAsViews(MapProtectedViews());
    case BlockMappedTwiceTracked: {
      unsigned char* lowerRam = nullptr;
      unsigned char* upperRam = nullptr;
      if (!MapTrackedBlock(lowerRam, upperRam)) break;
      return Staged(AddressOf(upperRam));
    }
    case RamWithReadOnlyPage:
      if (!(region = CommitRegion(WideRegionSize, PlaceLow))) break;
      PlaceRam(region);
      if (!MakeReadOnly(region + CodePages[1], PageSize)) break;
      return StagedWide(0, AddressOf(region));
    case ViewsAtZero: return StageAtAddressZero(true, nullptr);
    case PrivateAtZero: return StageAtAddressZero(false, nullptr);
    case UntouchedBeside: {
      // Read whole, it would make the stand-in 4 GiB bigger.
      if (!WideAddresses) return Unsupported(NothingAbove4GiB);
      unsigned char* const untouched = CommitRegion(UntouchedSize, PlaceAbove4GiB);
      if (!untouched || !(region = CommitRegion(WideRegionSize, PlaceAbove4GiB))) break;
      PlaceRam(region);
      return Staged(AddressOf(region));
    }
    case KernelPrivate:
      if (!(region = CommitRegion(WideRegionSize, PlaceLow))) break;
      PlaceKernel(region, ConsoleKernel);
      return StagedWide(0, AddressOf(region));
    case KernelViews: return StagedAsViews(MapRamViews(0, true, 0, &OlderKernel));
    case KernelViewsAtZero: return StageAtAddressZero(true, &ConsoleKernel);
    case KernelViewsAndCopies: return StageViewsAndCopies(1, &LowestKernel);
    case KernelAndPartialCopy:
      // Taken for a RAM, the partial copy would make two in private memory: not one RAM.
      if (!(region = CommitRegion(WideRegionSize, PlaceLow))) break;
      PlaceKernel(region, ConsoleKernel);
      if (!PlacePartialCopy(region)) break;
      return StagedWide(0, AddressOf(region));
    case KernelTwoRams: {
      if (!(region = CommitRegion(WideRegionSize, PlaceLow))) break;
      unsigned char* const other = CommitRegion(WideRegionSize, PlaceLow);
      if (!other) break;
      PlaceKernel(region, ConsoleKernel);
      PlaceKernel(other, OlderKernel);
      return Staged(0);
    }
    case KernelVectorOnly:
      if (!(region = CommitRegion(WideRegionSize, PlaceLow))) break;
      FillRandom(region, WideRegionSize);
      PlaceVector(region, ConsoleKernel.handler);
      return Staged(0);
    case KernelWithMarkers:
      // As a BIOS and the marker program leave it: found by the markers, with no word of the kernel area.
      if (!(region = CommitRegion(WideRegionSize, PlaceLow))) break;
      PlaceRam(region);
      PlaceKernel(region, OlderKernel);
      return Staged(AddressOf(region));
    case KernelInHeap: {
      if (!(region = CommitRegion(HeapBlockSize, PlaceLow))) break;
      PlaceKernel(region + HeapRamOffset, LowestKernel);
      return StagedWide(0, AddressOf(region) + HeapRamOffset);
    }
    case KernelBroken:
      if (!(region = CommitRegion(WideRegionSize, PlaceLow))) break;
      PlaceBrokenKernel(region, KernelBreakages[breakage]);
      return Staged(0);
    case RamMovesOnInput:
      if (!(MovingRegion = CommitRegion(WideRegionSize, PlaceLow))) break;
      PlaceRam(MovingRegion);
      return Staged(AddressOf(MovingRegion));
    case ScenarioCount: break;
  }
  return Failed("can't commit a region where the scenario needs it");
}

// The scenario named `name`, and for one of the KernelBroken family its entry
// of KernelBreakages in `breakage`; -1 for none.
int FindScenario(const char* name, int& breakage) {
  for (int i = 0; i < ScenarioCount; ++i) {
    if (i != KernelBroken && std::strcmp(name, ScenarioNames[i]) == 0) return i;
  }
  const std::size_t prefix = std::strlen(ScenarioNames[KernelBroken]);
  if (std::strncmp(name, ScenarioNames[KernelBroken], prefix) != 0) return -1;
  for (breakage = 0; breakage < KernelBreakageCount; ++breakage) {
    if (std::strcmp(name + prefix, KernelBreakages[breakage].name) == 0) return KernelBroken;
  }
  return -1;
}

void ListScenarios() {
  for (int i = 0; i < ScenarioCount; ++i) {
    if (i != KernelBroken) {
      std::printf("%-30s %s\n", ScenarioNames[i], ScenarioDescriptions[i]);
      continue;
    }
    for (const KernelBreakage& breakage : KernelBreakages) {
      char name[64];
      std::snprintf(name, sizeof name, "%s%s", ScenarioNames[i], breakage.name);
      std::printf("%-30s %s%s\n", name, ScenarioDescriptions[i], breakage.what);
    }
  }
}

int PrintUsage() {
  std::fprintf(stderr,
               "usage: StandInEmu SCENARIO [--seconds N | --milliseconds N]   (StandInEmu --list shows the "
               "scenarios)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
    ListScenarios();
    return 0;
  }
  if (argc != 2 && argc != 4) return PrintUsage();
  int breakage = 0;
  const int scenario = FindScenario(argv[1], breakage);
  if (scenario < 0) return PrintUsage();
  // A limit in milliseconds lets a test end us at a chosen moment of a scan.
  unsigned milliseconds = 120 * 1000;
  if (argc == 4) {
    const bool inSeconds = std::strcmp(argv[2], "--seconds") == 0;
    char* end = nullptr;
    const unsigned long given = std::strtoul(argv[3], &end, 10);
    if ((!inSeconds && std::strcmp(argv[2], "--milliseconds") != 0) || end == argv[3] || *end != '\0' ||
        given == 0 || given > (inSeconds ? 86400ul : 86400000ul)) {
      return PrintUsage();
    }
    milliseconds = static_cast<unsigned>(inSeconds ? given * 1000 : given);
  }

  const Staging staging = StageScenario(static_cast<Scenario>(scenario), breakage);
  if (staging.status != 0) {
    std::printf(staging.status == 3 ? "unsupported\n" : "failed\n");
    std::fflush(stdout);
    std::fprintf(stderr, "StandInEmu %s: %s\n", argv[1], staging.problem);
    return staging.status;
  }
  AllowMemoryReaders();
  std::printf("pid %lu\nexpect 0x%08llX\n", static_cast<unsigned long>(CurrentProcessId()),
              static_cast<unsigned long long>(staging.expected));
  if (staging.cutShort != 0) {
    std::printf("cut-short 0x%08llX\n", static_cast<unsigned long long>(staging.cutShort));
  }
  if (staging.wideDiffers) std::printf("wide 0x%08llX\n", static_cast<unsigned long long>(staging.wide));
  std::printf("ready\n");
  std::fflush(stdout);
  if (scenario == RamMovesOnInput) {
    FollowCommands();
  } else {
    WaitForStop(milliseconds);
  }
  return 0;
}
