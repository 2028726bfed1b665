#include "cli/patch_list.h"

#include <sys/stat.h>

#include <algorithm>
#include <unordered_set>

#include "core/platform/file_io.h"
#include "core/search/folder_scan.h"
#include "core/search/search.h"

namespace quillet::cli {

namespace {

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::vector<PatchEntry> CollectPatchFiles(const std::vector<std::string>& operands) {
  std::vector<PatchEntry> list;
  std::unordered_set<std::string> listed;
  auto add = [&](const std::string& name, const std::string& path) {
    if (listed.insert(path).second) list.push_back({name, path});
  };
  FolderScanCallbacks callbacks;
  callbacks.showStatus = [](const std::string&) {};
  callbacks.addPatchFile = add;
  for (const std::string& operand : operands) {
    if (IsFolder(operand))
      ScanFolder(operand, callbacks);
    else
      add(FileNameOf(operand), operand);
  }
  std::sort(list.begin(), list.end(), [](const PatchEntry& a, const PatchEntry& b) {
    return PatchRowLess(a.name, a.path, b.name, b.path);
  });
  return list;
}

}  // namespace quillet::cli
