#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/install/install_rules.h"
#include "core/job/job.h"
#include "core/vkp/vkp_error.h"

// Porting: a patch made for one firmware is moved to another, where the code
// it changes sits at other addresses. Each stretch of the patch is found again
// by the bytes it expects, and moved by as much as that stretch moved.

namespace quillet {

// A new piece starts where the next written address is more than this past
// the previous one.
inline constexpr std::uint32_t kPieceGap = 4096;
// Bytes of the original firmware taken before and after a piece.
inline constexpr std::uint32_t kPortContext = 16;
// A signature shorter than this is never looked for: too many places hold it.
inline constexpr std::size_t kMinSignature = 12;
// How many places of an ambiguous piece are kept to be shown.
inline constexpr std::size_t kShownPlaces = 4;
// Counting the places of a signature stops here: it is ambiguous long before.
inline constexpr std::uint64_t kPlaceCountLimit = 4096;

// What one porting run does: fixed before it starts.
struct PortJob {
  std::string imagePath;                // the firmware to port to
  std::string firmwarePath;             // the firmware the patches were made for; empty when not known
  std::vector<std::string> patchPaths;  // in list order
};

enum class PieceVerdict {
  placed,      // exactly one place: shift says where
  oldUnknown,  // a written byte has no usable old value, and no firmware gives one
  tooShort,    // no signature of kMinSignature bytes or more
  notFound,    // no place holds the signature
  ambiguous,   // several places hold it
};

struct PortPiece {
  std::uint32_t first = 0;  // its lowest and highest written addresses in the patch
  std::uint32_t last = 0;
  std::size_t writes = 0;  // written addresses
  PieceVerdict verdict = PieceVerdict::notFound;
  std::int64_t shift = 0;                  // placed: what is added to each address
  bool installed = false;                  // placed where the image holds its new bytes already
  bool writtenOnly = false;                // placed by the firmware's bytes at the written addresses alone
  std::uint64_t places = 0;                // ambiguous: how many (kPlaceCountLimit when counting stopped)
  std::vector<std::uint32_t> firstPlaces;  // ambiguous: where first would go, the lowest few
  std::uint32_t unknownAt = 0;             // oldUnknown: the lowest such address
};

enum class PortStatus { ported, fits, refused };

enum class PortRefusal {
  none,
  broken,          // an invalid line: line, rule, lineText
  otherFirmware,   // a byte's old value is not the firmware's: offending
  beyondFirmware,  // a written address beyond the firmware's end: offending.address
  pieces,          // some piece could not be placed: see pieces
  overlap,         // two pieces, moved, write one address: offending.address
};

struct PortedPatch {
  PortStatus status = PortStatus::refused;
  PortRefusal cause = PortRefusal::none;
  std::vector<PortPiece> pieces;
  std::optional<DifferingByte> offending;  // found is the firmware's byte
  std::size_t line = 0;
  VkpError rule = VkpError::none;
  std::string lineText;
  // Not refused: the ported patch as it is saved (Windows-1251, CR LF).
  std::string text;
};

struct PortEvents {
  // Steps done of all: one per patch read, then one per MiB of the image
  // searched. Must return at once.
  std::function<void(std::uint64_t done, std::uint64_t total)> progress;
  // Every patch's result, in list order, once all of them are known.
  std::function<void(std::size_t index, const PortedPatch& patch)> patchPorted;
};

// How a run ended: cause none when every patch has its result (refused ones
// included); imageOpen, imageRead, imageTooLarge with the image's or the
// firmware's path; patchFile with the path of one that can't be read (the run
// ends there); outOfMemory; stopped.
struct PortOutcome : JobOutcome {
  std::vector<PortedPatch> patches;  // once every patch has its result
  [[nodiscard]] std::size_t RefusedCount() const;
};

// Reads the image, the firmware and every patch, looks for all pieces of all
// patches in one pass over the image, and composes the ported patches. Writes
// nothing. Never throws.
[[nodiscard]] PortOutcome PortPatches(const PortJob& job, const PortEvents& events, StopToken stop);

// The same on what is already read; patches are the writes of each patch as
// ReadPortWrites gives them, with their paths for the text's header. firmware
// is null when not known.
struct PortImage {
  const std::uint8_t* data = nullptr;
  std::uint32_t size = 0;
  std::string path;
};
[[nodiscard]] std::vector<PortedPatch> PortWrites(const PortImage& image, const PortImage* firmware,
                                                  const std::vector<PatchWrites>& patches,
                                                  const std::vector<std::string>& patchPaths, StopToken stop = {},
                                                  const std::function<void(std::uint64_t)>& searched = {});

// A shift as the text shows it: "+0x1A0", "-0x10", "0".
[[nodiscard]] std::string FormatShift(std::int64_t shift);

// A patch's writes as porting reads them: every written address, with no
// filter and no limit. Throws FileError.
[[nodiscard]] PatchWrites ReadPortWrites(const std::string& path);

}  // namespace quillet
