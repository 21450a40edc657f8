// The end-to-end benchmark's target: commits TOTAL_MIB of memory below 4 GiB
// (with --high: from 8 GiB up, where 64-bit emulators keep theirs) in regions
// of REGION_MIB, fills every byte so that every page is really there, and
// holds the two markers once, as an emulator's RAM would hold them. With
// --sparse-gib N it also maps one readable region of N GiB that is never
// touched, as a large reservation would be: it costs the machine nothing, but
// a reader that copied it whole would need N GiB. With --mappings N it also
// maps N separate small mappings of three written pages whose middle one is
// made read-only, as an emulator protects pages it has translated code from:
// each shows as three lines in /proc/PID/maps (a desktop emulator with its GUI
// toolkit, GPU driver and threads has thousands). They are far too small to
// hold the RAM, so they cost a reader its walk and not its copy. With
// --scattered N it also maps one private mapping of N blocks of two pages,
// every other block made read-only, so that it shows as N maps lines of one
// mapping, read as one run; only the first page of each block is written, so
// its touched pages lie apart, one in every two. It
// prints "READY <start-marker address in hex>" and lives until its standard
// input closes, so it ends with the script that started it. With --kernel it
// holds no marker but the kernel area of a game running without the marker
// program, which the 64-bit tools then find the RAM by. A line "kernel" or
// "markers" on its standard input puts the one in place of the other in the
// same memory, and it answers "OK": the two searches then time alike memory.
//
//   bulk_target [--high] [--kernel] [--sparse-gib N] [--mappings N] [--scattered N] TOTAL_MIB [REGION_MIB]
//   (REGION_MIB: 64 unless given)
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "locator/markers.h"

namespace {

const std::uint64_t LowRegionsStart = 0x10000000;
const std::uint64_t LowRegionsEnd = 0x100000000ull;
// Above 4 GiB, and far below where the kernel puts libraries and the stack.
const std::uint64_t HighRegionsStart = 0x200000000ull;
const std::uint64_t HighRegionsEnd = 0x10000000000ull;
// Left unmapped after each region, so the kernel never merges two of them into one mapping.
const std::uint64_t GapSize = 0x10000;
// Above the high regions; each small mapping is followed by an unmapped page of its own.
const std::uint64_t SmallMappingsStart = 0x20000000000ull;
const std::uint64_t SmallMappingPages = 3;
// Three maps lines each, below the kernel's default limit of 65,530 mappings with room for the rest.
const std::uint64_t MostSmallMappings = 20000;

// Maps one region at or above `next`, below `limit`, without touching anything mapped there.
unsigned char* MapRegion(std::uint64_t& next, std::uint64_t limit, std::uint64_t size) {
  while (next + size <= limit) {
    void* const wanted = reinterpret_cast<void*>(static_cast<std::uintptr_t>(next));
    next += size + GapSize;
    void* const got =
        mmap(wanted, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (got == wanted) return static_cast<unsigned char*>(got);
    // A kernel without MAP_FIXED_NOREPLACE takes the address as a hint only.
    if (got != MAP_FAILED) munmap(got, size);
  }
  return nullptr;
}

// xorshift64 bytes: every page written, and nothing in them looks like a marker
// but by a chance too small to matter.
void FillRegion(unsigned char* region, std::uint64_t size, std::uint64_t& state) {
  for (std::uint64_t at = 0; at < size; at += 8) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    std::memcpy(region + at, &state, 8);
  }
}

// `count` mappings of three pages, the middle one read-only, each written first.
bool MapSmallMappings(std::uint64_t count) {
  const std::uint64_t page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  const std::uint64_t size = SmallMappingPages * page;
  for (std::uint64_t i = 0; i < count; ++i) {
    void* const wanted =
        reinterpret_cast<void*>(static_cast<std::uintptr_t>(SmallMappingsStart + i * (size + page)));
    void* const got =
        mmap(wanted, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (got != wanted) return false;
    std::memset(got, static_cast<int>(i), size);
    if (mprotect(static_cast<char*>(got) + page, page, PROT_READ) != 0) return false;
  }
  return true;
}

// The console kernel's vector, table of tables and current thread, as a
// running game leaves them in the first 64 KiB of the RAM.
void PutKernelArea(unsigned char* ram, bool present) {
  const std::uint32_t words[][2] = {
      {0x80, 0x3C1A0000},  {0x84, 0x275A0C80}, {0x88, 0x03400008},  {0x8C, 0},           {0x100, 0xA000E000},
      {0x104, 0x20},       {0x108, 0xA000E020}, {0x10C, 4},          {0x110, 0xA000E030}, {0x114, 0x300},
      {0x120, 0xA000E330}, {0x124, 0x1C0},     {0x140, 0xA000E600}, {0x144, 0x2C0},      {0x150, 0xA000E8C0},
      {0xE020, 0xA000E030}, {0xE030, 0x4000}};
  const std::uint32_t none = 0;
  for (const auto& word : words) std::memcpy(ram + word[0], present ? &word[1] : &none, 4);  // little-endian hosts
}

// The markers, or where not `present`, zeros in their place.
void PutMarkers(unsigned char* ram, bool present) {
  if (present) {
    std::memcpy(ram, MarkerTable[0], MarkerLength);
    std::memcpy(ram + MainRamSize - MarkerLength, MarkerTable[1], MarkerLength);
  } else {
    std::memset(ram, 0, MarkerLength);
    std::memset(ram + MainRamSize - MarkerLength, 0, MarkerLength);
  }
}

// One mapping of `count` blocks of two pages, the first page of each written,
// every other block read-only: `count` maps lines, every other page touched.
bool MapScattered(std::uint64_t count) {
  const std::uint64_t page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  const std::uint64_t block = 2 * page;
  void* const got = mmap(nullptr, count * block, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (got == MAP_FAILED) return false;
  unsigned char* const blocks = static_cast<unsigned char*>(got);
  for (std::uint64_t i = 0; i < count; ++i) {
    std::memset(blocks + i * block, static_cast<int>(i) | 1, page);
    if (i % 2 == 1 && mprotect(blocks + i * block, block, PROT_READ) != 0) return false;
  }
  return true;
}

bool ParseCount(const char* text, std::uint64_t largest, std::uint64_t& count) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value == 0 || value > largest) return false;
  count = value;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool high = false;
  bool kernel = false;
  std::uint64_t sparseGib = 0;
  std::uint64_t smallMappings = 0;
  std::uint64_t scattered = 0;
  int at = 1;
  for (; at < argc && argv[at][0] == '-'; ++at) {
    if (std::strcmp(argv[at], "--high") == 0) {
      high = true;
    } else if (std::strcmp(argv[at], "--kernel") == 0) {
      kernel = true;
    } else if (std::strcmp(argv[at], "--sparse-gib") == 0 && at + 1 < argc &&
               ParseCount(argv[at + 1], 256, sparseGib)) {
      ++at;
    } else if (std::strcmp(argv[at], "--mappings") == 0 && at + 1 < argc &&
               ParseCount(argv[at + 1], MostSmallMappings, smallMappings)) {
      ++at;
    } else if (std::strcmp(argv[at], "--scattered") == 0 && at + 1 < argc &&
               ParseCount(argv[at + 1], 2 * MostSmallMappings, scattered)) {
      ++at;
    } else {
      break;
    }
  }
  std::uint64_t totalMib = 0;
  std::uint64_t regionMib = 64;
  const int left = argc - at;
  if (left < 1 || left > 2 || !ParseCount(argv[at], 4096, totalMib) ||
      (left == 2 && !ParseCount(argv[at + 1], 4096, regionMib)) || regionMib < 2) {
    std::fprintf(
        stderr,
        "usage: bulk_target [--high] [--kernel] [--sparse-gib N] [--mappings N] [--scattered N] TOTAL_MIB "
        "[REGION_MIB]   (REGION_MIB at least 2, N mappings at most %llu, N scattered lines twice that)\n",
        static_cast<unsigned long long>(MostSmallMappings));
    return 2;
  }
  const std::uint64_t regionSize = regionMib << 20;
  const std::uint64_t regionCount = (totalMib + regionMib - 1) / regionMib;

  std::vector<unsigned char*> regions;
  std::uint64_t next = high ? HighRegionsStart : LowRegionsStart;
  const std::uint64_t limit = high ? HighRegionsEnd : LowRegionsEnd;
  std::uint64_t random = 0x2545F4914F6CDD1Dull;
  for (std::uint64_t i = 0; i < regionCount; ++i) {
    unsigned char* region = MapRegion(next, limit, regionSize);
    if (region == nullptr) {
      std::fprintf(stderr, "bulk_target: no room for region %llu\n", static_cast<unsigned long long>(i));
      return 1;
    }
    FillRegion(region, regionSize, random);
    regions.push_back(region);
  }
  // Never touched: its pages read as the kernel's one zero page.
  if (sparseGib != 0 && mmap(nullptr, sparseGib << 30, PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0) == MAP_FAILED) {
    std::fprintf(stderr, "bulk_target: no room for a sparse region of %llu GiB\n",
                 static_cast<unsigned long long>(sparseGib));
    return 1;
  }
  if (scattered != 0 && !MapScattered(scattered)) {
    std::fprintf(stderr, "bulk_target: could not map %llu scattered blocks\n",
                 static_cast<unsigned long long>(scattered));
    return 1;
  }
  if (!MapSmallMappings(smallMappings)) {
    std::fprintf(stderr, "bulk_target: could not map %llu small mappings\n",
                 static_cast<unsigned long long>(smallMappings));
    return 1;
  }

  // The 2 MiB of emulated RAM lie inside the middle region, on a 4-byte step.
  const std::uint64_t ramOffset = ((regionSize - MainRamSize) / 2) & ~std::uint64_t{3};
  unsigned char* const ram = regions[regions.size() / 2] + ramOffset;
  PutKernelArea(ram, kernel);
  PutMarkers(ram, !kernel);

  std::printf("READY %lx\n", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(ram)));
  std::fflush(stdout);
  char line[256];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    const bool toKernel = std::strcmp(line, "kernel\n") == 0;
    if (!toKernel && std::strcmp(line, "markers\n") != 0) continue;
    PutMarkers(ram, !toKernel);
    PutKernelArea(ram, toKernel);
    std::printf("OK\n");
    std::fflush(stdout);
  }
  return 0;
}
