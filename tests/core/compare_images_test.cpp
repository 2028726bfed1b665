#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/compare/compare_images.h"
#include "core/vkp/hex_string.h"
#include "tests/support/compare_lines.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using quillet::CompareHooks;
using quillet::CompareImages;
using quillet::WalkEnd;

struct Range {
  std::uint32_t start;
  std::uint32_t end;
};

bool InRanges(const std::vector<Range>& ranges, std::uint32_t a) {
  for (const Range& r : ranges)
    if (a >= r.start && a <= r.end) return true;
  return false;
}

std::string Walk(const Bytes& original, const Bytes& current, const std::vector<Range>& filter = {}) {
  const auto length = static_cast<std::uint32_t>(std::min(original.size(), current.size()));
  return quillet::testing::CompareLines(original.data(), current.data(), length,
                                        [&](std::uint32_t a) { return InRanges(filter, a); });
}

// The rule said plainly, one byte at a time: a line per maximal stretch of
// differing unfiltered bytes, never crossing a multiple of 16.
std::string Reference(const Bytes& original, const Bytes& current, const std::vector<Range>& filter) {
  const std::size_t length = std::min(original.size(), current.size());
  std::string text;
  std::string address, oldBytes, newBytes;
  auto close = [&] {
    if (!address.empty()) text += address + " " + oldBytes + " " + newBytes + "\r\n";
    address.clear();
    oldBytes.clear();
    newBytes.clear();
  };
  char hex[8];
  for (std::size_t a = 0; a < length; ++a) {
    if (a % 16 == 0) close();
    const auto address32 = static_cast<std::uint32_t>(a);
    if (InRanges(filter, address32) || original[a] == current[a]) {
      close();
      continue;
    }
    if (address.empty()) address = quillet::FormatAddress(address32) + ":";
    std::snprintf(hex, sizeof hex, "%02X", original[a]);
    oldBytes += hex;
    std::snprintf(hex, sizeof hex, "%02X", current[a]);
    newBytes += hex;
  }
  close();
  return text;
}

TEST(CompareImagesTest, WorkedExampleGivesTwoLinesSplitAtSixteen) {
  Bytes original(0x40, 0x5A), current(0x40, 0x5A);
  const std::uint8_t before[] = {0x00, 0x11, 0x22, 0x33, 0x44};
  const std::uint8_t after[] = {0x00, 0xAA, 0xBB, 0xCC, 0x44};
  for (int i = 0; i < 5; ++i) {
    original[0x0E + i] = before[i];
    current[0x0E + i] = after[i];
  }
  EXPECT_EQ(Walk(original, current), "00000F: 11 AA\r\n000010: 2233 BBCC\r\n");
}

struct Change {
  std::uint32_t address;
  std::uint32_t count;
};

struct EdgeRow {
  const char* name;
  std::uint32_t size;
  std::vector<Change> changes;  // each byte in a change gets original 0x00, current 0xFF
  std::vector<Range> filter;
  std::vector<std::string> lines;  // expected: address text and byte count
};

std::string Line(const char* address, int count) {
  return std::string(address) + ": " + std::string(2 * count, '0') + " " + std::string(2 * count, 'F') + "\r\n";
}

class CompareImagesEdges : public ::testing::TestWithParam<EdgeRow> {};

TEST_P(CompareImagesEdges, GivesTheExpectedLines) {
  const EdgeRow& row = GetParam();
  Bytes original(row.size, 0x00), current(row.size, 0x00);
  for (const Change& c : row.changes)
    for (std::uint32_t i = 0; i < c.count; ++i) current[c.address + i] = 0xFF;
  std::string expected;
  for (const std::string& line : row.lines) expected += line;
  EXPECT_EQ(Walk(original, current, row.filter), expected);
  EXPECT_EQ(Walk(original, current, row.filter), Reference(original, current, row.filter));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CompareImagesEdges,
    ::testing::Values(
        EdgeRow{"identical_images_give_nothing", 4096, {}, {}, {}}, EdgeRow{"empty_images_give_nothing", 0, {}, {}, {}},
        EdgeRow{"twenty_bytes_from_1C_split_at_20", 0x100, {{0x1C, 20}}, {}, {Line("00001C", 4), Line("000020", 16)}},
        EdgeRow{"one_whole_group_is_one_line", 0x100, {{0x30, 16}}, {}, {Line("000030", 16)}},
        EdgeRow{"filtered_byte_splits_a_stretch",
                0x100,
                {{0x40, 8}},
                {{0x43, 0x43}},
                {Line("000040", 3), Line("000044", 4)}},
        EdgeRow{"only_filtered_differences_give_nothing", 0x100, {{0x50, 4}}, {{0x50, 0x53}}, {}},
        EdgeRow{"one_equal_byte_is_never_bridged",
                0x100,
                {{0x60, 2}, {0x63, 2}},
                {},
                {Line("000060", 2), Line("000063", 2)}},
        EdgeRow{"last_short_group_is_compared", 0x105, {{0x100, 5}}, {}, {Line("000100", 5)}},
        EdgeRow{"last_byte_of_an_odd_length", 0x401, {{0x400, 1}}, {}, {Line("000400", 1)}},
        EdgeRow{"difference_across_a_1024_block", 0x1000, {{0x3FE, 4}}, {}, {Line("0003FE", 2), Line("000400", 2)}},
        EdgeRow{"difference_after_long_equal_stretch", 0x10000, {{0xFFF0, 16}}, {}, {Line("00FFF0", 16)}},
        EdgeRow{"filter_bounds_are_inclusive", 0x100, {{0x70, 6}}, {{0x70, 0x70}, {0x75, 0x75}}, {Line("000071", 4)}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CompareImagesTest, AgreesWithByteByByteReferenceOnRandomPairs) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 300; ++round) {
    const std::uint32_t size = random() % 5000;
    Bytes original(size), current;
    for (auto& b : original) b = static_cast<std::uint8_t>(random());
    current = original;
    // Sparse rounds and dense rounds, with changes in clusters of random length.
    const int clusters = static_cast<int>(random() % (round % 3 == 0 ? 200 : 12));
    for (int c = 0; c < clusters && size > 0; ++c) {
      const std::uint32_t at = random() % size;
      const std::uint32_t count = 1 + random() % 40;
      for (std::uint32_t i = at; i < std::min(size, at + count); ++i)
        if (random() % 5 != 0) current[i] = static_cast<std::uint8_t>(current[i] + 1 + random() % 255);
    }
    std::vector<Range> filter;
    const int ranges = static_cast<int>(random() % 4);
    for (int r = 0; r < ranges && size > 0; ++r) {
      const std::uint32_t start = random() % size;
      filter.push_back({start, start + static_cast<std::uint32_t>(random() % 64)});
    }
    // The longer image's tail is never compared.
    if (round % 4 == 1) current.resize(size + random() % 100, 0xEE);
    SCOPED_TRACE("round " + std::to_string(round) + ", size " + std::to_string(size));
    ASSERT_EQ(Walk(original, current, filter), Reference(original, current, filter));
  }
}

// What the walk did with its hooks.
struct HookLog {
  std::vector<std::uint32_t> progress;
  std::vector<std::uint32_t> filterAsked;
  std::string text;
  int stopAfterProgress = -1;  // request the stop once this many progress calls were made
};

WalkEnd WalkWithHooks(const Bytes& original, const Bytes& current, HookLog& log) {
  auto stop = [&] {
    return log.stopAfterProgress >= 0 && static_cast<int>(log.progress.size()) >= log.stopAfterProgress;
  };
  auto filtered = [&](std::uint32_t a) {
    log.filterAsked.push_back(a);
    return false;
  };
  auto progress = [&](std::uint32_t pos) { log.progress.push_back(pos); };
  auto append = [&](std::string_view lines) {
    log.text.append(lines);
    return true;
  };
  return CompareImages(
      original.data(), current.data(), static_cast<std::uint32_t>(original.size()),
      CompareHooks{.stopRequested = stop, .isFiltered = filtered, .progress = progress, .appendLines = append});
}

TEST(CompareImagesTest, FilterIsAskedOnlyInsideGroupsHoldingADifference) {
  Bytes original(2048, 7), current(2048, 7);
  current[0x45] = 8;
  HookLog log;
  EXPECT_EQ(WalkWithHooks(original, current, log), WalkEnd::finished);
  std::vector<std::uint32_t> group;
  for (std::uint32_t a = 0x40; a < 0x50; ++a) group.push_back(a);
  EXPECT_EQ(log.filterAsked, group);
  // The block at 0 differs, so it is walked in groups of 16 up to 0x50, then in blocks again.
  std::vector<std::uint32_t> expected;
  for (std::uint32_t p = 0; p <= 0x40; p += 16) expected.push_back(p);
  for (std::uint32_t p = 0x50; p < 2048; p += 1024) expected.push_back(p);
  EXPECT_EQ(log.progress, expected);
  EXPECT_EQ(log.text, "000045: 07 08\r\n");
}

TEST(CompareImagesTest, StopEndsTheWalkAndKeepsEarlierLines) {
  Bytes original(256, 0), current(256, 1);
  HookLog log;
  log.stopAfterProgress = 3;
  EXPECT_EQ(WalkWithHooks(original, current, log), WalkEnd::stopped);
  EXPECT_EQ(log.progress.size(), 3u);
  EXPECT_EQ(log.text, Walk(Bytes(48, 0), Bytes(48, 1)));
}

}  // namespace
