#include "cli/escaping.h"

#include <cstdio>

#include "core/platform/cp1251.h"

namespace quillet::cli {

namespace {

// Characters that common readers take for a line end or a terminal command.
bool IsBreakOrControl(char32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029; }

void AppendByteEscape(std::string& out, unsigned char byte) {
  char hex[5];
  std::snprintf(hex, sizeof hex, "\\x%02X", byte);
  out += hex;
}

}  // namespace

std::string EscapedText(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t cp = 0;
    const std::size_t length = DecodeUtf8(bytes, i, cp);
    if (length == 0) {
      AppendByteEscape(out, static_cast<unsigned char>(bytes[i++]));
      continue;
    }
    if (cp == '\\') {
      out += "\\\\";
    } else if (cp == '\n') {
      out += "\\n";
    } else if (cp == '\t') {
      out += "\\t";
    } else if (IsBreakOrControl(cp)) {
      for (std::size_t k = 0; k < length; ++k) AppendByteEscape(out, static_cast<unsigned char>(bytes[i + k]));
    } else {
      out.append(bytes.substr(i, length));
    }
    i += length;
  }
  return out;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const std::size_t length = DecodeUtf8(text, i, cp);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    if (cp == '"' || cp == '\\') {
      out += '\\';
      out += static_cast<char>(cp);
    } else if (IsBreakOrControl(cp)) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(cp));
      out += buffer;
    } else {
      out.append(text.substr(i, length));
    }
    i += length;
  }
  return out + "\"";
}

std::string JsonPathFields(std::string_view path) {
  std::string out = "\"path\":" + JsonString(path);
  bool valid = true;
  for (std::size_t i = 0; i < path.size() && valid;) {
    char32_t cp = 0;
    const std::size_t length = DecodeUtf8(path, i, cp);
    valid = length != 0;
    i += length;
  }
  if (valid) return out;
  constexpr char kDigits[] = "0123456789abcdef";
  out += ",\"pathBytes\":\"";
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
  }
  return out + "\"";
}

void PrintError(std::string_view message) { std::fprintf(stderr, "quillet-cli: %s\n", EscapedText(message).c_str()); }

std::string ByteCount(std::uint64_t count) { return std::to_string(count) + (count == 1 ? " byte" : " bytes"); }

std::string RangeCount(std::size_t count) { return std::to_string(count) + (count == 1 ? " range" : " ranges"); }

}  // namespace quillet::cli
