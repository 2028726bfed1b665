#include "core/platform/file_system.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <utility>

namespace quillet {

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

}  // namespace quillet
