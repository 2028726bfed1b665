#pragma once
#include <functional>
#include <string>

namespace quillet {

struct FolderScanCallbacks {
  // The path being examined, for the status line; "" when a folder's scan ends.
  std::function<void(const std::string& status)> showStatus;
  // A *.vkp file found: its name and full path (folder + name).
  std::function<void(const std::string& name, const std::string& fullPath)> addPatchFile;
  // A folder that could not be listed, given or met below it, and why (errno).
  std::function<void(const std::string& folder, int osError)> unreadableFolder;
};

struct UnreadableFolder {
  std::string path;
  int osError = 0;
};

// Depth-first: first the folder's own *.vkp regular files and links to them (in
// the file system's order), then every subfolder in turn, each scanned
// completely. Hidden entries are scanned like any other.
// A folder that can't be read adds nothing and is told to unreadableFolder. A folder reached again through a
// link is not entered twice, so link cycles end.
void ScanFolder(const std::string& folder, const FolderScanCallbacks& callbacks);

}  // namespace quillet
