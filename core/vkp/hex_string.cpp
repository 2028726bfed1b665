#include "core/vkp/hex_string.h"

#include <cstdio>

namespace quillet {

namespace {

constexpr char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Value of an upper-cased hex digit, or -1.
constexpr int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view WithoutPrefix(std::string_view text) {
  if (text.size() >= 2 && text[0] == '0' && AsciiUpper(text[1]) == 'X') text.remove_prefix(2);
  return text;
}

}  // namespace

bool IsHexString(std::string_view text) {
  for (char c : WithoutPrefix(text))
    if (DigitValue(AsciiUpper(c)) < 0) return false;
  return true;
}

std::uint32_t HexStringToInt(std::string_view text) {
  text = WithoutPrefix(text);
  std::uint32_t value = 0;
  for (char c : text) {
    const int digit = DigitValue(AsciiUpper(c));
    if (digit < 0) return 0;
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  return value;
}

std::string FormatAddress(std::uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%06lX", static_cast<unsigned long>(value));
  return buffer;
}

std::string FormatByte(int value) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  return std::string{kDigits[(value >> 4) & 0xF], kDigits[value & 0xF]};
}

}  // namespace quillet
