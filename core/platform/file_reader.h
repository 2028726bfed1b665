#pragma once
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// Reading a file whole or front to back: patch files, the settings file.

namespace quillet {

// Opens path for reading, non-blocking, so that a FIFO or a device named by
// mistake can't hang the program in open() (regular files ignore the flag when
// read). A descriptor, or -1 with errno saying why.
[[nodiscard]] int OpenForReading(const std::string& path);

// Whether an opened descriptor is something a whole-file read makes sense on:
// st filled in, or error set to the errno value a caller should report.
[[nodiscard]] bool IsReadableRegular(int fd, struct stat& st, int& error);

// Reads a whole (small) file, such as a patch file. Throws FileError when it
// can't be opened or read.
[[nodiscard]] std::string ReadWholeFile(const std::string& path);

// Reads a file front to back in pieces of a fixed size, so that a file of any
// size costs the same memory. Opens as ReadWholeFile does and throws the same
// FileError when the file can't be opened or read.
class FileReader {
 public:
  static constexpr std::size_t kPieceSize = std::size_t{64} << 10;
  explicit FileReader(const std::string& path);
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;
  ~FileReader();

  // The following piece; empty at the end, when the last piece stays readable.
  [[nodiscard]] std::string_view Next();
  // Up to count bytes from position again (fewer at the end), readable until
  // the next readAt.
  [[nodiscard]] std::string_view ReadAt(std::uint64_t position, std::size_t count);

 private:
  std::string m_path;
  int m_fd = -1;
  std::unique_ptr<char[]> m_piece;
  std::unique_ptr<char[]> m_again;
};

}  // namespace quillet
