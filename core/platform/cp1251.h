#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quillet {

// Text inside the program is UTF-8; patch files written to disk are Windows-1251,
// as the phones' tools expect. A character that code page lacks becomes "?";
// invalid UTF-8 bytes become "?" too.
[[nodiscard]] std::string Utf8ToCp1251(std::string_view utf8);

// The code page's byte for one character; nothing when it has none.
[[nodiscard]] std::optional<char> EncodeCp1251(char32_t cp);

// Decodes one well-formed UTF-8 sequence at text[i] into cp and returns its
// length, or 0 when the bytes there are not one (stray continuation, overlong
// form, surrogate, beyond U+10FFFF, or cut short).
[[nodiscard]] std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t& cp);

// Each byte one character; the one unassigned byte (0x98) becomes U+FFFD.
[[nodiscard]] std::string Cp1251ToUtf8(std::string_view cp1251);

}  // namespace quillet
