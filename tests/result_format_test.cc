#include <gtest/gtest.h>

#include "app/result_format.h"

namespace {

TEST(FormatResult, AllNineTypesForZeroAShortValueAndAHighValue) {
  struct Case {
    std::uint64_t value;
    int type;
    const char* text;
  } cases[] = {
      {0, 0, "0"},
      {0, 1, "00000000"},
      {0, 2, "0x00000000"},
      {0, 3, "$00000000"},
      {0, 4, "00000000h"},
      {0, -1, "0"},
      {0, -2, "0x0"},
      {0, -3, "$0"},
      {0, -4, "0h"},
      {0x1ab0, 0, "6832"},
      {0x1ab0, 1, "00001AB0"},
      {0x1ab0, 2, "0x00001AB0"},
      {0x1ab0, -1, "1AB0"},
      {0x1ab0, -2, "0x1AB0"},
      {0x1ab0, -3, "$1AB0"},
      {0x1ab0, -4, "1AB0h"},
      {0x80001234, 0, "2147488308"},
      {0xFFFFFFFF, 0, "4294967295"},
      {0x80001234, 2, "0x80001234"},
      {0x80001234, -2, "0x80001234"},
      {0xFEDCBA98, 3, "$FEDCBA98"},
      {0xFEDCBA98, -4, "FEDCBA98h"},
      // Above 4 GiB (64-bit tools): every digit, still at least eight.
      {0x7FC2F5166000, 0, "140475312267264"},
      {0x7FC2F5166000, 1, "7FC2F5166000"},
      {0x7FC2F5166000, 2, "0x7FC2F5166000"},
      {0x7FC2F5166000, 3, "$7FC2F5166000"},
      {0x7FC2F5166000, 4, "7FC2F5166000h"},
      {0x7FC2F5166000, -2, "0x7FC2F5166000"},
      {0x100000000, 2, "0x100000000"},
      {0xFFFFFFFFFFFFFFFC, 0, "18446744073709551612"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatResult(c.value, c.type), c.text) << c.value << " type " << c.type;
  }
}

TEST(FormatResult, NeverLongerThanTheWidestForm) {
  for (int type = -4; type <= 4; ++type) {
    for (std::uint64_t value : {0u, 1u, 0x10u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
      EXPECT_LE(FormatResult(value, type).size(), 10u);
    }
    EXPECT_LE(FormatResult(~static_cast<std::uint64_t>(0), type).size(), 20u);
  }
}

}  // namespace
