#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "core/filter/address_filter.h"
#include "core/search/patch_list.h"
#include "core/search/search.h"
#include "tests/support/temp_dir.h"
#include "tools/split_mix.h"

using quillet::CheckDetails;
using quillet::PATCH_FILE_ERROR;
using quillet::PATCH_INSTALLED;
using quillet::PATCH_NOT_INSTALLED;
using quillet::PatchStatus;

namespace {

using quillet::JobCause;
using quillet::testing::TempDir;
using quillet::testing::WriteBytes;

// Everything RunSearch told its observer, in order.
struct Recorder {
  std::vector<std::size_t> started;
  std::vector<std::pair<std::size_t, std::string>> checking;
  std::vector<std::pair<std::size_t, PatchStatus>> checked;

  quillet::SearchEvents events() {
    return {.started = [this](std::size_t rows) { started.push_back(rows); },
            .checking = [this](std::size_t row, const std::string& path) { checking.emplace_back(row, path); },
            .checked = [this](std::size_t row, const CheckDetails& found) { checked.emplace_back(row, found.status); }};
  }
};

quillet::SearchOutcome Search(const std::string& image, const std::vector<std::string>& patches, Recorder& seen) {
  return quillet::RunSearch({image, patches, {}, false}, seen.events(), {});
}

// An image of 256 bytes holding 0x00..0xFF, so byte a is a.
std::string CountingImage() {
  std::string image(256, '\0');
  for (int i = 0; i < 256; ++i) image[static_cast<std::size_t>(i)] = static_cast<char>(i);
  return image;
}

class SearchTest : public ::testing::Test {
 protected:
  std::string Patch(const std::string& name, const std::string& text) {
    const std::string path = m_dir / name;
    WriteBytes(path, text);
    return path;
  }

  TempDir m_dir;
};

TEST_F(SearchTest, EachRowGetsTheStatusOfItsPatchInListOrder) {
  const std::string image = m_dir / "current.bin";
  WriteBytes(image, CountingImage());
  const std::vector<std::string> patches = {
      Patch("installed.vkp", "; all new bytes already there\r\n000010: 00 1011\r\n"),
      Patch("missing.vkp", "000010: 10 FF\n"),
      Patch("broken.vkp", "000010: 00 10\nno colon here\n"),
      Patch("beyond.vkp", "+100\n000000: 00 FF\n"),
      Patch("empty.vkp", ""),
  };
  Recorder seen;
  const quillet::SearchOutcome result = Search(image, patches, seen);

  EXPECT_EQ(result.cause, JobCause::none);
  EXPECT_EQ(result.rowsChecked, patches.size());
  EXPECT_EQ(seen.started, std::vector<std::size_t>{patches.size()});
  const std::vector<std::pair<std::size_t, PatchStatus>> expected = {{0, PATCH_INSTALLED},
                                                                     {1, PATCH_NOT_INSTALLED},
                                                                     {2, PATCH_FILE_ERROR},
                                                                     {3, PATCH_INSTALLED},
                                                                     {4, PATCH_INSTALLED}};
  EXPECT_EQ(seen.checked, expected);
  ASSERT_EQ(seen.checking.size(), patches.size());
  for (std::size_t row = 0; row < patches.size(); ++row) {
    EXPECT_EQ(seen.checking[row], std::make_pair(row, patches[row]));
  }
}

TEST_F(SearchTest, AnEmptyListReadsTheImageAndChecksNothing) {
  const std::string image = m_dir / "current.bin";
  WriteBytes(image, CountingImage());
  Recorder seen;
  const quillet::SearchOutcome result = Search(image, {}, seen);
  EXPECT_EQ(result.cause, JobCause::none);
  EXPECT_EQ(seen.started, std::vector<std::size_t>{0});
  EXPECT_TRUE(seen.checked.empty());
}

// Image failures: nothing is checked and the user gets the program's text.
TEST_F(SearchTest, AnImageThatCantBeReadChecksNothingAndSaysWhy) {
  const std::string folder = m_dir / "folder.bin";
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  const std::string huge = m_dir / "huge.bin";
  {
    // A sparse file: 4 GiB of size, no blocks on disk.
    const int fd = ::open(huge.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const bool grown = ::ftruncate(fd, off_t{1} << 32) == 0;
    ::close(fd);
    if (!grown) GTEST_SKIP() << "this file system can't hold a sparse 4 GiB file";
  }
  struct Row {
    const char* name;
    std::string image;
    JobCause failure;
  };
  const std::vector<Row> rows = {
      {"missing file", m_dir / "nothing.bin", JobCause::imageOpen},
      {"a folder", folder, JobCause::imageOpen},
      {"4 GiB", huge, JobCause::imageTooLarge},
  };
  const std::vector<std::string> patches = {Patch("a.vkp", "000000: 00 00\n")};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Recorder seen;
    const quillet::SearchOutcome result = Search(row.image, patches, seen);
    EXPECT_EQ(result.cause, row.failure);
    EXPECT_EQ(result.path, row.image);
    EXPECT_EQ(result.rowsChecked, 0u);
    EXPECT_TRUE(seen.started.empty());
    EXPECT_TRUE(seen.checked.empty());
  }
}

TEST_F(SearchTest, APatchFileThatVanishedEndsTheSearchAtItsRow) {
  const std::string image = m_dir / "current.bin";
  WriteBytes(image, CountingImage());
  const std::string gone = m_dir / "gone.vkp";
  const std::vector<std::string> patches = {Patch("a.vkp", "000001: 00 01\n"), gone, Patch("c.vkp", "000001: 00 01\n")};
  Recorder seen;
  const quillet::SearchOutcome result = Search(image, patches, seen);
  EXPECT_EQ(result.cause, JobCause::patchFile);
  EXPECT_EQ(result.path, gone);
  EXPECT_EQ(result.systemError, ENOENT);
  EXPECT_EQ(result.rowsChecked, 1u);
  const std::vector<std::pair<std::size_t, PatchStatus>> expected = {{0, PATCH_INSTALLED}};
  EXPECT_EQ(seen.checked, expected);
  EXPECT_EQ(seen.checking.size(), 2u) << "the failing row was shown before it was checked";
}

TEST(PatchRowOrder, ByNameBytesThenByPath) {
  struct Row {
    const char* name;
    const char* nameA;
    const char* pathA;
    const char* nameB;
    const char* pathB;
    bool less;
  };
  const Row rows[] = {
      {"names decide first", "a.vkp", "/z/a.vkp", "b.vkp", "/a/b.vkp", true},
      {"case is not looked at first", "Z.vkp", "/Z.vkp", "a.vkp", "/a.vkp", false},
      {"nor for Cyrillic", "Я.vkp", "/Я.vkp", "а.vkp", "/а.vkp", false},
      {"names equal but for case: by bytes", "Same.vkp", "/z/Same.vkp", "same.vkp", "/a/same.vkp", true},
      {"a prefix sorts first", "ab", "/ab", "abc", "/abc", true},
      {"Cyrillic sorts after Latin by its bytes", "я.vkp", "/я.vkp", "z.vkp", "/z.vkp", false},
      {"equal names: the path decides", "a.vkp", "/x/a.vkp", "a.vkp", "/y/a.vkp", true},
      {"equal names, reversed", "a.vkp", "/y/a.vkp", "a.vkp", "/x/a.vkp", false},
      {"the same row is not less than itself", "a.vkp", "/x/a.vkp", "a.vkp", "/x/a.vkp", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(quillet::PatchRowLess(row.nameA, row.pathA, row.nameB, row.pathB), row.less);
  }
}

}  // namespace

namespace {

// Keeps a copy of a list's paths from the list's notifications alone, as a
// view does; each Before call must come while the rows are still as they were.
class Mirror final : public quillet::PatchListObserver {
 public:
  explicit Mirror(const quillet::PatchList& list) : m_list(list), paths(PathsOf(list)) {}
  static std::vector<std::string> PathsOf(const quillet::PatchList& list) {
    std::vector<std::string> paths;
    for (const quillet::PatchRow& row : list.Rows()) paths.push_back(row.path);
    return paths;
  }

  void BeforeInsert(std::size_t first, std::size_t count) override { Before(first, count); }
  void AfterInsert() override {
    for (std::size_t i = 0; i < m_count; ++i)
      paths.insert(paths.begin() + static_cast<std::ptrdiff_t>(m_first + i), m_list[m_first + i].path);
  }
  void BeforeRemove(std::size_t first, std::size_t count) override { Before(first, count); }
  void AfterRemove() override {
    const auto first = paths.begin() + static_cast<std::ptrdiff_t>(m_first);
    paths.erase(first, first + static_cast<std::ptrdiff_t>(m_count));
  }
  void BeforeReset() override { ++resets; }
  void AfterReset() override { paths = PathsOf(m_list); }
  void Changed(std::size_t, std::size_t) override {}

 private:
  void Before(std::size_t first, std::size_t count) {
    EXPECT_EQ(paths, PathsOf(m_list));
    m_first = first;
    m_count = count;
  }
  const quillet::PatchList& m_list;
  std::size_t m_first = 0;
  std::size_t m_count = 0;

 public:
  std::vector<std::string> paths;
  int resets = 0;
};

std::size_t RunsOf(const std::vector<std::size_t>& sorted) {
  std::size_t runs = 0;
  for (std::size_t i = 0; i < sorted.size(); ++i)
    if (i == 0 || sorted[i] != sorted[i - 1] + 1) ++runs;
  return runs;
}

// A batch lands where one Add after another would put each path: the same
// rows in the same order, each path once, and the indexes of the new rows.
// Names repeat across folders, differ only in case and come in any order,
// and some paths are listed already or come twice. Watched, the list tells
// every row that comes or goes run by run, as a view needs it told, unless
// the runs are too many.
TEST(PatchListBatch, AddAllEndsAsAddOneByOneAndTellsItsObserver) {
  static constexpr const char* kNames[] = {"a.vkp", "A.vkp", "b.VKP", "patch.vkp", "Patch.vkp", "z", "á.vkp"};
  static constexpr const char* kFolders[] = {"/x/", "/X/", "/y/sub/", "", "./"};
  for (std::uint64_t seed = 1; seed <= 300; ++seed) {
    quillet::SplitMix64 rng(seed);
    const auto randomPath = [&rng, seed] {
      return std::to_string(rng.below(seed % 3 == 0 ? 60 : 2)) + kFolders[rng.below(std::size(kFolders))] +
             kNames[rng.below(std::size(kNames))];
    };
    quillet::PatchList batch, watched, oneByOne;
    for (std::uint32_t n = rng.below(seed % 3 == 0 ? 400 : 12); n > 0; --n) {
      const std::string path = randomPath();
      (void)batch.Add(path);
      (void)watched.Add(path);
      (void)oneByOne.Add(path);
    }
    std::vector<std::string> paths(rng.below(seed % 3 == 0 ? 600 : 30));
    for (std::string& path : paths) path = randomPath();

    std::vector<std::string> newPaths;
    for (const std::string& path : paths)
      if (oneByOne.Add(path)) newPaths.push_back(path);
    std::vector<std::size_t> expectedIndexes;
    for (const std::string& path : newPaths) expectedIndexes.push_back(*oneByOne.Find(path));
    std::sort(expectedIndexes.begin(), expectedIndexes.end());

    SCOPED_TRACE("seed " + std::to_string(seed));
    EXPECT_EQ(batch.AddAll(paths), expectedIndexes);
    ASSERT_EQ(batch.size(), oneByOne.size());
    for (std::size_t row = 0; row < batch.size(); ++row) {
      EXPECT_EQ(batch[row].path, oneByOne[row].path) << row;
      EXPECT_EQ(batch[row].name, oneByOne[row].name) << row;
    }

    Mirror mirror(watched);
    watched.SetObserver(&mirror);
    EXPECT_EQ(watched.AddAll(paths), expectedIndexes);
    EXPECT_EQ(mirror.paths, Mirror::PathsOf(oneByOne));
    EXPECT_EQ(mirror.resets, RunsOf(expectedIndexes) > 64 ? 1 : 0);

    std::vector<std::size_t> gone(rng.below(static_cast<std::uint32_t>(watched.size()) + 1));
    for (std::size_t& row : gone) row = rng.below(static_cast<std::uint32_t>(watched.size()));
    std::vector<std::string> kept = mirror.paths;
    std::sort(gone.begin(), gone.end());
    gone.erase(std::unique(gone.begin(), gone.end()), gone.end());
    for (auto row = gone.rbegin(); row != gone.rend(); ++row)
      kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(*row));
    mirror.resets = 0;
    std::vector<std::size_t> shuffled = gone;
    std::reverse(shuffled.begin(), shuffled.end());
    shuffled.push_back(watched.size());  // past the end: passed over
    watched.Remove(shuffled);
    EXPECT_EQ(mirror.paths, kept);
    EXPECT_EQ(Mirror::PathsOf(watched), kept);
    EXPECT_EQ(mirror.resets, RunsOf(gone) > 64 ? 1 : 0);
    watched.SetObserver(nullptr);
  }
}

}  // namespace
