#include "core/search/folder_scan.h"

#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include "core/platform/file_system.h"

namespace quillet {

namespace {

using FolderId = std::pair<dev_t, ino_t>;

bool IsPatchName(const std::string& name) {
  // The Windows wildcard "*.vkp" matches without regard to case.
  static constexpr std::string_view kExtension = ".vkp";
  if (name.size() < kExtension.size()) return false;
  for (std::size_t i = 0; i < kExtension.size(); ++i) {
    char c = name[name.size() - kExtension.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kExtension[i]) return false;
  }
  return true;
}

std::optional<FolderId> IdentityOf(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return std::nullopt;
  return FolderId{st.st_dev, st.st_ino};
}

void Show(const FolderScanCallbacks& callbacks, const std::string& status) {
  if (callbacks.showStatus) callbacks.showStatus(status);
}

// Folders already entered, by device and inode: a link back up the tree (or
// two links to one folder) leads to a folder that is skipped, so the scan ends
// and no file is listed twice under two spellings of its path.
void Scan(std::string folder, const FolderScanCallbacks& callbacks, std::set<FolderId>& entered, StopToken stop) {
  const std::string given = folder;
  if (!folder.ends_with('/')) folder += '/';
  // One listing serves both passes; it is the file system's order either way.
  int error = 0;
  const auto entries = ListDirectory(folder, &error);
  if (!entries && callbacks.unreadableFolder) callbacks.unreadableFolder(given, error);
  if (entries) {
    for (const DirEntry& entry : *entries) {
      if (stop.StopRequested()) break;
      // A dangling link, a FIFO or a device is no patch file, and reading one
      // would end the whole search.
      if (!entry.isRegularFile || !IsPatchName(entry.name)) continue;
      const std::string full = folder + entry.name;
      Show(callbacks, full);
      if (callbacks.addPatchFile) callbacks.addPatchFile(entry.name, full);
    }
    for (const DirEntry& entry : *entries) {
      if (stop.StopRequested()) break;
      if (!entry.isDirectory || entry.name == "." || entry.name == "..") continue;
      const std::string full = folder + entry.name;
      const auto id = IdentityOf(full);
      if (!id && callbacks.unreadableFolder) callbacks.unreadableFolder(full, errno);
      if (!id || !entered.insert(*id).second) continue;
      Show(callbacks, full);
      Scan(full, callbacks, entered, stop);
    }
  }
  Show(callbacks, "");
}

}  // namespace

void ScanFolder(const std::string& folder, const FolderScanCallbacks& callbacks, StopToken stop) {
  // "" + '/' would be the file system's root, which nobody chose.
  if (folder.empty()) {
    Show(callbacks, "");
    return;
  }
  std::set<FolderId> entered;
  if (const auto id = IdentityOf(folder)) entered.insert(*id);
  Scan(folder, callbacks, entered, stop);
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

FolderScanOutcome ScanPatchInputs(const std::vector<std::string>& inputs, const FolderScanEvents& events,
                                  StopToken stop, FolderScanPacing pacing) {
  FolderScanOutcome outcome;
  std::vector<std::string> batch;
  auto batchStart = std::chrono::steady_clock::now();
  const auto handOver = [&](bool always) {
    if (batch.empty()) return;
    if (!always && batch.size() < pacing.batchSize && std::chrono::steady_clock::now() - batchStart < pacing.batchAge)
      return;
    outcome.found += batch.size();
    if (events.found) events.found(std::exchange(batch, {}));
    batchStart = std::chrono::steady_clock::now();
  };
  const auto add = [&](const std::string& path) {
    if (batch.empty()) batchStart = std::chrono::steady_clock::now();
    batch.push_back(path);
    handOver(false);
  };
  FolderScanCallbacks callbacks;
  callbacks.showStatus = [&events](const std::string& path) {
    if (events.scanning && !path.empty()) events.scanning(path);
  };
  callbacks.addPatchFile = [&add](const std::string&, const std::string& path) { add(path); };
  callbacks.unreadableFolder = [&outcome](const std::string& folder, int osError) {
    outcome.unreadable.push_back({folder, osError});
  };
  for (const std::string& input : inputs) {
    if (stop.StopRequested()) break;
    if (IsFolder(input))
      ScanFolder(input, callbacks, stop);
    else
      add(input);
  }
  handOver(true);
  if (stop.StopRequested()) outcome.cause = JobCause::stopped;
  return outcome;
}

}  // namespace quillet
