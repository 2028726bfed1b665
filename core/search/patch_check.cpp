#include "core/search/patch_check.h"

#include <cstring>
#include <memory>

#include "core/platform/file_io.h"

namespace {

// Bytes go where the check writes them: inside the image and outside the
// filter. The filter is not asked about addresses beyond the image.
struct WrittenTest {
  WrittenTest(std::uint32_t size, const AddressFilter& filter)
      : size(size), filtering(!filter.Stretches().empty()), filter(filter) {}
  std::uint32_t size;
  bool filtering;
  quillet::FilterCursor filter;
  bool operator()(std::uint32_t address) {
    return address < size && !(filtering && filter.IsFiltered(address));
  }
};

struct ImageSink {
  std::uint8_t* image;
  WrittenTest isWritten;
  bool accepts(std::uint32_t address) { return isWritten(address); }
  void write(std::uint32_t address, std::uint8_t value) const { image[address] = value; }
};

struct Touch {
  std::uint32_t address;
  std::uint8_t value;
};

// The writes a check keeps before it falls back to a whole copy of the image:
// 2 MiB of them, so that a patch of any size checks in bounded memory.
constexpr std::size_t kTouchedLimit = std::size_t{1} << 18;

// Room for kTouchedLimit writes, one for all the checks of a thread (a search
// checks a thousand files); its pages are only touched as far as used.
Touch* TouchedList() {
  thread_local const std::unique_ptr<Touch[]> touched = std::make_unique_for_overwrite<Touch[]>(kTouchedLimit);
  return touched.get();
}

// Writes are kept in order and only compared once the file has been read, in
// tight loops with the addresses ahead fetched early: spread through the
// parsing, each access to the image waited for its own cache miss. When a
// differing write may have been overwritten, they are put into work; then work
// holds the last value written at each touched address, which is all that a
// whole-image comparison could find different; the other bytes of work are
// never read, so they need not be a copy of the current image. A patch that
// writes more than kTouchedLimit bytes turns work into that copy instead and is
// compared whole.
class TouchSink {
 public:
  TouchSink(const std::uint8_t* current, std::uint8_t* work, std::uint32_t size, const AddressFilter& filter,
            Touch* touched)
      : m_current(current), m_work(work), m_size(size), m_isWritten(size, filter), m_touched(touched) {}
  bool accepts(std::uint32_t address) { return m_isWritten(address); }
  void write(std::uint32_t address, std::uint8_t value) {
    if (m_whole) {
      m_work[address] = value;
      return;
    }
    m_touched[m_count++] = {address, value};
    if (m_count == kTouchedLimit) becomeWhole();
  }
  [[nodiscard]] PatchStatus status() {
    if (m_whole) return std::memcmp(m_work, m_current, m_size) == 0 ? PATCH_INSTALLED : PATCH_NOT_INSTALLED;
    // Usually no write differs from the image, or the last one that differs
    // is the last write at its address: then work need not be touched at all.
    constexpr std::size_t kAhead = 64;
    const std::size_t count = m_count;
    std::size_t lastDiffering = count;
    for (std::size_t i = 0; i < count; ++i) {
      if (i + kAhead < count) __builtin_prefetch(m_current + m_touched[i + kAhead].address);
      if (m_touched[i].value != m_current[m_touched[i].address]) lastDiffering = i;
    }
    if (lastDiffering == count) return PATCH_INSTALLED;
    const std::uint32_t address = m_touched[lastDiffering].address;
    bool rewritten = false;
    for (std::size_t i = lastDiffering + 1; i < count && !rewritten; ++i) rewritten = m_touched[i].address == address;
    if (!rewritten) return PATCH_NOT_INSTALLED;

    for (std::size_t i = 0; i < count; ++i) {
      if (i + kAhead < count) __builtin_prefetch(m_work + m_touched[i + kAhead].address, 1);
      m_work[m_touched[i].address] = m_touched[i].value;
    }
    for (std::size_t i = 0; i < count; ++i)
      if (m_work[m_touched[i].address] != m_current[m_touched[i].address]) return PATCH_NOT_INSTALLED;
    return PATCH_INSTALLED;
  }

 private:
  void becomeWhole() {
    std::memcpy(m_work, m_current, m_size);
    for (std::size_t i = 0; i < m_count; ++i) m_work[m_touched[i].address] = m_touched[i].value;
    m_count = 0;
    m_whole = true;
  }

  const std::uint8_t* m_current;
  std::uint8_t* m_work;
  std::uint32_t m_size;
  WrittenTest m_isWritten;
  Touch* m_touched;
  std::size_t m_count = 0;
  bool m_whole = false;
};

}  // namespace

namespace quillet {

VkpReadResult ApplyPatchText(std::string_view text, std::uint8_t* image, std::uint32_t size,
                             const AddressFilter& filter) {
  ImageSink sink{image, {size, filter}};
  return ReadVkpText(text, sink);
}

PatchStatus CheckPatchText(std::string_view text, const std::uint8_t* current, std::uint8_t* work,
                           std::uint32_t size, const AddressFilter& filter) {
  TouchSink sink(current, work, size, filter, TouchedList());
  if (!ReadVkpText(text, sink).ok()) return PATCH_FILE_ERROR;
  return sink.status();
}

}  // namespace quillet

bool ApplyPatchFile(const std::string& path, std::uint8_t* image, std::uint32_t size, const AddressFilter& filter) {
  quillet::FileReader file(path);
  ImageSink sink{image, {size, filter}};
  return quillet::ReadVkp(file, sink, false).ok();
}

PatchStatus CheckPatch(const std::string& path, const std::uint8_t* current, std::uint8_t* work,
                       std::uint32_t size, const AddressFilter& filter) {
  quillet::FileReader file(path);
  TouchSink sink(current, work, size, filter, TouchedList());
  if (!quillet::ReadVkp(file, sink, false).ok()) return PATCH_FILE_ERROR;
  return sink.status();
}
