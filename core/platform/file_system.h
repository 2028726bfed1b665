#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Paths, folders and the identity of files.

namespace quillet {

// The process's working directory ('/'-separated, without a trailing '/' except
// for the root itself).
[[nodiscard]] std::string GetWorkingDirectory();

// The part of a path after its last '/'.
[[nodiscard]] std::string FileNameOf(std::string_view path);

struct DirEntry {
  std::string name;
  bool isDirectory = false;    // links to folders count as folders
  bool isRegularFile = false;  // and links to regular files as those
};

// The folder's entries in the order the file system returns them, "." and ".."
// included as the file system gives them. Nothing when it can't be read; then
// osError, when given, holds the cause.
[[nodiscard]] std::optional<std::vector<DirEntry>> ListDirectory(const std::string& folder, int* osError = nullptr);

// True when both name one file (device and inode, links followed), however
// the paths are spelled: "x", "./x", a symbolic or a hard link. A path that
// can't be looked up, such as an output not made yet, is no file's twin.
// errno is left as it was.
[[nodiscard]] bool IsSameFile(const std::string& a, const std::string& b);
// The same for the file open on a descriptor.
[[nodiscard]] bool IsSameFile(int fd, const std::string& path);

}  // namespace quillet
