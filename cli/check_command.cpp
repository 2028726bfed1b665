#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "cli/commands.h"
#include "inputs/folder_scan.h"
#include "patch/patch_check.h"
#include "platform/file_error.h"
#include "platform/file_io.h"
#include "res/strings.h"

namespace quillet::cli {

namespace {

struct PatchEntry {
  std::string name;
  std::string path;
};

const char* StatusWord(PatchStatus status) {
  switch (status) {
    case PATCH_INSTALLED:
      return "installed";
    case PATCH_NOT_INSTALLED:
      return "not-installed";
    case PATCH_FILE_ERROR:
      return "broken";
  }
  return "broken";
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The list the main window would hold after adding these files and folders:
// a path is listed once, whatever way it came in, and rows sort by file name
// (byte order), then by full path.
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
    return a.name != b.name ? a.name < b.name : a.path < b.path;
  });
  return list;
}

int ReportInputError(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return kExitInput;
}

}  // namespace

int RunCheck(const std::vector<std::string>& args) {
  const auto parsed = ParseCommandArgs(args);
  if (!parsed) return kExitUsage;
  if (parsed->operands.size() < 2) {
    std::fprintf(stderr, "quillet-cli: check needs an image and at least one patch file or folder\n");
    PrintUsage(stderr);
    return kExitUsage;
  }
  if (const int status = LoadFilter(parsed->filter); status != kExitOk) return status;

  const std::string& imagePath = parsed->operands.front();
  try {
    ImageRead image = ReadImageFile(imagePath);
    switch (image.status) {
      case ImageReadStatus::ok:
        break;
      case ImageReadStatus::openFailed:
        return ReportInputError(text::kCurrentOpenError);
      case ImageReadStatus::readShort:
        return ReportInputError(text::kCurrentReadError);
      case ImageReadStatus::tooLarge:
        return ReportInputError(std::string(text::kTooLargePrefix) + imagePath + "'");
    }
    const auto size = static_cast<std::uint32_t>(image.data.size());
    ImageBuffer work(size);

    const std::vector<std::string> inputs(parsed->operands.begin() + 1, parsed->operands.end());
    for (const PatchEntry& entry : CollectPatchFiles(inputs)) {
      PatchStatus status;
      try {
        status = CheckPatch(entry.path, image.data.data(), work.data(), size);
      } catch (const FileError& error) {
        // As in the main window: a patch file that can't be read ends the run.
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", error.what());
        return kExitPatchFile;
      }
      std::printf("%s\t%s\n", StatusWord(status), entry.path.c_str());
    }
  } catch (const std::bad_alloc&) {
    std::fflush(stdout);
    return ReportInputError(text::kOutOfMemory);
  }
  return kExitOk;
}

}  // namespace quillet::cli
