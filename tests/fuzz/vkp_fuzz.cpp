// Any input is a patch text: it must get a status, the fast check (with and
// without its evidence) must agree with copy-and-compare, and none may touch
// memory outside the images.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "core/filter/address_filter.h"
#include "core/search/patch_check.h"

namespace {

PatchStatus CopyAndCompare(std::string_view text, const std::vector<std::uint8_t>& current,
                           std::vector<std::uint8_t>& work, const AddressFilter& filter) {
  const auto size = static_cast<std::uint32_t>(current.size());
  work = current;
  if (!quillet::ApplyPatchText(text, work.data(), size, filter).ok()) return PATCH_FILE_ERROR;
  return work == current ? PATCH_INSTALLED : PATCH_NOT_INSTALLED;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // Sizes around the usual small addresses, an empty image and a filter that
  // covers both ordinary and wrapping addresses.
  static const std::uint32_t kSizes[] = {0, 1, 0x40, 0x1300};
  static const AddressFilter kFilters[] = {{}, {{0x10, 0x1F}, {0x1234, 0x1234}, {0xFFFFFFF0u, 0xFFFFFFFFu}}};
  for (const auto& filter : kFilters) {
    for (const std::uint32_t imageSize : kSizes) {
      // Exact sizes, so that the sanitizer sees any access past either end.
      std::vector<std::uint8_t> current(imageSize, 0);
      for (std::uint32_t i = 0; i < imageSize; i += 3) current[i] = static_cast<std::uint8_t>(i);
      std::vector<std::uint8_t> work(imageSize, 0xA5);
      std::vector<std::uint8_t> scratch;
      const PatchStatus fast = quillet::CheckPatchText(text, current.data(), work.data(), imageSize, filter);
      const PatchStatus plain = CopyAndCompare(text, current, scratch, filter);
      if (fast != plain) __builtin_trap();
      // Gathering the evidence must not change the status.
      CheckDetails details;
      if (quillet::CheckPatchText(text, current.data(), work.data(), imageSize, filter, &details) != plain ||
          details.status != plain)
        __builtin_trap();
    }
  }
  return 0;
}
