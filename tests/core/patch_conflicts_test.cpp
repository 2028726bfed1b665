#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/search/patch_conflicts.h"
#include "tests/support/temp_dir.h"
#include "tools/split_mix.h"

namespace {

using quillet::ConflictingByte;
using quillet::PatchConflict;
using quillet::PatchConflicts;
using quillet::VkpError;

// A random patch file together with what it means, worked out while writing it
// rather than by reading it back.
struct ModelFile {
  std::string text;
  std::map<std::uint32_t, std::uint8_t> bytes;  // the last byte written at each address
  bool missing = false;
  VkpError error = VkpError::none;
  std::size_t errorLine = 0;
};

std::string Hex(std::uint32_t value, const char* format = "%02X") {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

// Few addresses and few values, so that files overlap all the time and often
// agree where they overlap. Offsets near 2^32 wrap their lines back into the
// same small space.
ModelFile RandomFile(quillet::SplitMix64& rng) {
  static constexpr std::uint8_t kValues[] = {0x00, 0x5A, 0xFF};
  ModelFile file;
  if (rng.chance(3)) {
    file.missing = true;
    return file;
  }
  std::uint32_t offset = 0;
  const std::uint32_t lines = 1 + rng.below(8);
  for (std::uint32_t line = 1; line <= lines; ++line) {
    const std::uint32_t kind = rng.below(100);
    if (kind < 15) {
      offset = rng.chance(50) ? rng.below(16) : 0u - rng.below(16);
      file.text += offset == 0 && rng.chance(50) ? "+\n" : "+" + Hex(offset, "%X") + "\n";
      continue;
    }
    if (kind < 20 && file.error == VkpError::none) {
      static constexpr std::pair<const char*, VkpError> kBroken[] = {{"XYZ", VkpError::noColon},
                                                                     {"+G", VkpError::badOffset},
                                                                     {"1Q: 00", VkpError::badAddress},
                                                                     {"3: 00 5AG0", VkpError::badByte}};
      const auto& [text, error] = kBroken[rng.below(4)];
      file.text += std::string(text) + "\n";
      // Lines after the invalid one are still written, to show they count for nothing.
      file.error = error;
      file.errorLine = line;
      continue;
    }
    const std::uint32_t field = rng.below(24);
    const std::uint32_t count = 1 + rng.below(4);
    std::string newBytes;
    for (std::uint32_t k = 0; k < count; ++k) {
      const std::uint8_t value = kValues[rng.below(3)];
      if (k + 1 == count && value < 0x10 && rng.chance(30)) {
        newBytes += Hex(value, "%X");  // an odd last digit is a byte of its own
      } else {
        newBytes += Hex(value);
      }
      if (file.error == VkpError::none) file.bytes[field + offset + k] = value;
    }
    file.text += Hex(field, "%06X") + ": " + (rng.chance(50) ? std::string(newBytes.size(), '0') + " " : "") +
                 newBytes + (rng.chance(20) ? " ; note\r\n" : "\n");
  }
  if (file.error != VkpError::none) file.bytes.clear();
  return file;
}

// Every pair of readable, valid files compared address by address.
PatchConflicts BruteForce(const std::vector<ModelFile>& files) {
  PatchConflicts expected;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (files[i].missing || files[i].error != VkpError::none)
      expected.excluded.push_back({i, {files[i].error, files[i].errorLine}, files[i].missing ? "?" : ""});
    for (std::size_t j = i + 1; j < files.size(); ++j) {
      PatchConflict pair{i, j, {}};
      for (const auto& [address, value] : files[i].bytes)
        if (const auto other = files[j].bytes.find(address); other != files[j].bytes.end() && other->second != value)
          pair.bytes.push_back({address, value, other->second});
      if (!pair.bytes.empty()) expected.conflicts.push_back(std::move(pair));
    }
  }
  return expected;
}

std::string Describe(const PatchConflicts& result) {
  std::ostringstream out;
  for (const PatchConflict& pair : result.conflicts) {
    out << pair.first << "-" << pair.second << ":";
    for (const ConflictingByte& byte : pair.bytes)
      out << " " << Hex(byte.address, "%X") << "=" << Hex(byte.first) << "/" << Hex(byte.second);
    out << "\n";
  }
  for (const quillet::ExcludedPatch& file : result.excluded)
    out << "excluded " << file.file << (file.Unreadable() ? " unreadable" : "") << " error "
        << static_cast<int>(file.read.error) << " line " << file.read.line << "\n";
  return out.str();
}

TEST(PatchConflicts, AgreeWithComparingEveryPairOfFiles) {
  quillet::testing::TempDir dir;
  int withConflicts = 0, without = 0, sameValueOverlaps = 0, threeWay = 0;
  for (std::uint64_t seed = 1; seed <= 1500; ++seed) {
    quillet::SplitMix64 rng(seed);
    std::vector<ModelFile> files(rng.below(10));
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < files.size(); ++i) {
      files[i] = RandomFile(rng);
      paths.push_back(dir / (std::to_string(seed) + "_" + std::to_string(i) + ".vkp"));
      if (!files[i].missing) quillet::testing::WriteBytes(paths.back(), files[i].text);
    }
    const PatchConflicts expected = BruteForce(files);
    const PatchConflicts found = quillet::FindPatchConflicts(paths);

    std::string trace = "seed " + std::to_string(seed);
    for (std::size_t i = 0; i < files.size(); ++i) trace += "\n--- file " + std::to_string(i) + "\n" + files[i].text;
    SCOPED_TRACE(trace);
    ASSERT_EQ(Describe(found), Describe(expected));
    for (const quillet::ExcludedPatch& file : found.excluded) {
      const bool namesItsPath = file.fileError.find(paths[file.file]) != std::string::npos;
      ASSERT_TRUE(!file.Unreadable() || namesItsPath) << file.fileError;
    }

    (expected.conflicts.empty() ? without : withConflicts) += 1;
    std::map<std::uint32_t, std::map<std::uint8_t, int>> valuesAt;
    for (const ModelFile& file : files)
      for (const auto& [address, value] : file.bytes) ++valuesAt[address][value];
    for (const auto& [address, values] : valuesAt) {
      for (const auto& [value, count] : values) sameValueOverlaps += count > 1;
      threeWay += values.size() > 2;
    }
  }
  // The comparison proves little unless every case the scan tells apart is common.
  EXPECT_GT(withConflicts, 400);
  EXPECT_GT(without, 200);
  EXPECT_GT(sameValueOverlaps, 1000);
  EXPECT_GT(threeWay, 200);
}

// As a job: told of each file before it is read, and a stop ends it before the
// next file with nothing found, rather than with the collisions of a part.
TEST(PatchConflicts, TheJobTellsItsReadingAndStopsBetweenFiles) {
  quillet::testing::TempDir dir;
  std::vector<std::string> paths;
  for (const char* name : {"a", "b", "c"}) {
    paths.push_back(dir / name);
    quillet::testing::WriteBytes(paths.back(), "10: 00 01\n");
  }
  std::atomic<bool> stop{false};
  std::vector<std::size_t> told;
  const quillet::ConflictEvents events{.reading = [&](std::size_t read, std::size_t files) {
    told.push_back(read);
    EXPECT_EQ(files, 3u);
    if (read == 1) stop = true;
  }};
  const quillet::ConflictsOutcome stopped = quillet::FindPatchConflicts(paths, events, quillet::StopToken(stop));
  EXPECT_EQ(stopped.cause, quillet::JobCause::stopped);
  EXPECT_TRUE(stopped.found.conflicts.empty() && stopped.found.excluded.empty());
  EXPECT_EQ(told, (std::vector<std::size_t>{0, 1}));

  paths[2] = dir / "c";
  quillet::testing::WriteBytes(paths[2], "10: 00 02\n");
  const quillet::ConflictsOutcome done = quillet::FindPatchConflicts(paths, {}, {});
  EXPECT_EQ(done.cause, quillet::JobCause::none);
  EXPECT_EQ(done.found.conflicts.size(), 2u);  // a and b each against c
}

}  // namespace
