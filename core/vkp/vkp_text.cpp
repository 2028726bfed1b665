#include "core/vkp/vkp_text.h"
#include "core/platform/atomic_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/platform/cp1251.h"
#include "core/platform/image_file.h"
#include "core/platform/local_time.h"
#include "core/res/strings.h"

namespace quillet {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr char kLineEnd[] = "\r\n";

// Whatever some reader of the text may take for a line or paragraph end: the
// field's block and line separators, NEL and its C1 neighbours, which other
// editors honour, and the C0 controls with CR and LF among them.
bool MayBreakALine(char32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029 || cp == 0xFDD0 || cp == 0xFDD1;
}

// A path is shown as chosen, except that nothing in a file name may start a new
// line in the text: such a line would no longer be a comment, and a crafted
// name could add data lines to the patch. A byte that is not UTF-8 is replaced
// too, since a reader that guesses another encoding may see a break in it.
std::string PathForHeader(std::string_view path) {
  std::string shown;
  shown.reserve(path.size());
  for (std::size_t i = 0; i < path.size();) {
    char32_t cp = 0;
    const std::size_t length = DecodeUtf8(path, i, cp);
    if (length == 0 || MayBreakALine(cp)) {
      shown += '?';
      i += length == 0 ? 1 : length;
      continue;
    }
    shown.append(path.substr(i, length));
    i += length;
  }
  return shown;
}

// Where the next line break of the field starts in text, and its length; npos
// when none. One pass, since a text of many lines may hold no LF at all.
std::size_t FindBreak(std::string_view text, std::size_t& length) {
  length = 1;
  for (std::size_t at = text.find_first_of("\n\xE2\xEF"); at != std::string_view::npos;
       at = text.find_first_of("\n\xE2\xEF", at + 1)) {
    if (text[at] == '\n') return at;
    const std::string_view mark = text.substr(at, 3);
    if (mark == "\xE2\x80\xA8" || mark == "\xE2\x80\xA9" || mark == "\xEF\xB7\x90" || mark == "\xEF\xB7\x91") {
      length = 3;
      return at;
    }
  }
  return std::string_view::npos;
}

std::string ImageBlock(const char* nameLine, const std::string& path, const std::optional<FileInfo>& info) {
  std::string block = nameLine + PathForHeader(path) + kLineEnd;
  if (!info) return block;
  block += text::kHeaderSize + std::to_string(info->size) + text::kHeaderBytes + kLineEnd;
  block += text::kHeaderDate + FormatLocalTime(info->mtime) + kLineEnd;
  return block;
}

void AppendHexBytes(std::string& text, const std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    text.push_back(kHexDigits[bytes[i] >> 4]);
    text.push_back(kHexDigits[bytes[i] & 0x0F]);
  }
}

}  // namespace

std::string HeaderPath(std::string_view path) { return PathForHeader(path); }

std::string ComposeComparisonHeader(const std::string& originalPath, const std::string& currentPath) {
  return ComposeComparisonHeader(originalPath, ProbeFile(originalPath), currentPath, ProbeFile(currentPath));
}

std::string ComposeComparisonHeader(const std::string& originalPath, const std::optional<FileInfo>& original,
                                    const std::string& currentPath, const std::optional<FileInfo>& current) {
  return ImageBlock(text::kHeaderOriginal, originalPath, original) +
         ImageBlock(text::kHeaderCurrent, currentPath, current) + kLineEnd;
}

std::string ComposeUndoHeader(const std::string& beforePath, const std::optional<FileInfo>& before,
                              const std::string& afterPath, const std::optional<FileInfo>& after) {
  return text::kHeaderUndo + std::string(kLineEnd) + ComposeComparisonHeader(beforePath, before, afterPath, after);
}

bool IsUndoPatchText(std::string_view head) {
  static const std::string mark = Utf8ToCp1251(text::kHeaderUndoMark);
  if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
  return head.starts_with(mark);
}

void AppendDataLine(std::string& text, std::uint32_t address, const std::uint8_t* oldBytes,
                    const std::uint8_t* newBytes, std::size_t count) {
  // "%06lX": at least six digits, as many as the address needs.
  char digits[8];
  int used = 0;
  for (std::uint32_t rest = address; rest != 0 || used < 6; rest >>= 4) digits[used++] = kHexDigits[rest & 0x0F];
  while (used > 0) text.push_back(digits[--used]);
  text.append(": ");
  AppendHexBytes(text, oldBytes, count);
  text.push_back(' ');
  AppendHexBytes(text, newBytes, count);
  text.append(kLineEnd);
}

std::vector<std::string> SplitEditLines(std::string_view text) {
  std::vector<std::string> lines;
  for (;;) {
    std::size_t length = 0;
    const std::size_t at = FindBreak(text, length);
    if (at == std::string_view::npos) break;
    std::string_view line = text.substr(0, at);
    if (text[at] == '\n' && line.ends_with('\r')) line.remove_suffix(1);
    lines.emplace_back(line);
    text.remove_prefix(at + length);
  }
  lines.emplace_back(text);
  return lines;
}

SavedLines EncodeSavedLines(const std::vector<std::string>& utf8Lines) {
  SavedLines saved;
  std::size_t total = 0;
  for (const std::string& line : utf8Lines) total += line.size() + 2;
  saved.bytes.reserve(total);
  for (std::size_t number = 0; number < utf8Lines.size(); ++number) {
    const std::string& line = utf8Lines[number];
    for (std::size_t i = 0; i < line.size();) {
      char32_t cp = 0xFFFD;
      const std::size_t length = DecodeUtf8(line, i, cp);
      const std::optional<char> byte = length == 0 ? std::nullopt : EncodeCp1251(cp);
      if (!byte) {
        saved.bytes.clear();
        saved.refused = Unencodable{length == 0 ? char32_t{0xFFFD} : cp, number + 1};
        return saved;
      }
      saved.bytes += *byte;
      i += length;
    }
    saved.bytes += kLineEnd;
  }
  return saved;
}

std::string EncodeSavedHeader(const std::string& header) {
  // The header's lines end in CR LF, which the field's lines get back on saving.
  return Utf8ToCp1251(header);
}

void SaveBytes(const std::string& path, const std::string& bytes) {
  // Links are followed: the file pointed to is replaced, the link kept. A
  // device or a pipe (/dev/stdout, a FIFO) is written into, never replaced.
  AtomicFileWriter file(path, true);
  file.Write(bytes);
  file.Commit();
}

void SaveComparisonText(const std::string& path, const std::vector<std::string>& utf8Lines) {
  const SavedLines saved = EncodeSavedLines(utf8Lines);
  if (saved.refused) throw UnencodableText(*saved.refused);
  SaveBytes(path, saved.bytes);
}

}  // namespace quillet
