#include "core/platform/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <iterator>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "core/platform/file_error.h"
#include "core/platform/unique_fd.h"

namespace quillet {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Non-blocking, so that a FIFO or a device named by mistake can't hang the
// program in open(); regular files ignore the flag when read.
int OpenForReading(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
}

// Whether an opened descriptor is something a whole-file read makes sense on.
// Sets error to the errno value a caller should report when it is not.
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

// Reads until count bytes arrived, end of file or an error; returns what arrived.
std::size_t ReadFully(int fd, std::uint8_t* buffer, std::size_t count, int& error) {
  std::size_t done = 0;
  error = 0;
  while (done < count) {
    const ssize_t got = ::read(fd, buffer + done, count - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

FileStamp StampFrom(const struct stat& st) {
  return FileStamp{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                   static_cast<std::uint64_t>(st.st_size), static_cast<std::int64_t>(st.st_mtim.tv_sec),
                   static_cast<std::int64_t>(st.st_mtim.tv_nsec)};
}

}  // namespace

ImageBuffer::ImageBuffer(std::size_t size) : m_size(size) {
  if (size == 0) return;
  if (size > SIZE_MAX - 2 * kHugePage) {
    m_size = 0;
    throw std::bad_alloc();
  }
  // Huge pages only back 2 MiB-aligned stretches, and mmap promises 4 KiB
  // alignment only: map one huge page more, then give back the unaligned head
  // and whatever lies past the last whole huge page.
  const std::size_t wanted = (size + kHugePage - 1) / kHugePage * kHugePage;
  const std::size_t mapped = wanted + kHugePage;
  void* p = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) {
    m_size = 0;
    throw std::bad_alloc();
  }
  const auto raw = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t aligned = (raw + kHugePage - 1) & ~std::uintptr_t{kHugePage - 1};
  const std::size_t head = aligned - raw;
  const std::size_t tail = mapped - head - wanted;
  if (head != 0) ::munmap(p, head);
  // Aligning a mapping is address arithmetic by nature.
  if (tail != 0) ::munmap(reinterpret_cast<void*>(aligned + wanted), tail);  // NOLINT(performance-no-int-to-ptr)
  m_mapped = wanted;
  m_data = reinterpret_cast<std::uint8_t*>(aligned);  // NOLINT(performance-no-int-to-ptr)
  // Only advice: without transparent huge pages the buffer still works, slower.
  ::madvise(m_data, m_mapped, MADV_HUGEPAGE);
}

ImageBuffer::ImageBuffer(ImageBuffer&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0)),
      m_mapped(std::exchange(other.m_mapped, 0)) {}

ImageBuffer& ImageBuffer::operator=(ImageBuffer&& other) noexcept {
  if (this != &other) {
    release();
    m_data = std::exchange(other.m_data, nullptr);
    m_size = std::exchange(other.m_size, 0);
    m_mapped = std::exchange(other.m_mapped, 0);
  }
  return *this;
}

ImageBuffer::~ImageBuffer() { release(); }

void ImageBuffer::release() noexcept {
  if (m_data) ::munmap(m_data, m_mapped);
  m_data = nullptr;
  m_size = 0;
  m_mapped = 0;
}

std::optional<FileInfo> ProbeFile(const std::string& path) {
  UniqueFd fd(OpenForReading(path));
  if (!fd.ok()) return std::nullopt;
  struct stat st {};
  int error = 0;
  if (!IsReadableRegular(fd.get(), st, error)) {
    errno = error;  // the caller may want to say why
    return std::nullopt;
  }
  return FileInfo{static_cast<std::uint64_t>(st.st_size), static_cast<std::int64_t>(st.st_mtime)};
}

ImageRead ReadImageFile(const std::string& path) { return ReadImageFile(path, ReadPieceHook()); }

ImageRead ReadImageFile(const std::string& path, const ReadPieceHook& onPiece) {
  const UniqueFd fd(OpenForReading(path));
  if (!fd.ok()) {
    ImageRead result;
    result.status = ImageReadStatus::openFailed;
    result.osError = errno;
    return result;
  }
  return ReadImageFrom(fd.get(), onPiece);
}

ImageRead ReadImageFrom(int fd, const ReadPieceHook& onPiece) {
  // A piece takes a few ms from a disk and far less from the cache: a
  // watcher hears often enough, and the extra calls cost nothing measurable.
  constexpr std::size_t kPiece = std::size_t{1} << 20;
  ImageRead result;
  struct stat st {};
  int error = 0;
  if (!IsReadableRegular(fd, st, error)) {
    result.status = ImageReadStatus::openFailed;
    result.osError = error;
    return result;
  }
  result.stamp = StampFrom(st);
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size >= kMaxImageSize) {
    result.status = ImageReadStatus::tooLarge;
    return result;
  }
  ImageBuffer buffer(static_cast<std::size_t>(size));
  std::size_t got = 0;
  if (!onPiece) {
    got = ReadFully(fd, buffer.data(), buffer.size(), error);
  } else {
    while (got < buffer.size()) {
      const std::size_t piece = std::min(kPiece, buffer.size() - got);
      const std::size_t arrived = ReadFully(fd, buffer.data() + got, piece, error);
      got += arrived;
      if (arrived != piece || !onPiece(got)) break;
    }
  }
  if (got != buffer.size()) {
    result.status = ImageReadStatus::readShort;
    result.osError = error;
    return result;
  }
  result.status = ImageReadStatus::ok;
  result.data = std::move(buffer);
  return result;
}

std::optional<FileStamp> StampOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return StampFrom(st);
}

ImageLock::Status ImageLock::Acquire(const std::string& path, const std::function<bool()>& keepWaiting) {
  m_fd = UniqueFd();
  for (;;) {
    UniqueFd fd(OpenForReading(path));
    if (!fd.ok()) return Status::openFailed;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      if (error == EWOULDBLOCK || error == EINTR) {
        if (!keepWaiting()) return Status::givenUp;
        const struct timespec pause = {0, 50'000'000};
        ::nanosleep(&pause, nullptr);
        continue;
      }
      // A file system without locks (ENOLCK, EOPNOTSUPP): the run goes on,
      // and the image's stamp, checked before it is replaced, still tells
      // whether anything else changed it meanwhile.
    }
    // Whoever held the lock may have put a new file in place under the name:
    // that file, not the one it replaced, is the image now.
    struct stat held {};
    struct stat named {};
    if (::fstat(fd.get(), &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      m_fd = std::move(fd);
      return Status::locked;
    }
    if (!keepWaiting()) return Status::givenUp;
  }
}

std::string ReadWholeFile(const std::string& path) {
  UniqueFd fd(OpenForReading(path));
  if (!fd.ok()) throw FileError::FromErrno(errno, path);
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

std::string_view FileReader::next() {
  for (;;) {
    const ssize_t got = ::read(m_fd, m_piece.get(), kPieceSize);
    if (got >= 0) return {m_piece.get(), static_cast<std::size_t>(got)};
    if (errno != EINTR) throw FileError::FromErrno(errno, m_path);
  }
}

std::string_view FileReader::readAt(std::uint64_t position, std::size_t count) {
  if (!m_again) m_again = std::make_unique_for_overwrite<char[]>(kPieceSize);
  count = std::min(count, kPieceSize);
  for (;;) {
    const ssize_t got = ::pread(m_fd, m_again.get(), count, static_cast<off_t>(position));
    if (got >= 0) return {m_again.get(), static_cast<std::size_t>(got)};
    if (errno != EINTR) throw FileError::FromErrno(errno, m_path);
  }
}

std::string GetWorkingDirectory() {
  std::string buffer(PATH_MAX, '\0');
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return ".";
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(std::char_traits<char>::length(buffer.c_str()));
  return buffer;
}

std::string FileNameOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::optional<std::vector<DirEntry>> ListDirectory(const std::string& folder, int* osError) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) {
    if (osError) *osError = errno;
    return std::nullopt;
  }
  std::vector<DirEntry> entries;
  while (const dirent* entry = ::readdir(dir)) {
    DirEntry item{entry->d_name, false, false};
    if (entry->d_type == DT_DIR) {
      item.isDirectory = true;
    } else if (entry->d_type == DT_REG) {
      item.isRegularFile = true;
    } else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      struct stat st {};
      const std::string full = folder + (folder.ends_with('/') ? "" : "/") + item.name;
      if (::stat(full.c_str(), &st) == 0) {
        item.isDirectory = S_ISDIR(st.st_mode);
        item.isRegularFile = S_ISREG(st.st_mode);
      }
    }
    entries.push_back(std::move(item));
  }
  ::closedir(dir);
  return entries;
}

std::string FormatLocalTime(std::int64_t mtime) {
  const auto t = static_cast<std::time_t>(mtime);
  std::tm local{};
  ::localtime_r(&t, &local);
  char buffer[64];
  std::strftime(buffer, sizeof buffer, "%d.%m.%Y %H:%M:%S", &local);
  return buffer;
}

namespace {

bool SameIdentity(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

bool IsSameFile(const std::string& a, const std::string& b) {
  const int saved = errno;
  struct stat first {};
  struct stat second {};
  const bool same = ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && SameIdentity(first, second);
  errno = saved;
  return same;
}

bool IsSameFile(int fd, const std::string& path) {
  const int saved = errno;
  struct stat described {};
  struct stat named {};
  const bool same = ::fstat(fd, &described) == 0 && ::stat(path.c_str(), &named) == 0 && SameIdentity(described, named);
  errno = saved;
  return same;
}

bool EnsureStandardDescriptors() {
  const int saved = errno;
  bool ok = true;
  for (int fd = 0; fd <= 2 && ok; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // Read-only even for 1 and 2: the number is taken, so no file can land
    // on it, and a write still fails with EBADF as on the closed descriptor,
    // so output that nobody receives is not reported as written. Not
    // close-on-exec: a child inherits the same standard streams.
    const int opened = ::open("/dev/null", O_RDONLY);
    if (opened < 0) {
      ok = false;
    } else if (opened != fd) {  // the lower ones are open by now, so this is rare
      ok = ::dup2(opened, fd) == fd;
      ::close(opened);
    }
  }
  errno = saved;
  return ok;
}

}  // namespace quillet
