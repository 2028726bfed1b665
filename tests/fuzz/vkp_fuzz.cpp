// Any input is a patch text: it must get a status, the fast check (with and
// without its evidence) must agree with copy-and-compare, and none may touch
// memory outside the images.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/filter/address_filter.h"
#include "core/search/patch_check.h"

using quillet::AddressFilter;
using quillet::ApplyPatchFile;
using quillet::CheckDetails;
using quillet::CheckPatch;
using quillet::PATCH_FILE_ERROR;
using quillet::PATCH_INSTALLED;
using quillet::PATCH_NOT_INSTALLED;
using quillet::PatchStatus;

namespace {

// The input as a file, for the file functions: one memory file, rewritten each time.
const std::string& AsFile(const std::uint8_t* data, std::size_t size) {
  static const int fd = ::memfd_create("vkp_fuzz", 0);
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (fd < 0 || ::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) __builtin_trap();
  return path;
}

PatchStatus CopyAndCompare(const std::string& path, const std::vector<std::uint8_t>& current,
                           std::vector<std::uint8_t>& work, const AddressFilter& filter) {
  work = current;
  if (!ApplyPatchFile(path, work.data(), static_cast<std::uint32_t>(current.size()), filter)) return PATCH_FILE_ERROR;
  return work == current ? PATCH_INSTALLED : PATCH_NOT_INSTALLED;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = AsFile(data, size);
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
      const PatchStatus fast = CheckPatch(path, current.data(), work.data(), imageSize, filter);
      const PatchStatus plain = CopyAndCompare(path, current, scratch, filter);
      if (fast != plain) __builtin_trap();
      // Gathering the evidence must not change the status.
      CheckDetails details;
      if (CheckPatch(path, current.data(), work.data(), imageSize, filter, &details) != plain ||
          details.status != plain)
        __builtin_trap();
    }
  }
  return 0;
}
