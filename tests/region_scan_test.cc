#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "locator/region_scan.h"

namespace {

struct Slots {
  Address start, end;
};

Slots ScanWith(void (*scan)(const unsigned char*, std::size_t, Address),
               const std::vector<unsigned char>& buffer, std::size_t size) {
  ClearFoundSlots();
  scan(buffer.data(), size, 0x10000000);
  return {FoundSlots[0], FoundSlots[1]};
}

// Both scans over the same bytes must leave the same slots.
void ExpectSameHits(const std::vector<unsigned char>& buffer, std::size_t size, const std::string& what) {
  const Slots plain = ScanWith(ScanRegionBufferPlain, buffer, size);
  const Slots fast = ScanWith(ScanRegionBuffer, buffer, size);
  EXPECT_EQ(fast.start, plain.start) << what;
  EXPECT_EQ(fast.end, plain.end) << what;
}

std::vector<unsigned char> RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<unsigned char> bytes(size);
  for (unsigned char& b : bytes) b = static_cast<unsigned char>(random());
  return bytes;
}

void Plant(std::vector<unsigned char>& buffer, std::size_t at, int marker) {
  std::memcpy(buffer.data() + at, MarkerTable[marker], MarkerLength);
}

TEST(ScanRegionBuffer, EqualsThePlainScanWhereverAMarkerStands) {
  BuildMarkerWords();
  const std::size_t size = 4096 + 64;
  // Every alignment near the start, across the first vector blocks and at the end.
  std::vector<std::size_t> places;
  for (std::size_t at = 0; at < 80; ++at) places.push_back(at);
  for (std::size_t at = size - 80; at + MarkerLength <= size; ++at) places.push_back(at);
  for (std::size_t at : places) {
    for (int marker = 0; marker <= 1; ++marker) {
      std::vector<unsigned char> buffer = RandomBytes(size, static_cast<unsigned>(at));
      Plant(buffer, at, marker);
      ExpectSameHits(buffer, size, "marker " + std::to_string(marker) + " at " + std::to_string(at));
    }
  }
}

TEST(ScanRegionBuffer, FindsTheFirstAndLastStepsButNothingOneBytePast) {
  BuildMarkerWords();
  for (std::size_t size : {32u, 33u, 47u, 48u, 63u, 64u, 100u, 4096u}) {
    std::vector<unsigned char> buffer(size + 1, 0);
    const std::size_t last = (size - MarkerLength) & ~static_cast<std::size_t>(3);
    Plant(buffer, 0, 0);
    Plant(buffer, last, 1);
    Slots hits = ScanWith(ScanRegionBuffer, buffer, size);
    EXPECT_EQ(hits.start, 0x10000000u) << size;
    EXPECT_EQ(hits.end, 0x10000000u + last) << size;
    ExpectSameHits(buffer, size, "size " + std::to_string(size));
    // A marker that would end one byte past the region is not in it.
    std::vector<unsigned char> past(size + 4, 0);
    std::memcpy(past.data() + ((size - MarkerLength + 4) & ~static_cast<std::size_t>(3)), MarkerTable[0],
                MarkerLength);
    EXPECT_EQ(ScanWith(ScanRegionBuffer, past, size).start, NotSeen) << size;
  }
  // A buffer of just one marker holds one step.
  std::vector<unsigned char> one(MarkerTable[1], MarkerTable[1] + MarkerLength);
  EXPECT_EQ(ScanWith(ScanRegionBuffer, one, one.size()).end, 0x10000000u);
}

TEST(ScanRegionBuffer, FirstWordLookalikesAndRepeatsAgreeWithThePlainScan) {
  BuildMarkerWords();
  // Buffers full of the markers' first words, so nearly every step is a candidate.
  std::vector<unsigned char> buffer(1024);
  for (std::size_t at = 0; at + 4 <= buffer.size(); at += 4) {
    std::memcpy(buffer.data() + at, MarkerTable[(at / 4) % 2], 4);
  }
  Plant(buffer, 200, 0);
  Plant(buffer, 600, 0);
  Plant(buffer, 1000, 1);
  ExpectSameHits(buffer, buffer.size(), "lookalikes");
  EXPECT_EQ(ScanWith(ScanRegionBuffer, buffer, buffer.size()).start, AmbiguousHit);
}

}  // namespace
