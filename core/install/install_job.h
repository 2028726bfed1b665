#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/filter/address_filter.h"
#include "core/install/install_rules.h"
#include "core/job/job.h"
#include "core/platform/file_ops.h"

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
  std::string undoPath;    // empty: no undo patch; one that exists is never replaced
  bool dryRun = false;     // decide everything, write nothing
  // Other files that are never written over, such as the settings file.
  std::vector<std::string> otherInputs;
  FileOps* fileOps = nullptr;  // the system's when null
};

// What the job tells its caller, each on the job's thread.
struct InstallEvents {
  // Steps done of all: one per patch read, then one per piece written and one
  // per patch read back from the written file. Must return at once.
  std::function<void(std::uint64_t done, std::uint64_t total)> progress;
  // Another run is changing the image: this one waits until it is done (or
  // stopped). Once per run.
  std::function<void()> waitingForImage;
};

// How a run ended: cause none when written (or nothing needed writing),
// refused when a patch was refused and nothing was written, stopped when asked
// to stop before anything was put in place; noTarget when neither a new file
// nor the image itself was named (and not a dry run); outputIsInput (the output
// or the undo patch is the image, a patch, another input or the other output),
// undoExists, imageChanged (the image is not the file that was read any more),
// outputWrite, verifyFailed and undoWrite name the file concerned. Only none
// has put anything in place.
struct InstallOutcome : JobOutcome {
  std::vector<PatchDecision> patches;  // once every patch has been read
  std::uint64_t bytesChanged = 0;
  bool written = false;  // the output (or the image) was put in place
};

// Reads the image and every patch, decides them all (PlanInstall), and unless
// one is refused or it is a dry run writes the result atomically: a temporary
// file beside the target, read back whole and compared with the plan before it
// replaces anything. Each output's path is resolved once, at the start; never
// writes over an input, over the image unless in place, or over an existing
// undo patch. In place, the image is held from its read until its
// replacement is in place (another run waits), and is replaced only while it
// is still the file that was read. The undo patch, when asked for, is in place
// before the result is: the comparison of the image before and after, with no
// filter; it goes again should the result fail. An in-place run that changes
// nothing leaves the image untouched; a new file then is a copy. Never throws.
[[nodiscard]] InstallOutcome InstallPatches(const InstallJob& job, const InstallEvents& events, StopToken stop);

// The first of <result>.undo.vkp, <result>.undo-2.vkp, <result>.undo-3.vkp …
// that names nothing yet (not even a link): an undo patch beside the result
// that never takes the place of an earlier one.
[[nodiscard]] std::string FreeUndoPath(const std::string& resultPath);

}  // namespace quillet
