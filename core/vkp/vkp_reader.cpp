#include "core/vkp/vkp_reader.h"

#include <cstring>

namespace quillet::vkp_detail {

bool LineMachine::Fail(VkpError error) {
  m_result = {error, m_line, m_lineStart};
  return false;
}

// Only a ':' or the line's end can matter once the address is impossible:
// straight on to them, but not through a file of zeros. A line that has shown
// neither within kColonLookahead bytes is invalid either way.
std::size_t LineMachine::SkipBrokenAddress(const char* begin, std::size_t size, std::size_t i) {
  if (m_brokenAt == kNotBroken) m_brokenAt = m_piecePos + i;
  if (m_piecePos + i - m_brokenAt >= kColonLookahead) return Stop(VkpError::badAddressOrNoColon);
  std::size_t end = i + 1;
  for (; end < size; ++end) {
    if (m_piecePos + end - m_brokenAt >= kColonLookahead) return Stop(VkpError::badAddressOrNoColon);
    const std::uint8_t next = ClassOf(begin[end]);
    if (next == kColon || next == kLineEnd || next == kFileEnd || next == kComment) break;
  }
  return end;
}

std::size_t LineMachine::OffsetChar(std::size_t i, std::uint8_t cls) {
  if (cls == kSpace) {
    m_state = m_pendingWeak ? State::offsetDoneStrict : State::offsetDone;
  } else if (cls == kWeak) {
    m_pendingWeak = 1;
  } else {
    if (m_pendingWeak) return Stop(VkpError::badOffset);
    m_number.Push(cls);
    if (!m_number.valid) return Stop(VkpError::badOffset);
  }
  return i + 1;
}

}  // namespace quillet::vkp_detail
