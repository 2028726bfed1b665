#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/vkp/hex_string.h"

// The one reader of .vkp patch text. The installed-patch check, its reference
// and the fuzzer all go through ReadVkpText, so they cannot disagree on what a
// file says.

namespace quillet {

// Splits the raw bytes of a file into lines the way a text-mode read does: a
// byte 0x1A ends the file, LF ends a line and a CR directly before it goes with
// it. A line of any length comes out whole; a last line without LF is a line.
class VkpLineSplitter {
 public:
  explicit VkpLineSplitter(std::string_view text);
  // The next line without its line end; false after the last one.
  [[nodiscard]] bool next(std::string_view& line);

 private:
  std::string_view m_rest;
  bool m_done = false;
};

// Comments cut at ';' and '#', TAB as space, runs of spaces as one, white space
// trimmed at both ends, ASCII letters upper-cased. The result goes to out,
// whose capacity is reused from line to line.
void NormaliseVkpLine(std::string_view raw, std::string& out);

enum class VkpLineKind { empty, offset, data, invalid };

enum class VkpError {
  none,
  badOffset,   // the offset value is not hexadecimal
  noColon,     // a data line without ':'
  badAddress,  // the address field is not hexadecimal
  badByte,     // a new-bytes pair that would be written is not hexadecimal
};

// A normalised line taken apart. newBytes views into the normalised text.
struct VkpLine {
  VkpLineKind kind = VkpLineKind::empty;
  VkpError error = VkpError::none;  // why, when kind is invalid
  std::uint32_t value = 0;          // the offset, or the address field's value
  std::string_view newBytes;        // data lines only; possibly empty
};

// Classifies a line that NormaliseVkpLine produced. Only the old-bytes field
// and what follows the new bytes are skipped unseen; the new bytes' pairs are
// left to the caller, because whether a pair is tested depends on the image.
[[nodiscard]] VkpLine ParseVkpLine(std::string_view normalised);

// Pair k of a new-bytes field: characters 2k and 2k+1, or the last character
// alone when the field has an odd length.
[[nodiscard]] inline std::string_view VkpPair(std::string_view newBytes, std::size_t k) {
  return newBytes.substr(2 * k, 2);
}

struct VkpReadResult {
  VkpError error = VkpError::none;
  std::size_t line = 0;  // 1-based number of the invalid line; 0 when none
  [[nodiscard]] bool ok() const { return error == VkpError::none; }
};

// Reads a whole patch text. For every byte position of every data line the sink
// is asked accepts(address); only then is that pair tested and, when
// hexadecimal, handed to write(address, value). The first invalid line ends the
// reading: nothing after it is looked at. Addresses and offsets wrap at 2^32.
//
// Sink: bool accepts(std::uint32_t); void write(std::uint32_t, std::uint8_t).
template <class Sink>
[[nodiscard]] VkpReadResult ReadVkpText(std::string_view text, Sink& sink) {
  VkpLineSplitter lines(text);
  std::string normalised;
  std::string_view raw;
  std::uint32_t offset = 0;
  std::size_t number = 0;
  while (lines.next(raw)) {
    ++number;
    NormaliseVkpLine(raw, normalised);
    const VkpLine line = ParseVkpLine(normalised);
    switch (line.kind) {
      case VkpLineKind::empty:
        break;
      case VkpLineKind::invalid:
        return {line.error, number};
      case VkpLineKind::offset:
        // Replaces, never adds: hand-written files rely on this.
        offset = line.value;
        break;
      case VkpLineKind::data: {
        std::uint32_t position = line.value + offset;
        const std::size_t pairs = (line.newBytes.size() + 1) / 2;
        for (std::size_t k = 0; k < pairs; ++k, ++position) {
          if (!sink.accepts(position)) continue;
          const std::string_view pair = VkpPair(line.newBytes, k);
          if (!IsHexString(pair)) return {VkpError::badByte, number};
          sink.write(position, static_cast<std::uint8_t>(HexStringToInt(pair)));
        }
        break;
      }
    }
  }
  return {};
}

}  // namespace quillet
