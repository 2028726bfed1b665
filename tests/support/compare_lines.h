#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "core/compare/compare_images.h"

namespace quillet::testing {

// The data lines of a whole, unstopped comparison, joined: what the window's
// field holds after the header and what a saved comparison holds after it.
inline std::string CompareLines(
    const std::uint8_t* original, const std::uint8_t* current, std::uint32_t length,
    FunctionRef<bool(std::uint32_t)> isFiltered = [](std::uint32_t) { return false; }) {
  std::string text;
  auto never = [] { return false; };
  auto ignore = [](std::uint32_t) {};
  auto append = [&text](std::string_view lines) {
    text.append(lines);
    return true;
  };
  (void)CompareImages(
      original, current, length,
      CompareHooks{.stopRequested = never, .isFiltered = isFiltered, .progress = ignore, .appendLines = append});
  return text;
}

}  // namespace quillet::testing
