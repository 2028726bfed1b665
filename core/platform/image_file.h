#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/unique_fd.h"

namespace quillet {

// Memory for one whole image. An anonymous mapping advised for huge pages: a
// single read() into it costs a few ms per 64 MiB, where a fresh new[] buffer
// pays a page fault for every 4 KiB page. Move-only; throws std::bad_alloc.
class ImageBuffer {
 public:
  ImageBuffer() = default;
  explicit ImageBuffer(std::size_t size);
  ImageBuffer(ImageBuffer&& other) noexcept;
  ImageBuffer& operator=(ImageBuffer&& other) noexcept;
  ImageBuffer(const ImageBuffer&) = delete;
  ImageBuffer& operator=(const ImageBuffer&) = delete;
  ~ImageBuffer();

  [[nodiscard]] std::uint8_t* data() { return m_data; }
  [[nodiscard]] const std::uint8_t* data() const { return m_data; }
  [[nodiscard]] std::size_t size() const { return m_size; }

 private:
  void release() noexcept;
  std::uint8_t* m_data = nullptr;
  std::size_t m_size = 0;
  std::size_t m_mapped = 0;
};

// Images are addressed with 32 bits: a file of this size or more can't be one.
inline constexpr std::uint64_t kMaxImageSize = std::uint64_t{1} << 32;

struct FileInfo {
  std::uint64_t size = 0;
  std::int64_t mtime = 0;  // seconds since the epoch
};

// Opens the file for reading, takes its size and modification time, closes it.
// Nothing when it can't be opened (or is not a regular file), errno saying why.
[[nodiscard]] std::optional<FileInfo> ProbeFile(const std::string& path);

// Which file a name stood for and in what state: a file put in its place,
// written into, cut or grown since shows another stamp.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t mtimeSeconds = 0;
  std::int64_t mtimeNanoseconds = 0;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of the file at path now, links followed; nothing when there is none.
[[nodiscard]] std::optional<FileStamp> StampOf(const std::string& path);

enum class ImageReadStatus { ok, openFailed, readShort, tooLarge };

struct ImageRead {
  ImageReadStatus status = ImageReadStatus::openFailed;
  ImageBuffer data;  // the whole file when status is ok
  int osError = 0;
  FileStamp stamp;  // of the file read, taken before its first byte
};

// Reads a whole image with one read and checks that all of it arrived.
// tooLarge: kMaxImageSize bytes or more; nothing is allocated then.
// Throws std::bad_alloc when the buffer can't be had.
[[nodiscard]] ImageRead ReadImageFile(const std::string& path);

// Told the bytes read so far after each piece of a read; false gives the read
// up, which then ends as readShort.
using ReadPieceHook = std::function<bool(std::uint64_t bytesRead)>;
// The same a piece at a time, so that a read of a large image can be shown and
// given up before its end.
[[nodiscard]] ImageRead ReadImageFile(const std::string& path, const ReadPieceHook& onPiece);

// The same from a descriptor open for reading at its start.
[[nodiscard]] ImageRead ReadImageFrom(int fd, const ReadPieceHook& onPiece = {});

// An image held for a run that replaces it, from before its read until its
// replacement is in place: a second such run waits, instead of reading the
// image before the first has put its result in place and then putting the
// first one's change back. Advisory (flock): it keeps out runs of this
// program, and the stamp taken at the read tells of any other writer.
class ImageLock {
 public:
  enum class Status { locked, openFailed, givenUp };
  // Opens the file at path and holds it. While another holds it, keepWaiting
  // is asked every 50 ms and false gives up. openFailed leaves errno saying why.
  [[nodiscard]] Status Acquire(const std::string& path, const std::function<bool()>& keepWaiting);
  // Open for reading at its start once locked.
  [[nodiscard]] int Fd() const { return m_fd.get(); }

 private:
  UniqueFd m_fd;
};

}  // namespace quillet
