#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/search/folder_scan.h"
#include "core/search/patch_list.h"
#include "core/platform/file_io.h"
#include "core/res/strings.h"

namespace quillet::cli {

namespace {

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
// a path is listed once, whatever way it came in.
PatchList CollectPatchFiles(const std::vector<std::string>& operands) {
  PatchList list;
  FolderScanCallbacks callbacks;
  callbacks.showStatus = [](const std::string&) {};
  callbacks.addPatchFile = [&list](const std::string&, const std::string& path) { (void)list.Add(path); };
  for (const std::string& operand : operands) {
    if (IsFolder(operand))
      ScanFolder(operand, callbacks);
    else
      (void)list.Add(operand);
  }
  return list;
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
  AddressFilter filter;
  if (const int status = LoadFilter(parsed->filter, filter); status != kExitOk) return status;

  // The same search the main window runs, over the list it would hold.
  const std::vector<std::string> inputs(parsed->operands.begin() + 1, parsed->operands.end());
  PatchList list = CollectPatchFiles(inputs);
  SearchObserver observer;
  observer.checked = [&list](std::size_t row, PatchStatus status) {
    std::printf("%s\t%s\n", StatusWord(status), list[row].path.c_str());
  };
  const SearchResult result = SearchPatchList(parsed->operands.front(), list, filter, observer);
  if (result.failure == SearchFailure::none) return kExitOk;
  // The rows done so far stay printed, ahead of the message, as they stay marked in the window.
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", result.message.text.c_str());
  return result.failure == SearchFailure::patchFile ? kExitPatchFile : kExitInput;
}

}  // namespace quillet::cli
