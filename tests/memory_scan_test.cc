#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <optional>

#include "kernel_image.h"
#include "locator/kernel_area.h"
#include "locator/memory_scan.h"
#include "locator/region_scan.h"
#include "platform/output_lines.h"
#include "platform/process_services_fake.h"

namespace {

const std::string Start = "!StartOfMainRAM!";
const std::string End = "!!EndOfMainRAM!!";
const platform::DWORD Committed = platform::MEM_COMMIT;
const platform::DWORD Reserved = platform::MEM_RESERVE;
const platform::DWORD Free = platform::MEM_FREE;

void NewTarget() {
  fake::Reset();
  ClearFoundSlots();
  BuildMarkerWords();
}

// Plants the RAM's two markers for a RAM that starts at `base`.
void PutRam(platform::ULONG_PTR base) {
  fake::Put(base, Start);
  fake::Put(base + MainRamSize - 16, End);
}

// Walks the fake target; returns what the walk wrote. Whatever the walk
// throws is handed on, as the guard of the run would see it.
std::string Walk() {
  testing::internal::CaptureStdout();
  try {
    ScanEmulatorMemory(1234);
  } catch (...) {
    FlushOutput();
    testing::internal::GetCapturedStdout();
    throw;
  }
  FlushOutput();
  std::string text = testing::internal::GetCapturedStdout();
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());  // Windows' CR LF, read back as text
  return text;
}

// Where the slots show the RAM, else where the kernel area does; NotFound where neither does.
const std::optional<Address> NotFound;
std::optional<Address> Found() {
  Address ramBase = 0;
  if (EvaluateRamBase(FoundSlots, ramBase)) return ramBase;
  return KernelAreaSearch.found ? std::optional<Address>(KernelAreaSearch.ramBase) : NotFound;
}

// The reads of one region: one whole read at 32 bits, pieces at 64.
std::vector<platform::ULONG_PTR> ReadsOf(platform::ULONG_PTR base, platform::SIZE_T size) {
  const platform::SIZE_T piece = platform::ReadPieceSize == 0 ? size : platform::ReadPieceSize;
  std::vector<platform::ULONG_PTR> reads;
  for (platform::SIZE_T done = 0; done < size; done += piece) reads.push_back(base + done);
  return reads;
}

std::string ErrLines(int count) {
  std::string lines;
  for (int i = 0; i < count; ++i) lines += std::string("Err!") + "\n";
  return lines;
}

TEST(ScanEmulatorMemory, OpensForQueryAndReadOnlyAndFailsSilentlyWhenRefused) {
  NewTarget();
  EXPECT_EQ(Walk(), "");
  EXPECT_EQ(fake::OpenedPid(), 1234u);
  EXPECT_EQ(fake::OpenedAccess(), 0x410u);
  EXPECT_FALSE(fake::OpenedInheritable());
  NewTarget();
  fake::RefuseOpen();
  EXPECT_THROW(Walk(), SearchFailure);
  EXPECT_EQ(fake::Queries(), 0);
}

TEST(ScanEmulatorMemory, FindsTheRamAnywhereOnAFourByteStepOfAQualifyingRegion) {
  for (platform::ULONG_PTR offset : {0u, 4u, 0x1000u, 0x100000u}) {
    NewTarget();
    fake::AddRegion(0x00400000, 0x00400000, Committed);
    PutRam(0x00400000 + offset);
    EXPECT_EQ(Walk(), "");
    EXPECT_EQ(Found(), 0x00400000u + offset) << offset;
  }
  // The RAM above 2 GiB: the full 32-bit address.
  NewTarget();
  fake::SetMaximumApplicationAddress(0xFFFEFFFF);
  fake::AddRegion(0xC0000000, MainRamSize, Committed);
  PutRam(0xC0000000);
  Walk();
  EXPECT_EQ(Found(), 0xC0000000u);
}

TEST(ScanEmulatorMemory, OnlyCommittedRegionsOfAtLeastTheRamSizeAreRead) {
  NewTarget();
  fake::AddRegion(0x00100000, MainRamSize - 0x1000, Committed);  // one page short
  fake::AddRegion(0x00400000, 0x01000000, Reserved);
  fake::AddRegion(0x02000000, MainRamSize, Committed);  // exactly the RAM size
  fake::AddRegion(0x03000000, 0x00800000, Committed | Free);
  fake::AddRegion(0x04000000, 0x00400000, Committed);
  Walk();
  std::vector<platform::ULONG_PTR> reads = ReadsOf(0x02000000, MainRamSize);
  const std::vector<platform::ULONG_PTR> second = ReadsOf(0x04000000, 0x00400000);
  reads.insert(reads.end(), second.begin(), second.end());
  EXPECT_EQ(fake::Reads(), reads);
  // At 32 bits each is copied whole with one read; at 64 in pieces. One buffer at a time.
  if (platform::ReadPieceSize == 0) {
    EXPECT_EQ(fake::ReadSizes(), std::vector<platform::SIZE_T>({MainRamSize, 0x00400000}));
  } else {
    EXPECT_EQ(fake::ReadSizes(), std::vector<platform::SIZE_T>(reads.size(), platform::ReadPieceSize));
  }
  EXPECT_EQ(fake::MostLiveBuffers(), 1);
  EXPECT_EQ(fake::LiveBuffers(), 0);
}

TEST(ScanEmulatorMemory, MarkersOffTheStepOrAcrossTheRegionEndAreNotFound) {
  NewTarget();
  fake::AddRegion(0x00400000, MainRamSize, Committed);
  fake::Put(0x00400002, Start);
  fake::Put(0x00400000 + MainRamSize - 12, End);  // crosses the end
  Walk();
  EXPECT_EQ(FoundSlots[0], NotSeen);
  EXPECT_EQ(FoundSlots[1], NotSeen);
  // The last 16 bytes are still scanned.
  NewTarget();
  fake::AddRegion(0x00400000, MainRamSize, Committed);
  fake::Put(0x00400000 + MainRamSize - 16, End);
  Walk();
  EXPECT_EQ(FoundSlots[1], 0x00400000u + MainRamSize - 16);
}

TEST(ScanEmulatorMemory, MarkersSeenTwiceAreAmbiguousInOneRegionOrTwo) {
  NewTarget();
  fake::AddRegion(0x00400000, 0x00400000, Committed);
  PutRam(0x00400000);
  fake::Put(0x00700000, Start);
  Walk();
  EXPECT_EQ(FoundSlots[0], AmbiguousHit);
  EXPECT_EQ(Found(), NotFound);
  NewTarget();
  fake::AddRegion(0x00400000, MainRamSize, Committed);
  fake::AddRegion(0x00800000, MainRamSize, Committed);
  PutRam(0x00400000);
  fake::Put(0x00800000 + MainRamSize - 16, End);
  Walk();
  EXPECT_EQ(FoundSlots[1], AmbiguousHit);
  EXPECT_EQ(Found(), NotFound);
}

// A region of the target: private memory (object 0), or a view of shared
// memory `object` from `offset` on.
struct Placed {
  platform::ULONG_PTR base;
  platform::SIZE_T size;
  int object;
  platform::SIZE_T offset;
};

Placed View(platform::ULONG_PTR base, int object, platform::SIZE_T size = MainRamSize,
            platform::SIZE_T offset = 0) {
  return {base, size, object, offset};
}
Placed Private(platform::ULONG_PTR base, platform::SIZE_T size = MainRamSize) { return {base, size, 0, 0}; }

// Pages given another protection after the regions are placed.
struct Protection {
  platform::ULONG_PTR address;
  platform::SIZE_T size;
  platform::DWORD protect;
};

// Pages of a private region that the system shows otherwise than in memory.
struct Residence {
  platform::ULONG_PTR address;
  platform::SIZE_T size;
  fake::Residency residency;
};

// A stretch of the target: where reads go.
struct Span {
  platform::ULONG_PTR base;
  platform::SIZE_T size;
  bool operator==(const Span& other) const { return base == other.base && size == other.size; }
};

std::vector<Span> ReadSpans() {
  std::vector<Span> spans;
  const std::vector<platform::ULONG_PTR> bases = fake::Reads();
  const std::vector<platform::SIZE_T> sizes = fake::ReadSizes();
  for (size_t i = 0; i < bases.size(); ++i) spans.push_back({bases[i], sizes[i]});
  return spans;
}

// The pieces of touched stretches (in order, apart), each a list of the parts
// read with one call: a piece starts at a touched page and takes up to
// ReadPieceSize bytes on, every stretch that lies in it.
std::vector<std::vector<Span>> PiecesOf(const std::vector<Span>& stretches) {
  std::vector<std::vector<Span>> pieces;
  platform::SIZE_T at = 0;  // into the stretch `i`
  for (size_t i = 0; i < stretches.size();) {
    const platform::ULONG_PTR start = stretches[i].base + at;
    const platform::ULONG_PTR end = start + platform::ReadPieceSize;
    pieces.emplace_back();
    while (i < stretches.size() && stretches[i].base + at < end) {
      const platform::ULONG_PTR from = stretches[i].base + at;
      const platform::ULONG_PTR to = std::min(stretches[i].base + stretches[i].size, end);
      pieces.back().push_back({from, to - from});
      at = to - stretches[i].base;
      if (at < stretches[i].size) break;
      ++i;
      at = 0;
    }
  }
  return pieces;
}

struct ViewsCase {
  const char* what;
  std::vector<Placed> regions;
  std::vector<platform::ULONG_PTR> rams;  // where the markers go; in a view, into its memory
  std::optional<Address> merged;          // the result at 64 bits: views of one RAM count as one
  platform::ULONG_PTR strayEnd = 0;       // an end marker of no RAM
  platform::ULONG_PTR readShort = 0;      // a region whose reads stop at 3 MiB: one "Err!"
  std::vector<Protection> protections = {};
  std::optional<Address> counted = NotFound;  // the result at 32 bits, where each region is read alone
  int countedOnlyErrs = 0;  // "Err!" lines of unreadable regions that only the 32-bit tool reads
  std::vector<Residence> residencies = {};
  bool pagemapFails = false;
  // Where not empty: the stretches the 64-bit tools read, in pieces; the 32-bit tool reads each region whole.
  std::vector<Span> read = {};
  std::vector<std::pair<platform::ULONG_PTR, std::string>> bytes = {};  // more bytes put into the target
  std::vector<platform::ULONG_PTR> kernels = {};  // where a running game's kernel area goes, no marker
};

// Every other 64 KiB of [base, base + size) read-only, as dirty tracking leaves clean pages.
std::vector<Protection> Striped(platform::ULONG_PTR base, platform::SIZE_T size) {
  std::vector<Protection> stripes;
  for (platform::SIZE_T at = 0x10000; at < size; at += 0x20000)
    stripes.push_back({base + at, 0x10000, platform::PAGE_READONLY});
  return stripes;
}

// The pages a recompiler write-protects in each view of a RAM at `base`: the
// kernel's first page and the marker program's code.
std::vector<Protection> CodePages(std::vector<platform::ULONG_PTR> bases) {
  std::vector<Protection> pages;
  for (platform::ULONG_PTR base : bases) {
    pages.push_back({base, 0x1000, platform::PAGE_READONLY});
    pages.push_back({base + 0x10000, 0x1000, platform::PAGE_READONLY});
  }
  return pages;
}

// A target whose pages the system shows touched or not: the RAM is found at
// `found` at both widths, and the 64-bit tools read only `read`.
ViewsCase Residing(const char* what, std::vector<Placed> regions, std::vector<platform::ULONG_PTR> rams,
                   Address found, std::vector<Residence> residencies, std::vector<Span> read,
                   bool pagemapFails = false, platform::ULONG_PTR readShort = 0,
                   std::vector<std::pair<platform::ULONG_PTR, std::string>> bytes = {}) {
  ViewsCase residing{what, std::move(regions), std::move(rams), found, 0, readShort};
  residing.counted = found;
  residing.residencies = std::move(residencies);
  residing.pagemapFails = pagemapFails;
  residing.read = std::move(read);
  residing.bytes = std::move(bytes);
  return residing;
}

// A game running without the marker program: its RAM known by the kernel
// area alone at 64 bits, never at 32. A 64 KiB copy of the kernel area with
// less than 2 MiB of memory after it is no RAM. Markers seen anywhere keep
// the marker answer.
ViewsCase Kernels(const char* what, std::vector<Placed> regions, std::vector<platform::ULONG_PTR> kernels,
                  std::optional<Address> found, std::vector<platform::ULONG_PTR> rams = {},
                  std::optional<Address> counted = NotFound, std::vector<Protection> protections = {}) {
  ViewsCase game{what, std::move(regions), std::move(rams), found};
  game.kernels = std::move(kernels);
  game.counted = counted;
  game.protections = std::move(protections);
  return game;
}

// `count` views of one memory, 4 MiB apart, the RAM in the first.
ViewsCase ManyViews(int count) {
  ViewsCase views{"many views", {}, {0x01000000}, NotFound};
  if (count <= MaxSightings) views.merged = 0x01000000u;
  for (int i = 0; i < count; ++i) views.regions.push_back(View(0x01000000 + 0x00400000u * i, 1));
  return views;
}

// Where the RAM is seen more than once, its pages are write-protected, or
// pages around it were never touched.
// Views of the same memory at the same offsets count as one where the build
// merges them (the lowest that can be written all through, else the lowest),
// and sightings in private memory beside them are copies; copies alone,
// another object, another place in one object, a stray marker in shared
// memory or too many sightings leave every marker seen twice ambiguous, as it
// always is at 32 bits.
TEST(ScanEmulatorMemory, MirroredAndWriteProtectedRamAtEachWidth) {
  const std::vector<ViewsCase> cases = {
      {"two views", {View(0x00800000, 7), View(0x00400000, 7)}, {0x00400000}, 0x00400000},
      {"views of a larger memory at other places in it",
       {View(0x00400000, 7, 0x00400000, 0x1000), View(0x01000000, 7, 0x00400000, 0)},
       {0x01001040},
       0x00400040},
      {"two views and a private copy",
       {View(0x00400000, 7), View(0x00800000, 7), Private(0x00C00000)},
       {0x00400000, 0x00C00000},
       0x00400000},
      {"one view and two private copies below it",
       {Private(0x00400000), Private(0x00800000), View(0x00C00000, 7)},
       {0x00400000, 0x00800000, 0x00C00000},
       0x00C00000},
      {"two private copies", {Private(0x00400000), Private(0x00800000)}, {0x00400000, 0x00800000}, NotFound},
      {"two objects", {View(0x00400000, 7), View(0x00800000, 8)}, {0x00400000, 0x00800000}, NotFound},
      {"two objects and a private copy",
       {View(0x00400000, 7), View(0x00800000, 8), Private(0x00C00000)},
       {0x00400000, 0x00800000, 0x00C00000},
       NotFound},
      {"two places in one object", {View(0x00400000, 7, 0x00800000)}, {0x00400000, 0x00600000}, NotFound},
      {"two views and a stray end marker in other shared memory",
       {View(0x00400000, 7), View(0x00800000, 7), View(0x00C00000, 8)},
       {0x00400000},
       NotFound,
       0x00C00040},
      {"two views and an end marker alone in private memory, as a partial copy",
       {View(0x00400000, 7), View(0x00800000, 7), Private(0x00C00000)},
       {0x00400000},
       0x00400000,
       0x00C00040},
      // Four views back to back from page 0, as root may map them: the end
      // marker of each lies just before the start marker of the next. At 32
      // bits 0 is no address, as it never was.
      {"four views of one memory from address 0",
       {View(0, 3), View(0x00200000, 3), View(0x00400000, 3), View(0x00600000, 3)},
       {0},
       0},
      {"the RAM in private memory at address 0", {Private(0, 0x00400000)}, {0}, 0},
      // The copy's sightings go with its short read; the views' stay.
      {"two views and a copy read short",
       {View(0x00400000, 7), View(0x00800000, 7), Private(0x01000000, 0x00800000)},
       {0x00400000, 0x01000000},
       0x00400000,
       0,
       0x01000000},
      {"two views with a read-only page each: the lowest",
       {View(0x00800000, 7), View(0x00400000, 7)},
       {0x00400000},
       0x00400000,
       0,
       0,
       {{0x00500000, 0x1000, platform::PAGE_READONLY}, {0x00900000, 0x1000, platform::PAGE_READONLY}}},
      ManyViews(MaxSightings),
      ManyViews(MaxSightings + 1),
      // Write-protected pages split a mapping into regions: at 64 bits one
      // allocation's readable regions are read as one, at 32 each alone.
      {"a read-only code page inside the RAM",
       {Private(0x00400000, 0x00400000)},
       {0x00400000},
       0x00400000,
       0,
       0,
       {{0x00410000, 0x1000, platform::PAGE_READONLY}}},
      {"a run broken by a page that can't be read",
       {Private(0x00400000, 0x00400000)},
       {0x00400000},
       NotFound,
       0,
       0,
       {{0x00500000, 0x1000, platform::PAGE_NOACCESS}}},
      {"a run broken by a guard page",
       {Private(0x00400000, 0x00400000)},
       {0x00400000},
       NotFound,
       0,
       0,
       {{0x00500000, 0x1000, platform::PAGE_READWRITE | platform::PAGE_GUARD}}},
      {"a committed region that can't be read, never read at 64 bits",
       {Private(0x00400000, 0x00400000), Private(0x00800000)},
       {0x00400000, 0x00800000},
       0x00800000,
       0,
       0,
       {{0x00400000, 0x00400000, platform::PAGE_NOACCESS}},
       0x00800000,
       1},
      {"two allocations that touch, the RAM across them",
       {Private(0x00400000, 0x00100000), Private(0x00500000, 0x00300000)},
       {0x00400000},
       NotFound},
      // A block mapped twice, the lower view dirty-tracked: at 64 bits the
      // view a user can write, at 32 the only one read whole.
      {"a block mapped twice, one view striped read-only",
       {View(0x01000000, 1, 0x00800000), View(0x02000000, 1, 0x00800000)},
       {0x01234564},
       0x02234564,
       0,
       0,
       Striped(0x01000000, 0x00800000),
       0x02234564},
      // An 8 MiB section: a view with its code pages read-only, one without,
      // and four 2 MiB fast-memory views protected alike: at 64 bits the view
      // without protection. At 32 bits the start marker's page stands alone in
      // every protected view, and the end marker is seen twice.
      {"six views of an 8 MiB section, code pages read-only",
       {View(0x01000000, 1, 0x00800000), View(0x02000000, 1, 0x00800000), View(0x40000000, 1),
        View(0x48000000, 1), View(0x4A000000, 1), View(0x48600000, 1)},
       {0x01000000},
       0x02000000,
       0,
       0,
       CodePages({0x01000000, 0x40000000, 0x48000000, 0x4A000000, 0x48600000})},
      // Pages a target never touched read as zeros and hold no marker: where
      // the system tells them (64 bits), only the stretches of touched pages
      // (in memory or swapped out) are read, and no marker is joined across a
      // stretch passed over; shared memory, and a target whose pages can't be
      // told, are read whole. The 32-bit tool reads every region whole, and
      // finds the same.
      Residing("the RAM in a present stretch, untouched pages before it, inside it and after it",
               {Private(0x01000000, 0x01000000)}, {0x01300000}, 0x01300000,
               {{0x01000000, 0x01000000, fake::Untouched},
                {0x01300000, 0x00300000, fake::Present},
                {0x01380000, 0x00010000, fake::Untouched},
                {0x01A00000, 0x1000, fake::Present}},
               {{0x01300000, 0x00080000}, {0x01390000, 0x00270000}, {0x01A00000, 0x1000}}),
      Residing("the RAM in swapped pages, then present ones", {Private(0x01000000, 0x00400000)}, {0x01000000},
               0x01000000,
               {{0x01000000, 0x00100000, fake::Swapped}, {0x01200000, 0x00200000, fake::Untouched}},
               {{0x01000000, MainRamSize}}),
      Residing("a region never touched, then the RAM", {Private(0x01000000, 0x00400000), Private(0x02000000)},
               {0x02000000}, 0x02000000, {{0x01000000, 0x00400000, fake::Untouched}},
               {{0x02000000, MainRamSize}}),
      Residing("shared memory with no page present in this view", {View(0x01000000, 7)}, {0x01000000},
               0x01000000, {{0x01000000, MainRamSize, fake::Untouched}}, {{0x01000000, MainRamSize}}),
      Residing("a pagemap that can't be read", {Private(0x01000000, 0x00400000)}, {0x01100000}, 0x01100000,
               {{0x01000000, 0x00400000, fake::Untouched}}, {{0x01000000, 0x00400000}}, true),
      // Were the bytes carried over the untouched page, the halves would make
      // a second start marker.
      Residing("halves of a start marker on either side of an untouched page",
               {Private(0x01000000, 0x00400000)}, {0x01200000}, 0x01200000,
               {{0x01100000, 0x1000, fake::Untouched}}, {{0x01000000, 0x00100000}, {0x01101000, 0x002FF000}},
               false, 0, {{0x01100000 - 8, Start.substr(0, 8)}, {0x01101000, Start.substr(8)}}),
      // Inside one piece, the touched parts are read with one call and the
      // pages between them are zeros, never what an earlier piece left there.
      Residing("halves of a start marker either side of an untouched page inside a piece",
               {Private(0x01000000, 0x00400000)}, {0x01200000}, 0x01200000,
               {{0x01040000, 0x1000, fake::Untouched}}, {{0x01000000, 0x00040000}, {0x01041000, 0x003BF000}},
               false, 0, {{0x01040000 - 8, Start.substr(0, 8)}, {0x01041000, Start.substr(8)}}),
      Residing("an untouched page a piece after the start marker", {Private(0x01000000, 0x00400000)},
               {0x01001800}, 0x01001800, {{0x01081000, 0x1000, fake::Untouched}},
               {{0x01000000, 0x00081000}, {0x01082000, 0x0037E000}}),
      Residing("a touched stretch read short", {Private(0x01000000, 0x00800000), Private(0x02000000)},
               {0x01280000, 0x02000000}, 0x02000000, {{0x01000000, 0x00280000, fake::Untouched}},
               {{0x01280000, 0x00100000}, {0x02000000, MainRamSize}}, false, 0x01000000),
      Kernels("a kernel area in a private block, off the page", {Private(0x01000000, 0x01000000)}, {0x01234564},
              0x01234564),
      Kernels("a kernel area whose vector crosses a piece boundary", {Private(0x01000000, 0x00400000)},
              {0x01100000 - 0x88}, 0x01100000 - 0x88),
      Kernels("four views of one memory with a kernel area from address 0",
              {View(0, 3), View(0x00200000, 3), View(0x00400000, 3), View(0x00600000, 3)}, {0}, 0),
      Kernels("two views, a private copy and a 64 KiB partial copy of a kernel area",
              {View(0x00800000, 7), View(0x00400000, 7), Private(0x00C00000), Private(0x01000000, 0x00400000)},
              {0x00400000, 0x00C00000, 0x01300000}, 0x00400000),
      Kernels("two private RAMs with kernel areas", {Private(0x00400000), Private(0x00800000)},
              {0x00400000, 0x00800000}, NotFound),
      Kernels("a kernel area where the RAM's 2 MiB can't all be read", {Private(0x00400000, 0x00400000)},
              {0x00500000}, NotFound, {}, NotFound, {{0x00600000, 0x1000, platform::PAGE_NOACCESS}}),
      Kernels("the RAM by its markers, a kernel area in other memory",
              {Private(0x00400000), Private(0x00800000)}, {0x00800000}, 0x00400000, {0x00400000}, 0x00400000),
      Kernels("markers seen twice, a kernel area in other memory",
              {Private(0x00400000), Private(0x00800000), Private(0x00C00000)}, {0x00C00000}, NotFound,
              {0x00400000, 0x00800000}),
  };
  for (const ViewsCase& views : cases) {
    NewTarget();
    for (const Placed& region : views.regions) {
      if (region.object == 0) {
        fake::AddRegion(region.base, region.size, Committed);
      } else {
        fake::MapView(region.base, region.size, region.object, region.offset);
      }
    }
    for (platform::ULONG_PTR ram : views.rams) PutRam(ram);
    if (views.strayEnd != 0) fake::Put(views.strayEnd, End);
    if (views.readShort != 0) fake::LimitReadable(views.readShort, 0x00300000);
    for (const Protection& pages : views.protections) fake::Protect(pages.address, pages.size, pages.protect);
    for (const Residence& pages : views.residencies)
      fake::SetResidency(pages.address, pages.size, pages.residency);
    if (views.pagemapFails) fake::FailPagemap();
    for (const auto& put : views.bytes) fake::Put(put.first, put.second);
    for (platform::ULONG_PTR ram : views.kernels) PutKernelArea(ram);
    const int errs = (views.readShort != 0 ? 1 : 0) + (platform::MergesRamViews ? 0 : views.countedOnlyErrs);
    EXPECT_EQ(Walk(), ErrLines(errs)) << views.what;
    EXPECT_EQ(Found(), platform::MergesRamViews ? views.merged : views.counted)
        << views.what << ", " << views.regions.size();
    if (views.read.empty()) continue;
    std::vector<Span> wanted;
    int calls = 0;
    if (platform::ReadsOnlyTouchedPages) {
      for (const std::vector<Span>& piece : PiecesOf(views.read)) {
        wanted.insert(wanted.end(), piece.begin(), piece.end());
        ++calls;
      }
    } else {
      for (const Placed& region : views.regions) wanted.push_back({region.base, region.size});
      calls = static_cast<int>(wanted.size());
    }
    EXPECT_TRUE(ReadSpans() == wanted) << views.what;
    EXPECT_EQ(fake::ReadCalls(), calls) << views.what;
  }
}

// Each check of the kernel-area rule, broken by one word: no RAM. The rule's
// other valid forms: another segment, another thread current, another handler.
TEST(ScanEmulatorMemory, EachCheckOfTheKernelAreaRule) {
  struct RuleCase {
    const char* what;
    std::vector<KernelWord> changed;
    bool holds;
  };
  const std::vector<RuleCase> cases = {
      {"the whole rule", {}, true},
      {"addresses in the cached and the user segment", {{0x100, 0x8000E000}, {0x110, 0x0000E030}}, true},
      {"the third of four threads current", {{0xE020, 0xA000E1B0}, {0xE1B0, 0x4000}}, true},
      {"an older BIOS's handler", {{0x84, 0x275A0C50}}, true},
      {"only the vector's 16 bytes", {{0x100, 0}, {0x108, 0}, {0x110, 0}, {0x120, 0}, {0x140, 0}, {0x150, 0}},
       false},
      {"not addiu k0", {{0x84, 0x275B0C80}}, false},
      {"not jr k0", {{0x88, 0x03400009}}, false},
      {"no nop after it", {{0x8C, 1}}, false},
      {"exception blocks of another size", {{0x104, 0x24}}, false},
      {"a process block of another size", {{0x10C, 8}}, false},
      {"no thread blocks", {{0x114, 0}}, false},
      {"thread blocks not whole", {{0x114, 0x320}}, false},
      {"event blocks not whole", {{0x124, 0x1D}}, false},
      {"file blocks of another size", {{0x144, 0x2C4}}, false},
      {"an address among the vectors", {{0x140, 0xA0000100}}, false},
      {"an address past the kernel's 64 KiB", {{0x150, 0xA0010000}}, false},
      {"an address off the word", {{0x120, 0xA000E332}}, false},
      {"an address in a segment that shows no RAM", {{0x100, 0xC000E000}}, false},
      {"the current thread between two blocks", {{0xE020, 0xA000E090}}, false},
      {"the current thread before the first block", {{0xE020, 0xA000DF70}}, false},
      {"the current thread past the last block", {{0xE020, 0xA000E330}, {0xE330, 0x4000}}, false},
      {"the current thread not in use", {{0xE030, 0x1000}}, false},
  };
  for (const RuleCase& rule : cases) {
    NewTarget();
    fake::AddRegion(0x01000000, 0x00400000, Committed);
    PutKernelArea(0x01000004, rule.changed);
    Walk();
    const bool wanted = platform::FindsRamByKernelArea && rule.holds;
    EXPECT_EQ(Found(), wanted ? std::optional<Address>(0x01000004) : NotFound) << rule.what;
  }
}

TEST(ScanEmulatorMemory, AShortCopyWritesOneErrLineAndIsNotScanned) {
  NewTarget();
  fake::AddRegion(0x00400000, MainRamSize, Committed);
  fake::AddRegion(0x00800000, 0x00400000, Committed);
  fake::AddRegion(0x01000000, MainRamSize, Committed);
  fake::Put(0x00400000, Start);
  fake::LimitReadable(0x00400000, MainRamSize - 0x1000);
  fake::LimitReadable(0x00800000, 0);  // nothing at all
  PutRam(0x01000000);
  EXPECT_EQ(Walk(), ErrLines(2));
  // The walk went on past both; the short copy's marker does not count.
  EXPECT_EQ(Found(), 0x01000000u);
  EXPECT_EQ(fake::LiveBuffers(), 0);
}

TEST(ScanEmulatorMemory, AFailedQueryEndsTheWalkQuietlyKeepingTheHits) {
  NewTarget();
  fake::AddRegion(0x00400000, MainRamSize, Committed);
  fake::AddRegion(0x00800000, MainRamSize, Committed);
  fake::Put(0x00400000, Start);
  fake::Put(0x00800000, Start);
  fake::FailQueryAt(0x00600000);
  EXPECT_EQ(Walk(), "");
  EXPECT_EQ(FoundSlots[0], 0x00400000u);
  EXPECT_EQ(fake::Reads(), ReadsOf(0x00400000, MainRamSize));
}

TEST(ScanEmulatorMemory, AnAllocationFailureEndsTheSearchKeepingTheHits) {
  NewTarget();
  fake::AddRegion(0x00400000, MainRamSize, Committed);
  fake::AddRegion(0x00800000, MainRamSize, Committed);
  PutRam(0x00400000);
  fake::FailAllocationsFrom(2);
  EXPECT_THROW(Walk(), std::bad_alloc);
  EXPECT_EQ(Found(), 0x00400000u);
  EXPECT_EQ(fake::Reads(), ReadsOf(0x00400000, MainRamSize));
  EXPECT_EQ(fake::LiveBuffers(), 0);
}

// Where regions are read in pieces, a marker across a piece boundary is found
// at its step, exactly as in a whole copy, and one that is off the step is
// not; at 32 bits the same places lie inside one whole copy.
TEST(ScanEmulatorMemory, MarkersAcrossAPieceBoundaryAsInAWholeCopy) {
  const platform::ULONG_PTR base = 0x00400000;
  const platform::SIZE_T boundary = platform::ReadPieceSize == 0 ? 0x100000 : platform::ReadPieceSize;
  for (platform::SIZE_T before : {16u, 12u, 8u, 4u}) {
    NewTarget();
    fake::AddRegion(base, 0x00400000, Committed);
    PutRam(base + boundary - before);
    EXPECT_EQ(Walk(), "");
    EXPECT_EQ(Found(), base + boundary - before) << before;
  }
  NewTarget();
  fake::AddRegion(base, 0x00400000, Committed);
  fake::Put(base + boundary - 6, Start);
  Walk();
  EXPECT_EQ(FoundSlots[0], NotSeen);
}

// A short read in any piece: one "Err!", and none of that region's hits
// count, not even those of the pieces read before; earlier regions' hits stay.
TEST(ScanEmulatorMemory, AShortLaterPieceDropsTheWholeRegion) {
  NewTarget();
  fake::AddRegion(0x00400000, MainRamSize, Committed);
  fake::AddRegion(0x00800000, 0x00800000, Committed);
  fake::Put(0x00400000, Start);
  PutRam(0x00800000);
  fake::LimitReadable(0x00800000, 0x00300000);
  EXPECT_EQ(Walk(), ErrLines(1));
  EXPECT_EQ(FoundSlots[0], 0x00400000u);
  EXPECT_EQ(FoundSlots[1], NotSeen);
  EXPECT_EQ(fake::LiveBuffers(), 0);
}

// 64-bit builds: regions and RAM above 4 GiB, and a region larger than 4 GiB
// whose RAM lies beyond its first 4 GiB (a size or offset cut to 32 bits
// would miss it), read in pieces with one small buffer.
TEST(ScanEmulatorMemory, AboveFourGiBAtSixtyFourBits) {
  if (sizeof(platform::ULONG_PTR) < 8) GTEST_SKIP() << "32-bit addresses";
  const platform::ULONG_PTR high = static_cast<platform::ULONG_PTR>(0x7FC2F5000000);
  NewTarget();
  fake::SetMaximumApplicationAddress(static_cast<platform::ULONG_PTR>(0x7FFFFFFEFFFF));
  fake::AddRegion(high, 0x00800000, Committed);
  PutRam(high + 0x166000);
  EXPECT_EQ(Walk(), "");
  EXPECT_EQ(Found(), high + 0x166000);

  const platform::ULONG_PTR big = static_cast<platform::ULONG_PTR>(0x200000000);
  const platform::SIZE_T bigSize = static_cast<platform::SIZE_T>(0x100400000);  // 4 GiB + 4 MiB
  NewTarget();
  fake::SetMaximumApplicationAddress(static_cast<platform::ULONG_PTR>(0x7FFFFFFEFFFF));
  fake::AddRegion(big, bigSize, Committed);
  PutRam(big + static_cast<platform::SIZE_T>(0x100100000));
  EXPECT_EQ(Walk(), "");
  EXPECT_EQ(Found(), big + static_cast<platform::SIZE_T>(0x100100000));
  EXPECT_EQ(fake::MostLiveBuffers(), 1);
  for (platform::SIZE_T size : fake::ReadSizes()) EXPECT_LE(size, platform::ReadPieceSize);
}

TEST(ScanEmulatorMemory, TheWalkEndsAtTheBoundAndNeverGoesRound) {
  // A region ending at the very top of the 32-bit space would take the next
  // address back to 0.
  NewTarget();
  fake::SetMaximumApplicationAddress(0xFFFFFFFF);
  fake::AddRegion(0xFFE00000, MainRamSize, Committed);
  PutRam(0xFFE00000);
  Walk();
  EXPECT_EQ(Found(), 0xFFE00000u);
  EXPECT_LT(fake::Queries(), 10);
  // An empty region.
  NewTarget();
  fake::AddRegion(0x00400000, 0, Committed);
  Walk();
  EXPECT_LT(fake::Queries(), 10);
  // Nothing at or above the bound is looked at.
  NewTarget();
  fake::SetMaximumApplicationAddress(0x7FFEFFFF);
  fake::AddRegion(0x80000000, MainRamSize, Committed);
  PutRam(0x80000000);
  Walk();
  EXPECT_EQ(fake::Reads().size(), 0u);
}

TEST(ScanRegionBuffer, EveryMarkerAtEveryStepEvenRightAfterAHit) {
  NewTarget();
  std::string buffer(64, '\0');
  buffer.replace(0, 16, Start);
  buffer.replace(16, 16, End);
  buffer.replace(48, 16, Start);
  ScanRegionBuffer(reinterpret_cast<const unsigned char*>(buffer.data()), buffer.size(), 0x1000);
  EXPECT_EQ(FoundSlots[0], AmbiguousHit);
  EXPECT_EQ(FoundSlots[1], 0x1010u);
  // Buffers shorter than a marker hold none.
  NewTarget();
  ScanRegionBuffer(reinterpret_cast<const unsigned char*>(Start.data()), 15, 0x1000);
  EXPECT_EQ(FoundSlots[0], NotSeen);
}

}  // namespace
