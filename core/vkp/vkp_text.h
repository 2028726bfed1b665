#pragma once
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/image_file.h"

namespace quillet {

// The header block of a comparison, original image first, in UTF-8 with CR LF
// line ends: three comment lines per image (path, size, local modification
// time), the name line alone for an image that can't be opened, and an empty
// line after the current image's block.
[[nodiscard]] std::string ComposeComparisonHeader(const std::string& originalPath, const std::string& currentPath);
// The same from facts taken earlier (nothing: the image can't be opened), for
// a header of files that are about to change or not yet in place.
[[nodiscard]] std::string ComposeComparisonHeader(const std::string& originalPath,
                                                  const std::optional<FileInfo>& original,
                                                  const std::string& currentPath,
                                                  const std::optional<FileInfo>& current);

// An undo patch's header: a line saying that it records the image's bytes
// and is to be reverted, then the comparison header of the image before and
// after.
[[nodiscard]] std::string ComposeUndoHeader(const std::string& beforePath, const std::optional<FileInfo>& before,
                                            const std::string& afterPath, const std::optional<FileInfo>& after);
// Whether a patch file's first bytes (as saved, in Windows-1251) are those
// of an undo patch: its first line, after a byte-order mark, is that line.
[[nodiscard]] bool IsUndoPatchText(std::string_view head);
inline constexpr std::size_t kUndoMarkLookahead = 64;
// A path as a header's comment line shows it: anything that could start a new
// line, and any byte that is not UTF-8, as '?'.
[[nodiscard]] std::string HeaderPath(std::string_view path);

// One data line: "%06lX: " + old bytes + " " + new bytes + CR LF, each byte "%02lX".
void AppendDataLine(std::string& text, std::uint32_t address, const std::uint8_t* oldBytes,
                    const std::uint8_t* newBytes, std::size_t count);

// The text split into lines the way the comparison field shows them: at CR LF,
// LF, and the field's own breaks U+2028, U+2029, U+FDD0 and U+FDD1, the break
// removed, with an empty last line after a final break. A lone CR stays.
[[nodiscard]] std::vector<std::string> SplitEditLines(std::string_view text);

// The first character of the lines that Windows-1251 lacks (U+FFFD for a byte
// that is not UTF-8), with its 1-based line number.
struct Unencodable {
  char32_t character = 0;
  std::size_t line = 0;
};

struct SavedLines {
  std::string bytes;  // empty when refused
  std::optional<Unencodable> refused;
};

// The bytes "Записать" writes: every line in Windows-1251, each followed by CR
// LF; or, when a character has no byte there, which one and where.
[[nodiscard]] SavedLines EncodeSavedLines(const std::vector<std::string>& utf8Lines);

class UnencodableText : public std::runtime_error {
 public:
  // The window says which character and where; what() is for a log.
  explicit UnencodableText(const Unencodable& where)
      : std::runtime_error("a character has no byte in Windows-1251"), m_where(where) {}
  [[nodiscard]] const Unencodable& Where() const { return m_where; }

 private:
  Unencodable m_where;
};

// The bytes "Записать" writes for an unedited comparison, in three pieces so
// that they can be written as the walk finds the lines: the header's bytes,
// then the data lines as the walk hands them over (already in saved form),
// then the line end of the field's empty last line.
[[nodiscard]] std::string EncodeSavedHeader(const std::string& header);
inline constexpr char kSavedTextEnd[] = "\r\n";

// Saves the lines so that a failure leaves an existing file as it was.
// Throws FileError with the path, or UnencodableText before touching the file.
void SaveComparisonText(const std::string& path, const std::vector<std::string>& utf8Lines);
// The same for bytes already in saved form.
void SaveBytes(const std::string& path, const std::string& bytes);

}  // namespace quillet
