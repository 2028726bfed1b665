#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/job/job.h"
#include "core/vkp/vkp_error.h"

// Which patch files of a library can't both be installed: two files collide
// where each leaves a different byte at the same address. Every byte a file
// writes counts — no address filter, no image — because the question is about
// the files, not about one image.

namespace quillet {

struct ConflictingByte {
  std::uint32_t address = 0;
  std::uint8_t first = 0;   // what the pair's first file leaves there
  std::uint8_t second = 0;  // what its second file leaves there
};

// One colliding pair. first < second are indices into the paths given, so the
// pair reads in the caller's order.
struct PatchConflict {
  std::size_t first = 0;
  std::size_t second = 0;
  std::vector<ConflictingByte> bytes;  // by increasing address
};

// A file left out of the comparison: one with an invalid line (what it wrote
// before that line is not trusted either), or one that could not be read.
struct ExcludedPatch {
  std::size_t file = 0;
  VkpReadResult read;     // the invalid line, when the file was read
  std::string fileError;  // the user-facing text, when it could not be read
  [[nodiscard]] bool Unreadable() const { return !fileError.empty(); }
};

struct PatchConflicts {
  std::vector<PatchConflict> conflicts;  // by first, then second
  std::vector<ExcludedPatch> excluded;   // by file
};

// A file's byte at an address is the last one it writes there, offset lines
// applied as the reader applies them; equal bytes are no collision. The cost
// grows with the bytes written and the collisions found, not with the number
// of file pairs. Failures are values; only std::bad_alloc is thrown.
[[nodiscard]] PatchConflicts FindPatchConflicts(const std::vector<std::string>& paths);

// The same as a job, for a window that must keep answering while thousands of
// large files are read: reading is told how many files have been read, and a
// stop ends the job before the next file (stopped, nothing found).
struct ConflictEvents {
  std::function<void(std::size_t filesRead, std::size_t files)> reading;
};
struct ConflictsOutcome : JobOutcome {
  PatchConflicts found;
};
[[nodiscard]] ConflictsOutcome FindPatchConflicts(const std::vector<std::string>& paths, const ConflictEvents& events,
                                                  StopToken stop);

}  // namespace quillet
