#pragma once
#include <cstdint>
#include <string_view>

#include "core/compare/function_ref.h"

namespace quillet {

// What the walk asks of the world around it. Each is called on the walking thread.
struct CompareHooks {
  // True once the run is to end; asked at the top of every step.
  FunctionRef<bool()> stopRequested;
  // True for an address the address filter leaves out; asked only for the bytes
  // of 16-byte groups that hold a difference.
  FunctionRef<bool(std::uint32_t)> isFiltered;
  // The position at the start of every step. Must return at once: over equal
  // data this is called every 1,024 bytes.
  FunctionRef<void(std::uint32_t)> progress;
  // Takes the data lines of one step. False when the text no longer takes
  // lines (a stop was requested meanwhile): the walk then ends.
  FunctionRef<bool(std::string_view)> appendLines;
};

enum class WalkEnd { finished, stopped };

// Compares the first length bytes of both images and hands over one data line
// per maximal stretch of differing, unfiltered bytes inside each 16-byte group
// whose start is a multiple of 16, in increasing address order. Equal data is
// passed over 1,024 bytes per step. Uses nothing of the platform.
WalkEnd CompareImages(const std::uint8_t* original, const std::uint8_t* current, std::uint32_t length,
                      const CompareHooks& hooks);

}  // namespace quillet
