#pragma once
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "core/job/job.h"

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
// link is not entered twice, so link cycles end. A stop ends the scan at the
// next entry, with what was found so far told.
void ScanFolder(const std::string& folder, const FolderScanCallbacks& callbacks, StopToken stop = {});

// True when path names a folder, or a link to one.
[[nodiscard]] bool IsFolder(const std::string& path);

// The folder scan as a job, for "+ каталог", drops and the command line: the
// paths that inputs stand for (a folder every *.vkp file below it, anything
// else itself), in the order met.
struct FolderScanEvents {
  // The newest path examined; for a status line, so it may be coalesced.
  std::function<void(const std::string& path)> scanning;
  // The next paths found, in order. Handed over in batches, so that a window
  // adding 50,000 files adds them a few hundred at a time, not one by one.
  std::function<void(std::vector<std::string> paths)> found;
};

struct FolderScanOutcome : JobOutcome {
  std::vector<UnreadableFolder> unreadable;  // in the order met
  std::size_t found = 0;                     // paths handed to found
};

// A batch goes out when it holds batchSize paths or is batchAge old, and at
// the end. Ends early (stopped) at a stop; never fails otherwise: what can't be
// listed is in unreadable.
struct FolderScanPacing {
  std::size_t batchSize = 4096;
  std::chrono::milliseconds batchAge{100};
};
[[nodiscard]] FolderScanOutcome ScanPatchInputs(const std::vector<std::string>& inputs, const FolderScanEvents& events,
                                                StopToken stop, FolderScanPacing pacing = {});

}  // namespace quillet
