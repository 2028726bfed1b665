#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/compare/compare_images.h"
#include "core/install/install_rules.h"
#include "core/search/patch_check.h"
#include "core/vkp/vkp_text.h"
#include "tests/support/temp_dir.h"
#include "tools/split_mix.h"

using quillet::AddressFilter;
using quillet::AddressRange;

// The install and revert rules held to a plain reference: patches made as
// lists of lines, read back from their text by the program and taken apart
// on their own by the reference, decided both ways on random images and
// filters, and every undo patch reverted into its result.

namespace {

using quillet::InstallMode;
using quillet::InstallStatus;
using quillet::RefusalCause;
using Rng = quillet::SplitMix64;

struct Line {
  enum Kind { data, offset, broken } kind = data;
  std::uint32_t address = 0;  // as written, before the offset
  std::vector<std::uint8_t> newBytes;
  std::string oldField;  // as written; empty: a single field
};

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  char buffer[4];
  for (const std::uint8_t byte : bytes) {
    std::snprintf(buffer, sizeof buffer, "%02X", byte);
    text += buffer;
  }
  return text;
}

std::string Text(const std::vector<Line>& lines) {
  std::string text;
  char buffer[16];
  for (const Line& line : lines) {
    if (line.kind == Line::broken) {
      text += "XYZ\r\n";
    } else if (line.kind == Line::offset) {
      std::snprintf(buffer, sizeof buffer, "+%X\r\n", line.address);
      text += buffer;
    } else {
      std::snprintf(buffer, sizeof buffer, "%06X:", line.address);
      text += buffer;
      if (!line.oldField.empty()) text += " " + line.oldField;
      text += " " + Hex(line.newBytes) + "\r\n";
    }
  }
  return text;
}

// A patch made against a base image: its old bytes mostly the base's, its
// new ones mostly fresh, so that clean, installed, foreign and unknown bytes,
// overlaps and collisions all come up.
std::vector<Line> RandomPatch(Rng& rng, const std::vector<std::uint8_t>& base, std::uint32_t hotSpot) {
  const auto size = static_cast<std::uint32_t>(base.size());
  std::vector<Line> lines;
  std::uint32_t offset = 0;
  for (std::uint32_t n = 1 + rng.below(4); n > 0; --n) {
    if (rng.chance(8)) {
      offset = rng.chance(50) ? 0 : rng.below(size + 1);
      lines.push_back({Line::offset, offset, {}, {}});
      continue;
    }
    if (rng.chance(3)) {
      lines.push_back({Line::broken, 0, {}, {}});
      continue;
    }
    // Near a spot the patches of one run share, so that they overlap.
    std::uint32_t address = rng.chance(60) ? hotSpot + rng.below(24) : rng.below(size + 4);
    if (rng.chance(3)) address = size - rng.below(3);
    const std::uint32_t count = 1 + rng.below(rng.chance(20) ? 20 : 4);
    Line line;
    line.address = address - offset;
    std::vector<std::uint8_t> old;
    for (std::uint32_t k = 0; k < count; ++k) {
      const std::uint32_t at = address + k;
      const std::uint8_t here = at < size ? base[at] : 0;
      old.push_back(rng.chance(8) ? static_cast<std::uint8_t>(here ^ 0x40) : here);
      line.newBytes.push_back(rng.chance(15) ? here : static_cast<std::uint8_t>(rng.below(4) * 0x11));
    }
    const std::uint32_t oldKind = rng.below(100);
    if (oldKind < 75)
      line.oldField = Hex(old);
    else if (oldKind < 85)
      line.oldField = "";  // one field: no old bytes
    else if (oldKind < 93)
      line.oldField = Hex(old).substr(2);  // too short: not usable
    else
      line.oldField = std::string(2 * count, 'Z');
    lines.push_back(std::move(line));
  }
  return lines;
}

// The reference, taken from the lines: per address the last write's new and old byte.
struct RefPatch {
  bool broken = false;
  std::size_t brokenLine = 0;
  std::uint64_t filtered = 0;  // bytes inside the image the filter leaves out
  std::map<std::uint32_t, std::pair<std::uint8_t, int>> writes;
};

RefPatch Reference(const std::vector<Line>& lines, std::uint32_t size, const AddressFilter& filter) {
  RefPatch patch;
  std::uint32_t offset = 0;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const Line& line = lines[n];
    if (line.kind == Line::broken) {
      patch.broken = true;
      patch.brokenLine = n + 1;
      patch.writes.clear();
      return patch;
    }
    if (line.kind == Line::offset) {
      offset = line.address;
      continue;
    }
    const bool oldUsable = line.oldField.size() == 2 * line.newBytes.size() &&
                           line.oldField.find_first_not_of("0123456789ABCDEF") == std::string::npos;
    for (std::size_t k = 0; k < line.newBytes.size(); ++k) {
      const std::uint32_t at = line.address + offset + static_cast<std::uint32_t>(k);
      const bool filtered =
          std::any_of(filter.Ranges().begin(), filter.Ranges().end(),
                      [at](const AddressRange& range) { return range.start <= at && at <= range.end; });
      patch.filtered += at < size && filtered ? 1 : 0;
      if (at >= size || filtered) continue;
      const int old = oldUsable ? std::stoi(line.oldField.substr(2 * k, 2), nullptr, 16) : -1;
      patch.writes[at] = {line.newBytes[k], old};
    }
  }
  return patch;
}

struct RefDecision {
  InstallStatus status = InstallStatus::refused;
  RefusalCause cause = RefusalCause::none;
  bool forced = false;
  std::optional<std::uint32_t> offending;
  std::uint64_t bytes = 0;
  std::size_t other = 0;
  std::uint32_t collisionAddress = 0;
};

int RefTarget(InstallMode mode, const std::pair<std::uint8_t, int>& write) {
  return mode == InstallMode::install ? write.first : write.second;
}

std::vector<RefDecision> ReferenceDecide(const std::vector<std::uint8_t>& image, InstallMode mode, bool force,
                                         const std::vector<RefPatch>& patches) {
  std::vector<RefDecision> decisions(patches.size());
  for (std::size_t p = 0; p < patches.size(); ++p) {
    RefDecision& d = decisions[p];
    if (patches[p].broken) {
      d.cause = RefusalCause::broken;
      continue;
    }
    std::optional<std::uint32_t> foreign, unknown;
    for (const auto& [at, write] : patches[p].writes) {
      const auto [value, old] = write;
      const bool holdsNew = image[at] == value;
      const bool holdsOld = old >= 0 && image[at] == old;
      if (mode == InstallMode::install) {
        if (holdsNew) continue;
        ++d.bytes;
        if (old < 0 && !unknown) unknown = at;
        if (old >= 0 && !holdsOld && !foreign) foreign = at;
      } else {
        if (old < 0 && !unknown) unknown = at;
        if (old < 0 || holdsOld) continue;
        ++d.bytes;
        if (!holdsNew && !foreign) foreign = at;
      }
    }
    if (mode == InstallMode::revert && unknown) {
      d.cause = RefusalCause::oldUnknown;
      d.offending = unknown;
      continue;
    }
    d.offending = foreign ? foreign : unknown;
    if (d.offending && !force) {
      d.cause = foreign ? RefusalCause::otherFirmware : RefusalCause::oldUnknown;
      continue;
    }
    d.forced = d.offending.has_value();
    if (mode == InstallMode::install)
      d.status = d.bytes ? InstallStatus::applied : InstallStatus::alreadyInstalled;
    else
      d.status = d.bytes ? InstallStatus::reverted : InstallStatus::alreadyReverted;
  }
  // Every pair of patches still standing, address by address.
  std::vector<bool> collided(patches.size(), false);
  for (std::size_t p = 0; p < patches.size(); ++p) {
    if (decisions[p].status == InstallStatus::refused) continue;
    for (const auto& [at, write] : patches[p].writes) {
      if (collided[p]) break;
      for (std::size_t q = 0; q < patches.size() && !collided[p]; ++q) {
        if (q == p || decisions[q].status == InstallStatus::refused) continue;
        const auto other = patches[q].writes.find(at);
        if (other == patches[q].writes.end() || RefTarget(mode, other->second) == RefTarget(mode, write)) continue;
        collided[p] = true;
        decisions[p].other = q;
        decisions[p].collisionAddress = at;
      }
    }
  }
  for (std::size_t p = 0; p < patches.size(); ++p)
    if (collided[p]) {
      decisions[p].status = InstallStatus::refused;
      decisions[p].cause = RefusalCause::collision;
    }
  return decisions;
}

std::string WalkLines(const std::vector<std::uint8_t>& before, const std::vector<std::uint8_t>& after) {
  std::string text;
  auto never = [] { return false; };
  auto unfiltered = [](std::uint32_t) { return false; };
  auto ignore = [](std::uint32_t) {};
  auto append = [&text](std::string_view lines) {
    text.append(lines);
    return true;
  };
  (void)quillet::CompareImages(
      before.data(), after.data(), static_cast<std::uint32_t>(before.size()),
      {.stopRequested = never, .isFiltered = unfiltered, .progress = ignore, .appendLines = append});
  return text;
}

std::vector<std::uint8_t> Applied(std::vector<std::uint8_t> image, const quillet::InstallPlan& plan) {
  quillet::ApplyChanges(image.data(), plan.changes);
  return image;
}

TEST(InstallRulesDifferential, DecisionsAndResultAgreeWithAPlainReferenceAndUndoGivesTheImageBack) {
  std::map<std::pair<InstallStatus, RefusalCause>, int> seen;
  int forced = 0, roundTrips = 0;
  for (std::uint64_t seed = 1; seed <= 3000; ++seed) {
    Rng rng(seed);
    const std::uint32_t size = rng.chance(3) ? 0 : 8 + rng.below(rng.chance(30) ? 40 : 300);
    std::vector<std::uint8_t> image(size);
    for (auto& byte : image) byte = static_cast<std::uint8_t>(rng.below(4) * 0x11);
    std::vector<AddressRange> ranges;
    for (std::uint32_t n = rng.below(3); n > 0; --n) {
      const std::uint32_t start = rng.below(size + 1);
      ranges.push_back({start, start + rng.below(6)});
    }
    const AddressFilter filter(ranges);
    const InstallMode mode = rng.chance(50) ? InstallMode::install : InstallMode::revert;
    const bool force = rng.chance(30);
    // Reverting, the patches are mostly made against an image they were then installed into.
    std::vector<std::uint8_t> base = image;
    if (mode == InstallMode::revert && size)
      for (std::uint32_t n = rng.below(size); n > 0; --n) base[rng.below(size)] ^= 0x40;
    const std::uint32_t hotSpot = rng.below(size + 1);
    std::vector<std::vector<Line>> made;
    for (std::uint32_t n = 1 + rng.below(4); n > 0; --n) made.push_back(RandomPatch(rng, base, hotSpot));

    std::vector<quillet::PatchWrites> read;
    std::vector<RefPatch> reference;
    std::string texts;
    for (const auto& lines : made) {
      read.push_back(quillet::ReadPatchWritesText(Text(lines), size, filter));
      reference.push_back(Reference(lines, size, filter));
      texts += "--\n" + Text(lines);
      // The room counts addresses, however often one is written.
      const std::size_t addresses = reference.back().writes.size();
      if (reference.back().broken) continue;
      ASSERT_EQ(read.back().filtered, reference.back().filtered) << Text(lines);
      ASSERT_FALSE(quillet::ReadPatchWritesText(Text(lines), size, filter, addresses).tooLarge) << Text(lines);
      if (addresses != 0) {
        const std::vector<quillet::PatchWrites> cramped{
            quillet::ReadPatchWritesText(Text(lines), size, filter, addresses - 1)};
        ASSERT_TRUE(cramped.front().tooLarge) << Text(lines);
        const quillet::InstallPlan plan = quillet::PlanInstall(image.data(), size, mode, true, cramped);
        ASSERT_EQ(plan.patches.front().cause, RefusalCause::tooLarge) << Text(lines);
        ASSERT_TRUE(plan.changes.empty());
      }
    }
    SCOPED_TRACE("seed " + std::to_string(seed) + (mode == InstallMode::install ? " install" : " revert") +
                 (force ? " forced" : "") + ", size " + std::to_string(size) + "\n" + texts);
    const quillet::InstallPlan plan = quillet::PlanInstall(image.data(), size, mode, force, read);
    const std::vector<RefDecision> expected = ReferenceDecide(image, mode, force, reference);
    ASSERT_EQ(plan.patches.size(), expected.size());
    bool anyRefused = false;
    for (std::size_t p = 0; p < expected.size(); ++p) {
      SCOPED_TRACE("patch " + std::to_string(p));
      const quillet::PatchDecision& got = plan.patches[p];
      const RefDecision& want = expected[p];
      ASSERT_EQ(static_cast<int>(got.status), static_cast<int>(want.status));
      ASSERT_EQ(static_cast<int>(got.cause), static_cast<int>(want.cause));
      ASSERT_EQ(got.forced, want.forced);
      ASSERT_EQ(got.offending.has_value(), want.offending.has_value());
      if (want.offending) {
        ASSERT_EQ(got.offending->address, *want.offending);
      }
      if (want.cause == RefusalCause::broken) {
        ASSERT_EQ(got.line, reference[p].brokenLine);
      } else {
        ASSERT_EQ(got.bytesToWrite, want.bytes);
      }
      if (want.cause == RefusalCause::collision) {
        ASSERT_EQ(got.otherPatch, want.other);
        ASSERT_EQ(got.collisionAddress, want.collisionAddress);
      }
      anyRefused = anyRefused || want.status == InstallStatus::refused;
      forced += want.forced;
      ++seen[{want.status, want.cause}];
    }
    if (anyRefused) {
      ASSERT_TRUE(plan.changes.empty());
      continue;
    }
    // The result: the image with every written patch put in, one after the other.
    std::vector<std::uint8_t> after = image;
    for (std::size_t p = 0; p < reference.size(); ++p) {
      if (expected[p].status != InstallStatus::applied && expected[p].status != InstallStatus::reverted) continue;
      for (const auto& [at, write] : reference[p].writes) after[at] = static_cast<std::uint8_t>(RefTarget(mode, write));
    }
    ASSERT_EQ(Applied(image, plan), after);
    ASSERT_TRUE(quillet::HoldsPlan(after.data(), size, mode, read, plan));

    // The undo patch: the walk's lines over before and after, and reverted into the result it gives the image back,
    // whatever filter is in effect by then.
    std::string undo;
    quillet::AppendChangeLines(undo, plan.changes.data(), plan.changes.size());
    ASSERT_EQ(undo, WalkLines(image, after));
    std::vector<AddressRange> later;
    for (const quillet::ByteChange& change : plan.changes)
      if (rng.chance(30)) later.push_back({change.address, change.address + rng.below(3)});
    const std::string undoText =
        quillet::EncodeSavedHeader(quillet::ComposeUndoHeader("before.bin", {}, "after.bin", {})) + undo;
    const std::vector<quillet::PatchWrites> undoWrites{
        quillet::ReadPatchWritesText(undoText, size, AddressFilter(later))};
    const quillet::InstallPlan back = quillet::PlanInstall(after.data(), size, InstallMode::revert, false, undoWrites);
    ASSERT_FALSE(back.Refused());
    ASSERT_EQ(Applied(after, back), image);
    ++roundTrips;
  }
  // The generator must keep every outcome common, or the agreement proves little.
  for (const auto& kind : {std::pair{InstallStatus::applied, RefusalCause::none},
                           {InstallStatus::alreadyInstalled, RefusalCause::none},
                           {InstallStatus::reverted, RefusalCause::none},
                           {InstallStatus::alreadyReverted, RefusalCause::none},
                           {InstallStatus::refused, RefusalCause::otherFirmware},
                           {InstallStatus::refused, RefusalCause::oldUnknown},
                           {InstallStatus::refused, RefusalCause::collision},
                           {InstallStatus::refused, RefusalCause::broken}}) {
    SCOPED_TRACE(std::to_string(static_cast<int>(kind.first)) + "/" + std::to_string(static_cast<int>(kind.second)));
    EXPECT_GT(seen[kind], 100);
  }
  EXPECT_GT(forced, 100);
  EXPECT_GT(roundTrips, 300);
}

// The check's verdict on a patch and the install's decision on it are one
// judgement: installed is already installed, applying cleanly (partly
// installed too) is applied, another firmware or an unknown old byte refuses
// it for that cause unless forced, broken is broken at the same line; both
// count the same addresses and bytes to write, and blame the same byte.
TEST(InstallRulesDifferential, TheCheckAndTheInstallJudgeEveryPatchAlike) {
  quillet::testing::TempDir dir;
  const std::string path = dir / "p.vkp";
  std::map<int, int> verdicts;  // the check's, with 5 for installed and 6 for broken
  for (std::uint64_t seed = 1; seed <= 600; ++seed) {
    Rng rng(seed);
    const std::uint32_t size = rng.chance(5) ? 0 : 8 + rng.below(300);
    std::vector<std::uint8_t> image(size);
    for (auto& byte : image) byte = static_cast<std::uint8_t>(rng.below(4) * 0x11);
    std::vector<AddressRange> ranges;
    for (std::uint32_t n = rng.below(3); n > 0; --n) {
      const std::uint32_t start = rng.below(size + 1);
      ranges.push_back({start, start + rng.below(6)});
    }
    const AddressFilter filter(ranges);
    const std::string text = Text(RandomPatch(rng, image, rng.below(size + 1)));
    quillet::testing::WriteBytes(path, text);
    // Installed, wholly or in part, and now and then a byte set to neither value.
    if (rng.chance(50)) {
      std::vector<std::uint8_t> installed = image;
      (void)quillet::ApplyPatchFile(path, installed.data(), size, filter);
      const bool whole = rng.chance(50);
      for (std::uint32_t i = 0; i < size; ++i)
        if (whole || rng.chance(50)) image[i] = installed[i];
      if (size && rng.chance(20)) image[rng.below(size)] ^= 0x40;
    }
    SCOPED_TRACE("seed " + std::to_string(seed) + ", size " + std::to_string(size) + "\n" + text);

    std::vector<std::uint8_t> work(size);
    quillet::CheckDetails check;
    const quillet::PatchStatus status = quillet::CheckPatch(path, image.data(), work.data(), size, filter, &check);
    const std::vector<quillet::PatchWrites> read{quillet::ReadPatchWritesText(text, size, filter)};
    const quillet::OldBytesVerdict verdict = check.verdict;
    ++verdicts[status == quillet::PATCH_INSTALLED ? 5 : status == quillet::PATCH_FILE_ERROR ? 6 : int(verdict)];
    for (const bool force : {false, true}) {
      SCOPED_TRACE(force ? "forced" : "not forced");
      const quillet::PatchDecision got =
          quillet::PlanInstall(image.data(), size, InstallMode::install, force, read).patches.front();
      if (status == quillet::PATCH_FILE_ERROR) {
        ASSERT_EQ(got.cause, RefusalCause::broken);
        ASSERT_EQ(got.line, check.line);
        continue;
      }
      ASSERT_EQ(read.front().writes.size(), check.checkedBytes);
      ASSERT_EQ(got.bytesToWrite, check.differing);
      const bool blamed =
          verdict == quillet::OldBytesVerdict::otherFirmware || verdict == quillet::OldBytesVerdict::oldUnknown;
      if (status == quillet::PATCH_INSTALLED) {
        ASSERT_EQ(got.status, InstallStatus::alreadyInstalled);
      } else if (blamed && !force) {
        ASSERT_EQ(got.status, InstallStatus::refused);
        ASSERT_EQ(got.cause, verdict == quillet::OldBytesVerdict::otherFirmware ? RefusalCause::otherFirmware
                                                                                : RefusalCause::oldUnknown);
      } else {
        ASSERT_EQ(got.status, InstallStatus::applied);
        ASSERT_EQ(got.forced, blamed);
      }
      // The lowest byte of the verdict's kind, when the check shows it.
      ASSERT_EQ(got.offending.has_value(), blamed);
      for (const quillet::DifferingByte& byte : check.firstDiffering) {
        if (!blamed || (verdict == quillet::OldBytesVerdict::otherFirmware ? byte.old < 0 || byte.old == byte.found
                                                                           : byte.old >= 0))
          continue;
        ASSERT_EQ(got.offending->address, byte.address);
        break;
      }
    }
  }
  for (int kind = 1; kind <= 6; ++kind) EXPECT_GT(verdicts[kind], 25) << kind;
}

}  // namespace
