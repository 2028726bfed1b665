#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/filter/address_filter.h"
#include "core/install/install_rules.h"
#include "core/job/job.h"

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
  // Steps done of all: one per patch read, then one per piece written and one
  // per patch read back from the written file. Must return at once.
  std::function<void(std::uint64_t done, std::uint64_t total)> progress;
  // Every patch's decision, in list order, once all of them are known.
  std::function<void(std::size_t index, const PatchDecision& decision)> patchDecided;
};

// How a run ended: cause none when written (or nothing needed writing),
// refused when a patch was refused and nothing was written, stopped when asked
// to stop before anything was put in place; noTarget when neither a new file
// nor the image itself was named (and not a dry run); outputIsInput (the output
// or the undo patch is the image, a patch or the other output), outputWrite,
// verifyFailed and undoWrite name the file concerned.
struct InstallOutcome : JobOutcome {
  std::vector<PatchDecision> patches;  // once every patch has been read
  std::uint64_t bytesChanged = 0;
  bool written = false;  // the output (or the image) was put in place
};

// Reads the image and every patch, decides them all (PlanInstall), and unless
// one is refused or it is a dry run writes the result atomically: a temporary
// file beside the target, read back and checked before it replaces anything.
// Never writes over a patch, or over the image unless in place. The undo
// patch, when asked for, is in place before the result is: the comparison of
// the image before and after, with no filter. An in-place run that changes
// nothing leaves the image untouched; a new file then is a copy. Never throws.
[[nodiscard]] InstallOutcome InstallPatches(const InstallJob& job, const InstallEvents& events, StopToken stop);

}  // namespace quillet
