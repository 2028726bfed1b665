#include "core/platform/file_ops.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace quillet {

ssize_t FileOps::Write(int fd, const void* bytes, std::size_t count) { return ::write(fd, bytes, count); }

ssize_t FileOps::ReadAt(int fd, void* buffer, std::size_t count, off_t position) {
  return ::pread(fd, buffer, count, position);
}

int FileOps::Sync(int fd) { return ::fsync(fd); }

int FileOps::SyncFileSystem(int fd) { return ::syncfs(fd); }

int FileOps::Rename(const char* from, const char* to, bool noReplace) {
  if (!noReplace) return ::rename(from, to);
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // A file system without the flag: a second name for the file fails just as
  // surely where the name is taken, and the temporary one then goes.
  if (::link(from, to) != 0) return -1;
  (void)::unlink(from);
  return 0;
}

FileOps& SystemFileOps() {
  static FileOps ops;
  return ops;
}

}  // namespace quillet
