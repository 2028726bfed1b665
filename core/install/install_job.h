#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/filter/address_filter.h"
#include "core/install/install_rules.h"

namespace quillet {

// What one install or revert does: fixed before it starts.
struct InstallJob {
  std::string imagePath;
  std::vector<std::string> patchPaths;  // in list order
  AddressFilter filter;
  InstallMode mode = InstallMode::install;
  bool force = false;
  bool inPlace = false;    // the result replaces the image itself; outputPath is not used
  std::string outputPath;  // the new file, unless inPlace
  std::string undoPath;    // empty: no undo patch
  bool dryRun = false;     // decide everything, write nothing
};

// What the job tells its caller, each on the job's thread.
struct InstallEvents {
  // Steps done of all: one per patch read, then one per piece written and per
  // piece read back. Must return at once.
  std::function<void(std::uint64_t done, std::uint64_t total)> progress;
  // Every patch's decision, in list order, once all of them are known.
  std::function<void(std::size_t index, const PatchDecision& decision)> patchDecided;
};

enum class InstallFailure {
  none,
  stopped,        // asked to stop before anything was put in place
  noTarget,       // neither a new file nor the image itself, and not a dry run
  outputIsInput,  // path (the output or the undo patch) is the image, a patch or the other output
  imageOpen,
  imageRead,
  imageTooLarge,
  outOfMemory,
  patchFile,    // path can't be opened or read
  refused,      // a patch was refused: nothing written
  outputWrite,  // path can't be written; nothing was put in place
  verifyFailed, // the written file does not read back as planned; not put in place
  undoWrite,    // the undo patch at path can't be written; the result was not written
};

struct InstallOutcome {
  InstallFailure cause = InstallFailure::none;
  std::string path;     // the file concerned
  int systemError = 0;  // errno, where the system said why
  std::vector<PatchDecision> patches;  // once every patch has been read
  std::uint64_t bytesChanged = 0;
  bool written = false;  // the output (or the image) was put in place
  [[nodiscard]] bool ok() const { return cause == InstallFailure::none; }
};

// Reads the image and every patch, decides them all (PlanInstall), and unless
// one is refused or it is a dry run writes the result atomically: a temporary
// file beside the target, read back and checked before it replaces anything.
// Never writes over a patch, or over the image unless in place. The undo
// patch, when asked for, is in place before the result is: the comparison of
// the image before and after, with no filter. An in-place run that changes
// nothing leaves the image untouched; a new file then is a copy. Never throws.
[[nodiscard]] InstallOutcome InstallPatches(const InstallJob& job, const InstallEvents& events, std::stop_token stop);

}  // namespace quillet
