#pragma once
// The workings of ReadVkp, apart from its interface in vkp_reader.h, which
// includes this file at its end (nothing else does).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace quillet {

// The part of a line before its new bytes is read in vkp_reader.cpp; what
// hands bytes to the sink or reads the source again is a template here,
// inlined into the check's inner loop.
namespace vkp_detail {

// Character classes of the reader: 0-15 are hexadecimal digits (either case).
enum : std::uint8_t {
  kSpace = 16,  // ' ' and TAB: separate fields
  kWeak,        // VT, FF, CR: trimmed at a line's ends, but separate nothing
  kColon,
  kPlus,
  kComment,  // ';' or '#'
  kLineEnd,
  kFileEnd,  // 0x1A
  kX,        // 'X' or 'x', for the "0X" prefix
  kOther,
};

struct ClassTable {
  std::uint8_t of[256];
  constexpr ClassTable() : of() {
    for (int c = 0; c < 256; ++c) of[c] = kOther;
    for (int d = 0; d < 10; ++d) of['0' + d] = static_cast<std::uint8_t>(d);
    for (int d = 0; d < 6; ++d) {
      of['A' + d] = static_cast<std::uint8_t>(10 + d);
      of['a' + d] = static_cast<std::uint8_t>(10 + d);
    }
    const auto set = [this](std::string_view chars, std::uint8_t cls) {
      for (const char c : chars) of[static_cast<unsigned char>(c)] = cls;
    };
    set(" \t", kSpace);
    set("\v\f\r", kWeak);
    set(":", kColon);
    set("+", kPlus);
    set(";#", kComment);
    set("\n", kLineEnd);
    set("\x1A", kFileEnd);
    set("Xx", kX);
  }
};
inline constexpr ClassTable kClasses;

constexpr std::uint8_t ClassOf(char c) { return kClasses.of[static_cast<unsigned char>(c)]; }
constexpr bool IsBlank(std::uint8_t cls) { return cls == kSpace || cls == kWeak; }

// IsHexString and HexStringToInt over a number that arrives a character at a
// time, so that a number of any length costs no memory.
struct HexNumber {
  std::uint32_t value = 0;
  std::uint8_t seen = 0;  // characters so far, counted to 2
  bool zeroFirst = false;
  bool valid = true;
  void Push(std::uint8_t cls);
};

// Where a step ends when the reading has ended at an invalid line.
inline constexpr std::size_t kStopped = ~std::size_t{0};

// The state of the reading that needs neither the source nor the sink, and the
// steps over a line up to its new bytes.
class LineMachine {
 protected:
  enum class State : std::uint8_t {
    start,             // nothing but blanks on this line yet
    offset,            // after '+'
    offsetDone,        // after the offset value and a space; the rest is ignored
    offsetDoneStrict,  // the same, but the value ended in VT/FF/CR, which count unless trimmed
    address,           // before ':'
    afterColon,
    field1,
    between,  // after field 1 and a space
    field2,   // read by the template, which writes
    ignored,  // rest of the line: a third field or a comment
  };

  explicit LineMachine(bool exactErrors) : m_exactErrors(exactErrors) {}

  // Reads on from begin[i] while the line is before its second field: up to a
  // line end, a comment, 0x1A, or the first character of field 2. kStopped
  // when the line turned out invalid.
  std::size_t ReadHead(const char* begin, std::size_t size, std::size_t i);
  bool Fail(VkpError error);
  std::size_t Stop(VkpError error) {
    Fail(error);
    return kStopped;
  }

  void NewLine(std::uint64_t start) {
    ++m_line;
    m_lineStart = start;
    m_state = State::start;
    m_pendingBlank = false;
    m_pendingWeak = 0;
  }

  const bool m_exactErrors;
  VkpReadResult m_result;
  std::string_view m_piece;  // the piece being read, from stream position m_piecePos
  std::uint64_t m_piecePos = 0;
  std::size_t m_line = 1;
  std::uint64_t m_lineStart = 0;
  State m_state = State::start;
  std::uint32_t m_offset = 0;
  // The offset value or the address, as it arrives.
  HexNumber m_number;
  bool m_pendingBlank = false;
  bool m_addressBroken = false;
  static constexpr std::uint64_t kNotBroken = ~std::uint64_t{0};
  std::uint64_t m_brokenAt = kNotBroken;  // where the address became impossible
  std::uint64_t m_pendingWeak = 0;        // VT/FF/CR not yet known to be inside the field
  // Field 1, new bytes or old ones until the line shows which.
  std::uint64_t m_field1Start = 0;
  std::uint64_t m_field1End = 0;
  bool m_field1Hex = true;  // all digits, so that it can be the old bytes
  bool m_field1Weak = false;
  std::string_view m_field1Again;  // its part read again from the source
  std::uint64_t m_field1AgainPos = 0;
  // The new bytes: where the next one goes, and a pair's first character.
  std::uint32_t m_position = 0;
  std::uint32_t m_lineBase = 0;  // where the line's first new byte went
  std::uint8_t m_half = 0;
  bool m_haveHalf = false;
  bool m_inField2 = false;

 private:
  std::size_t StartLine(const char* begin, std::size_t size, std::size_t i, std::uint8_t cls);
  std::size_t AddressChar(const char* begin, std::size_t size, std::size_t i, std::uint8_t cls);
  std::size_t SkipBrokenAddress(const char* begin, std::size_t size, std::size_t i);
  std::size_t OffsetChar(std::size_t i, std::uint8_t cls);
  std::size_t Field1Char(const char* begin, std::size_t size, std::size_t i, std::uint8_t cls);
};

// The steps a data line takes, inline: they are most of the reading.
inline void HexNumber::Push(std::uint8_t cls) {
  if (cls < 16) {
    value = (value << 4) | cls;
    if (seen == 0) zeroFirst = cls == 0;
  } else if (!(cls == kX && seen == 1 && zeroFirst)) {
    valid = false;
  }
  if (seen < 2) ++seen;
}

inline std::size_t LineMachine::ReadHead(const char* begin, std::size_t size, std::size_t i) {
  while (i < size) {
    const std::uint8_t cls = ClassOf(begin[i]);
    if (cls == kLineEnd || cls == kFileEnd) return i;
    if (m_state == State::ignored) {
      // Nothing counts until the line end: straight on to it.
      const auto* lf = static_cast<const char*>(std::memchr(begin + i, '\n', size - i));
      const std::size_t end = lf ? static_cast<std::size_t>(lf - begin) : size;
      const auto* eof = static_cast<const char*>(std::memchr(begin + i, 0x1A, end - i));
      i = eof ? static_cast<std::size_t>(eof - begin) : end;
      continue;
    }
    if (cls == kComment) return i;
    switch (m_state) {
      case State::start:
        i = StartLine(begin, size, i, cls);
        break;
      case State::address:
        i = AddressChar(begin, size, i, cls);
        break;
      case State::offset:
        i = OffsetChar(i, cls);
        break;
      case State::offsetDoneStrict:
        if (!IsBlank(cls)) return Stop(VkpError::badOffset);
        ++i;
        break;
      case State::afterColon:
        if (IsBlank(cls)) {
          ++i;
          break;
        }
        m_state = State::field1;
        m_field1Start = m_piecePos + i;
        m_field1Hex = true;
        m_field1Weak = false;
        m_field1Again = {};
        [[fallthrough]];
      case State::field1:
        i = Field1Char(begin, size, i, cls);
        break;
      case State::between:
        if (!IsBlank(cls)) return i;  // field 2 begins
        ++i;
        break;
      case State::field2:
        return i;
      case State::offsetDone:
      case State::ignored:
        ++i;
        break;
    }
    if (i == kStopped) return i;
  }
  return i;
}

// The line's first character that is not blank.
inline std::size_t LineMachine::StartLine(const char* begin, std::size_t size, std::size_t i, std::uint8_t cls) {
  if (IsBlank(cls)) return i + 1;
  m_number = HexNumber{};
  m_pendingBlank = false;
  m_addressBroken = false;
  m_brokenAt = kNotBroken;
  if (cls == kPlus) {
    m_state = State::offset;
    return i + 1;
  }
  m_state = State::address;
  return AddressChar(begin, size, i, cls);
}

inline std::size_t LineMachine::AddressChar(const char* begin, std::size_t size, std::size_t i, std::uint8_t cls) {
  if (cls == kColon) {
    if (m_addressBroken || !m_number.valid) return Stop(VkpError::badAddress);
    m_position = m_number.value + m_offset;
    m_lineBase = m_position;
    m_haveHalf = false;
    m_state = State::afterColon;
  } else if (IsBlank(cls)) {
    m_pendingBlank = true;
  } else {
    // A blank between two characters of the address stays in it.
    if (m_pendingBlank) m_addressBroken = true;
    m_number.Push(cls);
    if (m_addressBroken || !m_number.valid) {
      if (!m_exactErrors) return Stop(VkpError::badAddressOrNoColon);
      return SkipBrokenAddress(begin, size, i);
    }
  }
  return i + 1;
}

inline std::size_t LineMachine::Field1Char(const char* begin, std::size_t size, std::size_t i, std::uint8_t cls) {
  if (cls < 16) {
    if (m_field1Weak) m_field1Hex = false;
    // The bulk of a file: runs of digits, taken without the machine.
    std::size_t end = i + 1;
    while (end < size && ClassOf(begin[end]) < 16) ++end;
    m_field1End = m_piecePos + end;
    return end;
  }
  if (cls == kSpace) {
    m_state = State::between;
  } else if (cls == kWeak) {
    m_field1Weak = true;
  } else {
    m_field1Hex = false;
    m_field1End = m_piecePos + i + 1;
  }
  return i + 1;
}

template <class Source, class Sink>
class VkpStreamReader : LineMachine {
 public:
  VkpStreamReader(Source& source, Sink& sink, bool exactErrors)
      : LineMachine(exactErrors), m_source(source), m_sink(sink) {}

  [[nodiscard]] VkpReadResult Run() {
    std::uint64_t at = 0;
    for (;;) {
      const std::string_view piece = m_source.Next();
      if (piece.empty()) break;
      m_piece = piece;
      m_piecePos = at;
      if (!Consume()) return m_result;
      at += piece.size();
    }
    (void)EndLine();
    return m_result;
  }

 private:
  static constexpr bool kWantsOld = requires(Sink & sink) {
    sink.WriteOld(std::uint32_t{}, std::uint8_t{}, int{});
    sink.BeginOldLine();
    sink.EndOldLine(bool{});
  };

  // Feeds the current piece through the line machine; false once reading ends.
  bool Consume() {
    const char* const begin = m_piece.data();
    const std::size_t size = m_piece.size();
    std::size_t i = 0;
    while (i < size) {
      const std::uint8_t cls = ClassOf(begin[i]);
      if (cls == kLineEnd || cls == kFileEnd || (cls == kComment && m_state != State::ignored)) {
        if (!EndContent(cls, i)) return false;
        continue;
      }
      const bool newBytes = m_state == State::field2 || (m_state == State::between && !IsBlank(cls));
      i = newBytes ? ReadField2(begin, size, i) : ReadHead(begin, size, i);
      if (i == kStopped) return false;
    }
    return true;
  }

  // The line's content ends at begin[i]: a line end, a comment or 0x1A. False
  // once reading ends.
  bool EndContent(std::uint8_t cls, std::size_t& i) {
    if (!EndLine()) return false;
    if (cls == kFileEnd) return false;
    if (cls == kComment) {
      m_state = State::ignored;
      return true;
    }
    NewLine(m_piecePos + i + 1);
    ++i;
    return true;
  }

  // The line's content has ended (line end, comment, 0x1A or end of input).
  bool EndLine() {
    switch (m_state) {
      case State::offset:
      case State::offsetDone:
      case State::offsetDoneStrict:
        // Replaces, never adds: hand-written files rely on this.
        m_offset = m_number.value;
        break;
      case State::address:
        return Fail(VkpError::noColon);
      case State::field1:
      case State::between:
        return WriteField1();
      case State::field2:
        return EndField2();
      case State::start:
      case State::afterColon:
      case State::ignored:
        break;
    }
    return true;
  }

  // Field 2, the new bytes beside old ones, up to its end or the line's.
  std::size_t ReadField2(const char* begin, std::size_t size, std::size_t i) {
    if (m_state == State::between) {
      m_state = State::field2;
      m_pendingWeak = 0;
      if constexpr (kWantsOld) {
        m_inField2 = true;
        m_sink.BeginOldLine();
      }
    }
    while (i < size) {
      const std::uint8_t cls = ClassOf(begin[i]);
      if (cls == kLineEnd || cls == kFileEnd || cls == kComment) return i;
      if (cls == kSpace) {
        if (!EndField2()) return kStopped;
        m_state = State::ignored;
        return i + 1;
      }
      ++i;
      if (cls == kWeak) {
        ++m_pendingWeak;  // trimmed if only blanks follow
        continue;
      }
      for (; m_pendingWeak > 0; --m_pendingWeak)
        if (!PairChar(kWeak)) return kStopped;
      if (!PairChar(cls)) return kStopped;
      if (!m_haveHalf) i = PairRun(begin, size, i);
    }
    return i;
  }

  // The bulk of a file: whole pairs of digits, taken without the machine.
  std::size_t PairRun(const char* begin, std::size_t size, std::size_t at) {
    for (; at + 1 < size; at += 2) {
      const std::uint8_t high = ClassOf(begin[at]);
      const std::uint8_t low = ClassOf(begin[at + 1]);
      if ((high | low) >= 16) break;
      const std::uint32_t position = m_position++;
      if (m_sink.Accepts(position)) EmitByte(position, static_cast<std::uint8_t>((high << 4) | low));
    }
    return at;
  }

  // One new-bytes character. Pair k is characters 2k and 2k+1 of the field.
  bool PairChar(std::uint8_t cls) {
    if (!m_haveHalf) {
      m_half = cls;
      m_haveHalf = true;
      return true;
    }
    m_haveHalf = false;
    const std::uint32_t at = m_position++;
    if (!m_sink.Accepts(at)) return true;
    std::uint8_t value;
    if (m_half < 16 && cls < 16)
      value = static_cast<std::uint8_t>((m_half << 4) | cls);
    else if (m_half == 0 && cls == kX)
      value = 0;  // "0X" alone: the prefix of an empty number
    else
      return Fail(VkpError::badByte);
    EmitByte(at, value);
    return true;
  }

  bool PairChars(std::string_view text) {
    for (const char c : text)
      if (!PairChar(ClassOf(c))) return false;
    return true;
  }

  // An odd last character is a byte of its own.
  bool EndField() {
    if (!m_haveHalf) return true;
    m_haveHalf = false;
    const std::uint32_t at = m_position++;
    if (!m_sink.Accepts(at)) return true;
    if (m_half >= 16) return Fail(VkpError::badByte);
    EmitByte(at, m_half);
    return true;
  }

  bool EndField2() {
    if constexpr (kWantsOld) {
      const std::uint64_t length = 2 * std::uint64_t{m_position - m_lineBase} + (m_haveHalf ? 1 : 0);
      if (!EndField()) return false;
      m_sink.EndOldLine(m_field1Hex && length == m_field1End - m_field1Start);
      m_inField2 = false;
      return true;
    } else {
      return EndField();
    }
  }

  // Field 1 turned out to be the only field: it holds the new bytes.
  bool WriteField1() {
    if (m_field1Start >= m_piecePos) {
      const auto from = static_cast<std::size_t>(m_field1Start - m_piecePos);
      if (!PairChars(m_piece.substr(from, static_cast<std::size_t>(m_field1End - m_field1Start)))) return false;
    } else {
      for (std::uint64_t at = m_field1Start; at < m_field1End;) {
        const std::string_view again = m_source.ReadAt(at, static_cast<std::size_t>(m_field1End - at));
        if (again.empty()) break;  // the file shrank meanwhile: what is gone writes nothing
        if (!PairChars(again)) return false;
        at += again.size();
      }
    }
    return EndField();
  }

  void EmitByte(std::uint32_t at, std::uint8_t value) {
    if constexpr (kWantsOld) {
      m_sink.WriteOld(at, value, m_inField2 ? OldByte(at) : -1);
    } else {
      m_sink.Write(at, value);
    }
  }

  // The old byte beside the new one at address at: the same pair of field 1.
  int OldByte(std::uint32_t at) {
    const std::uint64_t j = 2 * std::uint64_t{static_cast<std::uint32_t>(at - m_lineBase)};
    const std::uint64_t length = m_field1End - m_field1Start;
    if (j + 1 < length) {
      const std::uint8_t high = Field1Class(j);
      const std::uint8_t low = Field1Class(j + 1);
      if ((high | low) < 16) return (high << 4) | low;
    } else if (j + 1 == length && Field1Class(j) < 16) {
      return Field1Class(j);
    }
    return -1;
  }

  // Character j of field 1, read again when it lies in an earlier piece.
  std::uint8_t Field1Class(std::uint64_t j) {
    const std::uint64_t at = m_field1Start + j;
    if (at >= m_piecePos) return ClassOf(m_piece[static_cast<std::size_t>(at - m_piecePos)]);
    if (at < m_field1AgainPos || at >= m_field1AgainPos + m_field1Again.size()) {
      m_field1AgainPos = at;
      m_field1Again = m_source.ReadAt(at, static_cast<std::size_t>(m_field1End - at));
      if (m_field1Again.empty()) return kOther;
    }
    return ClassOf(m_field1Again[static_cast<std::size_t>(at - m_field1AgainPos)]);
  }

  Source& m_source;
  Sink& m_sink;
};

}  // namespace vkp_detail

template <class Source, class Sink>
VkpReadResult ReadVkp(Source& source, Sink& sink, bool exactErrors) {
  return vkp_detail::VkpStreamReader<Source, Sink>(source, sink, exactErrors).Run();
}

}  // namespace quillet
