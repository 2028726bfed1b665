#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/search/folder_scan.h"
#include "tests/support/temp_dir.h"

namespace {

using quillet::testing::TempDir;
using quillet::testing::WriteBytes;

// Every callback as one line: "status <path>" or "add <name> <path>", with the
// temporary root replaced by "R" so expectations read like the tree.
class FolderScanTest : public ::testing::Test {
 protected:
  std::vector<std::string> Scan(const std::string& folder) {
    std::vector<std::string> events;
    const auto shorten = [&](std::string path) {
      if (path.starts_with(m_root.path())) path.replace(0, m_root.path().size(), "R");
      return path;
    };
    quillet::FolderScanCallbacks callbacks;
    callbacks.showStatus = [&](const std::string& status) { events.push_back("status " + shorten(status)); };
    callbacks.addPatchFile = [&](const std::string& name, const std::string& full) {
      events.push_back("add " + name + " " + shorten(full));
    };
    callbacks.unreadableFolder = [&](const std::string& folder, int osError) {
      events.push_back("unreadable " + shorten(folder) + " " + std::strerror(osError));
    };
    quillet::ScanFolder(folder, callbacks);
    return events;
  }

  std::vector<std::string> Added(const std::vector<std::string>& events) {
    std::vector<std::string> added;
    for (const std::string& event : events)
      if (event.starts_with("add ")) added.push_back(event.substr(4));
    std::sort(added.begin(), added.end());
    return added;
  }

  void File(const std::string& relative) { WriteBytes(m_root / relative, "0: 00 01\n"); }
  void Folder(const std::string& relative) { std::filesystem::create_directories(m_root / relative); }

  TempDir m_root;
};

TEST_F(FolderScanTest, OwnFilesFirstThenEachSubfolderDepthFirst) {
  Folder("sub/deeper");
  File("a.vkp");
  File("sub/b.vkp");
  File("sub/deeper/c.vkp");
  const std::vector<std::string> expected = {
      "status R/a.vkp",
      "add a.vkp R/a.vkp",
      "status R/sub",
      "status R/sub/b.vkp",
      "add b.vkp R/sub/b.vkp",
      "status R/sub/deeper",
      "status R/sub/deeper/c.vkp",
      "add c.vkp R/sub/deeper/c.vkp",
      "status ",
      "status ",
      "status ",
  };
  EXPECT_EQ(Scan(m_root.path()), expected);
}

TEST_F(FolderScanTest, EachSubfolderIsFinishedBeforeTheNext) {
  Folder("one");
  Folder("two");
  File("one/1.vkp");
  File("two/2.vkp");
  const std::vector<std::string> one = {"status R/one", "status R/one/1.vkp", "add 1.vkp R/one/1.vkp", "status "};
  const std::vector<std::string> two = {"status R/two", "status R/two/2.vkp", "add 2.vkp R/two/2.vkp", "status "};
  std::vector<std::string> oneFirst = one, twoFirst = two;
  oneFirst.insert(oneFirst.end(), two.begin(), two.end());
  twoFirst.insert(twoFirst.end(), one.begin(), one.end());
  oneFirst.push_back("status ");
  twoFirst.push_back("status ");
  const auto events = Scan(m_root.path());
  EXPECT_TRUE(events == oneFirst || events == twoFirst) << ::testing::PrintToString(events);
}

TEST_F(FolderScanTest, TrailingSlashIsNotDoubled) {
  File("a.vkp");
  const std::vector<std::string> expected = {"status R/a.vkp", "add a.vkp R/a.vkp", "status "};
  EXPECT_EQ(Scan(m_root.path() + "/"), expected);
}

TEST_F(FolderScanTest, WhichEntriesCount) {
  File("upper.VKP");
  File(".hidden.vkp");
  File("notes.txt");
  File("a.vkp.bak");
  Folder("x.vkp");
  File("x.vkp/inner.vkp");
  Folder(".hidden-folder");
  File(".hidden-folder/h.vkp");
  ASSERT_EQ(::symlink("notes.txt", (m_root / "link.vkp").c_str()), 0);
  ASSERT_EQ(::symlink("missing.vkp", (m_root / "dangling.vkp").c_str()), 0);
  ASSERT_EQ(::mkfifo((m_root / "pipe.vkp").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("pipe.vkp", (m_root / "to-pipe.vkp").c_str()), 0);
  const std::vector<std::string> expected = {
      ".hidden.vkp R/.hidden.vkp",  // hidden files are patches like any other
      "h.vkp R/.hidden-folder/h.vkp",
      "inner.vkp R/x.vkp/inner.vkp",  // a folder named x.vkp is scanned, not added
      "link.vkp R/link.vkp",          // a link to a file is a file; to nothing or a FIFO, no patch
      "upper.VKP R/upper.VKP",        // the wildcard ignores case
  };
  EXPECT_EQ(Added(Scan(m_root.path())), expected);
}

TEST_F(FolderScanTest, LinkCyclesEndAndNoFolderIsScannedTwice) {
  Folder("sub");
  File("a.vkp");
  File("sub/b.vkp");
  ASSERT_EQ(::symlink("..", (m_root / "sub/up").c_str()), 0);
  ASSERT_EQ(::symlink("sub", (m_root / "again").c_str()), 0);
  ASSERT_EQ(::symlink(".", (m_root / "self").c_str()), 0);
  const auto added = Added(Scan(m_root.path()));
  ASSERT_EQ(added.size(), 2u) << ::testing::PrintToString(added);
  EXPECT_EQ(added[0], "a.vkp R/a.vkp");
  EXPECT_TRUE(added[1] == "b.vkp R/sub/b.vkp" || added[1] == "b.vkp R/again/b.vkp") << added[1];
}

TEST_F(FolderScanTest, LinkToAFolderOutsideIsFollowed) {
  TempDir outside;
  WriteBytes(outside / "e.vkp", "");
  ASSERT_EQ(::symlink(outside.path().c_str(), (m_root / "ext").c_str()), 0);
  EXPECT_EQ(Added(Scan(m_root.path())), std::vector<std::string>{"e.vkp R/ext/e.vkp"});
}

struct UnreadableRow {
  const char* name;
  const char* relative;
  int osError;  // what the scan reports; 0: nothing
};

class UnreadableFolderTest : public FolderScanTest, public ::testing::WithParamInterface<UnreadableRow> {};

TEST_P(UnreadableFolderTest, AddsNothingSaysWhyAndEndsWithAnEmptyStatus) {
  File("file.vkp");
  const UnreadableRow& row = GetParam();
  const std::string folder = row.relative[0] ? m_root / row.relative : std::string();
  std::vector<std::string> expected;
  if (row.osError) expected.push_back("unreadable R/" + std::string(row.relative) + " " + std::strerror(row.osError));
  expected.push_back("status ");
  EXPECT_EQ(Scan(folder), expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, UnreadableFolderTest,
                         ::testing::Values(UnreadableRow{"missing", "missing", ENOENT},
                                           UnreadableRow{"a_file", "file.vkp", ENOTDIR},
                                           UnreadableRow{"under_a_file", "file.vkp/x", ENOTDIR},
                                           UnreadableRow{"empty_path_is_not_the_root", "", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// Met during the scan: a folder that can't be listed, and one whose path is
// too long to open (which stops root too), are named with their cause, and
// the rest of the tree is still scanned.
TEST_F(FolderScanTest, UnreadableSubfoldersAreReportedAndPassedOver) {
  const std::string name(250, 'd');
  // Made and removed through descriptors: no path reaches the bottom.
  std::vector<int> levels{::open(m_root.path().c_str(), O_RDONLY | O_DIRECTORY)};
  ASSERT_GE(levels.back(), 0);
  while (levels.size() <= 18) {
    ASSERT_EQ(::mkdirat(levels.back(), name.c_str(), 0755), 0);
    levels.push_back(::openat(levels.back(), name.c_str(), O_RDONLY | O_DIRECTORY));
    ASSERT_GE(levels.back(), 0);
  }
  struct RemoveLevels {
    std::vector<int>& levels;
    const std::string& name;
    ~RemoveLevels() {
      ::close(levels.back());
      for (std::size_t i = levels.size() - 1; i-- > 0;) {
        ::unlinkat(levels[i], name.c_str(), AT_REMOVEDIR);
        ::close(levels[i]);
      }
    }
  } removeLevels{levels, name};
  File("a.vkp");
  Folder("locked");
  File("locked/l.vkp");
  const bool root = ::geteuid() == 0;
  if (!root) {
    ASSERT_EQ(::chmod((m_root / "locked").c_str(), 0), 0);
  }
  const std::vector<std::string> events = Scan(m_root.path());
  ::chmod((m_root / "locked").c_str(), 0755);
  std::vector<std::string> reported;
  for (const std::string& event : events)
    if (event.starts_with("unreadable ")) reported.push_back(event);
  std::size_t tooLong = 0, locked = 0;
  for (const std::string& event : reported) {
    tooLong += event.starts_with("unreadable R/" + name) && event.ends_with(std::strerror(ENAMETOOLONG));
    locked += event == "unreadable R/locked " + std::string(std::strerror(EACCES));
  }
  EXPECT_EQ(tooLong, 1u) << ::testing::PrintToString(reported);
  EXPECT_EQ(locked, root ? 0u : 1u) << ::testing::PrintToString(reported);
  EXPECT_EQ(reported.size(), root ? 1u : 2u) << ::testing::PrintToString(reported);
  const auto added = Added(events);
  EXPECT_NE(std::find(added.begin(), added.end(), "a.vkp R/a.vkp"), added.end());
  EXPECT_EQ(std::find(added.begin(), added.end(), "l.vkp R/locked/l.vkp") != added.end(), root);
}

// The job hands its paths over in batches of the size asked for, in the order
// met, files named as inputs among them; a stop ends it at the next entry
// with every path found so far handed over and counted.
TEST_F(FolderScanTest, TheJobHandsOverBatchesAndStops) {
  for (int i = 0; i < 10; ++i) File("f" + std::to_string(i) + ".vkp");
  File("loose.txt");
  std::atomic<bool> stopFlag{false};
  std::vector<std::size_t> batches;
  std::vector<std::string> paths;
  quillet::FolderScanEvents events;
  events.found = [&](std::vector<std::string> found) {
    batches.push_back(found.size());
    paths.insert(paths.end(), found.begin(), found.end());
    if (batches.size() == 2) stopFlag = true;
  };
  const quillet::FolderScanPacing pacing{.batchSize = 3, .batchAge = std::chrono::hours(1)};
  const std::string loose = m_root / "loose.txt";
  quillet::FolderScanOutcome outcome =
      quillet::ScanPatchInputs({loose, m_root.path()}, events, quillet::StopToken(stopFlag), pacing);
  EXPECT_EQ(outcome.cause, quillet::JobCause::stopped);
  EXPECT_EQ(batches, (std::vector<std::size_t>{3, 3}));
  EXPECT_EQ(outcome.found, 6u);
  EXPECT_EQ(paths.front(), loose);

  batches.clear();
  paths.clear();
  stopFlag = false;
  events.found = [&](std::vector<std::string> found) { batches.push_back(found.size()); };
  outcome = quillet::ScanPatchInputs({loose, m_root.path()}, events, {}, pacing);
  EXPECT_EQ(outcome.cause, quillet::JobCause::none);
  EXPECT_EQ(batches, (std::vector<std::size_t>{3, 3, 3, 2}));
}

}  // namespace
