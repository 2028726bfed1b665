#include "core/compare/compare_images.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/vkp/vkp_text.h"

namespace quillet {

namespace {

constexpr std::uint32_t kBlock = 1024;
constexpr std::uint32_t kGroup = 16;

// Appends the lines of one group of g bytes at pos to lines. A run ends at an
// equal byte, at a filtered byte and at the group's end.
void FormatGroup(const std::uint8_t* original, const std::uint8_t* current, std::uint32_t pos, std::uint32_t g,
                 FunctionRef<bool(std::uint32_t)> isFiltered, std::string& lines) {
  std::uint32_t runStart = 0;
  std::uint32_t runLength = 0;
  for (std::uint32_t i = 0; i < g; ++i) {
    const std::uint32_t a = pos + i;
    if (!isFiltered(a) && original[a] != current[a]) {
      if (runLength == 0) runStart = a;
      ++runLength;
      continue;
    }
    if (runLength != 0) {
      AppendDataLine(lines, runStart, original + runStart, current + runStart, runLength);
      runLength = 0;
    }
  }
  if (runLength != 0) AppendDataLine(lines, runStart, original + runStart, current + runStart, runLength);
}

}  // namespace

WalkEnd CompareImages(const std::uint8_t* original, const std::uint8_t* current, std::uint32_t length,
                      const CompareHooks& hooks) {
  std::string lines;
  std::uint32_t pos = 0;
  while (pos < length) {
    if (hooks.stopRequested()) return WalkEnd::stopped;
    hooks.progress(pos);
    const std::uint32_t left = length - pos;
    const std::uint32_t n = std::min(kBlock, left);
    if (std::memcmp(original + pos, current + pos, n) == 0) {
      pos += n;
      continue;
    }
    const std::uint32_t g = std::min(kGroup, left);
    if (std::memcmp(original + pos, current + pos, g) == 0) {
      pos += g;
      continue;
    }
    lines.clear();
    FormatGroup(original, current, pos, g, hooks.isFiltered, lines);
    // A group whose differences are all filtered gives no line.
    if (!lines.empty() && !hooks.appendLines(lines)) return WalkEnd::stopped;
    pos += g;
  }
  return WalkEnd::finished;
}

}  // namespace quillet
