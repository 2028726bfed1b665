#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/filter/address_filter.h"
#include "core/search/patch_check.h"
#include "core/vkp/vkp_error.h"

// Installing and reverting patches, decided on bytes in memory: which patch
// may be written, what it writes, and which bytes of the image change. The
// job around it (install_job.h) reads the files and writes the result.

namespace quillet {

enum class InstallMode { install, revert };

// One address a patch writes, as the check reads it: the last write there.
struct PatchWrite {
  std::uint32_t address = 0;
  std::uint8_t value = 0;  // the new byte
  std::int16_t old = -1;   // the line's old byte; -1 when its old field is not usable
};

// The writes one run keeps of all its patches together: with the changes they
// make, and the room both need while they grow, within 64 MiB beside the image.
inline constexpr std::size_t kMaxInstallWrites = std::size_t{2} << 20;

struct PatchWrites {
  std::vector<PatchWrite> writes;  // increasing addresses, one per address
  VkpReadResult read;              // not ok: the file is broken, writes are empty
  std::string lineText;            // the broken line, up to CheckDetails::kLineTextLimit bytes
  bool tooLarge = false;           // it writes more addresses than the room left: writes are empty
  std::uint64_t filtered = 0;      // written bytes inside the image that the filter left out
  // An undo patch records bytes, not a modification: no filter leaves any of
  // them out, or a revert would report bytes restored that it never touched.
  bool undoPatch = false;
};

// The writes the check would compare: inside an image of size bytes and
// outside the filter, each with its line's old byte when the line's old field
// is all hexadecimal digits and as long as its new field. At most room writes
// distinct addresses are kept; a patch that writes more is tooLarge. An undo
// patch (IsUndoPatchText) is read without the filter. The file's form throws
// FileError.
[[nodiscard]] PatchWrites ReadPatchWritesText(std::string_view text, std::uint32_t size, const AddressFilter& filter,
                                              std::size_t room = kMaxInstallWrites);
[[nodiscard]] PatchWrites ReadPatchWritesFile(const std::string& path, std::uint32_t size, const AddressFilter& filter,
                                              std::size_t room = kMaxInstallWrites);

enum class InstallStatus { applied, alreadyInstalled, reverted, alreadyReverted, refused };

enum class RefusalCause {
  none,
  otherFirmware,  // a byte holds neither its old nor its new value
  oldUnknown,     // a byte to judge by has no usable old value
  collision,      // another chosen patch writes another value at one of its addresses
  broken,         // an invalid line
  tooLarge,       // more writes than one run keeps
};

struct PatchDecision {
  InstallStatus status = InstallStatus::refused;
  RefusalCause cause = RefusalCause::none;
  // Written although a byte holds neither value or has no known old one.
  bool forced = false;
  // The lowest byte behind an otherFirmware or oldUnknown verdict, refused or
  // forced: expected is the new byte, old -1 when unknown.
  std::optional<DifferingByte> offending;
  // Bytes this patch changes (all of them, also when refused: what it would).
  std::uint64_t bytesToWrite = 0;
  std::uint64_t filtered = 0;  // its bytes the filter left out
  bool undoPatch = false;      // an undo patch, meant to be reverted
  // collision: the lowest such address, and there the first other patch in
  // the list, with the values the two write (new ones installing, old ones
  // reverting).
  std::size_t otherPatch = 0;
  std::uint32_t collisionAddress = 0;
  std::uint8_t ownValue = 0;
  std::uint8_t otherValue = 0;
  // broken
  std::size_t line = 0;
  VkpError rule = VkpError::none;
  std::string lineText;
};

struct ByteChange {
  std::uint32_t address = 0;
  std::uint8_t before = 0;
  std::uint8_t after = 0;
};

struct InstallPlan {
  std::vector<PatchDecision> patches;  // one per patch, in the order given
  std::vector<ByteChange> changes;     // increasing addresses; none when any patch is refused
  [[nodiscard]] bool Refused() const;
};

// Decides every patch against the image as it is, before any of them is
// written, and gathers the bytes that change. All or nothing: one refusal
// leaves changes empty, and the other decisions say what would have happened.
// Installing, a byte that isn't new yet must hold its old value (force writes
// it anyway); reverting, every byte needs a known old value whatever force
// says, and one holding neither value refuses the patch unless forced.
// Collisions are looked for among the patches not refused otherwise: two that
// write different values at one address are both refused.
[[nodiscard]] InstallPlan PlanInstall(const std::uint8_t* image, std::uint32_t size, InstallMode mode, bool force,
                                      const std::vector<PatchWrites>& patches);

// Whether image holds what the plan promises: the new value of every write of
// each installed patch, the old value of every write of each reverted one.
[[nodiscard]] bool HoldsPlan(const std::uint8_t* image, std::uint32_t size, InstallMode mode,
                             const std::vector<PatchWrites>& patches, const InstallPlan& plan);

// Writes the plan's changes into image.
void ApplyChanges(std::uint8_t* image, const std::vector<ByteChange>& changes);

// The data lines of the comparison of the image before and after the changes,
// with no filter: byte for byte what the walk over the two whole images gives.
// count changes from changes, which may be any part of a plan's changes that
// does not cut a 16-byte group.
void AppendChangeLines(std::string& text, const ByteChange* changes, std::size_t count);

}  // namespace quillet
