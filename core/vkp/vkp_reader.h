#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "core/vkp/vkp_error.h"

// The one reader of .vkp patch text. Files and texts in memory, the
// installed-patch check, its reference and the fuzzer all go through
// ReadVkp, so they cannot disagree on what a file says.

namespace quillet {

// How far an exact reading looks on for a ':' after an impossible address.
inline constexpr std::uint64_t kColonLookahead = 4096;

// Reads a whole patch text in one pass, normalising and parsing as the
// characters arrive, so that neither a file nor a line is ever held whole. For
// every byte position of every data line the sink is asked Accepts(address);
// only then is that pair tested and, when hexadecimal, handed to
// Write(address, value). The first invalid line ends the reading: nothing after
// it is looked at. Addresses and offsets wrap at 2^32.
//
// Sink: bool Accepts(std::uint32_t); void Write(std::uint32_t, std::uint8_t).
// A sink that also has void WriteOld(address, value, int old) (old -1 where the
// line has no old byte there), BeginOldLine() and EndOldLine(bool usable) is told
// the old byte beside each new one instead, and whether the line's old field is
// usable: all hexadecimal digits and exactly as long as the new one.
//
// Source: std::string_view Next() hands over the following piece (empty at the
// end; the last piece stays readable after it); std::string_view ReadAt(pos,
// count) hands back up to count bytes from stream position pos again. The
// reader asks for bytes again only for a data line's first field that began in
// an earlier piece: until the line ends, that field may turn out to be the new
// bytes (a single field) or the old ones (which a sink may want beside the new).
//
// Without exactErrors, a line is given up as soon as it is known to be invalid
// (see badAddressOrNoColon), so that a file of zeros is not read to its end.
template <class Source, class Sink>
[[nodiscard]] VkpReadResult ReadVkp(Source& source, Sink& sink, bool exactErrors);

// A text already in memory, as one piece.
class VkpMemorySource {
 public:
  explicit VkpMemorySource(std::string_view text) : m_text(text) {}
  std::string_view Next() { return std::exchange(m_given, true) ? std::string_view() : m_text; }
  [[nodiscard]] std::string_view ReadAt(std::uint64_t pos, std::size_t count) const {
    return pos < m_text.size() ? m_text.substr(static_cast<std::size_t>(pos), count) : std::string_view();
  }

 private:
  std::string_view m_text;
  bool m_given = false;
};

template <class Sink>
[[nodiscard]] VkpReadResult ReadVkpText(std::string_view text, Sink& sink) {
  VkpMemorySource source(text);
  return ReadVkp(source, sink, true);
}

}  // namespace quillet

// How the reader works: a template, inlined into the check's inner loop.
#include "core/vkp/vkp_reader_impl.h"  // IWYU pragma: export
