#include <gtest/gtest.h>

#include "core/filter/address_filter.h"
#include "core/vkp/hex_string.h"
#include "tools/split_mix.h"

using quillet::AddressFilter;
using quillet::AddressRange;
using quillet::HexStringToInt;
using quillet::IsHexString;

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
    ::testing::Values(HexRow{"empty_is_hex_zero", "", true, 0}, HexRow{"prefix_alone_is_hex_zero", "0x", true, 0},
                      HexRow{"upper_prefix", "0X1A", true, 0x1A}, HexRow{"lower_digits", "1affff", true, 0x1AFFFF},
                      HexRow{"only_one_prefix_dropped", "0x0x1", false, 0},
                      HexRow{"last_eight_digits_count", "123456789", true, 0x23456789},
                      HexRow{"letter_past_f", "1G", false, 0}, HexRow{"space_is_not_hex", "12 34", false, 0},
                      HexRow{"sign_is_not_hex", "-1", false, 0}, HexRow{"non_ascii_byte", "1\xC0", false, 0},
                      HexRow{"max", "FFFFFFFF", true, 0xFFFFFFFFu}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FormatAddress, PadsToSixAndGrowsBeyond) {
  EXPECT_EQ(quillet::FormatAddress(0), "000000");
  EXPECT_EQ(quillet::FormatAddress(0x1A0000), "1A0000");
  EXPECT_EQ(quillet::FormatAddress(0x1000010), "1000010");
  EXPECT_EQ(quillet::FormatAddress(0xFFFFFFFFu), "FFFFFFFF");
}

TEST(AddressFilterTest, EmptyListFiltersNothing) {
  const AddressFilter none;
  quillet::FilterCursor cursor(none);
  EXPECT_FALSE(cursor.IsAddressFiltered(0));
  EXPECT_FALSE(cursor.IsAddressFiltered(0xFFFFFFFFu));
}

// Asked out of order on purpose: every answer here is a step back or a jump.
TEST(AddressFilterTest, BoundsAreInclusiveAndUnsigned) {
  const AddressFilter filter{{0x1A0000, 0x1AFFFF}, {0x80000000u, 0xFFFFFFFFu}, {0x10, 0x10}};
  quillet::FilterCursor cursor(filter);
  EXPECT_TRUE(cursor.IsAddressFiltered(0x1A0000));
  EXPECT_TRUE(cursor.IsAddressFiltered(0x1AFFFF));
  EXPECT_FALSE(cursor.IsAddressFiltered(0x19FFFF));
  EXPECT_FALSE(cursor.IsAddressFiltered(0x1B0000));
  EXPECT_TRUE(cursor.IsAddressFiltered(0x90000000u));
  EXPECT_TRUE(cursor.IsAddressFiltered(0x10));
  EXPECT_FALSE(cursor.IsAddressFiltered(0x11));
  EXPECT_FALSE(cursor.IsAddressFiltered(0x0F));
  EXPECT_TRUE(cursor.IsAddressFiltered(0xFFFFFFFFu));
}

// The cursor against the plain walk over the ranges as loaded: random lists
// with overlaps, duplicates, touching ranges, the top address and many ranges
// to a bucket of the index, asked in order, backwards and at random, and once
// each by a fresh cursor.
TEST(AddressFilterTest, CursorAgreesWithAPlainWalk) {
  quillet::SplitMix64 rng(7);
  for (int round = 0; round < 300; ++round) {
    const std::uint32_t space = round % 3 == 0 ? 0xFFFFFFFFu : 600;
    std::vector<AddressRange> ranges;
    for (std::uint32_t n = rng.below(round % 5 == 0 ? 200 : 12); n > 0; --n) {
      const std::uint32_t a = rng.below(space);
      const std::uint32_t b = rng.chance(30) ? a : a + rng.below(40);
      ranges.push_back({std::min(a, b), std::max(a, b)});
      if (rng.chance(10)) ranges.push_back(ranges.back());
      if (rng.chance(10)) ranges.push_back({std::max(a, b) + 1, std::max(a, b) + 1 + rng.below(5)});
    }
    if (rng.chance(10)) ranges.push_back({0xFFFFFFF0u, 0xFFFFFFFFu});
    const AddressFilter filter(ranges);
    auto plain = [&filter](std::uint32_t address) {
      for (const AddressRange& r : filter.Ranges())
        if (address >= r.start && address <= r.end) return true;
      return false;
    };
    quillet::FilterCursor cursor(filter);
    for (int ask = 0; ask < 400; ++ask) {
      std::uint32_t address = 0;
      if (!ranges.empty() && rng.chance(60)) {
        const AddressRange& r = ranges[rng.below(static_cast<std::uint32_t>(ranges.size()))];
        address = r.start + rng.below(3) - 1 + (rng.chance(50) ? r.end - r.start : 0);
      } else {
        address = rng.below(space);
      }
      SCOPED_TRACE(::testing::Message() << "round " << round << " address " << std::hex << address);
      ASSERT_EQ(quillet::FilterCursor(filter).IsAddressFiltered(address), plain(address));
      ASSERT_EQ(cursor.IsAddressFiltered(address), plain(address));
    }
    quillet::FilterCursor walk(filter);
    for (std::uint32_t address = 0; address < 700; ++address)
      ASSERT_EQ(walk.IsAddressFiltered(address), plain(address));
  }
}

}  // namespace
