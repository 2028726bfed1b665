#include "platform/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>
#include <new>
#include <utility>

#include "platform/file_error.h"

namespace quillet {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Closes the descriptor on every path out of a function.
class Fd {
 public:
  explicit Fd(int fd) : m_fd(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  [[nodiscard]] int get() const { return m_fd; }
  [[nodiscard]] bool ok() const { return m_fd >= 0; }

 private:
  int m_fd;
};

int OpenForReading(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }

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

}  // namespace

ImageBuffer::ImageBuffer(std::size_t size) : m_size(size) {
  if (size == 0) return;
  // Rounding up to whole huge pages lets the kernel back all of it with them.
  m_mapped = (size + kHugePage - 1) / kHugePage * kHugePage;
  void* p = ::mmap(nullptr, m_mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) {
    m_mapped = 0;
    m_size = 0;
    throw std::bad_alloc();
  }
  ::madvise(p, m_mapped, MADV_HUGEPAGE);
  m_data = static_cast<std::uint8_t*>(p);
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
  Fd fd(OpenForReading(path));
  if (!fd.ok()) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return FileInfo{static_cast<std::uint64_t>(st.st_size), static_cast<std::int64_t>(st.st_mtime)};
}

ImageRead ReadImageFile(const std::string& path) {
  ImageRead result;
  Fd fd(OpenForReading(path));
  struct stat st {};
  if (!fd.ok() || ::fstat(fd.get(), &st) != 0 || S_ISDIR(st.st_mode)) {
    result.status = ImageReadStatus::openFailed;
    result.osError = fd.ok() ? (S_ISDIR(st.st_mode) ? EISDIR : errno) : errno;
    return result;
  }
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size >= kMaxImageSize) {
    result.status = ImageReadStatus::tooLarge;
    return result;
  }
  ImageBuffer buffer(static_cast<std::size_t>(size));
  int error = 0;
  const std::size_t got = ReadFully(fd.get(), buffer.data(), buffer.size(), error);
  if (got != buffer.size()) {
    result.status = ImageReadStatus::readShort;
    result.osError = error;
    return result;
  }
  result.status = ImageReadStatus::ok;
  result.data = std::move(buffer);
  return result;
}

std::string ReadWholeFile(const std::string& path) {
  Fd fd(OpenForReading(path));
  if (!fd.ok()) throw FileError::FromErrno(errno, path);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) throw FileError::FromErrno(errno, path);
  if (S_ISDIR(st.st_mode)) throw FileError::FromErrno(EISDIR, path);
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

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
  std::string temp = (slash == std::string::npos ? std::string() : folder) + ".quillet-XXXXXX";
  const int raw = ::mkstemp(temp.data());
  if (raw < 0) throw FileError::FromErrno(errno, path);
  Fd fd(raw);
  auto fail = [&](int error) {
    ::unlink(temp.c_str());
    throw FileError::FromErrno(error, path);
  };
  // Keep the target's permissions when it exists; a new file gets the usual ones.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    ::fchmod(fd.get(), st.st_mode & 07777);
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd.get(), 0666 & ~mask);
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      fail(errno);
    }
    done += static_cast<std::size_t>(put);
  }
  if (::fsync(fd.get()) != 0) fail(errno);
  if (::rename(temp.c_str(), path.c_str()) != 0) fail(errno);
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

std::optional<std::vector<DirEntry>> ListDirectory(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return std::nullopt;
  std::vector<DirEntry> entries;
  while (const dirent* entry = ::readdir(dir)) {
    DirEntry item{entry->d_name, false};
    if (entry->d_type == DT_DIR) {
      item.isDirectory = true;
    } else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      struct stat st {};
      const std::string full = folder + (folder.ends_with('/') ? "" : "/") + item.name;
      item.isDirectory = ::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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

}  // namespace quillet
