#include "core/platform/file_error.h"

#include <cerrno>
#include <utility>

namespace quillet {

std::string_view CauseText(FileErrorCause cause) {
  switch (cause) {
    case FileErrorCause::generic:
      return "An unknown error occurred while accessing %1.";
    case FileErrorCause::fileNotFound:
      return "%1 was not found.";
    case FileErrorCause::badPath:
      return "%1 contains an invalid path.";
    case FileErrorCause::tooManyOpenFiles:
      return "%1 could not be opened because there are too many open files.";
    case FileErrorCause::accessDenied:
      return "Access to %1 was denied.";
    case FileErrorCause::invalidFile:
      return "An invalid file handle was associated with %1.";
    case FileErrorCause::hardIO:
      return "A hardware I/O error was reported while accessing %1.";
    case FileErrorCause::sharingViolation:
      return "A sharing violation occurred while accessing %1.";
    case FileErrorCause::lockViolation:
      return "A locking violation occurred while accessing %1.";
    case FileErrorCause::diskFull:
      return "Disk full while accessing %1.";
    case FileErrorCause::endOfFile:
      return "An attempt was made to access %1 past its end.";
  }
  return "An unknown error occurred while accessing %1.";
}

FileErrorCause CauseFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return FileErrorCause::fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL:
    case EISDIR:
      return FileErrorCause::badPath;
    case EMFILE:
    case ENFILE:
      return FileErrorCause::tooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
      return FileErrorCause::accessDenied;
    case EBADF:
      return FileErrorCause::invalidFile;
    case EIO:
      return FileErrorCause::hardIO;
    case ETXTBSY:
    case EBUSY:
      return FileErrorCause::sharingViolation;
    case EDEADLK:
    case ENOLCK:
      return FileErrorCause::lockViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return FileErrorCause::diskFull;
    default:
      return FileErrorCause::generic;
  }
}

std::string FormatFileErrorText(std::string_view text, std::string_view path) {
  std::string result;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '1') {
      result += path;
      ++i;
    } else {
      result += text[i];
    }
  }
  return result;
}

FileError::FileError(FileErrorCause cause, std::string path, int osError)
    : std::runtime_error(FormatFileErrorText(CauseText(cause), path)),
      m_cause(cause),
      m_path(std::move(path)),
      m_osError(osError) {}

FileError FileError::FromErrno(int error, std::string path) {
  return FileError(CauseFromErrno(error), std::move(path), error);
}

}  // namespace quillet
