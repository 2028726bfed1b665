#include "core/platform/file_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "core/platform/file_error.h"
#include "core/platform/unique_fd.h"

namespace quillet {

int OpenForReading(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
}

bool IsReadableRegular(int fd, struct stat& st, int& error) {
  if (::fstat(fd, &st) != 0) {
    error = errno;
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    error = EISDIR;
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = EINVAL;
    return false;
  }
  error = 0;
  return true;
}

std::string ReadWholeFile(const std::string& path) {
  UniqueFd fd(OpenForReading(path));
  if (!fd.Ok()) throw FileError::FromErrno(errno, path);
  struct stat st {};
  int error = 0;
  if (!IsReadableRegular(fd.get(), st, error)) throw FileError::FromErrno(error, path);
  std::string text;
  // The size is a hint only: a file that grows or shrinks meanwhile is read to its end.
  text.reserve(static_cast<std::size_t>(st.st_size));
  char chunk[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw FileError::FromErrno(errno, path);
    }
    if (got == 0) break;
    text.append(chunk, static_cast<std::size_t>(got));
  }
  return text;
}

FileReader::FileReader(const std::string& path) : m_path(path) {
  m_fd = OpenForReading(path);
  if (m_fd < 0) throw FileError::FromErrno(errno, path);
  struct stat st {};
  int error = 0;
  if (!IsReadableRegular(m_fd, st, error)) {
    ::close(m_fd);
    throw FileError::FromErrno(error, path);
  }
  m_piece = std::make_unique_for_overwrite<char[]>(kPieceSize);
}

FileReader::~FileReader() { ::close(m_fd); }

std::string_view FileReader::Next() {
  for (;;) {
    const ssize_t got = ::read(m_fd, m_piece.get(), kPieceSize);
    if (got >= 0) return {m_piece.get(), static_cast<std::size_t>(got)};
    if (errno != EINTR) throw FileError::FromErrno(errno, m_path);
  }
}

std::string_view FileReader::ReadAt(std::uint64_t position, std::size_t count) {
  if (!m_again) m_again = std::make_unique_for_overwrite<char[]>(kPieceSize);
  count = std::min(count, kPieceSize);
  for (;;) {
    const ssize_t got = ::pread(m_fd, m_again.get(), count, static_cast<off_t>(position));
    if (got >= 0) return {m_again.get(), static_cast<std::size_t>(got)};
    if (errno != EINTR) throw FileError::FromErrno(errno, m_path);
  }
}

}  // namespace quillet
