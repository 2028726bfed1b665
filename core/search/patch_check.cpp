#include "core/search/patch_check.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/platform/file_reader.h"
#include "core/platform/image_file.h"
#include "core/vkp/hex_string.h"
#include "core/vkp/vkp_reader.h"

namespace quillet {

namespace {

// Bytes go where the check writes them: inside the image and outside the
// filter. The filter is not asked about addresses beyond the image.
struct WrittenTest {
  WrittenTest(std::uint32_t size, const AddressFilter& filter)
      : size(size), filtering(!filter.Stretches().empty()), filter(filter) {}
  std::uint32_t size;
  bool filtering;
  quillet::FilterCursor filter;
  bool operator()(std::uint32_t address) { return address < size && !(filtering && filter.IsAddressFiltered(address)); }
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

// The fallback of a check that kept too many writes: work becomes the current
// image with the kept writes replayed on it, in their order.
template <class Kept>
void ReplayOnCopy(std::uint8_t* work, const std::uint8_t* current, std::uint32_t size, const Kept* kept,
                  std::size_t count) {
  std::memcpy(work, current, size);
  for (std::size_t i = 0; i < count; ++i) work[kept[i].address] = kept[i].value;
}

// Writes are kept in order and only compared once the file has been read, in
// tight loops with the addresses ahead fetched early: spread through the
// parsing, each access to the image waited for its own cache miss. When a
// differing write may have been overwritten, they are put into work; then work
// holds the last value written at each touched address, which is all that a
// whole-image comparison could find different; the other bytes of work are
// never read, so they need not be a copy of the current image. A patch that
// writes more than kTouchedLimit bytes turns work into that copy instead and is
// compared whole. ApplyPatchFile reads through the same sink, straight into
// work: its writes go into the image at once, as a check's do after the fallback.
class TouchSink {
 public:
  TouchSink(const std::uint8_t* current, std::uint8_t* work, std::uint32_t size, const AddressFilter& filter,
            bool straightIntoWork = false)
      : m_current(current),
        m_work(work),
        m_size(size),
        m_isWritten(size, filter),
        m_touched(straightIntoWork ? nullptr : TouchedList()),
        m_whole(straightIntoWork) {}
  bool Accepts(std::uint32_t address) { return m_isWritten(address); }
  void Write(std::uint32_t address, std::uint8_t value) {
    if (m_whole) {
      m_work[address] = value;
      return;
    }
    m_touched[m_count++] = {address, value};
    if (m_count == kTouchedLimit) BecomeWhole();
  }
  [[nodiscard]] PatchStatus Status() {
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
  void BecomeWhole() {
    ReplayOnCopy(m_work, m_current, m_size, m_touched, m_count);
    m_count = 0;
    m_whole = true;
  }

  const std::uint8_t* m_current;
  std::uint8_t* m_work;
  std::uint32_t m_size;
  WrittenTest m_isWritten;
  Touch* m_touched;
  std::size_t m_count = 0;
  bool m_whole;
};

// The check with its evidence: each write also keeps its old byte, and once the
// file has been read, the last write at each address is found (a walk from the
// end with a set of the addresses seen) and judged. A patch writing more than
// kTouchedLimit bytes keeps the same evidence per address instead, in work
// (the last new byte), an image-sized array of old bytes and two bitmaps
// (written, old known), so that the verdict never depends on the route.
struct OldTouch {
  std::uint32_t address;
  std::uint8_t value;
  std::int16_t old;  // -1: unknown
};

struct DetailBuffers {
  std::unique_ptr<OldTouch[]> touched = std::make_unique_for_overwrite<OldTouch[]>(kTouchedLimit);
  std::unique_ptr<std::uint32_t[]> seen = std::make_unique_for_overwrite<std::uint32_t[]>(2 * kTouchedLimit);
};

DetailBuffers& ThreadDetailBuffers() {
  thread_local DetailBuffers buffers;
  return buffers;
}

// No accepted address is 0xFFFFFFFF: the image is smaller than 4 GiB.
constexpr std::uint32_t kNoAddress = 0xFFFFFFFFu;

// One bit per image address. An anonymous mapping starts zeroed and costs
// nothing where no bit is ever set.
class AddressBits {
 public:
  explicit AddressBits(std::uint32_t size) : m_words((std::size_t{size} + 63) / 64 * 8) {}
  [[nodiscard]] std::uint64_t* Words() { return reinterpret_cast<std::uint64_t*>(m_words.data()); }
  [[nodiscard]] const std::uint64_t* Words() const { return reinterpret_cast<const std::uint64_t*>(m_words.data()); }
  [[nodiscard]] std::size_t Count() const { return m_words.size() / 8; }
  void Set(std::uint32_t a) { Words()[a / 64] |= std::uint64_t{1} << (a % 64); }
  void Reset(std::uint32_t a) { Words()[a / 64] &= ~(std::uint64_t{1} << (a % 64)); }
  [[nodiscard]] bool Test(std::uint32_t a) const { return (Words()[a / 64] >> (a % 64)) & 1; }
  // Clears [from, to).
  void clear(std::uint64_t from, std::uint64_t to) {
    for (; from < to && from % 64 != 0; ++from) Reset(static_cast<std::uint32_t>(from));
    for (; from + 64 <= to; from += 64) Words()[from / 64] = 0;
    for (; from < to; ++from) Reset(static_cast<std::uint32_t>(from));
  }

 private:
  quillet::ImageBuffer m_words;
};

struct WholeEvidence {
  explicit WholeEvidence(std::uint32_t size) : old(size), written(size), oldKnown(size) {}
  quillet::ImageBuffer old;
  AddressBits written;
  AddressBits oldKnown;
};

class DetailSink {
 public:
  DetailSink(const std::uint8_t* current, std::uint8_t* work, std::uint32_t size, const AddressFilter& filter,
             DetailBuffers& buffers)
      : m_current(current),
        m_work(work),
        m_size(size),
        m_isWritten(size, filter),
        m_buffers(buffers),
        m_touched(buffers.touched.get()) {}
  bool Accepts(std::uint32_t address) { return m_isWritten(address); }
  void Write(std::uint32_t address, std::uint8_t value) { WriteOld(address, value, -1); }
  void WriteOld(std::uint32_t address, std::uint8_t value, int old) {
    if (m_lineWrites++ == 0) m_lineFirst = address;
    m_lineLast = address;
    if (m_whole) {
      KeepWhole(address, value, old);
      return;
    }
    m_touched[m_count++] = {address, value, static_cast<std::int16_t>(old)};
    if (m_count == kTouchedLimit) BecomeWhole();
  }
  void BeginOldLine() {
    m_lineFrom = m_count;
    m_lineWrites = 0;
  }
  void EndOldLine(bool usable) {
    if (usable) return;
    if (!m_whole) {
      for (std::size_t i = m_lineFrom; i < m_count; ++i) m_touched[i].old = -1;
      return;
    }
    ForgetLineOld();
  }

  void Judge(CheckDetails& details) const {
    if (m_whole) {
      JudgeWhole(details);
    } else {
      JudgeKept(details);
    }
    details.status = details.differing == 0 ? PATCH_INSTALLED : PATCH_NOT_INSTALLED;
  }

 private:
  void KeepWhole(std::uint32_t address, std::uint8_t value, int old) {
    m_work[address] = value;
    m_whole->written.Set(address);
    if (old < 0) {
      m_whole->oldKnown.Reset(address);
    } else {
      m_whole->old.data()[address] = static_cast<std::uint8_t>(old);
      m_whole->oldKnown.Set(address);
    }
  }

  void BecomeWhole() {
    // Work is read only where the bitmap says a byte was written.
    m_whole = std::make_unique<WholeEvidence>(m_size);
    for (std::size_t i = 0; i < m_count; ++i) KeepWhole(m_touched[i].address, m_touched[i].value, m_touched[i].old);
    m_count = 0;
    m_lineFrom = 0;
  }

  // The line's writes took every accepted position from its first write to
  // its last, in address order with the wrap at 2^32, and the line is the last
  // writer of each. More writes than that stretch holds means the line went
  // round the whole address space.
  void ForgetLineOld() {
    if (m_lineWrites == 0) return;
    AddressBits& known = m_whole->oldKnown;
    const std::uint64_t stretch = std::uint64_t{static_cast<std::uint32_t>(m_lineLast - m_lineFirst)} + 1;
    if (m_lineWrites > stretch) {
      known.clear(0, m_size);
    } else if (m_lineFirst <= m_lineLast) {
      known.clear(m_lineFirst, std::uint64_t{m_lineLast} + 1);
    } else {
      known.clear(m_lineFirst, m_size);
      known.clear(0, std::uint64_t{m_lineLast} + 1);
    }
  }

  static void NoteDiffering(CheckDetails& details, const DifferingByte& byte) {
    auto& shown = details.firstDiffering;
    if (shown.size() == CheckDetails::kShownDifferences && shown.back().address < byte.address) return;
    auto at = shown.begin();
    while (at != shown.end() && at->address < byte.address) ++at;
    shown.insert(at, byte);
    if (shown.size() > CheckDetails::kShownDifferences) shown.pop_back();
  }

  // Both routes judge one address at a time through here.
  struct Tally {
    bool foreign = false, unknown = false, partly = false;
    void Add(CheckDetails& details, std::uint32_t address, std::uint8_t value, int old, std::uint8_t found) {
      ++details.checkedBytes;
      if (found == value) {
        ++details.alreadyNew;
        partly = partly || (old >= 0 && old != value);
        return;
      }
      ++details.differing;
      if (old < 0)
        unknown = true;
      else if (old != found)
        foreign = true;
      NoteDiffering(details, {address, value, found, old});
    }
    void Verdict(CheckDetails& details) const {
      if (details.differing == 0) return;
      details.verdict = foreign   ? OldBytesVerdict::otherFirmware
                        : unknown ? OldBytesVerdict::oldUnknown
                        : partly  ? OldBytesVerdict::partlyInstalled
                                  : OldBytesVerdict::appliesCleanly;
    }
  };

  void JudgeWhole(CheckDetails& details) const {
    Tally tally;
    const std::uint64_t* written = m_whole->written.Words();
    for (std::size_t word = 0; word < m_whole->written.Count(); ++word) {
      for (std::uint64_t bits = written[word]; bits != 0; bits &= bits - 1) {
        const auto address = static_cast<std::uint32_t>(word * 64 + static_cast<unsigned>(__builtin_ctzll(bits)));
        const int old = m_whole->oldKnown.Test(address) ? m_whole->old.data()[address] : -1;
        tally.Add(details, address, m_work[address], old, m_current[address]);
      }
    }
    tally.Verdict(details);
  }

  void JudgeKept(CheckDetails& details) const {
    std::size_t capacity = 16;
    while (capacity < 2 * m_count) capacity *= 2;
    std::uint32_t* seen = m_buffers.seen.get();
    std::fill(seen, seen + capacity, kNoAddress);
    Tally tally;
    constexpr std::size_t kAhead = 64;
    for (std::size_t i = m_count; i-- > 0;) {
      if (i >= kAhead) __builtin_prefetch(m_current + m_touched[i - kAhead].address);
      const OldTouch& touch = m_touched[i];
      std::size_t slot =
          static_cast<std::size_t>(touch.address * 0x9E3779B1u) & (capacity - 1);  // a 32-bit hash on purpose
      while (seen[slot] != kNoAddress && seen[slot] != touch.address) slot = (slot + 1) & (capacity - 1);
      if (seen[slot] == touch.address) continue;  // written again later: that write counts
      seen[slot] = touch.address;
      tally.Add(details, touch.address, touch.value, touch.old, m_current[touch.address]);
    }
    tally.Verdict(details);
  }

  const std::uint8_t* m_current;
  std::uint8_t* m_work;
  std::uint32_t m_size;
  WrittenTest m_isWritten;
  DetailBuffers& m_buffers;
  OldTouch* m_touched;
  std::size_t m_count = 0;
  std::size_t m_lineFrom = 0;
  // The writes of the line under way, for the whole route.
  std::uint64_t m_lineWrites = 0;
  std::uint32_t m_lineFirst = 0;
  std::uint32_t m_lineLast = 0;
  std::unique_ptr<WholeEvidence> m_whole;
};

// ApplyPatchFile and the check read a file alike: a line is given up as soon as
// it is known to be invalid.
bool Apply(quillet::FileReader& file, TouchSink& sink) { return quillet::ReadVkp(file, sink, false).Ok(); }

PatchStatus Check(quillet::FileReader& source, const std::uint8_t* current, std::uint8_t* work, std::uint32_t size,
                  const AddressFilter& filter, CheckDetails* details) {
  if (!details) {
    TouchSink sink(current, work, size, filter);
    if (!Apply(source, sink)) return PATCH_FILE_ERROR;
    return sink.Status();
  }
  *details = CheckDetails{};
  DetailSink sink(current, work, size, filter, ThreadDetailBuffers());
  const quillet::VkpReadResult read = quillet::ReadVkp(source, sink, true);
  if (read.Ok()) {
    sink.Judge(*details);
    return details->status;
  }
  details->status = PATCH_FILE_ERROR;
  details->error = read.error;
  details->line = read.line;
  std::string& text = details->lineText;
  while (text.size() < CheckDetails::kLineTextLimit) {
    const std::string_view more =
        source.ReadAt(read.lineStart + text.size(), CheckDetails::kLineTextLimit - text.size());
    if (more.empty()) break;
    const std::size_t end = more.find_first_of("\n\x1A");
    text += more.substr(0, end);
    if (end != std::string_view::npos) break;
  }
  // A CR before the LF belongs to the line end.
  if (text.ends_with('\r') && text.size() < CheckDetails::kLineTextLimit) text.pop_back();
  details->byteOrderMark = source.ReadAt(0, 3) == "\xEF\xBB\xBF";
  return PATCH_FILE_ERROR;
}

}  // namespace

bool ApplyPatchFile(const std::string& path, std::uint8_t* image, std::uint32_t size, const AddressFilter& filter) {
  quillet::FileReader file(path);
  TouchSink sink(nullptr, image, size, filter, /*straightIntoWork=*/true);
  return Apply(file, sink);
}

PatchStatus CheckPatch(const std::string& path, const std::uint8_t* current, std::uint8_t* work, std::uint32_t size,
                       const AddressFilter& filter, CheckDetails* details) {
  quillet::FileReader file(path);
  return Check(file, current, work, size, filter, details);
}

}  // namespace quillet
