#include "core/vkp/vkp_reader.h"

namespace quillet {

namespace {

constexpr char kEndOfFile = '\x1A';

// The white space that trimming removes. NUL and the byte-order mark are not in
// it, so a line holding them can't come out empty.
constexpr bool IsTrimmed(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

constexpr char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string_view TrimLeft(std::string_view text) {
  while (!text.empty() && IsTrimmed(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && IsTrimmed(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

VkpLineSplitter::VkpLineSplitter(std::string_view text) : m_rest(text.substr(0, text.find(kEndOfFile))) {
  m_done = m_rest.empty();
}

bool VkpLineSplitter::next(std::string_view& line) {
  if (m_done) return false;
  const std::size_t lf = m_rest.find('\n');
  if (lf == std::string_view::npos) {
    line = m_rest;
    m_done = true;
  } else {
    line = m_rest.substr(0, lf);
    m_rest.remove_prefix(lf + 1);
    m_done = m_rest.empty();
  }
  if (!line.empty() && line.back() == '\r' && lf != std::string_view::npos) line.remove_suffix(1);
  return true;
}

void NormaliseVkpLine(std::string_view raw, std::string& out) {
  raw = raw.substr(0, raw.find_first_of(";#"));
  out.clear();
  bool afterSpace = false;
  for (char c : raw) {
    if (c == '\t') c = ' ';
    if (c == ' ') {
      if (afterSpace) continue;
      afterSpace = true;
    } else {
      afterSpace = false;
    }
    out.push_back(AsciiUpper(c));
  }
  const std::string_view trimmed = TrimRight(TrimLeft(out));
  if (trimmed.size() != out.size()) {
    const auto start = static_cast<std::size_t>(trimmed.data() - out.data());
    out.erase(start + trimmed.size());
    out.erase(0, start);
  }
}

}  // namespace quillet
