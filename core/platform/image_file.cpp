#include "core/platform/image_file.h"

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
#include "core/platform/file_reader.h"
#include "core/platform/unique_fd.h"

namespace quillet {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

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
  if (!fd.Ok()) return std::nullopt;
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
  if (!fd.Ok()) {
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
    if (!fd.Ok()) return Status::openFailed;
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

}  // namespace quillet
