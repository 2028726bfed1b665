#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/search/patch_check.h"

namespace quillet {

// The order of the main window's patch list: by file name as a file manager
// shows names (Latin and Cyrillic letters without regard to case), then by the
// name's bytes, then by full path where two names are equal, so that a full
// path (the row's identity) has exactly one place.
[[nodiscard]] bool PatchRowLess(std::string_view nameA, std::string_view pathA, std::string_view nameB,
                                std::string_view pathB);

enum class SearchFailure {
  none,
  imageOpen,      // the current image can't be opened
  imageRead,      // it read short
  imageTooLarge,  // 4 GiB or more: its addresses don't fit in 32 bits
  outOfMemory,    // the two image buffers could not be had
  patchFile,      // a patch file could not be opened or read; ends the search
};

// How the user is told about a failure: one box with an OK button.
struct SearchMessage {
  enum class Icon { none, exclamation, stop };
  std::string text;
  std::string caption;
  Icon icon = Icon::none;
};

struct SearchResult {
  SearchFailure failure = SearchFailure::none;
  std::size_t rowsChecked = 0;  // rows that got their status, from the first
  SearchMessage message;        // empty text when failure is none
};

struct SearchObserver {
  // The image has been read and the rows are about to be checked.
  std::function<void(std::size_t rowCount)> started;
  // Before row's patch file is checked.
  std::function<void(std::size_t row, const std::string& path)> checking;
  // Row's patch file has been checked.
  std::function<void(std::size_t row, PatchStatus status)> checked;
};

// Reads the current image once and checks every patch file against it, in the
// order given. Failures come back as values: an image that can't be read
// checks nothing; a patch file that can't be read ends the search there, the
// rows before it keeping their status. Never throws.
// When explained is given, each check also gathers its evidence, handed over
// just before observer.checked.
using ExplainedCheck = std::function<void(std::size_t row, const CheckDetails& details)>;
[[nodiscard]] SearchResult RunSearch(const std::string& imagePath, const std::vector<std::string>& patchPaths,
                                     const AddressFilter& filter, const SearchObserver& observer,
                                     const ExplainedCheck& explained = {});

}  // namespace quillet
