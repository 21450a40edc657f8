#include <gtest/gtest.h>

#include "locator/markers.h"

namespace {

Address Evaluate(Address start, Address end) {
  const Address slots[MarkerCount] = {start, end, 0, 0};
  return EvaluateRamBase(slots);
}

TEST(MarkerWords, AreTheMarkerBytesLittleEndian) {
  BuildMarkerWords();
  // "!Sta" with "!" in the lowest byte.
  EXPECT_EQ(MarkerWords[0][0], 0x61745321u);
  EXPECT_EQ(MarkerWords[0][3], 0x214D4152u);  // "RAM!"
  EXPECT_EQ(MarkerWords[1][0], 0x6E452121u);  // "!!En"
}

TEST(RecordHit, OnceKeepsTheAddressTwiceIsAmbiguous) {
  ClearFoundSlots();
  RecordHit(0, 0x1000);
  EXPECT_EQ(FoundSlots[0], 0x1000u);
  EXPECT_EQ(FoundSlots[1], 0u);
  RecordHit(0, 0x1000);
  EXPECT_EQ(FoundSlots[0], AmbiguousHit);
  RecordHit(0, 0x2000);
  EXPECT_EQ(FoundSlots[0], AmbiguousHit);
  ClearFoundSlots();
  EXPECT_EQ(FoundSlots[0], 0u);
}

TEST(EvaluateRamBase, OnlyOneStartAndOneEndAtTheRamDistance) {
  EXPECT_EQ(Evaluate(0x00A10000, 0x00C0FFF0), 0x00A10000u);
  EXPECT_EQ(Evaluate(0x80001234, 0x80201224), 0x80001234u);
  EXPECT_EQ(Evaluate(0x00A10000, 0x00C10000), 0u);  // one RAM size apart
  EXPECT_EQ(Evaluate(0x00A10000, 0), 0u);
  EXPECT_EQ(Evaluate(0, 0x00C0FFF0), 0u);
  EXPECT_EQ(Evaluate(0x00C0FFF0, 0x00A10000), 0u);  // end before start
  EXPECT_EQ(Evaluate(AmbiguousHit, 0x00C0FFF0), 0u);
  EXPECT_EQ(Evaluate(0x00A10000, AmbiguousHit), 0u);
  EXPECT_EQ(Evaluate(AmbiguousHit, AmbiguousHit), 0u);
}

// At 64 bits, addresses above 4 GiB keep all their bits.
TEST(EvaluateRamBase, AtTheBuildsAddressWidth) {
  EXPECT_EQ(AmbiguousHit, static_cast<Address>(~static_cast<Address>(0)));
  EXPECT_EQ(Evaluate(0xFFE00000, 0xFFFFFFF0), 0xFFE00000u);
  if (sizeof(Address) == 8) {
    EXPECT_EQ(Evaluate(static_cast<Address>(0x7FC2F5166000), static_cast<Address>(0x7FC2F5365FF0)),
              static_cast<Address>(0x7FC2F5166000));
    // Cut to 32 bits, these two would be one RAM apart.
    EXPECT_EQ(Evaluate(static_cast<Address>(0x100A10000), 0x00C0FFF0), 0u);
  }
}

}  // namespace
