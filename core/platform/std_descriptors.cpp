#include "core/platform/std_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace quillet {

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
