#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/platform/file_error.h"
#include "core/platform/local_time.h"
#include "core/search/patch_check.h"
#include "core/vkp/vkp_reader.h"
#include "core/vkp/vkp_text.h"
#include "tests/support/compare_lines.h"
#include "tests/support/temp_dir.h"

using quillet::CheckPatch;
using quillet::PATCH_INSTALLED;
using quillet::PATCH_NOT_INSTALLED;

namespace {

using Bytes = std::vector<std::uint8_t>;
using quillet::testing::ReadBytes;
using quillet::testing::TempDir;

// Writes the bytes as the named file in the folder and returns its path.
std::string Put(const TempDir& folder, const std::string& name, std::string_view bytes) {
  quillet::testing::WriteBytes(folder / name, bytes);
  return folder / name;
}

void SetModificationTime(const std::string& path, std::time_t when) {
  const timespec times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

struct LineRow {
  const char* name;
  std::uint32_t address;
  Bytes oldBytes;
  Bytes newBytes;
  const char* line;
};

class VkpDataLine : public ::testing::TestWithParam<LineRow> {};

TEST_P(VkpDataLine, HasTheWrittenForm) {
  const LineRow& row = GetParam();
  std::string text = "kept";
  quillet::AppendDataLine(text, row.address, row.oldBytes.data(), row.newBytes.data(), row.oldBytes.size());
  EXPECT_EQ(text, std::string("kept") + row.line);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, VkpDataLine,
    ::testing::Values(LineRow{"two_bytes", 0x0A1B2C, {0x00, 0xFF}, {0x12, 0x34}, "0A1B2C: 00FF 1234\r\n"},
                      LineRow{"address_zero_padded_to_six", 0, {0xAB}, {0xCD}, "000000: AB CD\r\n"},
                      LineRow{"seven_digits_above_16_mib", 0x1000000, {0x01}, {0x02}, "1000000: 01 02\r\n"},
                      LineRow{"top_address", 0xFFFFFFFF, {0x0F}, {0xF0}, "FFFFFFFF: 0F F0\r\n"},
                      LineRow{"sixteen_bytes",
                              0x10,
                              {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
                              {0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE,
                               0xFF},
                              "000010: 000102030405060708090A0B0C0D0E0F F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VkpHeader, BothImagesGiveSevenLines) {
  TempDir folder;
  const std::string original = Put(folder, "orig.bin", std::string(1234, 'x'));
  const std::string current = Put(folder, "Текущий образ.bin", "");
  SetModificationTime(original, 1700000000);
  SetModificationTime(current, 946684800);
  EXPECT_EQ(quillet::ComposeComparisonHeader(original, current), ";Оригинальный Full Flash: " + original +
                                                                     "\r\n"
                                                                     ";Размер: 1234 байт\r\n"
                                                                     ";Дата модификации: " +
                                                                     quillet::FormatLocalTime(1700000000) +
                                                                     "\r\n"
                                                                     ";Текущий Full Flash: " +
                                                                     current +
                                                                     "\r\n"
                                                                     ";Размер: 0 байт\r\n"
                                                                     ";Дата модификации: " +
                                                                     quillet::FormatLocalTime(946684800) +
                                                                     "\r\n"
                                                                     "\r\n");
}

TEST(VkpHeader, ImageThatCantBeOpenedGivesItsNameLineAlone) {
  TempDir folder;
  const std::string present = Put(folder, "present.bin", "ab");
  const std::string missing = (folder / "missing.bin");
  const std::string originalMissing = quillet::ComposeComparisonHeader(missing, present);
  EXPECT_TRUE(originalMissing.starts_with(";Оригинальный Full Flash: " + missing + "\r\n;Текущий Full Flash: "));
  const std::string currentMissing = quillet::ComposeComparisonHeader(present, missing);
  EXPECT_TRUE(currentMissing.ends_with(";Текущий Full Flash: " + missing + "\r\n\r\n"));
  EXPECT_EQ(quillet::ComposeComparisonHeader(missing, missing),
            ";Оригинальный Full Flash: " + missing + "\r\n;Текущий Full Flash: " + missing + "\r\n\r\n");
}

TEST(VkpHeader, LargeSizesAreWrittenAsTheirTrueValue) {
  TempDir folder;
  const std::string small = Put(folder, "small.bin", "a");
  struct Row {
    const char* name;
    std::uint64_t size;
    const char* text;
  };
  for (const Row& row :
       {Row{"two_gib", std::uint64_t{1} << 31, "2147483648"}, Row{"three_gib", std::uint64_t{3} << 30, "3221225472"},
        Row{"over_four_gib", (std::uint64_t{1} << 32) + 1, "4294967297"}}) {
    SCOPED_TRACE(row.name);
    const std::string big = Put(folder, row.name, "");
    if (::truncate(big.c_str(), static_cast<off_t>(row.size)) != 0) GTEST_SKIP() << "no sparse files";
    const std::string header = quillet::ComposeComparisonHeader(small, big);
    EXPECT_NE(header.find(";Размер: " + std::string(row.text) + " байт\r\n"), std::string::npos) << header;
    ::unlink(big.c_str());
  }
}

// Data lines the saved bytes hold, as the .vkp reader finds them.
std::vector<std::uint32_t> DataAddresses(std::string_view saved) {
  struct Sink {
    std::vector<std::uint32_t> addresses;
    bool Accepts(std::uint32_t address) {
      addresses.push_back(address);
      return false;
    }
    void Write(std::uint32_t, std::uint8_t) {}
  } sink;
  (void)quillet::ReadVkpText(saved, sink);
  return sink.addresses;
}

// Every break the field, another editor or the reader may honour, and bytes
// that are not UTF-8 (a lone NEL byte, an overlong LF).
TEST(VkpHeader, NoFileNameCanAddADataLine) {
  TempDir folder;
  for (const std::string& name :
       {std::string("evil\r\n000000: 00 FF\n.bin"), std::string("img\u2029000004: 00 EE ;.bin"),
        std::string("img\u2028000004: 00 EE ;.bin"), std::string("img\uFDD0000004: 00 EE\uFDD1000005: 00 EE"),
        std::string("img\u0085000004: 00 EE"),
        std::string("img\x85"
                    "000004: 00 EE\xC0\x8A"
                    "000005: 00 EE")}) {
    SCOPED_TRACE(name);
    const std::string path = Put(folder, name, "zz");
    const std::string header = quillet::ComposeComparisonHeader(path, folder / "missing\u2029000006: 00 EE");
    const auto lines = quillet::SplitEditLines(header);
    EXPECT_EQ(lines.size(), 3u + 1u + 2u);  // both name lines, one size and date, the empty line, the last one
    for (const std::string& line : lines) EXPECT_TRUE(line.empty() || line.starts_with(";")) << line;
    const quillet::SavedLines saved = quillet::EncodeSavedLines(lines);
    ASSERT_FALSE(saved.refused);
    EXPECT_EQ(DataAddresses(saved.bytes), std::vector<std::uint32_t>{});
    EXPECT_EQ(DataAddresses(quillet::EncodeSavedHeader(header)), std::vector<std::uint32_t>{});
  }
}

struct SplitRow {
  const char* name;
  const char* text;
  std::vector<std::string> lines;
};

class VkpSplitEditLines : public ::testing::TestWithParam<SplitRow> {};

TEST_P(VkpSplitEditLines, CountsLinesAsAnEditControl) {
  EXPECT_EQ(quillet::SplitEditLines(GetParam().text), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, VkpSplitEditLines,
    ::testing::Values(SplitRow{"empty_text_is_one_empty_line", "", {""}}, SplitRow{"no_break", "abc", {"abc"}},
                      SplitRow{"final_break_gives_empty_last_line", "a\r\n", {"a", ""}},
                      SplitRow{"bare_lf_ends_a_line", "a\nb", {"a", "b"}},
                      SplitRow{"empty_line_kept", "a\r\n\r\nb", {"a", "", "b"}},
                      SplitRow{"two_final_breaks", "a\r\n\r\n", {"a", "", ""}},
                      SplitRow{"lone_cr_stays_in_the_line", "a\rb\r\n", {"a\rb", ""}},
                      SplitRow{"field_breaks", "a\u2028b\u2029c\uFDD0d\uFDD1\r\n", {"a", "b", "c", "d", "", ""}},
                      SplitRow{"cut_break_is_text", "a\xE2\x80", {"a\xE2\x80"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VkpEncode, RussianHeaderIsWindows1251AndEveryLineEndsWithCrLf) {
  const quillet::SavedLines saved = quillet::EncodeSavedLines({";Оригинальный Full Flash: /a", "000010: 00 FF", ""});
  EXPECT_FALSE(saved.refused);
  EXPECT_EQ(saved.bytes,
            ";\xCE\xF0\xE8\xE3\xE8\xED\xE0\xEB\xFC\xED\xFB\xE9 Full Flash: /a\r\n"
            "000010: 00 FF\r\n"
            "\r\n");
}

// A character the code page lacks is never written as '?': the save is refused
// before the file is touched, naming the first such character and its line.
TEST(VkpEncode, CharacterOutsideTheCodePageRefusesTheSave) {
  struct Row {
    std::vector<std::string> lines;
    char32_t character;
    std::size_t line;
  };
  for (const Row& row : {Row{{"ok", "", ";/tmp/中日.bin"}, 0x4E2D, 3}, Row{{"a\u2028b"}, 0x2028, 1},
                         Row{{"x", "\xFF"}, 0xFFFD, 2}, Row{{"\U0001F600"}, 0x1F600, 1}}) {
    const quillet::SavedLines saved = quillet::EncodeSavedLines(row.lines);
    ASSERT_TRUE(saved.refused);
    EXPECT_EQ(saved.refused->character, row.character);
    EXPECT_EQ(saved.refused->line, row.line);
    EXPECT_EQ(saved.bytes, "");
  }
  TempDir folder;
  const std::string target = Put(folder, "out.vkp", "keep");
  try {
    quillet::SaveComparisonText(target, {"a", "b", "c", "d", "中"});
    ADD_FAILURE() << "saved";
  } catch (const quillet::UnencodableText& error) {
    EXPECT_EQ(error.Where().character, 0x4E2Du);
    EXPECT_EQ(error.Where().line, 5u);
  }
  EXPECT_EQ(ReadBytes(target), "keep");
}

TEST(VkpSave, WritesTheEncodedLinesAndReplacesAnExistingFile) {
  TempDir folder;
  const std::string target = Put(folder, "out.vkp", "old content");
  quillet::SaveComparisonText(target, {";Размер: 5 байт", "000000: 00 01", ""});
  EXPECT_EQ(ReadBytes(target), ";\xD0\xE0\xE7\xEC\xE5\xF0: 5 \xE1\xE0\xE9\xF2\r\n000000: 00 01\r\n\r\n");
}

TEST(VkpSave, FailureRaisesAFileErrorNamingTheTarget) {
  TempDir folder;
  const std::string missingFolder = (folder / "no-such-folder/out.vkp");
  try {
    quillet::SaveComparisonText(missingFolder, {"x"});
    ADD_FAILURE() << "no error";
  } catch (const quillet::FileError& error) {
    EXPECT_EQ(error.Path(), missingFolder);
    EXPECT_NE(std::string(error.what()).find(missingFolder), std::string::npos);
  }
}

TEST(VkpSave, ThroughALinkTheLinkIsKeptAndItsFileReplaced) {
  TempDir folder;
  const std::string real = Put(folder, "real.vkp", "old");
  const std::string link = (folder / "link.vkp");
  ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
  quillet::SaveComparisonText(link, {"x"});
  struct stat st {};
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadBytes(real), "x\r\n");
}

TEST(VkpSave, PipeIsWrittenToNotReplaced) {
  TempDir folder;
  const std::string fifo = (folder / "pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = ReadBytes(fifo); });
  quillet::SaveComparisonText(fifo, {"a", ""});
  reader.join();
  EXPECT_EQ(received, "a\r\n\r\n");
  struct stat st {};
  ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A saved comparison, read back as a patch against the current image, is
// installed; against the original image (where something differs) it is not.
TEST(VkpRoundTrip, SavedComparisonIsInstalledInTheCurrentImage) {
  TempDir folder;
  std::mt19937 random(4242);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::uint32_t size = 16 + random() % 20000;
    Bytes original(size);
    for (auto& b : original) b = static_cast<std::uint8_t>(random());
    Bytes current = original;
    const int changes = 1 + static_cast<int>(random() % 60);
    for (int c = 0; c < changes; ++c) {
      const std::uint32_t at = random() % size;
      const auto end = std::min<std::uint64_t>(size, at + 1 + random() % 24);
      for (std::uint32_t i = at; i < end; ++i)
        current[i] = static_cast<std::uint8_t>(current[i] ^ (1 + random() % 255));
    }
    const std::string originalPath = Put(folder, round % 2 ? "Оригинал №1.bin" : "orig; # : 1234.bin",
                                         std::string_view(reinterpret_cast<const char*>(original.data()), size));
    const std::string currentPath = Put(folder, round % 3 ? "текущий\nобраз.bin" : "cur\u2029000004: 00 EE ;.bin",
                                        std::string_view(reinterpret_cast<const char*>(current.data()), size));

    std::string text = quillet::ComposeComparisonHeader(originalPath, currentPath);
    text += quillet::testing::CompareLines(original.data(), current.data(), size);
    const std::string patch = (folder / "diff.vkp");
    quillet::SaveComparisonText(patch, quillet::SplitEditLines(text));

    Bytes work(size);
    EXPECT_EQ(CheckPatch(patch, current.data(), work.data(), size, {}), PATCH_INSTALLED);
    EXPECT_EQ(CheckPatch(patch, original.data(), work.data(), size, {}), PATCH_NOT_INSTALLED);
  }
}

}  // namespace
