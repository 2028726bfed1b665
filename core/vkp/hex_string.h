#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace quillet {

// The one hexadecimal number syntax of the program, shared by patch files, the
// address filter and its dialog. Letters are upper-cased as ASCII whatever the
// locale; one leading "0X" is dropped; what remains must be 0-9/A-F only. The
// empty text (and "0x" alone) counts as hexadecimal with the value 0.
[[nodiscard]] bool IsHexString(std::string_view text);

// 0 unless IsHexString(text). Digits are shifted into 32 bits, so of a longer
// run only the last eight digits count.
[[nodiscard]] std::uint32_t HexStringToInt(std::string_view text);

// "%06lX": upper case, at least six digits, more where the value needs them.
[[nodiscard]] std::string FormatAddress(std::uint32_t value);

// "%02X" of a byte: two upper-case digits.
[[nodiscard]] std::string FormatByte(int value);
}  // namespace quillet
