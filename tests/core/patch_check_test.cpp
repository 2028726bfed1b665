#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/filter/address_filter.h"
#include "core/platform/file_error.h"
#include "core/search/patch_check.h"
#include "core/vkp/hex_string.h"
#include "tests/support/temp_dir.h"
#include "tools/split_mix.h"

using quillet::AddressFilter;
using quillet::AddressRange;
using quillet::ApplyPatchFile;
using quillet::CheckDetails;
using quillet::CheckPatch;
using quillet::DifferingByte;
using quillet::HexStringToInt;
using quillet::OldBytesVerdict;
using quillet::PATCH_FILE_ERROR;
using quillet::PATCH_INSTALLED;
using quillet::PATCH_NOT_INSTALLED;
using quillet::PatchStatus;

namespace {

using quillet::testing::TempDir;
using quillet::testing::WriteBytes;

// The check as the format defines it: copy the whole image, write the patch
// into the copy, compare the whole image. The fast check must agree with it.
PatchStatus ReferenceCheck(const std::string& path, const std::uint8_t* current, std::uint8_t* work, std::uint32_t size,
                           const AddressFilter& filter) {
  if (size) std::memcpy(work, current, size);
  if (!ApplyPatchFile(path, work, size, filter)) return PATCH_FILE_ERROR;
  return (size == 0 || std::memcmp(work, current, size) == 0) ? PATCH_INSTALLED : PATCH_NOT_INSTALLED;
}

const char* StatusName(PatchStatus status) {
  switch (status) {
    case PATCH_NOT_INSTALLED:
      return "not-installed";
    case PATCH_INSTALLED:
      return "installed";
    case PATCH_FILE_ERROR:
      return "broken";
  }
  return "?";
}

// The text as a file in dir, for the file functions.
std::string Written(const TempDir& dir, std::string_view text) {
  WriteBytes(dir / "p.vkp", text);
  return dir / "p.vkp";
}

// A small image: zeros, with 11 22 33 44 at 100 and 5A at 0.
std::vector<std::uint8_t> SmallImage(std::uint32_t size) {
  std::vector<std::uint8_t> image(size, 0);
  const std::uint8_t known[] = {0x11, 0x22, 0x33, 0x44};
  for (std::uint32_t i = 0; i < 4 && 0x100 + i < size; ++i) image[0x100 + i] = known[i];
  if (size) image[0] = 0x5A;
  return image;
}

struct CheckRow {
  const char* name;
  std::string text;
  PatchStatus status;
  std::vector<AddressRange> filter = {};
  std::uint32_t size = 0x2000;
};

void PrintTo(const CheckRow& row, std::ostream* os) { *os << row.name; }

class PatchCheckTable : public ::testing::TestWithParam<CheckRow> {};

// Every row runs through the file functions, the fast check and the plain
// reference, twice, on one reused work buffer full of leftovers.
TEST_P(PatchCheckTable, StatusFromFile) {
  const CheckRow& row = GetParam();
  const AddressFilter filter(row.filter);
  TempDir dir;
  const std::string path = Written(dir, row.text);
  const std::vector<std::uint8_t> current = SmallImage(row.size);
  std::vector<std::uint8_t> work(row.size, 0xEE);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    EXPECT_STREQ(StatusName(CheckPatch(path, current.data(), work.data(), row.size, filter)), StatusName(row.status));
    EXPECT_STREQ(StatusName(ReferenceCheck(path, current.data(), work.data(), row.size, filter)),
                 StatusName(row.status));
  }
  EXPECT_EQ(current, SmallImage(row.size));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PatchCheckTable,
    ::testing::Values(
        CheckRow{"equal_new_bytes_installed_whatever_old", "100: DEADBEEF 11223344", PATCH_INSTALLED},
        CheckRow{"one_byte_differs", "100: 11223344 11223345", PATCH_NOT_INSTALLED},
        CheckRow{"one_of_many_lines_differs", "100: 11\n101: 22\n102: 34\n103: 44", PATCH_NOT_INSTALLED},
        CheckRow{"empty_file", "", PATCH_INSTALLED},
        CheckRow{"comments_and_blank_lines", ";Оригинальный Full Flash: x\r\n\r\n# y\r\n", PATCH_INSTALLED},
        CheckRow{"all_bytes_beyond_end", "2000: FFFF\n+10000\n0: FF", PATCH_INSTALLED},
        CheckRow{"last_byte_inside_rest_beyond", "1FFF: 00FFFF", PATCH_INSTALLED},
        CheckRow{"last_byte_inside_differs", "1FFF: 01FFFF", PATCH_NOT_INSTALLED},
        CheckRow{"bad_pair_beyond_end_untested", "1FFF: 00ZZ", PATCH_INSTALLED},
        CheckRow{"all_bytes_filtered", "500: FFFF\n100: 00", PATCH_INSTALLED, {{0x500, 0x5FF}, {0x100, 0x100}}},
        CheckRow{"run_into_filter_compares_before", "100: 1123FFFF", PATCH_NOT_INSTALLED, {{0x102, 0x1FF}}},
        CheckRow{"run_into_filter_skips_inside", "100: 1122FFFF", PATCH_INSTALLED, {{0x102, 0x1FF}}},
        CheckRow{"bad_pair_in_filter_untested", "100: 1122ZZZZ", PATCH_INSTALLED, {{0x102, 0x1FF}}},
        CheckRow{"bad_pair_before_filter_breaks", "100: 11ZZ", PATCH_FILE_ERROR, {{0x102, 0x1FF}}},
        CheckRow{"later_write_wins_installed", "100: 99\n100: 11", PATCH_INSTALLED},
        CheckRow{"later_write_wins_not_installed", "100: 11\n100: 99", PATCH_NOT_INSTALLED},
        CheckRow{"differs_then_invalid_is_broken", "100: 99\nXYZ", PATCH_FILE_ERROR},
        CheckRow{"invalid_after_installed_lines", "100: 11\n+G", PATCH_FILE_ERROR},
        CheckRow{"empty_image_installed", "1234: ZZ\n+100\n0: FF", PATCH_INSTALLED, {}, 0},
        CheckRow{"empty_image_bad_address", "12X4: 00", PATCH_FILE_ERROR, {}, 0},
        CheckRow{"empty_image_bad_offset", "+G", PATCH_FILE_ERROR, {}, 0},
        CheckRow{"empty_image_no_colon", "1234 00", PATCH_FILE_ERROR, {}, 0},
        CheckRow{"wrap_to_zero_equal", "FFFFFFFF: 005A", PATCH_INSTALLED},
        CheckRow{"wrap_to_zero_differs", "FFFFFFFF: 5A00", PATCH_NOT_INSTALLED},
        CheckRow{"wrap_first_pair_untested", "FFFFFFFF: ZZ5A", PATCH_INSTALLED},
        CheckRow{"offset_wrap_to_zero", "+FFFFFF00\n100: 5A", PATCH_INSTALLED},
        CheckRow{"comparison_text_read_back",
                 ";\xCE\xF0\xE8\xE3\xE8\xED\xE0\xEB\xFC\xED\xFB\xE9 Full Flash: a.bin\r\n;x\r\n;y\r\n"
                 ";z\r\n;x\r\n;y\r\n\r\n000000: 00 5A\r\n000100: 00000000 11223344\r\n000104: FF 00\r\n\r\n",
                 PATCH_INSTALLED}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PatchCheckFile, ApplyWritesOnlyInsideAndUnfiltered) {
  const AddressFilter filter{{0x10, 0x11}};
  TempDir dir;
  const std::string path = Written(dir, "E: 0102030405\n1E: AABBCC");
  std::vector<std::uint8_t> image(0x20, 0);
  ASSERT_TRUE(ApplyPatchFile(path, image.data(), 0x20, filter));
  std::vector<std::uint8_t> expected(0x20, 0);
  expected[0xE] = 1;
  expected[0xF] = 2;
  expected[0x12] = 5;
  expected[0x1E] = 0xAA;
  expected[0x1F] = 0xBB;
  EXPECT_EQ(image, expected);
}

struct FileErrorRow {
  const char* name;
  bool makeDirectory;
  quillet::FileErrorCause cause;
};

void PrintTo(const FileErrorRow& row, std::ostream* os) { *os << row.name; }

class PatchCheckFileErrors : public ::testing::TestWithParam<FileErrorRow> {};

TEST_P(PatchCheckFileErrors, RaiseWithPath) {
  TempDir dir;
  const std::string path = dir.path() + "/gone.vkp";
  if (GetParam().makeDirectory) std::filesystem::create_directory(path);
  std::uint8_t current[4] = {}, work[4] = {};
  for (int which = 0; which < 2; ++which) {
    try {
      if (which == 0)
        (void)CheckPatch(path, current, work, 4, {});
      else
        (void)ApplyPatchFile(path, work, 4, {});
      ADD_FAILURE() << "no FileError";
    } catch (const quillet::FileError& error) {
      EXPECT_EQ(error.Cause(), GetParam().cause);
      EXPECT_EQ(error.Path(), path);
      EXPECT_NE(std::string(error.what()).find(path), std::string::npos);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Errors, PatchCheckFileErrors,
                         ::testing::Values(FileErrorRow{"missing", false, quillet::FileErrorCause::fileNotFound},
                                           FileErrorRow{"directory", true, quillet::FileErrorCause::badPath}),
                         [](const auto& info) { return std::string(info.param.name); });

long PeakRssKiB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Files far larger than memory, made sparse (their holes read as NUL bytes):
// one broken at its first line, which must not be read to its end, and one
// whose 100 MiB last line is a single field that is all read, twice, since it
// only turns out to be the new bytes at the end of the file.
TEST(PatchCheckFile, HugeFilesCostBoundedMemoryAndBrokenOnesStopEarly) {
  TempDir dir;
  const auto sparse = [&](const std::string& name, const std::string& head, std::uint64_t size) {
    const std::string path = dir / name;
    WriteBytes(path, head);
    EXPECT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
    return path;
  };
  const std::string zeros = sparse("zeros.vkp", "", std::uint64_t{3} << 30);
  const std::string longLine = sparse("long.vkp", "10: 11\r\n+100\r\n0:", 100u << 20);
  std::vector<std::uint8_t> current = SmallImage(0x20), work(0x20);
  current[0x10] = 0x11;
  const long rssBefore = PeakRssKiB();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_STREQ(StatusName(CheckPatch(zeros, current.data(), work.data(), 0x20, {})), StatusName(PATCH_FILE_ERROR));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
  EXPECT_STREQ(StatusName(CheckPatch(longLine, current.data(), work.data(), 0x20, {})), StatusName(PATCH_INSTALLED));
  current[0x10] = 0x12;
  EXPECT_STREQ(StatusName(CheckPatch(longLine, current.data(), work.data(), 0x20, {})),
               StatusName(PATCH_NOT_INSTALLED));
  EXPECT_LT(PeakRssKiB() - rssBefore, 16 << 10);
}

using Rng = quillet::SplitMix64;

std::string HexByte(std::uint8_t value, bool lower) {
  const char* digits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
  return {digits[value >> 4], digits[value & 0xF]};
}

// A patch text that mostly agrees with the image, so that all three statuses
// come up often, with the format's corners mixed in. A big one has long lines,
// enough to write more bytes than a check keeps one by one; its rare changes
// (an odd old byte, a digit that isn't one) come once a line at most.
std::string RandomPatch(Rng& rng, const std::vector<std::uint8_t>& image, bool big = false) {
  const auto size = static_cast<std::uint32_t>(image.size());
  const bool installedIntent = rng.chance(50);
  // A big patch's old fields follow one rule throughout (the image's bytes,
  // zeros, or mixed as in a small one), or one odd line would decide every verdict.
  const std::uint32_t oldRule = big ? rng.below(4) : 3;  // 0, 1: the image's; 2: zeros; 3: mixed
  const char* eol = rng.chance(50) ? "\r\n" : "\n";
  std::string text;
  if (rng.chance(20)) text += ";\xCF\xE0\xF2\xF7 header # x";
  std::uint32_t offset = 0;
  const std::uint32_t lines = big ? 12 + rng.below(12) : 1 + rng.below(12);
  for (std::uint32_t n = 0; n < lines; ++n) {
    if (!text.empty()) text += eol;
    const std::uint32_t kind = rng.below(100);
    if (kind < 8) {
      offset = rng.chance(50) ? rng.below(size + 1) : static_cast<std::uint32_t>(rng.next());
      if (rng.chance(10)) offset = 0;
      text += "+";
      char buffer[16];
      std::snprintf(buffer, sizeof buffer, "%X", offset);
      text += (offset == 0 && rng.chance(50)) ? "" : buffer;
      continue;
    }
    if (kind < 10) {
      text += rng.chance(50) ? "+1G" : (rng.chance(50) ? "12 34" : "1X: 00");
      continue;
    }
    if (kind < 14) {
      text += rng.chance(50) ? "  ; comment" : "";
      continue;
    }
    std::uint32_t address;
    const std::uint32_t where = rng.below(10);
    if (where == 0)
      address = 0xFFFFFFFFu - rng.below(4);
    else if (where == 1)
      address = size - rng.below(4);
    else
      address = rng.below(size + 1);
    const std::uint32_t count = big ? (1u << 14) + rng.below(1u << 15) : 1 + rng.below(16);
    const std::uint32_t special = big ? rng.below(count) : 0;
    const auto rare = [&](std::uint32_t k, std::uint32_t percent) {
      return (!big || k == special) && rng.chance(percent);
    };
    std::string newBytes;
    for (std::uint32_t k = 0; k < count; ++k) {
      const std::uint32_t at = address + k;
      std::uint8_t value = at < size ? image[at] : static_cast<std::uint8_t>(rng.next());
      if (!installedIntent && rng.chance(15)) value = static_cast<std::uint8_t>(value + 1 + rng.below(255));
      newBytes += HexByte(value, rng.chance(20));
      if (rare(k, 2)) newBytes.back() = 'G';
    }
    if (rng.chance(big ? 1 : 10)) newBytes.pop_back();
    const std::uint32_t written = address - offset;
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, rng.chance(10) ? "0x%x" : "%06X", written);
    text += rng.chance(10) ? "\t" : "";
    text += buffer;
    text += rng.chance(20) ? " : " : ": ";
    if (oldRule < 3 || rng.chance(80)) {
      std::string oldBytes;
      if (oldRule < 2 || (oldRule == 3 && rng.chance(50))) {
        // The image's bytes, a few of them off, and now and then a digit short.
        for (std::uint32_t k = 0; k < count; ++k) {
          const std::uint32_t at = address + k;
          const std::uint8_t value = at < size ? image[at] : 0;
          oldBytes += HexByte(rare(k, 5) ? static_cast<std::uint8_t>(value ^ 1) : value, false);
        }
        if (rng.chance(big ? 1 : 10)) oldBytes.pop_back();
      } else {
        oldBytes = std::string(count * 2, rng.chance(10) ? 'Z' : '0');
      }
      text += oldBytes + (rng.chance(10) ? "\t " : " ");
    }
    text += newBytes;
    if (rng.chance(5)) text += " trailing field";
  }
  if (rng.chance(3)) text += std::string("\x1A") + "garbage";
  return text;
}

struct Guarded {
  static constexpr std::size_t kGuard = 64;
  static constexpr std::uint8_t kCanary = 0xC3;
  std::vector<std::uint8_t> bytes;
  explicit Guarded(std::size_t size, std::uint8_t fill) : bytes(size + 2 * kGuard, kCanary) {
    std::memset(bytes.data() + kGuard, fill, size);
  }
  std::uint8_t* data() { return bytes.data() + kGuard; }
  bool canariesIntact() const {
    for (std::size_t i = 0; i < kGuard; ++i)
      if (bytes[i] != kCanary || bytes[bytes.size() - 1 - i] != kCanary) return false;
    return true;
  }
};

// The details as copy-and-compare finds them, from the lines taken apart on
// their own: the last write at each address brings its new and old byte.
CheckDetails ReferenceDetails(std::string_view text, const std::uint8_t* current, std::uint32_t size,
                              const AddressFilter& filter) {
  std::vector<std::uint8_t> copy(current, current + size);
  std::vector<int> old(size, -1);
  std::vector<bool> written(size, false);
  auto inFilter = [&filter](std::uint32_t address) {
    for (const AddressRange& r : filter.Ranges())
      if (address >= r.start && address <= r.end) return true;
    return false;
  };
  std::uint32_t offset = 0;
  text = text.substr(0, text.find('\x1A'));
  for (std::size_t at = 0; at <= text.size(); at = std::min(text.find('\n', at), text.size()) + 1) {
    // The line normalised: comments cut, TAB as space, runs of spaces as one, ends
    // trimmed (a CR before the LF with them), ASCII letters upper-cased.
    const std::string_view raw = text.substr(at, text.find('\n', at) - at);
    std::string line;
    for (char c : raw.substr(0, raw.find_first_of(";#"))) {
      c = c == '\t' ? ' ' : (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
      if (c != ' ' || !line.ends_with(' ')) line += c;
    }
    line.erase(0, line.find_first_not_of(" \v\f\r"));
    line.erase(line.find_last_not_of(" \v\f\r") + 1);
    if (line.empty()) continue;
    if (line[0] == '+') {
      offset = HexStringToInt(std::string_view(line).substr(1, line.find(' ') - 1));
      continue;
    }
    const std::size_t colon = line.find(':');
    std::vector<std::string> fields;
    std::string rest = line.substr(colon + 1);
    for (std::size_t at = 0; at < rest.size();) {
      const std::size_t end = std::min(rest.find(' ', at), rest.size());
      if (end > at) fields.push_back(rest.substr(at, end - at));
      at = end + 1;
    }
    if (fields.empty()) continue;
    const std::string& newBytes = fields.size() > 1 ? fields[1] : fields[0];
    const bool oldUsable = fields.size() > 1 && fields[0].size() == newBytes.size() &&
                           fields[0].find_first_not_of("0123456789ABCDEF") == std::string::npos;
    std::string_view address = std::string_view(line).substr(0, colon);
    if (address.ends_with(' ')) address.remove_suffix(1);
    std::uint32_t position = HexStringToInt(address) + offset;
    for (std::size_t k = 0; 2 * k < newBytes.size(); ++k, ++position) {
      if (position >= size || inFilter(position)) continue;
      copy[position] = static_cast<std::uint8_t>(HexStringToInt(newBytes.substr(2 * k, 2)));
      old[position] = oldUsable ? static_cast<int>(HexStringToInt(fields[0].substr(2 * k, 2))) : -1;
      written[position] = true;
    }
  }
  CheckDetails details;
  bool foreign = false, unknown = false, partly = false;
  for (std::uint32_t a = 0; a < size; ++a) {
    if (!written[a]) continue;
    ++details.checkedBytes;
    if (copy[a] == current[a]) {
      ++details.alreadyNew;
      partly = partly || (old[a] >= 0 && old[a] != copy[a]);
      continue;
    }
    if (details.differing++ < CheckDetails::kShownDifferences)
      details.firstDiffering.push_back({a, copy[a], current[a], old[a]});
    unknown = unknown || old[a] < 0;
    foreign = foreign || (old[a] >= 0 && old[a] != current[a]);
  }
  details.status = details.differing ? PATCH_NOT_INSTALLED : PATCH_INSTALLED;
  if (details.differing)
    details.verdict = foreign   ? OldBytesVerdict::otherFirmware
                      : unknown ? OldBytesVerdict::oldUnknown
                      : partly  ? OldBytesVerdict::partlyInstalled
                                : OldBytesVerdict::appliesCleanly;
  return details;
}

std::string Describe(const CheckDetails& details) {
  std::string text = std::string(StatusName(details.status)) + " checked " + std::to_string(details.checkedBytes) +
                     " new " + std::to_string(details.alreadyNew) + " differing " + std::to_string(details.differing) +
                     " verdict " + std::to_string(static_cast<int>(details.verdict)) + ":";
  for (const DifferingByte& byte : details.firstDiffering)
    text += " " + std::to_string(byte.address) + "=" + std::to_string(byte.expected) + "/" +
            std::to_string(byte.found) + "/" + std::to_string(byte.old);
  return text;
}

TEST(PatchCheckFile, BrokenDetailsNameTheLineAndTheRule) {
  const struct {
    std::string text;
    quillet::VkpError error;
    std::size_t line;
    std::string lineText;
  } rows[] = {
      {"100: 11\r\n+12G4 ; x\r\n", quillet::VkpError::badOffset, 2, "+12G4 ; x"},
      {"\n12X4: 00", quillet::VkpError::badAddress, 2, "12X4: 00"},
      {"1234 00\n100: 11", quillet::VkpError::noColon, 1, "1234 00"},
      {"; a\n100: 11ZZ", quillet::VkpError::badByte, 2, "100: 11ZZ"},
      {"\xEF\xBB\xBF"
       "100: 11",
       quillet::VkpError::badAddress, 1,
       "\xEF\xBB\xBF"
       "100: 11"},
  };
  TempDir dir;
  const std::vector<std::uint8_t> current = SmallImage(0x200);
  std::vector<std::uint8_t> work(0x200);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    CheckDetails details;
    const std::string path = Written(dir, row.text);
    EXPECT_EQ(CheckPatch(path, current.data(), work.data(), 0x200, {}, &details), PATCH_FILE_ERROR);
    EXPECT_EQ(details.error, row.error);
    EXPECT_EQ(details.line, row.line);
    EXPECT_EQ(details.lineText, row.lineText);
    EXPECT_EQ(details.byteOrderMark, row.text.starts_with("\xEF\xBB\xBF"));
  }
}

TEST(PatchCheckDifferential, FastCheckAgreesWithCopyAndCompare) {
  TempDir dir;
  int verdicts[5] = {};
  int wholeVerdicts[5] = {};  // of patches too big to keep their writes one by one
  int seen[4] = {};
  for (std::uint64_t seed = 1; seed <= 4000; ++seed) {
    Rng rng(seed);
    const bool big = seed % 100 == 0;
    const std::uint32_t size = big             ? (1u << 19) + rng.below(1u << 19)
                               : rng.chance(5) ? 0
                                               : 1 + rng.below(rng.chance(50) ? 64 : 4096);
    std::vector<std::uint8_t> image(size);
    for (auto& byte : image) byte = static_cast<std::uint8_t>(rng.chance(40) ? 0 : rng.next());
    std::vector<AddressRange> ranges;
    for (std::uint32_t n = rng.below(4); n > 0; --n) {
      const std::uint32_t a = rng.chance(10) ? static_cast<std::uint32_t>(rng.next()) : rng.below(size + 8);
      const std::uint32_t b = a + rng.below(rng.chance(50) ? 4 : 512);
      ranges.push_back({std::min(a, b), std::max(a, b)});
    }
    const AddressFilter filter(ranges);
    const std::string text = RandomPatch(rng, image, big);

    Guarded current(size, 0);
    if (size) std::memcpy(current.data(), image.data(), size);
    Guarded referenceWork(size, 0x00);
    Guarded fastWork(size, static_cast<std::uint8_t>(rng.next()));
    const std::string path = Written(dir, text);
    const PatchStatus expected = ReferenceCheck(path, current.data(), referenceWork.data(), size, filter);
    const PatchStatus fast = CheckPatch(path, current.data(), fastWork.data(), size, filter);
    CheckDetails details;
    const PatchStatus detailed = CheckPatch(path, current.data(), fastWork.data(), size, filter, &details);

    SCOPED_TRACE("seed " + std::to_string(seed) + ", size " + std::to_string(size) + ", patch:\n" +
                 (big ? text.substr(0, 2000) + "…" : text));
    ASSERT_STREQ(StatusName(fast), StatusName(expected));
    ASSERT_STREQ(StatusName(detailed), StatusName(expected));
    if (expected != PATCH_FILE_ERROR) {
      ASSERT_EQ(Describe(details), Describe(ReferenceDetails(text, current.data(), size, filter)));
      ++verdicts[static_cast<int>(details.verdict)];
      if (details.checkedBytes > (std::size_t{1} << 18)) ++wholeVerdicts[static_cast<int>(details.verdict)];
    }
    ASSERT_TRUE(current.canariesIntact() && referenceWork.canariesIntact() && fastWork.canariesIntact());
    ASSERT_TRUE(size == 0 || std::memcmp(current.data(), image.data(), size) == 0);
    ++seen[fast];
  }
  // The generator must keep every status common, or the comparison proves little.
  for (PatchStatus status : {PATCH_NOT_INSTALLED, PATCH_INSTALLED, PATCH_FILE_ERROR}) {
    SCOPED_TRACE(StatusName(status));
    EXPECT_GT(seen[status], 400);
  }
  for (int verdict = 1; verdict < 5; ++verdict) EXPECT_GT(verdicts[verdict], 40) << verdict;
  // The whole route has its own way of keeping old bytes: it must meet each of
  // the verdicts that decide between the routes' ways of keeping them.
  for (const OldBytesVerdict verdict : {OldBytesVerdict::none, OldBytesVerdict::appliesCleanly,
                                        OldBytesVerdict::otherFirmware, OldBytesVerdict::oldUnknown})
    EXPECT_GT(wholeVerdicts[static_cast<int>(verdict)], 0) << static_cast<int>(verdict);
}

}  // namespace
