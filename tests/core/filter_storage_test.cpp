#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/filter/address_filter.h"
#include "core/filter/filter_storage.h"
#include "core/platform/file_error.h"
#include "core/vkp/hex_string.h"
#include "tests/support/temp_dir.h"

using quillet::AddressFilter;
using quillet::AddressRange;
using quillet::LoadAddressFilter;

namespace {

using quillet::FilterRowText;
using quillet::testing::ReadBytes;
using quillet::testing::TempDir;
using quillet::testing::WriteBytes;

// Ranges as "start-end,start-end" in the program's own hex, so a failure reads
// like the settings file.
std::string Describe(const std::vector<AddressRange>& ranges) {
  std::string text;
  for (const AddressRange& range : ranges) {
    if (!text.empty()) text += ',';
    text += quillet::FormatAddress(range.start) + "-" + quillet::FormatAddress(range.end);
  }
  return text;
}

std::string Describe(const std::optional<AddressRange>& range) {
  return range ? Describe(std::vector<AddressRange>{*range}) : "skipped";
}

struct ParseRow {
  const char* name;
  std::string value;
  const char* expected;
};

class ParseFilterValueTest : public ::testing::TestWithParam<ParseRow> {};

TEST_P(ParseFilterValueTest, ReadsAsTheLoaderDoes) {
  EXPECT_EQ(Describe(quillet::ParseFilterValue(GetParam().value)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, ParseFilterValueTest,
                         ::testing::Values(ParseRow{"as_written", "1A0000 1AFFFF", "1A0000-1AFFFF"},
                                           ParseRow{"larger_first_is_swapped", "1AFFFF 1A0000", "1A0000-1AFFFF"},
                                           ParseRow{"prefixes", "0x1000 0X2000", "001000-002000"},
                                           ParseRow{"lower_case", "1a0000 1affff", "1A0000-1AFFFF"},
                                           ParseRow{"leading_space_and_tail", "   1000   2000 more words",
                                                    "001000-002000"},
                                           ParseRow{"leading_tab", "\t1000 2000", "001000-002000"},
                                           ParseRow{"one_word_starts_at_zero", "1000", "000000-001000"},
                                           ParseRow{"trailing_spaces_one_word", "1000   ", "000000-001000"},
                                           ParseRow{"comma_makes_one_bad_word", "1000,2000", "skipped"},
                                           ParseRow{"tab_makes_one_bad_word", "1000\t2000", "skipped"},
                                           ParseRow{"bad_second_word", "1000 20G0", "skipped"},
                                           ParseRow{"bad_tail_ignored", "1000 2000 zzz", "001000-002000"},
                                           ParseRow{"last_eight_digits", "123456789 123456790", "23456789-23456790"},
                                           ParseRow{"prefix_alone_is_zero", "0x 10", "000000-000010"},
                                           ParseRow{"equal_ends", "10 10", "000010-000010"},
                                           ParseRow{"top_of_range", "FFFFFFFF 80000000", "80000000-FFFFFFFF"},
                                           ParseRow{"blank_is_not_an_entry", "   ", "skipped"},
                                           ParseRow{"nul_byte_is_not_hex", std::string("10\0 20", 6), "skipped"}),
                         [](const auto& info) { return std::string(info.param.name); });

class FilterFileTest : public ::testing::Test {
 protected:
  AddressFilter m_filter;
  TempDir m_dir;
  std::string m_file = m_dir / "quillet.INI";
};

struct ReadRow {
  const char* name;
  std::string file;
  const char* expected;
};

class ReadAddressFilterTest : public FilterFileTest, public ::testing::WithParamInterface<ReadRow> {};

TEST_P(ReadAddressFilterTest, LoadsTheSection) {
  WriteBytes(m_file, GetParam().file);
  EXPECT_EQ(Describe(quillet::ReadAddressFilter(m_file)), GetParam().expected);
}

std::string Section(const std::string& keys) { return "[Address Filter]\n" + keys; }

INSTANTIATE_TEST_SUITE_P(
    Rows, ReadAddressFilterTest,
    ::testing::Values(
        ReadRow{"swapped_pair", Section("0=1AFFFF 1A0000\n"), "1A0000-1AFFFF"},
        ReadRow{"prefixes_and_lower_case", Section("0=0x1000 0X2000\n1=1a0000 1affff\n"),
                "001000-002000,1A0000-1AFFFF"},
        ReadRow{"leading_spaces_and_tail", Section("0=   1000   2000 and more\n"), "001000-002000"},
        ReadRow{"one_word", Section("0=1000\n"), "000000-001000"},
        ReadRow{"comma_entry_skipped_next_read", Section("0=1000,2000\n1=3 4\n"), "000003-000004"},
        ReadRow{"tab_entry_skipped_next_read", Section("0=1000\t2000\n1=3 4\n"), "000003-000004"},
        ReadRow{"gap_ends_the_list", Section("0=1 2\n1=3 4\n3=5 6\n"), "000001-000002,000003-000004"},
        ReadRow{"bad_first_entry_skipped", Section("0=nothex\n1=10 20\n"), "000010-000020"},
        ReadRow{"empty_key_zero_ends_all", Section("0=\n1=10 20\n"), ""},
        ReadRow{"blank_key_zero_ends_all", Section("0=    \n1=10 20\n"), ""},
        ReadRow{"last_eight_digits", Section("0=123456789 123456790\n"), "23456789-23456790"},
        ReadRow{"duplicates_kept", Section("0=10 20\n1=10 20\n"), "000010-000020,000010-000020"},
        ReadRow{"overlaps_kept_in_key_order", Section("1=15 30\n0=10 20\n"), "000010-000020,000015-000030"},
        ReadRow{"cut_inside_second_word", Section("0=1 " + std::string(256, ' ') + "2345\n"), "000001-000002"},
        ReadRow{"cut_turns_two_words_into_one", Section("0=" + std::string(258, '0') + "1F 2\n"), "000000-000001"},
        ReadRow{"quoted_value", Section("0=\"10 20\"\n"), "000010-000020"},
        ReadRow{"first_of_equal_keys_wins", Section(" 1 = 3 4\n0=1 2\n1=5 6\n"), "000001-000002,000003-000004"},
        ReadRow{"keys_named_otherwise_are_not_n", Section("00=1 2\n+1=3 4\n0=5 6\n1a=7 8\n"), "000005-000006"},
        ReadRow{"section_ends_at_any_header", Section("0=1 2\n[Other]\n1=3 4\n[address filter]\n1=5 6\n"),
                "000001-000002"},
        ReadRow{"section_name_case", "[ADDRESS FILTER]\r\n0=10 20\r\n", "000010-000020"},
        ReadRow{"no_section", "[Other]\n0=10 20\n", ""}, ReadRow{"empty_file", "", ""},
        ReadRow{"binary_junk", std::string("\0\xFF[\x01=\n\n=", 9), ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct WriteRow {
  const char* name;
  std::string before;
  std::vector<FilterRowText> rows;
  std::string after;
};

class WriteAddressFilterTest : public FilterFileTest, public ::testing::WithParamInterface<WriteRow> {};

TEST_P(WriteAddressFilterTest, WritesRowsAndCleansUpToTheFirstGap) {
  const WriteRow& row = GetParam();
  WriteBytes(m_file, row.before);
  ASSERT_TRUE(quillet::WriteAddressFilter(m_file, row.rows));
  EXPECT_EQ(ReadBytes(m_file), row.after);
}

const std::vector<FilterRowText> kTwoRows = {{"001000", "002000"}, {"1A0000", "1AFFFF"}};

INSTANTIATE_TEST_SUITE_P(
    Rows, WriteAddressFilterTest,
    ::testing::Values(
        WriteRow{"two_rows_over_five_keys", Section("0=a\n1=b\n2=c\n3=d\n4=e\n"), kTwoRows,
                 Section("0=001000 002000\n1=1A0000 1AFFFF\n")},
        WriteRow{"empty_key_three_stops_clean_up", Section("0=a\n1=b\n2=c\n3=\n4=e\n"), kTwoRows,
                 Section("0=001000 002000\n1=1A0000 1AFFFF\n3=\n4=e\n")},
        WriteRow{"blank_key_stops_clean_up",
                 Section("0=a\n1=b\n2=  \n3=d\n"),
                 {{"000010", "000020"}},
                 Section("0=000010 000020\n2=  \n3=d\n")},
        WriteRow{"no_rows_deletes_up_to_gap", Section("0=a\n1=b\n3=d\n"), {}, Section("3=d\n")},
        WriteRow{"keeps_other_content_and_crlf",
                 "; hand-written\r\n[Window]\r\nx=1\r\n\r\n[Address Filter]\r\n0=old\r\n\r\n[Tail]\r\ny=2\r\n",
                 kTwoRows,
                 "; hand-written\r\n[Window]\r\nx=1\r\n\r\n[Address Filter]\r\n0=001000 002000\r\n"
                 "1=1A0000 1AFFFF\r\n\r\n[Tail]\r\ny=2\r\n"},
        WriteRow{"later_duplicates_of_written_keys_go",
                 Section("0=a\n0=b\n1=c\n0=d\n"),
                 {{"000010", "000020"}},
                 Section("0=000010 000020\n")},
        WriteRow{"deleted_key_leaves_no_duplicate_to_resurface", Section("0=bad\n0=10 20\n"), {}, Section("")},
        WriteRow{"section_added_to_other_settings",
                 "[Window]\nx=1\n",
                 {{"1000000", "1000010"}},
                 "[Window]\nx=1\n\n[Address Filter]\n0=1000000 1000010\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FilterFileTest, WrittenRowsLoadBackInOrder) {
  ASSERT_TRUE(quillet::WriteAddressFilter(m_file, kTwoRows));
  EXPECT_EQ(ReadBytes(m_file), Section("0=001000 002000\n1=1A0000 1AFFFF\n"));
  ASSERT_TRUE(LoadAddressFilter(m_file, m_filter));
  EXPECT_EQ(Describe(m_filter.Ranges()), "001000-002000,1A0000-1AFFFF");
}

TEST_F(FilterFileTest, NoRowsAndNoFileCreatesNoFile) {
  ASSERT_TRUE(quillet::WriteAddressFilter(m_file, {}));
  EXPECT_FALSE(std::filesystem::exists(m_file));
}

TEST_F(FilterFileTest, FailedWriteReportsAndChangesNothing) {
  const std::string before = Section("0=10 20\n1=30 40\n");
  WriteBytes(m_file, before);
  EXPECT_FALSE(quillet::WriteAddressFilter(m_file, {{"000001", "000002"}, {"bad\n[X]", "000004"}}));
  EXPECT_EQ(ReadBytes(m_file), before) << "a half-written filter must not reach the disk";

  EXPECT_FALSE(quillet::WriteAddressFilter(m_dir / "missing/quillet.INI", kTwoRows));
  ASSERT_TRUE(std::filesystem::create_directory(m_dir / "dir.INI"));
  EXPECT_FALSE(quillet::WriteAddressFilter(m_dir / "dir.INI", kTwoRows));
}

TEST_F(FilterFileTest, LoadReplacesTheListAndKeepsItWhenTheFileCantBeRead) {
  m_filter = {{1, 2}};
  EXPECT_TRUE(LoadAddressFilter(m_dir / "absent.INI", m_filter)) << "no file is no filter, not an error";
  EXPECT_TRUE(m_filter.empty());

  WriteBytes(m_file, Section("0=10 20\n"));
  m_filter = {{1, 2}, {3, 4}};
  ASSERT_TRUE(LoadAddressFilter(m_file, m_filter));
  EXPECT_EQ(Describe(m_filter.Ranges()), "000010-000020");

  ASSERT_TRUE(std::filesystem::create_directory(m_dir / "dir.INI"));
  EXPECT_FALSE(LoadAddressFilter(m_dir / "dir.INI", m_filter));
  EXPECT_EQ(Describe(m_filter.Ranges()), "000010-000020");
  EXPECT_THROW((void)quillet::ReadAddressFilter(m_dir / "dir.INI"), quillet::FileError);
}

}  // namespace
