#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/compare/compare_worker.h"
#include "core/job/job_link.h"
#include "tests/support/compare_lines.h"
#include "tests/support/job_window.h"
#include "tests/support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using quillet::testing::TempDir;

// Writes the bytes as the named file in the folder and returns its path.
std::string Put(const TempDir& folder, const std::string& name, const Bytes& bytes) {
  quillet::testing::WriteBytes(folder / name,
                               std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  return folder / name;
}

// A regular file whose size says more than a read gives: sysfs attributes claim
// a page and deliver a line.
std::string ShortReadingFile() {
  for (const char* path : {"/sys/kernel/mm/transparent_hugepage/enabled", "/sys/kernel/profiling", "/sys/power/state",
                           "/sys/kernel/uevent_seqnum"}) {
    struct stat st {};
    if (::stat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 64 && ::access(path, R_OK) == 0) return path;
  }
  return {};
}

Bytes Pattern(std::size_t size, std::uint32_t seed) {
  Bytes bytes(size);
  std::mt19937 random(seed);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

std::string ExpectedLines(const Bytes& original, const Bytes& current) {
  const auto length = static_cast<std::uint32_t>(std::min(original.size(), current.size()));
  return quillet::testing::CompareLines(original.data(), current.data(), length);
}

// Runs a comparison on the calling thread, logging its events, as quillet-cli
// and the window's worker see them.
struct Recorded {
  quillet::JobOutcome outcome;
  std::vector<std::string> events;
  std::vector<std::uint32_t> progress;
  std::string text = "HEADER\r\n";
  std::uint64_t bytesRead = 0;  // the last read progress told
};

Recorded Compare(const std::string& original, const std::string& current, int stopAtProgress = -1,
                 bool throwOnLines = false) {
  Recorded seen;
  std::atomic<bool> stop{false};
  const quillet::CompareEvents events{
      .reading = [&](std::uint64_t done, std::uint64_t) { seen.bytesRead = done; },
      .started = [&](std::uint32_t length) { seen.events.push_back("start " + std::to_string(length)); },
      .progress =
          [&](std::uint32_t position) {
            seen.progress.push_back(position);
            if (stopAtProgress >= 0 && static_cast<int>(seen.progress.size()) > stopAtProgress) stop = true;
          },
      .lines =
          [&](std::string_view lines) {
            if (throwOnLines) throw std::bad_alloc();
            seen.text.append(lines);
            return true;
          },
  };
  seen.outcome = quillet::CompareFlashFiles({original, current, {}}, events, quillet::StopToken(stop));
  return seen;
}

TEST(CompareWorkerTest, ComparesTheCommonLength) {
  TempDir folder;
  Bytes original = Pattern(3000, 1), current = original;
  current[5] ^= 0xFF;
  current[2999] ^= 0x01;
  current.resize(5000, 0xAB);  // the longer tail gives no line
  const Recorded seen = Compare(Put(folder, "a.bin", original), Put(folder, "b.bin", current));
  EXPECT_EQ(seen.outcome.cause, quillet::JobCause::none);
  EXPECT_EQ(seen.events, (std::vector<std::string>{"start 3000"}));
  EXPECT_EQ(seen.text, "HEADER\r\n" + ExpectedLines(original, current));
  EXPECT_EQ(seen.progress.front(), 0u);

  const Bytes image = Pattern(4000, 2);
  const Recorded same = Compare(Put(folder, "c.bin", image), Put(folder, "d.bin", image));
  EXPECT_EQ(same.progress, (std::vector<std::uint32_t>{0, 1024, 2048, 3072}));
  EXPECT_EQ(same.text, "HEADER\r\n");
  const Recorded empty = Compare(Put(folder, "e.bin", {}), Put(folder, "f.bin", Pattern(100, 3)));
  EXPECT_TRUE(empty.progress.empty());
  EXPECT_EQ(empty.events, (std::vector<std::string>{"start 0"}));
}

struct FailureRow {
  const char* name;
  bool originalMissing;
  bool originalShort;
  bool currentMissing;
  bool currentShort;
  bool expectOriginalNamed;  // the outcome names the original's path, else the current's
  quillet::JobCause cause;
};

class CompareWorkerFailures : public ::testing::TestWithParam<FailureRow> {};

TEST_P(CompareWorkerFailures, NameTheImageAndStartNothing) {
  const FailureRow& row = GetParam();
  const std::string shortFile = ShortReadingFile();
  if ((row.originalShort || row.currentShort) && shortFile.empty()) GTEST_SKIP() << "no short-reading file here";
  TempDir folder;
  const std::string good = Put(folder, "good.bin", Pattern(2048, 4));
  std::string original = row.originalMissing ? (folder / "missing-original.bin") : row.originalShort ? shortFile : good;
  std::string current = row.currentMissing ? (folder / "missing-current.bin") : row.currentShort ? shortFile : good;
  if (row.originalShort && row.currentShort) current = (folder / "missing-current.bin");
  const Recorded seen = Compare(original, current);
  const std::string named = row.expectOriginalNamed ? original : current;
  EXPECT_EQ(seen.outcome.cause, row.cause);
  EXPECT_EQ(seen.outcome.path, named);
  if (row.cause == quillet::JobCause::imageOpen) {
    EXPECT_EQ(seen.outcome.systemError, ENOENT);
  }
  EXPECT_TRUE(seen.events.empty());
  EXPECT_EQ(seen.text, "HEADER\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CompareWorkerFailures,
    ::testing::Values(FailureRow{"original_missing", true, false, false, false, true, quillet::JobCause::imageOpen},
                      FailureRow{"original_missing_current_missing_too", true, false, true, false, true,
                                 quillet::JobCause::imageOpen},
                      FailureRow{"original_short_is_named_first", false, true, false, true, true,
                                 quillet::JobCause::imageRead},
                      FailureRow{"current_missing", false, false, true, false, false, quillet::JobCause::imageOpen},
                      FailureRow{"current_short", false, false, false, true, false, quillet::JobCause::imageRead}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CompareWorkerTest, ImageOfFourGibibytesIsRefusedByName) {
  TempDir folder;
  const std::string huge = (folder / "huge.bin");
  { std::ofstream(huge, std::ios::binary).put('\0'); }
  if (::truncate(huge.c_str(), static_cast<off_t>(std::uint64_t{1} << 32)) != 0) GTEST_SKIP() << "no sparse files";
  const std::string small = Put(folder, "a.bin", Pattern(10, 6));
  for (const auto& [original, current] : {std::pair{small, huge}, std::pair{huge, small}}) {
    const Recorded seen = Compare(original, current);
    EXPECT_EQ(seen.outcome.cause, quillet::JobCause::imageTooLarge);
    EXPECT_EQ(seen.outcome.path, huge);
    EXPECT_EQ(seen.bytesRead, 0u) << "an image was read before the refusal";
  }
}

TEST(CompareWorkerTest, StopDuringTheWalkKeepsEarlierLines) {
  TempDir folder;
  const Recorded seen = Compare(Put(folder, "a.bin", Bytes(1024, 0)), Put(folder, "b.bin", Bytes(1024, 1)), 4);
  EXPECT_EQ(seen.outcome.cause, quillet::JobCause::stopped);
  EXPECT_TRUE(seen.outcome.Ok());
  // The step that saw the fifth position still hands its lines over.
  EXPECT_EQ(seen.text, "HEADER\r\n" + ExpectedLines(Bytes(80, 0), Bytes(80, 1)));
}

TEST(CompareWorkerTest, FailedAllocationIsReportedAsOutOfMemory) {
  TempDir folder;
  const Recorded seen = Compare(Put(folder, "a.bin", Bytes(64, 0)), Put(folder, "b.bin", Bytes(64, 1)), -1, true);
  EXPECT_EQ(seen.outcome.cause, quillet::JobCause::outOfMemory);
}

// Mapped memory of the process, in KiB.
long MappedKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmSize:", 0) == 0) return std::stol(line.substr(7));
  return -1;
}

TEST(CompareWorkerTest, ImageBuffersAreGoneOnEveryPath) {
  const std::string shortFile = ShortReadingFile();
  TempDir folder;
  const std::size_t size = std::size_t{24} << 20;
  const std::string a = Put(folder, "a.bin", Bytes(size, 0));
  const std::string b = Put(folder, "b.bin", Bytes(size, 1));
  struct Path {
    const char* name;
    std::string original, current;
    int stopAtProgress;
  };
  std::vector<Path> paths = {{"finished", a, a, -1}, {"stopped", a, b, 10}, {"current_missing", a, (folder / "x"), -1}};
  if (!shortFile.empty()) paths.push_back({"current_short", a, shortFile, -1});
  for (const Path& path : paths) {
    SCOPED_TRACE(path.name);
    (void)Compare(path.original, path.current, path.stopAtProgress);
    const long before = MappedKib();
    (void)Compare(path.original, path.current, path.stopAtProgress);
    if (before < 0) GTEST_SKIP() << "no /proc/self/status";
    EXPECT_LT(MappedKib() - before, 8 * 1024);
  }
}

// The comparison window's protocol under stops at random points, as the
// thread sanitizer runs it: the lines come in batches of whole lines, a prefix
// of the full text (all of it unless stopped), the start before them, and the
// done call last, with nothing after it.
TEST(CompareWorkerTest, StopAtRandomPointsHandsOnWholeLines) {
  TempDir folder;
  const Bytes original = Pattern(1 << 16, 9);
  Bytes current = original;
  std::mt19937 random(77);
  for (std::size_t i = 0; i < current.size(); i += 1 + random() % 200) current[i] ^= 0x5A;
  const quillet::CompareJob job{Put(folder, "a.bin", original), Put(folder, "b.bin", current), {}};
  const std::string full = ExpectedLines(original, current);

  for (int trial = 0; trial < 150; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    quillet::testing::JobWindow window;
    quillet::JobLink link(window.Doorbell());
    // Past the end in a fifth of the trials: those run to the end.
    const std::uint32_t stopAt = random() % (original.size() * 5 / 4);
    std::vector<std::string> events;
    std::string text;
    const quillet::CompareEvents sink{
        .reading = {},
        .started = link.Sent<std::uint32_t>(
            [&](std::uint32_t length) { events.push_back("start " + std::to_string(length)); }),
        .progress = link.Latest<std::uint32_t>([&](std::uint32_t position) {
          if (position >= stopAt) link.RequestStop();
        }),
        .lines = {},
    };
    const quillet::LineBatches batches = link.Posted<std::string>([&](std::string lines) {
      EXPECT_TRUE(lines.ends_with("\r\n"));
      EXPECT_EQ(events.size(), 1u);  // after the start, before the done call
      text += lines;
    });
    quillet::JobOutcome outcome;
    ASSERT_TRUE(link.Start<quillet::JobOutcome>(
        [&](quillet::StopToken stop) { return quillet::CompareThreadProc(job, sink, batches, stop); },
        [&](quillet::JobOutcome& ended) {
          outcome = ended;
          events.push_back("done");
        }));
    if (trial % 10 == 0) link.RequestStop();  // before the images are read
    window.ServeUntilDone(link);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), "done");
    EXPECT_LE(events.size(), 2u);
    if (outcome.cause == quillet::JobCause::none) {
      EXPECT_EQ(text, full);
    } else {
      EXPECT_EQ(outcome.cause, quillet::JobCause::stopped);
      EXPECT_EQ(full.compare(0, text.size(), text), 0);
    }
  }
}

}  // namespace
