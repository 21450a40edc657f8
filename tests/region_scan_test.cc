#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <random>
#include <vector>

#include "locator/region_scan.h"

namespace {

struct Slots {
  Address start, end;
};

// Every path a build may have; the tests run those this processor runs.
const ScanPath Paths[] = {PlainScanPath, Sse2ScanPath, Avx2ScanPath, Avx512ScanPath, NeonScanPath};

Slots ScanBy(ScanPath path, const std::vector<unsigned char>& buffer, std::size_t size) {
  ClearFoundSlots();
  ScanRegionBufferBy(path, buffer.data(), size, 0x10000000);
  return {FoundSlots[0], FoundSlots[1]};
}

// Every path this processor runs must leave the slots the plain scan leaves,
// and the same sightings in the same order.
void ExpectSameHits(const std::vector<unsigned char>& buffer, std::size_t size, const std::string& what) {
  ClearFoundSlots();
  ScanRegionBufferPlain(buffer.data(), size, 0x10000000);
  const HitsMark plain = MarkHits();
  Address plainSightings[LastMarkerIndex + 1][MaxSightings];
  std::memcpy(plainSightings, Sightings, sizeof Sightings);
  for (ScanPath path : Paths) {
    if (!ScanPathRuns(path)) continue;
    const Slots fast = ScanBy(path, buffer, size);
    EXPECT_EQ(fast.start, plain.slots[0]) << what << ", " << ScanPathName(path);
    EXPECT_EQ(fast.end, plain.slots[1]) << what << ", " << ScanPathName(path);
    for (int m = 0; m <= LastMarkerIndex; ++m) {
      ASSERT_EQ(SightingCounts[m], plain.sightingCounts[m]) << what << ", " << ScanPathName(path);
      for (int i = 0; i < std::min(SightingCounts[m], MaxSightings); ++i) {
        EXPECT_EQ(Sightings[m][i], plainSightings[m][i])
            << what << ", " << ScanPathName(path) << ", sighting " << i;
      }
    }
  }
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
  // A path the build has but this processor lacks is tested on a machine that has it.
  for (ScanPath path : Paths) {
    if (ScanPathBuilt(path) && !ScanPathRuns(path)) {
      std::cout << "[   NOTE   ] this processor does not run the " << ScanPathName(path) << " scan\n";
    }
  }
  const std::size_t size = 4096 + 64;
  // Every alignment near the start, across the first vector blocks and at the end.
  std::vector<std::size_t> places;
  for (std::size_t at = 0; at < 280; ++at) places.push_back(at);
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
  // Around the sizes where one and two whole blocks of steps first fit.
  for (std::size_t size : {32u, 33u, 47u, 48u, 63u, 64u, 100u, 139u, 140u, 144u, 267u, 268u, 4096u}) {
    std::vector<unsigned char> buffer(size + 1, 0);
    const std::size_t last = (size - MarkerLength) & ~static_cast<std::size_t>(3);
    Plant(buffer, 0, 0);
    Plant(buffer, last, 1);
    // A marker that would end one byte past the region is not in it.
    std::vector<unsigned char> past(size + 4, 0);
    std::memcpy(past.data() + ((size - MarkerLength + 4) & ~static_cast<std::size_t>(3)), MarkerTable[0],
                MarkerLength);
    for (ScanPath path : Paths) {
      if (!ScanPathRuns(path)) continue;
      Slots hits = ScanBy(path, buffer, size);
      EXPECT_EQ(hits.start, 0x10000000u) << size << ", " << ScanPathName(path);
      EXPECT_EQ(hits.end, 0x10000000u + last) << size << ", " << ScanPathName(path);
      EXPECT_EQ(ScanBy(path, past, size).start, NotSeen) << size << ", " << ScanPathName(path);
    }
    ExpectSameHits(buffer, size, "size " + std::to_string(size));
  }
  // A buffer of just one marker holds one step.
  std::vector<unsigned char> one(MarkerTable[1], MarkerTable[1] + MarkerLength);
  ClearFoundSlots();
  ScanRegionBuffer(one.data(), one.size(), 0x10000000);
  EXPECT_EQ(FoundSlots[1], 0x10000000u);
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
  ClearFoundSlots();
  ScanRegionBuffer(buffer.data(), buffer.size(), 0x10000000);
  EXPECT_EQ(FoundSlots[0], AmbiguousHit);
}

}  // namespace
