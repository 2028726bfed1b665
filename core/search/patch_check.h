#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/filter/address_filter.h"
#include "core/vkp/vkp_error.h"

namespace quillet {

// Also the state image index of the patch's row in the main window's list.
enum PatchStatus {
  PATCH_NOT_INSTALLED = 1,
  PATCH_INSTALLED = 2,
  PATCH_FILE_ERROR = 3,
};

// What the bytes of a patch that is not installed say about it, judged by the
// old bytes of its data lines ("ADDRESS: OLD NEW").
enum class OldBytesVerdict {
  none,             // installed, or broken
  appliesCleanly,   // every byte that isn't new yet holds its old value
  partlyInstalled,  // as cleanly, but some bytes whose old and new values differ are new already
  otherFirmware,    // some byte holds neither its old nor its new value
  oldUnknown,       // a byte that isn't new yet has no old byte to judge by: a line without an old
                    // field, or one that isn't all hexadecimal digits or isn't as long as the new one
};

struct DifferingByte {
  std::uint32_t address = 0;
  std::uint8_t expected = 0;  // the new byte
  std::uint8_t found = 0;     // the image's byte
  int old = -1;               // the old byte, -1 when unknown
};

// The evidence behind a status, found in the same reading.
struct CheckDetails {
  static constexpr std::size_t kShownDifferences = 8;
  static constexpr std::size_t kLineTextLimit = 200;

  PatchStatus status = PATCH_FILE_ERROR;
  // Distinct addresses written inside the image and outside the filter; 0 when
  // every written address is filtered or beyond the image's end.
  std::uint64_t checkedBytes = 0;
  std::uint64_t alreadyNew = 0;  // of those, the ones holding their new value
  std::uint64_t differing = 0;   // and the ones that don't
  OldBytesVerdict verdict = OldBytesVerdict::none;
  std::vector<DifferingByte> firstDiffering;  // the lowest differing addresses

  quillet::VkpError error = quillet::VkpError::none;  // why the file is broken
  std::size_t line = 0;                               // its first invalid line
  std::string lineText;        // that line as read, without its line end, up to kLineTextLimit bytes
  bool byteOrderMark = false;  // the file starts with a UTF-8 byte-order mark
};

// Reads the .vkp file and writes each new byte that lies inside the image and
// outside the address filter into image. False at the first invalid line.
// Throws quillet::FileError when the file can't be opened or read.
[[nodiscard]] bool ApplyPatchFile(const std::string& path, std::uint8_t* image, std::uint32_t size,
                                  const AddressFilter& filter);

// Whether writing the patch's new bytes into a copy of current would change
// nothing. The result is that of copy-apply-compare, at a cost in proportion
// to the patch file, not the image. work is scratch of size bytes (its content
// before and after does not matter). Throws as ApplyPatchFile. With details,
// these are filled in as well; the status is the same either way.
[[nodiscard]] PatchStatus CheckPatch(const std::string& path, const std::uint8_t* current, std::uint8_t* work,
                                     std::uint32_t size, const AddressFilter& filter, CheckDetails* details = nullptr);

}  // namespace quillet
