#pragma once
#include <sys/types.h>

#include <cstddef>

namespace quillet {

// The system calls through which a file is replaced, behind one seam: a test
// puts a failing, short or corrupting one in its place and sees the writer
// notice before anything is put in place. Each returns as the system call
// does, errno saying why.
class FileOps {
 public:
  FileOps() = default;
  FileOps(const FileOps&) = delete;
  FileOps& operator=(const FileOps&) = delete;
  virtual ~FileOps() = default;

  virtual ssize_t Write(int fd, const void* bytes, std::size_t count);
  virtual ssize_t ReadAt(int fd, void* buffer, std::size_t count, off_t position);
  virtual int Sync(int fd);
  // Makes every file written on fd's file system durable (syncfs).
  virtual int SyncFileSystem(int fd);
  // Puts the file at from in place of to. With noReplace an existing to is
  // never replaced: the call fails with EEXIST instead.
  virtual int Rename(const char* from, const char* to, bool noReplace);
};

// The real calls.
[[nodiscard]] FileOps& SystemFileOps();

}  // namespace quillet
