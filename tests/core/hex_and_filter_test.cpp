#include <gtest/gtest.h>

#include "core/filter/address_filter.h"
#include "core/vkp/hex_string.h"

namespace {

struct HexRow {
  const char* name;
  const char* text;
  bool isHex;
  std::uint32_t value;
};

class HexStringTest : public ::testing::TestWithParam<HexRow> {};

TEST_P(HexStringTest, TestAndValueAgree) {
  const HexRow& row = GetParam();
  EXPECT_EQ(IsHexString(row.text), row.isHex);
  EXPECT_EQ(HexStringToInt(row.text), row.value);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HexStringTest,
    ::testing::Values(HexRow{"empty_is_hex_zero", "", true, 0},
                      HexRow{"prefix_alone_is_hex_zero", "0x", true, 0},
                      HexRow{"upper_prefix", "0X1A", true, 0x1A},
                      HexRow{"lower_digits", "1affff", true, 0x1AFFFF},
                      HexRow{"only_one_prefix_dropped", "0x0x1", false, 0},
                      HexRow{"last_eight_digits_count", "123456789", true, 0x23456789},
                      HexRow{"letter_past_f", "1G", false, 0},
                      HexRow{"space_is_not_hex", "12 34", false, 0},
                      HexRow{"sign_is_not_hex", "-1", false, 0},
                      HexRow{"non_ascii_byte", "1\xC0", false, 0},
                      HexRow{"max", "FFFFFFFF", true, 0xFFFFFFFFu}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FormatAddress, PadsToSixAndGrowsBeyond) {
  EXPECT_EQ(quillet::FormatAddress(0), "000000");
  EXPECT_EQ(quillet::FormatAddress(0x1A0000), "1A0000");
  EXPECT_EQ(quillet::FormatAddress(0x1000010), "1000010");
  EXPECT_EQ(quillet::FormatAddress(0xFFFFFFFFu), "FFFFFFFF");
}

class AddressFilterTest : public ::testing::Test {
 protected:
  void TearDown() override { g_addrFilter.clear(); }
};

TEST_F(AddressFilterTest, EmptyListFiltersNothing) {
  EXPECT_FALSE(IsAddressFiltered(0));
  EXPECT_FALSE(IsAddressFiltered(0xFFFFFFFFu));
}

TEST_F(AddressFilterTest, BoundsAreInclusiveAndUnsigned) {
  g_addrFilter = {{0x1A0000, 0x1AFFFF}, {0x80000000u, 0xFFFFFFFFu}, {0x10, 0x10}};
  EXPECT_TRUE(IsAddressFiltered(0x1A0000));
  EXPECT_TRUE(IsAddressFiltered(0x1AFFFF));
  EXPECT_FALSE(IsAddressFiltered(0x19FFFF));
  EXPECT_FALSE(IsAddressFiltered(0x1B0000));
  EXPECT_TRUE(IsAddressFiltered(0x90000000u));
  EXPECT_TRUE(IsAddressFiltered(0x10));
  EXPECT_FALSE(IsAddressFiltered(0x11));
  EXPECT_FALSE(IsAddressFiltered(0x0F));
}

TEST_F(AddressFilterTest, OverlapsAnswerAsTheirUnion) {
  g_addrFilter = {{0x100, 0x1FF}, {0x100, 0x1FF}, {0x180, 0x2FF}};
  for (std::uint32_t a = 0xF0; a < 0x310; ++a)
    EXPECT_EQ(IsAddressFiltered(a), a >= 0x100 && a <= 0x2FF) << std::hex << a;
}

}  // namespace
