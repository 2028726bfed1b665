#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/filter/address_filter.h"
#include "core/job/job.h"
#include "core/search/patch_check.h"

namespace quillet {

// The order of the main window's patch list: by file name as a file manager
// shows names (Latin and Cyrillic letters without regard to case), then by the
// name's bytes, then by full path where two names are equal, so that a full
// path (the row's identity) has exactly one place.
[[nodiscard]] bool PatchRowLess(std::string_view nameA, std::string_view pathA, std::string_view nameB,
                                std::string_view pathB);

// What one search checks: fixed before it starts.
struct SearchJob {
  std::string imagePath;                // the current image
  std::vector<std::string> patchPaths;  // in the list's order
  AddressFilter filter;
  bool details = false;  // each check also gathers its evidence
};

// The search's events, each on the searching thread; an empty one is not called.
struct SearchEvents {
  // The image has been read and the rows are about to be checked.
  std::function<void(std::size_t rowCount)> started;
  // Before row's patch file is checked.
  std::function<void(std::size_t row, const std::string& path)> checking;
  // Row's patch file has been checked: details.status, and the evidence when
  // the job asked for it.
  std::function<void(std::size_t row, const CheckDetails& details)> checked;
};

struct SearchOutcome : JobOutcome {
  std::size_t rowsChecked = 0;  // rows that got their status, from the first
};

// Reads the current image once and checks every patch file against it, in the
// order given. An image that can't be read checks nothing (imageOpen,
// imageRead, imageTooLarge); a patch file that can't be read ends the search
// there (patchFile, with its path and errno), the rows before it keeping their
// status; a stop ends it between two rows (stopped). Never throws.
[[nodiscard]] SearchOutcome RunSearch(const SearchJob& job, const SearchEvents& events, StopToken stop);

}  // namespace quillet
