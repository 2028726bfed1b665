#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/vkp/vkp_reader.h"

namespace {

using quillet::VkpError;
using Writes = std::map<std::uint32_t, std::uint8_t>;

// Takes what the reader writes into an image of `size` bytes, last write wins.
struct RecordingSink {
  std::uint32_t size = 0x300000;
  Writes writes;
  std::vector<std::uint32_t> asked;
  bool Accepts(std::uint32_t address) {
    asked.push_back(address);
    return address < size;
  }
  void Write(std::uint32_t address, std::uint8_t value) { writes[address] = value; }
};

std::string Hex(std::uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%X", value);
  return buffer;
}

std::string Describe(const Writes& writes) {
  std::string text;
  for (const auto& [address, value] : writes) text += Hex(address) + "=" + Hex(value) + " ";
  return text;
}

struct LineRow {
  const char* name;
  std::string text;
  VkpError error;  // none: the file reads to its end
  Writes writes;   // what was written, also before an invalid line
  std::uint32_t size = 0x300000;
};

void PrintTo(const LineRow& row, std::ostream* os) { *os << row.name; }

class VkpLineTable : public ::testing::TestWithParam<LineRow> {};

TEST_P(VkpLineTable, WritesAndValidity) {
  const LineRow& row = GetParam();
  RecordingSink sink;
  sink.size = row.size;
  const quillet::VkpReadResult result = quillet::ReadVkpText(row.text, sink);
  EXPECT_EQ(result.error, row.error);
  EXPECT_EQ(Describe(sink.writes), Describe(row.writes));
}

const std::string kBom = "\xEF\xBB\xBF";

INSTANTIATE_TEST_SUITE_P(
    Lines, VkpLineTable,
    ::testing::Values(
        LineRow{"no_space_after_colon", "1234:AB", VkpError::none, {{0x1234, 0xAB}}},
        LineRow{"spaces_and_tabs_around_address_and_colon", " \t 1234 \t:\t AB", VkpError::none, {{0x1234, 0xAB}}},
        LineRow{"first_of_two_fields_is_old_bytes", "1234: AB CD", VkpError::none, {{0x1234, 0xCD}}},
        LineRow{"third_field_ignored", "1234: AB CD EF", VkpError::none, {{0x1234, 0xCD}}},
        LineRow{"old_field_never_tested", "1234: ZZ CD", VkpError::none, {{0x1234, 0xCD}}},
        LineRow{"old_field_length_free", "1234: 00 CDEF", VkpError::none, {{0x1234, 0xCD}, {0x1235, 0xEF}}},
        LineRow{"third_field_not_tested", "1234: AB CD Z!", VkpError::none, {{0x1234, 0xCD}}},
        LineRow{"odd_length_last_digit_alone", "1234: ABC", VkpError::none, {{0x1234, 0xAB}, {0x1235, 0x0C}}},
        LineRow{"lone_digit_is_low_nibble", "1234: A", VkpError::none, {{0x1234, 0x0A}}},
        LineRow{"case_and_prefix_do_not_matter", "0x1234: ab", VkpError::none, {{0x1234, 0xAB}}},
        LineRow{"nothing_after_colon", "1234:", VkpError::none, {}},
        LineRow{"empty_address_is_offset", "+10\n: AB", VkpError::none, {{0x10, 0xAB}}},
        LineRow{"empty_address_is_zero", ": AB", VkpError::none, {{0x0, 0xAB}}},
        LineRow{"semicolon_comment", "1234: AB ; note 12X4 no colon", VkpError::none, {{0x1234, 0xAB}}},
        LineRow{"hash_comment", "1234: AB # note", VkpError::none, {{0x1234, 0xAB}}},
        LineRow{"comment_cuts_at_whichever_first", "1234: AB #x; CD", VkpError::none, {{0x1234, 0xAB}}},
        LineRow{"no_colon_is_broken", "1234 AB CD", VkpError::noColon, {}},
        LineRow{"minus_line_is_broken", "-1234", VkpError::noColon, {}},
        LineRow{"minus_address_is_broken", "-1234: AB", VkpError::badAddress, {}},
        LineRow{"bad_address", "12X4: AB", VkpError::badAddress, {}},
        LineRow{"colon_sought_this_far_after_a_bad_address",
                "X" + std::string(4094, '\0') + ": AB",
                VkpError::badAddress,
                {}},
        LineRow{"and_no_further", "X" + std::string(4095, '\0') + ": AB", VkpError::badAddressOrNoColon, {}},
        LineRow{"bad_pair_inside_image", "1234: ABCX", VkpError::badByte, {{0x1234, 0xAB}}},
        LineRow{"bad_pair_beyond_image_untested", "1234: ABCX", VkpError::none, {{0x1234, 0xAB}}, 0x1235},
        LineRow{"offset_applies", "+100000\n1234: AB", VkpError::none, {{0x101234, 0xAB}}},
        LineRow{"offset_replaces", "+100000\n+200000\n1234: AB", VkpError::none, {{0x201234, 0xAB}}},
        LineRow{"plus_alone_resets", "+100000\n+\n1234: AB", VkpError::none, {{0x1234, 0xAB}}},
        LineRow{"plus_space_digits_resets", "+100000\n+ 55\n1234: AB", VkpError::none, {{0x1234, 0xAB}}},
        LineRow{"offset_tail_ignored", "+100 anything\n1: AB", VkpError::none, {{0x101, 0xAB}}},
        LineRow{"offset_lower_case_prefix", "+0x100\n1: AB", VkpError::none, {{0x101, 0xAB}}},
        LineRow{"indented_offset", " \t+100\n1: AB", VkpError::none, {{0x101, 0xAB}}},
        LineRow{"bad_offset", "+10000G\n1234: AB", VkpError::badOffset, {}},
        LineRow{"offset_wraps", "+FFFFFFFF\n2: CC", VkpError::none, {{0x1, 0xCC}}},
        LineRow{"address_keeps_last_eight_digits", "100001234: AB", VkpError::none, {{0x1234, 0xAB}}},
        LineRow{"bytes_wrap_past_ffffffff", "FFFFFFFF: 11BB", VkpError::none, {{0x0, 0xBB}}},
        LineRow{"pair_0x_is_zero", "1234: 0xAB", VkpError::none, {{0x1234, 0x00}, {0x1235, 0xAB}}},
        LineRow{"runs_of_spaces_and_tabs", "1234:  \t AB \t\t CD", VkpError::none, {{0x1234, 0xCD}}},
        LineRow{"vertical_tab_is_no_separator", "1234: AB\vCD", VkpError::badByte, {{0x1234, 0xAB}}},
        LineRow{"nul_is_an_ordinary_character", std::string("1234: A\0B", 9), VkpError::badByte, {}},
        LineRow{"non_ascii_not_upper_cased_into_hex", "1234: \xE1\xE2", VkpError::badByte, {}},
        LineRow{"later_write_wins", "1234: 11\n1234: 22", VkpError::none, {{0x1234, 0x22}}},
        LineRow{"empty_file", "", VkpError::none, {}},
        LineRow{"comments_and_blank_lines", "; a\n\n  # b\n\t\r\n", VkpError::none, {}},
        LineRow{"byte_order_mark_breaks_data_line", kBom + "1234: AB", VkpError::badAddress, {}},
        LineRow{"byte_order_mark_breaks_comment_line", kBom + "; comment\n1234: AB", VkpError::noColon, {}},
        LineRow{"nothing_after_invalid_line", "1234: AB\nXYZ\n1235: CD\n+G", VkpError::noColon, {{0x1234, 0xAB}}},
        LineRow{"crlf_lines", "1234: AB\r\n1235: CD\r\n", VkpError::none, {{0x1234, 0xAB}, {0x1235, 0xCD}}},
        LineRow{"last_line_without_line_end", "1234: AB\n1235: CD", VkpError::none, {{0x1234, 0xAB}, {0x1235, 0xCD}}},
        LineRow{"stray_cr_before_crlf_is_white_space", "1234: AB\r\r\n", VkpError::none, {{0x1234, 0xAB}}},
        LineRow{"cr_alone_does_not_end_a_line", "1234: AB\r1235: CD", VkpError::none, {{0x1234, 0xCD}}},
        LineRow{"ctrl_z_ends_the_file", "1234: AB\n\x1A\nno colon here", VkpError::none, {{0x1234, 0xAB}}},
        LineRow{"cr_at_end_of_file_is_white_space", "1234: AB\r", VkpError::none, {{0x1234, 0xAB}}},
        LineRow{"vt_ff_cr_trimmed_at_both_ends", "\v\f\r 1234: AB \r\f\v", VkpError::none, {{0x1234, 0xAB}}},
        LineRow{"ctrl_z_first", std::string("\x1A") + "1234: AB", VkpError::none, {}},
        LineRow{"ctrl_z_mid_line",
                "1234: AB\x1A"
                "CD",
                VkpError::none,
                {{0x1234, 0xAB}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VkpReader, InvalidLineNumberIsReported) {
  RecordingSink sink;
  const auto result = quillet::ReadVkpText("; header\r\n\r\n1234: AB\r\n12X4: 00\r\nXYZ\r\n", sink);
  EXPECT_EQ(result.error, VkpError::badAddress);
  EXPECT_EQ(result.line, 4u);
}

// The check must never test or even look at a pair it does not write: the sink's
// answer decides, address by address.
TEST(VkpReader, PairsAreTestedOnlyWhenAccepted) {
  struct RejectOdd {
    Writes writes;
    bool Accepts(std::uint32_t address) const { return address % 2 == 0; }
    void Write(std::uint32_t address, std::uint8_t value) { writes[address] = value; }
  } sink;
  const auto result = quillet::ReadVkpText("10: 11ZZ33ZZ55", sink);
  EXPECT_TRUE(result.Ok());
  EXPECT_EQ(Describe(sink.writes), Describe({{0x10, 0x11}, {0x12, 0x33}, {0x14, 0x55}}));
}

TEST(VkpReader, AsksForEveryPositionInOrderAcrossTheWrap) {
  RecordingSink sink;
  sink.size = 0;
  EXPECT_TRUE(quillet::ReadVkpText("FFFFFFFE: ZZZZZZZZ", sink).Ok());
  EXPECT_EQ(sink.asked, (std::vector<std::uint32_t>{0xFFFFFFFEu, 0xFFFFFFFFu, 0u, 1u}));
}

TEST(VkpReader, VeryLongLineIsReadWhole) {
  constexpr std::size_t kBytes = 3u << 20;
  std::string text = "; " + std::string(kBytes, 'x') + "\n10:";
  text.reserve(text.size() + 2 * kBytes + 8);
  for (std::size_t i = 0; i < kBytes; ++i) text += "A5";
  text += "C\n";
  RecordingSink sink;
  sink.size = 0x10 + kBytes + 1;
  ASSERT_TRUE(quillet::ReadVkpText(text, sink).Ok());
  ASSERT_EQ(sink.writes.size(), kBytes + 1);
  EXPECT_EQ(sink.writes.begin()->second, 0xA5);
  EXPECT_EQ(sink.writes.rbegin()->first, 0x10 + kBytes);
  EXPECT_EQ(sink.writes.rbegin()->second, 0x0C);
}

}  // namespace
