#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/install/install_job.h"
#include "core/platform/atomic_writer.h"
#include "core/port/port.h"
#include "core/port/port_output.h"
#include "core/search/patch_check.h"
#include "tests/support/temp_dir.h"
#include "tools/split_mix.h"

// Porting held to firmware pairs whose moves are known: the second firmware is
// made of the first one's blocks, with bytes inserted or removed between them
// and stretches changed, repeated, filled or patched already. Each patch is
// made on the first; the shift of every piece is known from how the second was
// made, and what porting writes must check as applying cleanly there and
// install.

namespace {

using quillet::PieceVerdict;
using quillet::PortRefusal;
using quillet::PortStatus;
using quillet::testing::ReadBytes;
using quillet::testing::TempDir;
using quillet::testing::WriteBytes;

constexpr std::uint32_t kFirstSize = 0x20000;
constexpr std::uint8_t kChange = 0xA5;  // a new byte is its old one with these bits flipped

// One block of the second firmware.
struct Block {
  enum Kind { copy, fresh, fill, patched } kind;
  std::uint32_t from = 0;  // copy, patched: where in the first firmware
  std::uint32_t length = 0;
};

struct Stretch {
  std::uint32_t address;
  std::uint32_t length;
};

struct Expected {
  PieceVerdict verdict;
  std::int64_t shift = 0;
};

enum class Old { known, absent, wrong };

struct Row {
  const char* name;
  std::vector<Block> second;
  std::vector<Stretch> patch;  // its lines, on the first firmware
  bool withFirmware;
  Old old;
  PortStatus status;
  PortRefusal cause;
  std::vector<Expected> pieces;
};

std::string Make(const std::string& first, const std::vector<Block>& blocks, quillet::SplitMix64& rng) {
  std::string made;
  for (const Block& block : blocks) {
    for (std::uint32_t i = 0; i < block.length; ++i) {
      switch (block.kind) {
        case Block::copy:
          made += first[block.from + i];
          break;
        case Block::fresh:
          made += static_cast<char>(rng.below(256));
          break;
        case Block::fill:
          made += '\xFF';
          break;
        case Block::patched:
          made += static_cast<char>(first[block.from + i] ^ kChange);
          break;
      }
    }
  }
  return made;
}

std::string Hex(const std::string& bytes, std::uint32_t from, std::uint32_t length, std::uint8_t flip) {
  std::string text;
  char digits[3];
  for (std::uint32_t i = 0; i < length; ++i) {
    std::snprintf(digits, sizeof digits, "%02X", static_cast<std::uint8_t>(bytes[from + i] ^ flip));
    text += digits;
  }
  return text;
}

std::string PatchText(const std::string& first, const Row& row) {
  std::string text = ";made on the first firmware\r\n";
  char address[16];
  for (const Stretch& line : row.patch) {
    std::snprintf(address, sizeof address, "%06X:", line.address);
    text += address;
    if (row.old != Old::absent) text += " " + Hex(first, line.address, line.length, row.old == Old::wrong ? 1 : 0);
    text += " " + Hex(first, line.address, line.length, kChange) + "\r\n";
  }
  return text;
}

const std::vector<Block> kInserted = {
    {Block::copy, 0, 0x2000}, {Block::fresh, 0, 0x123}, {Block::copy, 0x2000, 0x1E000}};

const Row kRows[] = {
    {"an insertion moves what follows it",
     kInserted,
     {{0x3000, 8}, {0x3008, 8}, {0x10000, 16}},
     false,
     Old::known,
     PortStatus::ported,
     PortRefusal::none,
     {{PieceVerdict::placed, 0x123}, {PieceVerdict::placed, 0x123}}},
    {"blocks move by different amounts",
     {{Block::copy, 0, 0x2000},
      {Block::fresh, 0, 0x100},
      {Block::copy, 0x2000, 0x7000},
      {Block::copy, 0x9040, 0x16FC0}},
     {{0x3000, 16}, {0x10000, 16}},
     true,
     Old::known,
     PortStatus::ported,
     PortRefusal::none,
     {{PieceVerdict::placed, 0x100}, {PieceVerdict::placed, 0xC0}}},
    {"a repeated stretch is ambiguous",
     {{Block::copy, 0, kFirstSize}, {Block::copy, 0x2F00, 0x200}},
     {{0x3000, 16}, {0x10000, 16}},
     false,
     Old::known,
     PortStatus::refused,
     PortRefusal::pieces,
     {{PieceVerdict::ambiguous}, {PieceVerdict::placed, 0}}},
    {"a filled stretch is lost",
     {{Block::copy, 0, 0x2F00}, {Block::fill, 0, 0x200}, {Block::copy, 0x3100, 0x1CF00}},
     {{0x3000, 16}},
     true,
     Old::known,
     PortStatus::refused,
     PortRefusal::pieces,
     {{PieceVerdict::notFound}}},
    {"a short piece is not placed by its own bytes",
     kInserted,
     {{0x3000, 4}},
     false,
     Old::known,
     PortStatus::refused,
     PortRefusal::pieces,
     {{PieceVerdict::tooShort}}},
    {"a short piece is placed by the firmware around it",
     kInserted,
     {{0x3000, 2}},
     true,
     Old::absent,
     PortStatus::ported,
     PortRefusal::none,
     {{PieceVerdict::placed, 0x123}}},
    {"changed neighbours leave the written bytes to place it",
     {{Block::copy, 0, 0x2000},
      {Block::fresh, 0, 0x123},
      {Block::copy, 0x2000, 0xFF8},
      {Block::fresh, 0, 8},
      {Block::copy, 0x3000, 0x1D000}},
     {{0x3000, 16}},
     true,
     Old::known,
     PortStatus::ported,
     PortRefusal::none,
     {{PieceVerdict::placed, 0x123}}},
    {"a piece installed already is placed where it is",
     {{Block::copy, 0, 0x2000},
      {Block::fresh, 0, 0x40},
      {Block::copy, 0x2000, 0x1000},
      {Block::patched, 0x3000, 16},
      {Block::copy, 0x3010, 0x1CFF0}},
     {{0x3000, 16}},
     false,
     Old::known,
     PortStatus::ported,
     PortRefusal::none,
     {{PieceVerdict::placed, 0x40}}},
    {"the same firmware fits",
     {{Block::copy, 0, kFirstSize}},
     {{0x3000, 16}, {0x10000, 16}},
     false,
     Old::known,
     PortStatus::fits,
     PortRefusal::none,
     {{PieceVerdict::placed, 0}, {PieceVerdict::placed, 0}}},
    {"old bytes unknown without the firmware",
     kInserted,
     {{0x3000, 16}},
     false,
     Old::absent,
     PortStatus::refused,
     PortRefusal::pieces,
     {{PieceVerdict::oldUnknown}}},
    {"old bytes of another firmware",
     kInserted,
     {{0x3000, 16}},
     true,
     Old::wrong,
     PortStatus::refused,
     PortRefusal::otherFirmware,
     {}},
};

TEST(Port, FindsEachPieceWhereItsFirmwareMovedIt) {
  quillet::SplitMix64 rng(22);
  std::string first;
  for (std::uint32_t i = 0; i < kFirstSize; ++i) first += static_cast<char>(rng.below(256));
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    const std::string second = Make(first, row.second, rng);
    WriteBytes(dir / "first.bin", first);
    WriteBytes(dir / "second.bin", second);
    WriteBytes(dir / "made.vkp", PatchText(first, row));
    const quillet::PortJob job{dir / "second.bin", row.withFirmware ? dir / "first.bin" : "", {dir / "made.vkp"}};
    const quillet::PortOutcome outcome = quillet::PortPatches(job, {}, {});
    ASSERT_EQ(outcome.cause, quillet::JobCause::none);
    ASSERT_EQ(outcome.patches.size(), 1U);
    const quillet::PortedPatch& ported = outcome.patches.front();
    EXPECT_EQ(ported.status, row.status);
    EXPECT_EQ(ported.cause, row.cause);
    ASSERT_EQ(ported.pieces.size(), row.pieces.size());
    for (std::size_t i = 0; i < row.pieces.size(); ++i) {
      EXPECT_EQ(ported.pieces[i].verdict, row.pieces[i].verdict) << "piece " << i;
      EXPECT_EQ(ported.pieces[i].shift, row.pieces[i].shift) << "piece " << i;
    }
    if (ported.status == PortStatus::refused) {
      EXPECT_TRUE(ported.text.empty());
      continue;
    }
    // What it writes holds the first firmware's bytes where they went, and installs.
    WriteBytes(dir / "ported.vkp", ported.text);
    std::string work = second;
    quillet::CheckDetails details;
    const bool installed = row.second.size() > 3 && row.second[3].kind == Block::patched;
    EXPECT_EQ(quillet::CheckPatch(dir / "ported.vkp", reinterpret_cast<const std::uint8_t*>(second.data()),
                                  reinterpret_cast<std::uint8_t*>(work.data()),
                                  static_cast<std::uint32_t>(second.size()), {}, &details),
              installed ? quillet::PATCH_INSTALLED : quillet::PATCH_NOT_INSTALLED);
    EXPECT_EQ(details.verdict, installed ? quillet::OldBytesVerdict::none : quillet::OldBytesVerdict::appliesCleanly);
    quillet::InstallJob install;
    install.imagePath = dir / "second.bin";
    install.patchPaths = {dir / "ported.vkp"};
    install.outputPath = dir / "result.bin";
    ASSERT_EQ(quillet::InstallPatches(install, {}, {}).cause, quillet::JobCause::none);
    std::string expected = second;
    std::size_t line = 0;
    for (std::size_t p = 0; p < ported.pieces.size(); ++p)
      for (; line < row.patch.size() && row.patch[line].address <= ported.pieces[p].last; ++line)
        for (std::uint32_t i = 0; i < row.patch[line].length; ++i)
          expected[row.patch[line].address + ported.pieces[p].shift + i] =
              static_cast<char>(first[row.patch[line].address + i] ^ kChange);
    EXPECT_EQ(ReadBytes(dir / "result.bin"), expected);
  }
}

// A broken line refuses the patch with its line; a patch that writes nothing fits as it is.
TEST(Port, TakesBrokenAndEmptyPatchesAsTheCheckDoes) {
  TempDir dir;
  WriteBytes(dir / "image.bin", std::string(64, '\0'));
  WriteBytes(dir / "broken.vkp", "000010: 00 01\r\nXYZ\r\n");
  WriteBytes(dir / "empty.vkp", ";nothing\r\n");
  const quillet::PortOutcome outcome =
      quillet::PortPatches({dir / "image.bin", "", {dir / "broken.vkp", dir / "empty.vkp"}}, {}, {});
  ASSERT_EQ(outcome.patches.size(), 2U);
  EXPECT_EQ(outcome.patches[0].cause, PortRefusal::broken);
  EXPECT_EQ(outcome.patches[0].line, 2U);
  EXPECT_EQ(outcome.patches[1].status, PortStatus::fits);
  EXPECT_EQ(outcome.RefusedCount(), 1U);
}

}  // namespace

namespace {

// Fails the rename onto one name, and corrupts the bytes of one file on their way.
class FaultyOps final : public quillet::FileOps {
 public:
  std::string renameFailsOnto;
  std::string corrupted;
  ssize_t Write(int fd, const void* bytes, std::size_t count) override {
    std::string copy(static_cast<const char*>(bytes), count);
    if (!corrupted.empty() && copy.find(corrupted) != std::string::npos) copy[0] ^= 1;
    return FileOps::Write(fd, copy.data(), copy.size());
  }
  int Rename(const char* from, const char* to, bool noReplace) override {
    if (!renameFailsOnto.empty() && std::string_view(to).ends_with(renameFailsOnto)) {
      errno = EACCES;
      return -1;
    }
    return FileOps::Rename(from, to, noReplace);
  }
};

std::vector<std::string> Temporaries(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().filename().string().starts_with(".quillet-")) found.push_back(entry.path());
  return found;
}

}  // namespace

// More files than one batch holds: a file that fails is the only one missing,
// and a stop puts nothing more in place; neither leaves a temporary behind.
TEST(PortWriting, AFailedFileIsTheOnlyOneMissingAndAStopPutsNothingMoreInPlace) {
  TempDir dir;
  const std::string out = dir / "out";
  std::filesystem::create_directories(out);
  std::vector<quillet::PortedFile> files;
  for (std::size_t i = 0; i < quillet::AtomicFileBatch::kMaxStaged + 8; ++i)
    files.push_back({out + "/p" + std::to_string(i) + ".vkp", "; file " + std::to_string(i) + "\r\n"});
  WriteBytes(files[5].path, "old");

  FaultyOps ops;
  ops.renameFailsOnto = "/p5.vkp";
  ops.corrupted = "; file 20\r\n";
  std::vector<std::size_t> failed;
  // A link planted at a name after the start, before that file's turn, is replaced, not followed.
  const std::string input = dir / "input.bin";
  WriteBytes(input, "input");
  const auto plant = [&](std::uint64_t done, std::uint64_t) {
    if (done == 1) std::filesystem::create_symlink(input, files[7].path);
  };
  const quillet::PortWriteOutcome outcome = quillet::WritePortedPatches(
      files, {input},
      {.progress = plant, .failed = [&](std::size_t i, const quillet::FileError&) { failed.push_back(i); }}, {}, &ops);
  EXPECT_EQ(ReadBytes(input), "input");
  EXPECT_FALSE(std::filesystem::is_symlink(files[7].path));
  EXPECT_EQ(outcome.cause, quillet::JobCause::outputWrite);
  EXPECT_EQ(failed, (std::vector<std::size_t>{20, 5}));
  for (std::size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(outcome.written[i], i != 5 && i != 20);
    const std::string expected = i == 5 ? "old" : i == 20 ? "" : files[i].text;
    EXPECT_EQ(std::filesystem::exists(files[i].path), i != 20);
    if (i != 20) {
      EXPECT_EQ(ReadBytes(files[i].path), expected);
    }
  }
  EXPECT_TRUE(Temporaries(out).empty());

  // Told to stop one file into the second batch: the first is in place, that file is not.
  std::filesystem::remove_all(out);
  std::atomic<bool> stop{false};
  const quillet::PortWriteOutcome stopped = quillet::WritePortedPatches(
      files, {},
      {.progress = [&](std::uint64_t done,
                       std::uint64_t) { stop = stop || done == quillet::AtomicFileBatch::kMaxStaged + 1; },
       .failed = {}},
      quillet::StopToken(stop));
  EXPECT_EQ(stopped.cause, quillet::JobCause::stopped);
  EXPECT_EQ(stopped.WrittenCount(), quillet::AtomicFileBatch::kMaxStaged);
  for (std::size_t i = 0; i < files.size(); ++i)
    EXPECT_EQ(std::filesystem::exists(files[i].path), stopped.written[i]) << i;
  EXPECT_TRUE(Temporaries(out).empty());
}
