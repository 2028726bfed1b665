#pragma once
#include <string>
#include <vector>

namespace quillet::cli {

struct PatchEntry {
  std::string name;
  std::string path;
};

// The list the main window would hold after adding these files and folders:
// a path is listed once, whatever way it came in, and rows sort by file name
// (byte order), then by full path. Every command over patch files takes its
// list from here, so they all name the same files in the same order.
[[nodiscard]] std::vector<PatchEntry> CollectPatchFiles(const std::vector<std::string>& operands);

}  // namespace quillet::cli
