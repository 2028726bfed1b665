#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/install/install_job.h"
#include "core/platform/cp1251.h"
#include "core/platform/image_file.h"
#include "core/vkp/vkp_text.h"
#include "tests/support/temp_dir.h"

// The install job's promises about the files it writes, each held where it
// could break: through a seam of the file operations that fails, cuts or
// corrupts what the job writes, or lets something else happen to the files
// at the worst moment, instead of relying on timing.

namespace {

using quillet::InstallJob;
using quillet::InstallOutcome;
using quillet::JobCause;
using quillet::testing::ReadBytes;
using quillet::testing::TempDir;
using quillet::testing::WriteBytes;

constexpr std::size_t kImageSize = std::size_t{3} << 20;  // three of the writer's pieces

std::string Image() {
  std::string image(kImageSize, '\0');
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 7 + 1) & 0xFF);
  return image;
}

std::string Hex(char byte) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", static_cast<unsigned char>(byte));
  return text;
}

// A patch that changes one byte at address, made on Image().
std::string Patch(std::size_t address, char value) {
  char line[64];
  std::snprintf(line, sizeof line, "%06zX: %s %s\r\n", address, Hex(Image()[address]).c_str(), Hex(value).c_str());
  return line;
}

// Does what the system does, except where a test's hooks say otherwise.
class HookedOps final : public quillet::FileOps {
 public:
  std::function<void(std::string& bytes)> onWrite;  // may change what reaches the file
  std::function<void()> onSync;                     // the flushed result, before the rename
  bool backdate = false;                            // a clock far off: every file written dates from 2001
  int writes = 0;
  void Reset() {
    onWrite = nullptr;
    onSync = nullptr;
    backdate = false;
    writes = 0;
  }

  ssize_t Write(int fd, const void* bytes, std::size_t count) override {
    ++writes;
    if (!onWrite) return FileOps::Write(fd, bytes, count);
    std::string copy(static_cast<const char*>(bytes), count);
    onWrite(copy);
    const ssize_t put = FileOps::Write(fd, copy.data(), copy.size());
    return put == static_cast<ssize_t>(copy.size()) ? static_cast<ssize_t>(count) : put;
  }
  int Sync(int fd) override {
    if (onSync) std::exchange(onSync, nullptr)();
    const struct timespec y2001[2] = {{978307200, 0}, {978307200, 0}};
    if (backdate) (void)::futimens(fd, y2001);
    return FileOps::Sync(fd);
  }
};

class InstallJobFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(m_dir / "img.bin", Image());
    WriteBytes(m_dir / "a.vkp", Patch(0x10, 0x55));
    WriteBytes(m_dir / "b.vkp", Patch(0x200010, 0x66));
  }
  InstallJob Job(bool inPlace, std::vector<std::string> patches = {"a.vkp"}) {
    InstallJob job;
    job.imagePath = m_dir / "img.bin";
    for (const std::string& patch : patches) job.patchPaths.push_back(m_dir / patch);
    job.inPlace = inPlace;
    if (!inPlace) job.outputPath = m_dir / "out.bin";
    job.undoPath = m_dir / "undo.vkp";
    job.fileOps = &m_ops;
    return job;
  }
  std::string With(std::initializer_list<std::pair<std::size_t, char>> changes) {
    std::string image = Image();
    for (const auto& [address, value] : changes) image[address] = value;
    return image;
  }
  // Only the files a test made, nothing half-written beside them.
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.path()))
      names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempDir m_dir;
  HookedOps m_ops;
};

// Whatever goes wrong on the way to the disk, nothing is put in place: the
// image as it was, no result, no undo patch, no temporary file.
TEST_F(InstallJobFiles, AFaultOnTheWayLeavesEveryFileAsItWas) {
  struct Row {
    const char* name;
    std::function<void(HookedOps&, std::atomic<bool>&)> arm;
    JobCause cause;
  };
  const std::vector<Row> rows = {
      {"a bit flipped far from any patched byte",
       [](HookedOps& ops, std::atomic<bool>&) {
         ops.onWrite = [&ops](std::string& bytes) {
           if (ops.writes == 2) bytes[bytes.size() / 2] ^= 0x08;
         };
       },
       JobCause::verifyFailed},
      {"a bit flipped in the undo patch",
       [](HookedOps& ops, std::atomic<bool>&) {
         ops.onWrite = [&ops](std::string& bytes) {
           if (ops.writes == 1) bytes[bytes.size() - 3] ^= 0x01;
         };
       },
       JobCause::undoWrite},
      {"a write that loses its last byte",
       [](HookedOps& ops, std::atomic<bool>&) {
         ops.onWrite = [&ops](std::string& bytes) {
           if (ops.writes == 3) bytes.pop_back();
         };
       },
       JobCause::verifyFailed},
      {"a file that grew by a byte",
       [](HookedOps& ops, std::atomic<bool>&) {
         ops.onWrite = [&ops](std::string& bytes) {
           if (ops.writes == 4) bytes.push_back('\0');
         };
       },
       JobCause::verifyFailed},
      {"a stop during the write",
       [](HookedOps& ops, std::atomic<bool>& stop) { ops.onWrite = [&stop](std::string&) { stop = true; }; },
       JobCause::stopped},
      {"another program writing to the image meanwhile",
       [this](HookedOps& ops, std::atomic<bool>&) {
         ops.onSync = [this] {
           std::string image = Image();
           image[0x300] = 0x01;
           WriteBytes(m_dir / "img.bin", image);
         };
       },
       JobCause::imageChanged},
  };
  for (const bool inPlace : {true, false}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(row.name) + (inPlace ? ", in place" : ", to a new file"));
      WriteBytes(m_dir / "img.bin", Image());
      m_ops.Reset();
      std::atomic<bool> stop{false};
      row.arm(m_ops, stop);
      const InstallOutcome outcome = quillet::InstallPatches(Job(inPlace), {}, quillet::StopToken(stop));
      EXPECT_EQ(outcome.cause, row.cause);
      EXPECT_FALSE(outcome.written);
      if (row.cause != JobCause::imageChanged) {
        EXPECT_TRUE(ReadBytes(m_dir / "img.bin") == Image());
      }
      EXPECT_EQ(Names(), (std::vector<std::string>{"a.vkp", "b.vkp", "img.bin"}));
    }
  }
}

// The undo patch of a written run states the result's size and time as the
// result has them, whatever time the file system gave it, and a link planted
// at an output's name after the start is replaced, never followed into the image.
TEST_F(InstallJobFiles, TheUndoHeaderStatesTheResultAndALinkPlantedLaterIsNotFollowed) {
  m_ops.backdate = true;
  m_ops.onSync = [this] { std::filesystem::create_symlink("img.bin", m_dir / "out.bin"); };
  const InstallOutcome outcome = quillet::InstallPatches(Job(false), {}, {});
  ASSERT_EQ(outcome.cause, JobCause::none);
  EXPECT_TRUE(ReadBytes(m_dir / "img.bin") == Image());
  EXPECT_FALSE(std::filesystem::is_symlink(m_dir / "out.bin"));
  EXPECT_TRUE(ReadBytes(m_dir / "out.bin") == With({{0x10, 0x55}}));
  const std::string header =
      quillet::Utf8ToCp1251(quillet::ComposeUndoHeader(m_dir / "img.bin", quillet::ProbeFile(m_dir / "img.bin"),
                                                       m_dir / "out.bin", quillet::ProbeFile(m_dir / "out.bin")));
  EXPECT_EQ(ReadBytes(m_dir / "undo.vkp").substr(0, header.size()), header);
  EXPECT_TRUE(quillet::IsUndoPatchText(ReadBytes(m_dir / "undo.vkp")));

  // An undo patch is never replaced, not even by one made for the same change.
  const std::string earlier = ReadBytes(m_dir / "undo.vkp");
  EXPECT_EQ(quillet::InstallPatches(Job(false), {}, {}).cause, JobCause::undoExists);
  EXPECT_EQ(ReadBytes(m_dir / "undo.vkp"), earlier);
  EXPECT_EQ(quillet::FreeUndoPath(m_dir / "out.bin"), m_dir / "out.bin.undo.vkp");
  WriteBytes(m_dir / "out.bin.undo.vkp", "");
  EXPECT_EQ(quillet::FreeUndoPath(m_dir / "out.bin"), m_dir / "out.bin.undo-2.vkp");
}

// A stop at any step before the last ends the run at its next poll: no step
// after it, nothing in place. So does one while the run waits for an image
// that another run holds.
TEST_F(InstallJobFiles, AStopAtAnyStepEndsTheRunWithNothingInPlace) {
  for (const bool inPlace : {true, false}) {
    std::uint64_t total = 0;
    for (std::uint64_t at = 1; total == 0 || at < total; ++at) {
      SCOPED_TRACE("a stop at step " + std::to_string(at) + (inPlace ? ", in place" : ", to a new file"));
      WriteBytes(m_dir / "img.bin", Image());
      std::atomic<bool> stop{false};
      std::uint64_t last = 0;
      const quillet::InstallEvents events{.progress =
                                              [&](std::uint64_t done, std::uint64_t all) {
                                                last = done;
                                                total = all;
                                                if (done == at) stop = true;
                                              },
                                          .waitingForImage = {}};
      const InstallOutcome outcome =
          quillet::InstallPatches(Job(inPlace, {"a.vkp", "b.vkp"}), events, quillet::StopToken(stop));
      EXPECT_EQ(outcome.cause, JobCause::stopped);
      EXPECT_EQ(last, at);
      EXPECT_FALSE(outcome.written);
      EXPECT_TRUE(ReadBytes(m_dir / "img.bin") == Image());
      EXPECT_EQ(Names(), (std::vector<std::string>{"a.vkp", "b.vkp", "img.bin"}));
      ASSERT_LT(at, 100u);
    }
  }
  quillet::ImageLock other;
  ASSERT_EQ(other.Acquire(m_dir / "img.bin", [] { return false; }), quillet::ImageLock::Status::locked);
  std::atomic<bool> stop{false};
  const quillet::InstallEvents events{.progress = {}, .waitingForImage = [&stop] { stop = true; }};
  EXPECT_EQ(quillet::InstallPatches(Job(true), events, quillet::StopToken(stop)).cause, JobCause::stopped);
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.vkp", "b.vkp", "img.bin"}));
}

// One run keeps its room for writes for all its patches together: a patch
// that fits alone is refused as too large behind another one that fills
// half of it.
TEST_F(InstallJobFiles, PatchesThatFitAloneButNotTogetherAreRefused) {
  const std::string image = Image();
  std::string patch;
  char line[96];
  for (std::size_t at = 0; at <= quillet::kMaxInstallWrites / 2; at += 16) {
    std::string old, value;
    for (std::size_t k = 0; k < 16; ++k) {
      old += Hex(image[at + k]);
      value += Hex(static_cast<char>(~image[at + k]));
    }
    std::snprintf(line, sizeof line, "%06zX: %s %s\r\n", at, old.c_str(), value.c_str());
    patch += line;
  }
  WriteBytes(m_dir / "half.vkp", patch);
  InstallJob job = Job(false, {"half.vkp", "half.vkp"});
  job.dryRun = true;
  const InstallOutcome twice = quillet::InstallPatches(job, {}, {});
  EXPECT_EQ(twice.cause, JobCause::refused);
  ASSERT_EQ(twice.patches.size(), 2u);
  EXPECT_EQ(twice.patches[0].status, quillet::InstallStatus::applied);
  EXPECT_EQ(twice.patches[1].cause, quillet::RefusalCause::tooLarge);
  job.patchPaths.pop_back();
  EXPECT_EQ(quillet::InstallPatches(job, {}, {}).cause, JobCause::none);
}

// Two runs that change one image at once: the second waits for the first to
// put its result in place and then patches that, so neither change is lost.
TEST_F(InstallJobFiles, TwoRunsInPlaceKeepBothChanges) {
  std::mutex mutex;
  std::condition_variable told;
  bool waiting = false;
  InstallOutcome second;
  std::thread other;
  m_ops.onWrite = [&](std::string&) {
    if (other.joinable()) return;
    other = std::thread([&] {
      InstallJob job = Job(true, {"b.vkp"});
      job.fileOps = nullptr;
      job.undoPath.clear();
      const quillet::InstallEvents events{.progress = {}, .waitingForImage = [&] {
                                            const std::lock_guard<std::mutex> lock(mutex);
                                            waiting = true;
                                            told.notify_all();
                                          }};
      second = quillet::InstallPatches(job, events, {});
    });
    std::unique_lock<std::mutex> lock(mutex);
    told.wait_for(lock, std::chrono::seconds(30),
                  [&] { return waiting; });  // bounded: a run that never waits must fail, not hang
  };
  const InstallOutcome first = quillet::InstallPatches(Job(true), {}, {});
  other.join();
  EXPECT_EQ(first.cause, JobCause::none);
  EXPECT_EQ(second.cause, JobCause::none);
  EXPECT_TRUE(second.written);
  EXPECT_TRUE(ReadBytes(m_dir / "img.bin") == With({{0x10, 0x55}, {0x200010, 0x66}}));
}

}  // namespace
