#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "core/filter/address_filter.h"
#include "core/vkp/vkp_reader.h"

// Also the state image index of the patch's row in the main window's list.
enum PatchStatus {
  PATCH_NOT_INSTALLED = 1,
  PATCH_INSTALLED = 2,
  PATCH_FILE_ERROR = 3,
};

// Reads the .vkp file and writes each new byte that lies inside the image and
// outside the address filter into image. False at the first invalid line.
// Throws quillet::FileError when the file can't be opened or read.
[[nodiscard]] bool ApplyPatchFile(const std::string& path, std::uint8_t* image, std::uint32_t size,
                                  const AddressFilter& filter);

// Whether writing the patch's new bytes into a copy of current would change
// nothing. The result is that of copy-apply-compare, at a cost in proportion
// to the patch file, not the image. work is scratch of size bytes (its content
// before and after does not matter). Throws as ApplyPatchFile.
[[nodiscard]] PatchStatus CheckPatch(const std::string& path, const std::uint8_t* current,
                                     std::uint8_t* work, std::uint32_t size, const AddressFilter& filter);

namespace quillet {

// The same on a patch text already in memory (the reader's result, for
// diagnostics: which line broke the file and why).
[[nodiscard]] VkpReadResult ApplyPatchText(std::string_view text, std::uint8_t* image, std::uint32_t size,
                                           const AddressFilter& filter);
[[nodiscard]] PatchStatus CheckPatchText(std::string_view text, const std::uint8_t* current, std::uint8_t* work,
                                         std::uint32_t size, const AddressFilter& filter);

}  // namespace quillet
