#pragma once
#include <string>
#include <string_view>

namespace quillet {

// Text inside the program is UTF-8; patch files written to disk are Windows-1251,
// as the phones' tools expect. A character that code page lacks becomes "?";
// invalid UTF-8 bytes become "?" too.
[[nodiscard]] std::string Utf8ToCp1251(std::string_view utf8);

// Each byte one character; the one unassigned byte (0x98) becomes U+FFFD.
[[nodiscard]] std::string Cp1251ToUtf8(std::string_view cp1251);

}  // namespace quillet
