#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/compare/compare_images.h"
#include "core/compare/compare_link.h"
#include "core/compare/compare_worker.h"
#include "core/res/strings.h"
#include "tests/support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace text = quillet::text;
using quillet::testing::TempDir;

// Writes the bytes as the named file in the folder and returns its path.
std::string Put(const TempDir& folder, const std::string& name, const Bytes& bytes) {
  quillet::testing::WriteBytes(folder / name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  return folder / name;
}

// A regular file whose size says more than a read gives: sysfs attributes claim
// a page and deliver a line.
std::string ShortReadingFile() {
  for (const char* path : {"/sys/kernel/mm/transparent_hugepage/enabled", "/sys/kernel/profiling",
                           "/sys/power/state", "/sys/kernel/uevent_seqnum"}) {
    struct stat st {};
    if (::stat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 64 && ::access(path, R_OK) == 0)
      return path;
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
  std::string lines;
  const auto length = static_cast<std::uint32_t>(std::min(original.size(), current.size()));
  quillet::CompareImagesInto(original.data(), current.data(), length, [](std::uint32_t) { return false; }, lines);
  return lines;
}

// Handles every call at once on the worker's own thread and logs it.
class RecordingWindow final : public ICompareWindow {
 public:
  RecordingWindow(std::string original, std::string current) : job{std::move(original), std::move(current), {}} {}

  bool StopRequested() const override { return m_stop; }
  bool AppendText(std::string_view lines) override {
    if (throwOnAppend) throw std::bad_alloc();
    if (m_stop) return false;
    text.append(lines);
    return true;
  }
  void SendDiffStart(std::uint32_t length) override { events.push_back("start " + std::to_string(length)); }
  void PostDiffProgress(std::uint32_t position) override {
    progress.push_back(position);
    if (stopAtProgress >= 0 && static_cast<int>(progress.size()) > stopAtProgress) m_stop = true;
  }
  void SendDiffDone() override { events.push_back("done"); }
  void PostReadProgress(std::uint64_t bytesDone, std::uint64_t /*bytesTotal*/) override { bytesRead = bytesDone; }
  void ShowErrorBox(const std::string& message) override {
    events.push_back("error " + message);
    if (stopOnError) m_stop = true;
  }

  quillet::CompareJob job;
  std::string text = "HEADER\r\n";
  std::vector<std::string> events;
  std::vector<std::uint32_t> progress;
  int stopAtProgress = -1;
  bool stopOnError = false;
  std::uint64_t bytesRead = 0;  // the last read progress told
  bool throwOnAppend = false;

 private:
  bool m_stop = false;
};

TEST(CompareWorkerTest, ComparesTheCommonLengthAndEndsWithDone) {
  TempDir folder;
  Bytes original = Pattern(3000, 1), current = original;
  current[5] ^= 0xFF;
  current[2999] ^= 0x01;
  current.resize(5000, 0xAB);  // the longer tail gives no line
  RecordingWindow window(Put(folder, "a.bin", original), Put(folder, "b.bin", current));
  EXPECT_EQ(CompareThreadProc(&window, window.job), 0u);
  EXPECT_EQ(window.events, (std::vector<std::string>{"start 3000", "done"}));
  EXPECT_EQ(window.text, "HEADER\r\n" + ExpectedLines(original, current));
  EXPECT_EQ(window.progress.front(), 0u);
}

TEST(CompareWorkerTest, IdenticalImagesReportProgressPerBlockAndNoLine) {
  TempDir folder;
  const Bytes image = Pattern(4000, 2);
  RecordingWindow window(Put(folder, "a.bin", image), Put(folder, "b.bin", image));
  CompareThreadProc(&window, window.job);
  EXPECT_EQ(window.progress, (std::vector<std::uint32_t>{0, 1024, 2048, 3072}));
  EXPECT_EQ(window.text, "HEADER\r\n");
  EXPECT_EQ(window.events, (std::vector<std::string>{"start 4000", "done"}));
}

TEST(CompareWorkerTest, EmptyImageStartsWithZeroAndSendsNoProgress) {
  TempDir folder;
  RecordingWindow window(Put(folder, "a.bin", {}), Put(folder, "b.bin", Pattern(100, 3)));
  CompareThreadProc(&window, window.job);
  EXPECT_TRUE(window.progress.empty());
  EXPECT_EQ(window.events, (std::vector<std::string>{"start 0", "done"}));
}

struct FailureRow {
  const char* name;
  bool originalMissing;
  bool originalShort;
  bool currentMissing;
  bool currentShort;
  bool expectOriginalNamed;  // the box names the original's path, else the current's
  const char* prefix;
};

class CompareWorkerFailures : public ::testing::TestWithParam<FailureRow> {};

TEST_P(CompareWorkerFailures, ShowTheBoxThenDoneWithTheHeaderAlone) {
  const FailureRow& row = GetParam();
  const std::string shortFile = ShortReadingFile();
  if ((row.originalShort || row.currentShort) && shortFile.empty()) GTEST_SKIP() << "no short-reading file here";
  TempDir folder;
  const std::string good = Put(folder, "good.bin", Pattern(2048, 4));
  std::string original = row.originalMissing ? (folder / "missing-original.bin") : row.originalShort ? shortFile : good;
  std::string current = row.currentMissing ? (folder / "missing-current.bin") : row.currentShort ? shortFile : good;
  if (row.originalShort && row.currentShort) current = (folder / "missing-current.bin");
  RecordingWindow window(original, current);
  CompareThreadProc(&window, window.job);
  const std::string named = row.expectOriginalNamed ? original : current;
  EXPECT_EQ(window.events, (std::vector<std::string>{"error " + std::string(row.prefix) + named + "'", "done"}));
  EXPECT_EQ(window.text, "HEADER\r\n");
  EXPECT_TRUE(window.progress.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CompareWorkerFailures,
    ::testing::Values(
        FailureRow{"original_missing", true, false, false, false, true, text::kOpenErrorPrefix},
        FailureRow{"original_missing_current_missing_too", true, false, true, false, true, text::kOpenErrorPrefix},
        FailureRow{"original_short_is_named_first", false, true, false, true, true, text::kReadErrorPrefix},
        FailureRow{"current_missing", false, false, true, false, false, text::kOpenErrorPrefix},
        FailureRow{"current_short", false, false, false, true, false, text::kReadErrorPrefix}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CompareWorkerTest, ImageOfFourGibibytesIsRefusedByName) {
  TempDir folder;
  const std::string huge = (folder / "huge.bin");
  {
    std::ofstream(huge, std::ios::binary).put('\0');
  }
  if (::truncate(huge.c_str(), static_cast<off_t>(std::uint64_t{1} << 32)) != 0) GTEST_SKIP() << "no sparse files";
  const std::string small = Put(folder, "a.bin", Pattern(10, 6));
  for (const auto& [original, current] : {std::pair{small, huge}, std::pair{huge, small}}) {
    RecordingWindow window(original, current);
    CompareThreadProc(&window, window.job);
    EXPECT_EQ(window.events, (std::vector<std::string>{"error " + std::string(text::kTooLargePrefix) + huge + "'", "done"}));
    EXPECT_EQ(window.bytesRead, 0u) << "an image was read before the refusal";
  }
}

TEST(CompareWorkerTest, StopDuringTheWalkKeepsEarlierLinesAndSendsNoDone) {
  TempDir folder;
  Bytes original(1024, 0), current(1024, 1);
  RecordingWindow window(Put(folder, "a.bin", original), Put(folder, "b.bin", current));
  window.stopAtProgress = 4;  // four groups walked, the stop seen at the fifth step
  CompareThreadProc(&window, window.job);
  EXPECT_EQ(window.events, (std::vector<std::string>{"start 1024"}));
  EXPECT_EQ(window.text, "HEADER\r\n" + ExpectedLines(Bytes(64, 0), Bytes(64, 1)));
}

TEST(CompareWorkerTest, StopBeforeAnErrorIsAnsweredSendsNoDone) {
  TempDir folder;
  RecordingWindow window((folder / "missing.bin"), (folder / "missing-too.bin"));
  window.stopOnError = true;
  CompareThreadProc(&window, window.job);
  EXPECT_EQ(window.events.size(), 1u);
}

TEST(CompareWorkerTest, FailedAllocationIsReportedAsOutOfMemory) {
  TempDir folder;
  RecordingWindow window(Put(folder, "a.bin", Bytes(64, 0)), Put(folder, "b.bin", Bytes(64, 1)));
  window.throwOnAppend = true;
  CompareThreadProc(&window, window.job);
  EXPECT_EQ(window.events, (std::vector<std::string>{"start 64", "error Out of memory.", "done"}));
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
    RecordingWindow warmUp(path.original, path.current);
    warmUp.stopAtProgress = path.stopAtProgress;
    CompareThreadProc(&warmUp, warmUp.job);
    const long before = MappedKib();
    RecordingWindow window(path.original, path.current);
    window.stopAtProgress = path.stopAtProgress;
    CompareThreadProc(&window, window.job);
    if (before < 0) GTEST_SKIP() << "no /proc/self/status";
    EXPECT_LT(MappedKib() - before, 8 * 1024);
  }
}

// A window on its own thread, as the desktop one: the worker's calls reach the
// test's thread through the link.
class ThreadedWindow final : public quillet::CompareWindowLink {
 public:
  ~ThreadedWindow() override { StopAndWait(); }

  // Runs the worker's calls as they come until done() or the time is up.
  template <typename Done>
  void Serve(Done done, std::chrono::microseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < until) {
      {
        std::unique_lock lock(m_bellMutex);
        m_bell.wait_until(lock, until, [this] { return m_rung; });
        m_rung = false;
      }
      RunPendingCalls();
    }
  }

  std::vector<std::string> events;  // window thread only
  std::string shownText;            // what OnDiffDone showed
  bool answerErrors = true;

 protected:
  void OnDiffStart(std::uint32_t length) override { events.push_back("start " + std::to_string(length)); }
  void OnDiffProgress(std::uint32_t position) override {
    EXPECT_GE(position, m_lastPosition);
    m_lastPosition = position;
    if (events.empty() || events.back() != "progress") events.push_back("progress");
  }
  void OnDiffDone() override {
    events.push_back("done");
    shownText = Text();
  }
  void OnErrorBox(const std::string& message) override { events.push_back("error " + message); }
  void RingDoorbell() override {
    {
      std::lock_guard lock(m_bellMutex);
      m_rung = true;
    }
    m_bell.notify_one();
  }

 private:
  std::mutex m_bellMutex;
  std::condition_variable m_bell;
  bool m_rung = false;
  std::uint32_t m_lastPosition = 0;
};

TEST(CompareLinkTest, StopAtRandomMomentsFreezesTheText) {
  TempDir folder;
  const Bytes original = Pattern(1 << 16, 9);
  Bytes current = original;
  std::mt19937 random(77);
  for (std::size_t i = 0; i < current.size(); i += 1 + random() % 200) current[i] ^= 0x5A;
  const std::string a = Put(folder, "a.bin", original);
  const std::string b = Put(folder, "b.bin", current);
  const std::string full = "HEADER\r\n" + ExpectedLines(original, current);

  for (int trial = 0; trial < 150; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    ThreadedWindow window;
    ASSERT_TRUE(window.StartWorker({a, b, {}}, "HEADER\r\n"));
    window.Serve([] { return false; }, std::chrono::microseconds(random() % 3000));
    if (!window.Running()) {
      EXPECT_EQ(window.shownText, full);
      continue;
    }
    const std::string taken = window.StopAndTakeText();
    EXPECT_FALSE(window.Running());
    // What was taken is a whole number of lines of the full text.
    EXPECT_EQ(full.compare(0, taken.size(), taken), 0);
    EXPECT_TRUE(taken.ends_with("\r\n"));
    if (trial % 3 == 0) window.Serve([] { return false; }, std::chrono::microseconds(random() % 2000));
    window.StopAndWait();
    EXPECT_EQ(window.Text(), taken);
    EXPECT_EQ(std::count(window.events.begin(), window.events.end(), "done"), 0);
  }
}

TEST(CompareLinkTest, WaitingForAWorkerThatWaitsOnTheWindowDoesNotDeadlock) {
  TempDir folder;
  const std::string a = Put(folder, "a.bin", Pattern(4096, 10));
  struct Case {
    const char* name;
    std::string current;
    const char* firstCall;  // the call the worker waits in while the window waits for it
  };
  const std::vector<Case> cases = {{"error_box", (folder / "missing.bin"), "error "},
                                   {"start", Put(folder, "b.bin", Pattern(4096, 11)), "start"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int trial = 0; trial < 20; ++trial) {
      ThreadedWindow window;
      ASSERT_TRUE(window.StartWorker({a, c.current, {}}, "HEADER\r\n"));
      std::this_thread::sleep_for(std::chrono::milliseconds(trial % 3));
      window.StopAndWait();  // serves the worker's pending call, then joins
      EXPECT_FALSE(window.Running());
      // After the stop only an error box still reaches the window.
      for (const std::string& event : window.events) EXPECT_EQ(event.rfind("error ", 0), 0u) << event;
    }
  }
}

}  // namespace
