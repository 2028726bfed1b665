#pragma once
#include <cstddef>
#include <cstdint>

// What the .vkp reader says of a text: light, so that whatever only names the
// outcome of a reading need not take in the reader itself.

namespace quillet {

enum class VkpError {
  none,
  badOffset,   // the offset value is not hexadecimal
  noColon,     // a data line without ':'
  badAddress,  // the address field is not hexadecimal
  badByte,     // a new-bytes pair that would be written is not hexadecimal
  // What comes before any ':' can't be an address, and the reading stopped
  // there rather than read on to learn whether a ':' follows: the line is
  // invalid either way. Without exact errors, at once; with them, when no ':'
  // or line end follows within kColonLookahead bytes.
  badAddressOrNoColon,
};

struct VkpReadResult {
  VkpError error = VkpError::none;
  std::size_t line = 0;         // 1-based number of the invalid line; 0 when none
  std::uint64_t lineStart = 0;  // where the invalid line starts in the text
  [[nodiscard]] bool Ok() const { return error == VkpError::none; }
};

}  // namespace quillet
