#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
};

class UnreadableFolderTest : public FolderScanTest, public ::testing::WithParamInterface<UnreadableRow> {};

TEST_P(UnreadableFolderTest, AddsNothingAndEndsWithAnEmptyStatus) {
  File("file.vkp");
  const std::string folder = GetParam().relative[0] ? m_root / GetParam().relative : std::string();
  EXPECT_EQ(Scan(folder), std::vector<std::string>{"status "});
}

INSTANTIATE_TEST_SUITE_P(Rows, UnreadableFolderTest,
                         ::testing::Values(UnreadableRow{"missing", "missing"},
                                           UnreadableRow{"a_file", "file.vkp"},
                                           UnreadableRow{"under_a_file", "file.vkp/x"},
                                           UnreadableRow{"empty_path_is_not_the_root", ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FolderScanTest, UnreadableSubfolderAddsNothing) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  Folder("locked");
  File("locked/l.vkp");
  File("a.vkp");
  ASSERT_EQ(::chmod((m_root / "locked").c_str(), 0), 0);
  const auto added = Added(Scan(m_root.path()));
  ::chmod((m_root / "locked").c_str(), 0755);
  EXPECT_EQ(added, std::vector<std::string>{"a.vkp R/a.vkp"});
}

}  // namespace
