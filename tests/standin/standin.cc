// A stand-in for an emulator that runs the marker program: it commits memory,
// writes the start and end markers of the 2 MiB main RAM where a scenario
// says, announces its PID and the RAM base that Mirvane should report (0 where
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
// in protection as one region, and find a RAM at address 0.
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
const std::uint64_t ReadPieceSize = 0x100000;
// A file mapping of 8 MiB whose file ends after its first three pieces.
const std::uint64_t ShortRegionSize = 0x800000;
const std::uint64_t ShortRegionReadable = 3 * ReadPieceSize;
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
  RamMovesOnInput,
  ScenarioCount
};

const char* const ScenarioNames[ScenarioCount] = {
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
    "ram-moves-on-input",
};

const char* const ScenarioDescriptions[ScenarioCount] = {
    "the RAM at the start of a 4 MiB region",
    "the RAM at a 4-byte (not 16-byte) offset inside a 4 MiB region",
    "the RAM filling a region of exactly 2 MiB; a region one page smaller holds decoy markers",
    "the RAM at or above 0x80000000",
    "the RAM, and a second start marker in another region (not found)",
    "the end marker 0x200000 after the start marker instead of 0x1FFFF0 (not found)",
    "the RAM 2 bytes off the 4-byte step (not found)",
    "the RAM in a region made inaccessible afterwards (not found)",
    "the RAM, and beside it a region that can't be read whole (one \"Err!\")",
    "a 4 MiB region without markers (not found)",
    "the RAM from 512 KiB below 4 GiB, its end marker above 4 GiB (64-bit processes)",
    "the RAM in a region above 4 GiB (64-bit processes)",
    "the RAM past the first 4 GiB of one sparse region of 4 GiB + 4 MiB (64-bit processes)",
    "the RAM's start marker across the first 1 MiB piece boundary of its region, 12 bytes before it",
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
    "the RAM at the start of a 4 MiB region, moved, removed and put back by lines on our input (see above)",
};

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

// Views of one shared memory that holds the RAM: `count` of them at fresh
// places; then, with `fastMemory`, four more inside one reserved range.
// `firstByte` tells this RAM image from others. Returns the lowest view.
unsigned char* MapRamViews(int count, bool fastMemory, unsigned char firstByte) {
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
      if (guest + offset < lowest) lowest = guest + offset;
    }
  }
  PlaceRam(lowest);
  lowest[MarkerSize] = firstByte;
  return lowest;
}

// Every view holds the RAM: counted one by one, it is seen more than once;
// the 64-bit tools answer `view`.
Staging StagedAsViews(const unsigned char* view) {
  if (!view) return Failed("can't map the views where the scenario needs them");
  return StagedWide(0, AddressOf(view));
}

// The RAM's views and `copies` private copies of its bytes: the 64-bit tools
// take the copies for what they are and answer the lower view.
Staging StageViewsAndCopies(int copies) {
  unsigned char* const views = MapRamViews(2, false, 1);
  if (!views) return Failed("can't map the views where the scenario needs them");
  for (int i = 0; i < copies; ++i) {
    unsigned char* const copy = CommitRegion(MainRamSize, PlaceLow);
    if (!copy) return Failed("can't commit a region where the scenario needs it");
    std::memcpy(copy, views, MainRamSize);
  }
  return StagedWide(0, AddressOf(views));
}

// Four views of the RAM back to back from address 0, or one private region
// there, as an emulator run by root maps them.
Staging StageAtAddressZero(bool views) {
  const int memory = views ? CreateSharedMemory(MainRamSize) : -1;
  if (views && memory < 0) return Failed("can't create the shared memory");
  if (!MapFromAddressZero(memory, views ? MainRamSize : WideRegionSize, views ? 4 : 1)) {
    return Unsupported(NoPageZero);
  }
  PlaceRam(AddressZero());
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

Staging StageScenario(Scenario scenario) {
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
      PlaceRam(region);
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
    case MappedSixTimes: return StagedAsViews(MapRamViews(2, true, 1));
    case ViewsAndCopy: return StageViewsAndCopies(1);
    case ViewsAndTwoCopies: return StageViewsAndCopies(2);
    case TwoCopies: {
      if (!(region = CommitRegion(MainRamSize, PlaceLow))) break;
      unsigned char* const copy = CommitRegion(MainRamSize, PlaceLow);
      if (!copy) break;
      PlaceRam(region);
      PlaceRam(copy);
      return Staged(0);
    }
    case TwoMemories:
      if (!MapRamViews(2, false, 1) || !MapRamViews(2, false, 2)) break;
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
    case ViewsAtZero: return StageAtAddressZero(true);
    case PrivateAtZero: return StageAtAddressZero(false);
    case UntouchedBeside: {
      // Read whole, it would make the stand-in 4 GiB bigger.
      if (!WideAddresses) return Unsupported(NothingAbove4GiB);
      unsigned char* const untouched = CommitRegion(UntouchedSize, PlaceAbove4GiB);
      if (!untouched || !(region = CommitRegion(WideRegionSize, PlaceAbove4GiB))) break;
      PlaceRam(region);
      return Staged(AddressOf(region));
    }
    case RamMovesOnInput:
      if (!(MovingRegion = CommitRegion(WideRegionSize, PlaceLow))) break;
      PlaceRam(MovingRegion);
      return Staged(AddressOf(MovingRegion));
    case ScenarioCount: break;
  }
  return Failed("can't commit a region where the scenario needs it");
}

int FindScenario(const char* name) {
  for (int i = 0; i < ScenarioCount; ++i) {
    if (std::strcmp(name, ScenarioNames[i]) == 0) return i;
  }
  return -1;
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
    for (int i = 0; i < ScenarioCount; ++i)
      std::printf("%-24s %s\n", ScenarioNames[i], ScenarioDescriptions[i]);
    return 0;
  }
  if (argc != 2 && argc != 4) return PrintUsage();
  const int scenario = FindScenario(argv[1]);
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

  const Staging staging = StageScenario(static_cast<Scenario>(scenario));
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
