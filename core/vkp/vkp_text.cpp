#include "core/vkp/vkp_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "core/vkp/hex_string.h"
#include "core/platform/cp1251.h"
#include "core/platform/file_error.h"
#include "core/platform/file_io.h"
#include "core/res/strings.h"

namespace quillet {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr char kLineEnd[] = "\r\n";

// A path is shown as chosen, except that a line break or other control
// character in a file name must not start a new line in the text: such a line
// would no longer be a comment, and a crafted name could add data lines to the
// patch.
std::string PathForHeader(const std::string& path) {
  std::string shown = path;
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return shown;
}

std::string ImageBlock(const char* nameLine, const std::string& path) {
  std::string block = nameLine + PathForHeader(path) + kLineEnd;
  const std::optional<FileInfo> info = ProbeFile(path);
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

void WriteToSpecialFile(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) throw FileError::FromErrno(errno, path);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      throw FileError::FromErrno(error, path);
    }
    done += static_cast<std::size_t>(put);
  }
  if (::close(fd) != 0 && errno != EINTR) throw FileError::FromErrno(errno, path);
}

}  // namespace

std::string ComposeComparisonHeader(const std::string& originalPath, const std::string& currentPath) {
  return ImageBlock(text::kHeaderOriginal, originalPath) + ImageBlock(text::kHeaderCurrent, currentPath) +
         kLineEnd;
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
    const std::size_t lf = text.find('\n');
    if (lf == std::string_view::npos) break;
    std::string_view line = text.substr(0, lf);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.emplace_back(line);
    text.remove_prefix(lf + 1);
  }
  lines.emplace_back(text);
  return lines;
}

std::string EncodeSavedLines(const std::vector<std::string>& utf8Lines) {
  std::string bytes;
  std::size_t total = 0;
  for (const std::string& line : utf8Lines) total += line.size() + 2;
  bytes.reserve(total);
  for (const std::string& line : utf8Lines) {
    bytes += Utf8ToCp1251(line);
    bytes += kLineEnd;
  }
  return bytes;
}

std::string EncodeSavedHeader(const std::string& header) {
  // The header's lines end in CR LF, which the field's lines get back on saving.
  return Utf8ToCp1251(header);
}

void SaveBytes(const std::string& path, const std::string& bytes) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    // A device or a pipe (/dev/stdout, a FIFO) is written to, never replaced:
    // renaming a file over /dev/null would break the system for everyone.
    WriteToSpecialFile(path, bytes);
    return;
  }
  // Links are followed there: the file pointed to is replaced, the link kept.
  WriteFileAtomically(path, bytes);
}

void SaveComparisonText(const std::string& path, const std::vector<std::string>& utf8Lines) {
  SaveBytes(path, EncodeSavedLines(utf8Lines));
}

}  // namespace quillet
