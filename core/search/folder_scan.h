#pragma once
#include <functional>
#include <string>

namespace quillet {

struct FolderScanCallbacks {
  // The path being examined, for the status line; "" when a folder's scan ends.
  std::function<void(const std::string& status)> showStatus;
  // A *.vkp file found: its name and full path (folder + name).
  std::function<void(const std::string& name, const std::string& fullPath)> addPatchFile;
};

// Depth-first: first the folder's own *.vkp regular files and links to them (in
// the file system's order), then every subfolder in turn, each scanned
// completely. Hidden entries are scanned like any other.
// A folder that can't be read adds nothing. A folder reached again through a
// link is not entered twice, so link cycles end.
void ScanFolder(const std::string& folder, const FolderScanCallbacks& callbacks);

}  // namespace quillet
