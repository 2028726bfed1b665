#pragma once
#include <stdexcept>
#include <string>
#include <string_view>

namespace quillet {

// Why a file operation failed, in the categories the user is shown.
enum class FileErrorCause {
  generic,
  fileNotFound,
  badPath,
  tooManyOpenFiles,
  accessDenied,
  invalidFile,
  hardIO,
  sharingViolation,
  lockViolation,
  diskFull,
  endOfFile,
};

// The user-facing text of a cause, with "%1" standing for the path.
[[nodiscard]] std::string_view CauseText(FileErrorCause cause);

// The cause for an errno value; unknown values are generic.
[[nodiscard]] FileErrorCause CauseFromErrno(int error);

// The platform layer's one exception: a file operation failed. It carries the
// cause and the path; what() is the finished message, path in place of "%1".
class FileError : public std::runtime_error {
 public:
  FileError(FileErrorCause cause, std::string path, int osError = 0);
  [[nodiscard]] static FileError FromErrno(int error, std::string path);

  [[nodiscard]] FileErrorCause Cause() const { return m_cause; }
  [[nodiscard]] const std::string& Path() const { return m_path; }
  [[nodiscard]] int OsError() const { return m_osError; }

 private:
  FileErrorCause m_cause;
  std::string m_path;
  int m_osError;
};

// Replaces every "%1" in a cause text with the path.
[[nodiscard]] std::string FormatFileErrorText(std::string_view text, std::string_view path);

}  // namespace quillet
