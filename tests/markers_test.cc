#include <gtest/gtest.h>

#include <optional>

#include "locator/markers.h"

namespace {

const std::optional<Address> NotFound;

std::optional<Address> Evaluate(Address start, Address end) {
  const Address slots[MarkerCount] = {start, end, NotSeen, NotSeen};
  Address ramBase = 1;
  const bool found = EvaluateRamBase(slots, ramBase);
  if (!found) {
    EXPECT_EQ(ramBase, 0u);
  }
  return found ? std::optional<Address>(ramBase) : NotFound;
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
  EXPECT_EQ(FoundSlots[1], NotSeen);
  RecordHit(0, 0x1000);
  EXPECT_EQ(FoundSlots[0], AmbiguousHit);
  RecordHit(0, 0x2000);
  EXPECT_EQ(FoundSlots[0], AmbiguousHit);
  ClearFoundSlots();
  EXPECT_EQ(FoundSlots[0], NotSeen);
  // A hit at address 0: seen at 64 bits; at 32, where 0 means "not seen", the
  // slot stays unseen and takes the next hit as the first.
  RecordHit(1, 0);
  RecordHit(1, 0x1000);
  EXPECT_EQ(FoundSlots[1], platform::ZeroIsAnAddress ? AmbiguousHit : 0x1000u);
}

TEST(EvaluateRamBase, OnlyOneStartAndOneEndAtTheRamDistance) {
  EXPECT_EQ(Evaluate(0x00A10000, 0x00C0FFF0), 0x00A10000u);
  EXPECT_EQ(Evaluate(0x80001234, 0x80201224), 0x80001234u);
  EXPECT_EQ(Evaluate(0x00A10000, 0x00C10000), NotFound);  // one RAM size apart
  EXPECT_EQ(Evaluate(0x00A10000, NotSeen), NotFound);
  EXPECT_EQ(Evaluate(NotSeen, 0x00C0FFF0), NotFound);
  EXPECT_EQ(Evaluate(0x00C0FFF0, 0x00A10000), NotFound);  // end before start
  EXPECT_EQ(Evaluate(AmbiguousHit, 0x00C0FFF0), NotFound);
  EXPECT_EQ(Evaluate(0x00A10000, AmbiguousHit), NotFound);
  EXPECT_EQ(Evaluate(AmbiguousHit, AmbiguousHit), NotFound);
  EXPECT_EQ(Evaluate(NotSeen, NotSeen), NotFound);
}

// At 64 bits, addresses above 4 GiB keep all their bits, and a RAM at address
// 0 is found; at 32, 0 is "not seen".
TEST(EvaluateRamBase, AtTheBuildsAddressWidth) {
  EXPECT_EQ(AmbiguousHit, static_cast<Address>(~static_cast<Address>(0)));
  EXPECT_EQ(Evaluate(0xFFE00000, 0xFFFFFFF0), 0xFFE00000u);
  EXPECT_EQ(Evaluate(0, 0x001FFFF0), platform::ZeroIsAnAddress ? std::optional<Address>(0) : NotFound);
  if (sizeof(Address) == 8) {
    EXPECT_EQ(Evaluate(static_cast<Address>(0x7FC2F5166000), static_cast<Address>(0x7FC2F5365FF0)),
              static_cast<Address>(0x7FC2F5166000));
    // Cut to 32 bits, these two would be one RAM apart.
    EXPECT_EQ(Evaluate(static_cast<Address>(0x100A10000), 0x00C0FFF0), NotFound);
  }
}

}  // namespace
