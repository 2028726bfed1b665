#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/escaping.h"
#include "core/res/strings.h"
#include "core/search/patch_conflicts.h"
#include "core/search/patch_list.h"
#include "core/vkp/hex_string.h"

namespace quillet::cli {

int RunConflicts(const std::vector<std::string>& args) {
  const auto parsed = ParseCommandArgs(args);
  if (!parsed) return kExitUsage;
  if (parsed->filter.source != FilterChoice::Source::settingsFile) {
    // Two files collide whatever part of an image a user leaves out.
    std::fprintf(stderr, "quillet-cli: conflicts compares every byte; it takes no filter option\n");
    PrintUsage(stderr);
    return kExitUsage;
  }
  if (parsed->operands.empty()) {
    std::fprintf(stderr, "quillet-cli: conflicts needs at least one patch file or folder\n");
    PrintUsage(stderr);
    return kExitUsage;
  }

  std::vector<std::string> paths;
  PatchList list;
  const std::vector<UnreadableFolder> unreadableFolders = AddPatchInputs(list, parsed->operands);
  for (const PatchRow& row : list.Rows()) paths.push_back(row.path);
  PatchConflicts found;
  try {
    found = FindPatchConflicts(paths);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s\n", text::kOutOfMemory);
    return kExitInput;
  }

  bool unreadable = false;
  for (const ExcludedPatch& file : found.excluded) {
    if (file.Unreadable()) {
      unreadable = true;
      PrintError(file.fileError);
    } else {
      PrintError(paths[file.file] + ": invalid line " + std::to_string(file.read.line) + ", left out");
    }
  }
  for (const PatchConflict& pair : found.conflicts) {
    std::printf("%s\t%s\n", EscapedText(paths[pair.first]).c_str(), EscapedText(paths[pair.second]).c_str());
    for (const ConflictingByte& byte : pair.bytes)
      std::printf("  %s: %02X %02X\n", FormatAddress(byte.address).c_str(), byte.first, byte.second);
  }
  std::fflush(stdout);
  for (const UnreadableFolder& folder : unreadableFolders)
    PrintError(folder.path + ": " + std::strerror(folder.osError));
  // A file or folder that could not be read may hold the collision that was not found.
  if (unreadable || !unreadableFolders.empty()) return kExitPatchFile;
  // An empty stdout alone looks like a command that did nothing to a person.
  if (found.conflicts.empty() && ::isatty(STDERR_FILENO) == 1)
    std::fprintf(stderr, "quillet-cli: no two patch files collide (%zu compared)\n",
                 paths.size() - found.excluded.size());
  return found.conflicts.empty() ? kExitOk : kExitConflicts;
}

}  // namespace quillet::cli
