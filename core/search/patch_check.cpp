#include "core/search/patch_check.h"

#include <vector>

#include "core/platform/file_io.h"

namespace {

// Bytes go where the check writes them: inside the image and outside the
// filter. The filter is not asked about addresses beyond the image.
struct WrittenTest {
  std::uint32_t size;
  quillet::FilterCursor filter;
  bool operator()(std::uint32_t address) { return address < size && !filter.IsFiltered(address); }
};

struct ImageSink {
  std::uint8_t* image;
  WrittenTest isWritten;
  bool accepts(std::uint32_t address) { return isWritten(address); }
  void write(std::uint32_t address, std::uint8_t value) const { image[address] = value; }
};

// Writes into work like the plain apply, and remembers where. Afterwards work
// holds the last value written at each remembered address, which is all that a
// whole-image comparison could find different; the other bytes of work are
// never read, so they need not be a copy of the current image.
struct TouchSink {
  std::uint8_t* work;
  WrittenTest isWritten;
  std::vector<std::uint32_t>& touched;
  bool accepts(std::uint32_t address) { return isWritten(address); }
  void write(std::uint32_t address, std::uint8_t value) const {
    work[address] = value;
    touched.push_back(address);
  }
};

}  // namespace

namespace quillet {

VkpReadResult ApplyPatchText(std::string_view text, std::uint8_t* image, std::uint32_t size,
                             const AddressFilter& filter) {
  ImageSink sink{image, {size, FilterCursor(filter)}};
  return ReadVkpText(text, sink);
}

PatchStatus CheckPatchText(std::string_view text, const std::uint8_t* current, std::uint8_t* work,
                           std::uint32_t size, const AddressFilter& filter) {
  std::vector<std::uint32_t> touched;
  TouchSink sink{work, {size, FilterCursor(filter)}, touched};
  if (!ReadVkpText(text, sink).ok()) return PATCH_FILE_ERROR;
  for (const std::uint32_t address : touched)
    if (work[address] != current[address]) return PATCH_NOT_INSTALLED;
  return PATCH_INSTALLED;
}

}  // namespace quillet

bool ApplyPatchFile(const std::string& path, std::uint8_t* image, std::uint32_t size, const AddressFilter& filter) {
  return quillet::ApplyPatchText(quillet::ReadWholeFile(path), image, size, filter).ok();
}

PatchStatus CheckPatch(const std::string& path, const std::uint8_t* current, std::uint8_t* work,
                       std::uint32_t size, const AddressFilter& filter) {
  return quillet::CheckPatchText(quillet::ReadWholeFile(path), current, work, size, filter);
}
