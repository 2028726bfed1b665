#include "core/port/port.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <unordered_map>
#include <utility>

#include "core/filter/address_filter.h"
#include "core/job/image_failure.h"
#include "core/platform/cp1251.h"
#include "core/platform/file_error.h"
#include "core/platform/image_file.h"
#include "core/res/strings.h"
#include "core/vkp/hex_string.h"
#include "core/vkp/vkp_text.h"

namespace quillet {

namespace {

constexpr std::uint64_t kSearchStep = std::uint64_t{1} << 20;  // one progress step of the image
constexpr std::size_t kAnchorScan = 256;                       // how far into a signature its anchor is looked for
constexpr int kFilterBits = 20;  // 128 KiB of bits: stays in the cache while the image streams past

struct PieceSpan {
  std::size_t from = 0;  // writes [from, to)
  std::size_t to = 0;
};

// What the image must hold around a shift for a piece to be there. A context
// signature is the firmware's whole stretch around the piece; otherwise only
// the written addresses count.
struct Signature {
  std::size_t patch = 0;
  std::size_t piece = 0;
  bool context = false;
  std::uint32_t start = 0;  // lowest and highest address it covers
  std::uint32_t end = 0;
  std::uint64_t places = 0;
  // The lowest shifts found, each with whether the new bytes were there already.
  std::vector<std::pair<std::int64_t, bool>> shifts;
  std::size_t patterns[2] = {0, 0};
  std::size_t patternCount = 0;
};

// One form of a signature to find: as it is before the patch, or installed.
struct Pattern {
  std::size_t signature = 0;
  bool installed = false;
  std::uint32_t anchor = 0;  // address of the anchor's first byte
  unsigned width = 0;        // 4, 2 or 1 bytes
  std::uint32_t key = 0;     // the anchor's bytes, little-endian
  bool active = true;
};

struct PatchState {
  std::vector<PatchWrite> writes;  // old bytes filled in from the firmware where it is known
  std::vector<PieceSpan> pieces;
  std::vector<std::size_t> contextSignature;  // per piece, npos when none
  std::vector<std::size_t> writtenSignature;
};

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

int AnchorScore(const std::uint8_t* bytes, unsigned width) {
  int distinct = 0;
  int blank = 0;
  for (unsigned i = 0; i < width; ++i) {
    bool seen = false;
    for (unsigned j = 0; j < i; ++j) seen = seen || bytes[j] == bytes[i];
    distinct += seen ? 0 : 1;
    blank += bytes[i] == 0x00 || bytes[i] == 0xFF ? 1 : 0;
  }
  // Fill bytes are everywhere in an image: an anchor of them finds every stretch of fill.
  return distinct * 8 - blank;
}

std::uint32_t KeyOf(const std::uint8_t* bytes, unsigned width) {
  std::uint32_t key = 0;
  for (unsigned i = 0; i < width; ++i) key |= std::uint32_t{bytes[i]} << (8 * i);
  return key;
}

std::uint32_t SlotOf(std::uint32_t key) { return (key * 0x9E3779B1U) >> (32 - kFilterBits); }

// Every anchor of every pattern, so that one pass over the image finds the
// candidates of all of them: a bit per hashed 4-byte anchor in front (almost
// every position of the image stops there), the exact anchors behind it.
class AnchorIndex {
 public:
  AnchorIndex() : m_bits4((std::size_t{1} << kFilterBits) / 64), m_slotUse(std::size_t{1} << kFilterBits) {}

  void Add(const Pattern& pattern, std::size_t index) {
    Buckets(pattern.width)[pattern.key].push_back(index);
    if (pattern.width == 4) {
      const std::uint32_t slot = SlotOf(pattern.key);
      if (m_slotUse[slot]++ == 0) m_bits4[slot >> 6] |= std::uint64_t{1} << (slot & 63);
    } else {
      m_narrow = true;
      (pattern.width == 2 ? m_bits2 : m_bits1)[pattern.key >> 6] |= std::uint64_t{1} << (pattern.key & 63);
    }
  }

  void Remove(const Pattern& pattern, std::size_t index) {
    auto& buckets = Buckets(pattern.width);
    const auto found = buckets.find(pattern.key);
    if (found == buckets.end()) return;
    std::vector<std::size_t>& bucket = found->second;
    bucket.erase(std::remove(bucket.begin(), bucket.end(), index), bucket.end());
    if (pattern.width == 4) {
      const std::uint32_t slot = SlotOf(pattern.key);
      if (--m_slotUse[slot] == 0) m_bits4[slot >> 6] &= ~(std::uint64_t{1} << (slot & 63));
    }
    if (!bucket.empty()) return;
    buckets.erase(found);
    if (pattern.width != 4)
      (pattern.width == 2 ? m_bits2 : m_bits1)[pattern.key >> 6] &= ~(std::uint64_t{1} << (pattern.key & 63));
  }

  [[nodiscard]] bool Narrow() const { return m_narrow; }
  [[nodiscard]] bool Maybe4(std::uint32_t key) const {
    const std::uint32_t slot = SlotOf(key);
    return ((m_bits4[slot >> 6] >> (slot & 63)) & 1) != 0;
  }
  [[nodiscard]] bool Has2(std::uint32_t key) const { return ((m_bits2[key >> 6] >> (key & 63)) & 1) != 0; }
  [[nodiscard]] bool Has1(std::uint32_t key) const { return ((m_bits1[key >> 6] >> (key & 63)) & 1) != 0; }
  [[nodiscard]] const std::vector<std::size_t>* Find(unsigned width, std::uint32_t key) {
    auto& buckets = Buckets(width);
    const auto found = buckets.find(key);
    return found == buckets.end() ? nullptr : &found->second;
  }

 private:
  std::unordered_map<std::uint32_t, std::vector<std::size_t>>& Buckets(unsigned width) {
    return width == 4 ? m_buckets[0] : width == 2 ? m_buckets[1] : m_buckets[2];
  }

  std::vector<std::uint64_t> m_bits4;
  std::vector<std::uint16_t> m_slotUse;
  std::uint64_t m_bits2[65536 / 64] = {};
  std::uint64_t m_bits1[256 / 64] = {};
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> m_buckets[3];
  bool m_narrow = false;
};

class Porter {
 public:
  Porter(const PortImage& image, const PortImage* firmware, const std::vector<PatchWrites>& patches,
         const std::vector<std::string>& paths)
      : m_image(image), m_firmware(firmware), m_patches(patches), m_paths(paths) {}

  std::vector<PortedPatch> Run(StopToken stop, const std::function<void(std::uint64_t)>& searched) {
    m_results.resize(m_patches.size());
    m_states.resize(m_patches.size());
    for (std::size_t i = 0; i < m_patches.size(); ++i) Prepare(i);
    for (std::size_t i = 0; i < m_patterns.size(); ++i) m_index.Add(m_patterns[i], i);
    if (!Search(stop, searched)) return {};
    for (std::size_t i = 0; i < m_patches.size(); ++i) Decide(i);
    return std::move(m_results);
  }

 private:
  void Prepare(std::size_t index) {
    PortedPatch& result = m_results[index];
    PatchState& state = m_states[index];
    const PatchWrites& read = m_patches[index];
    if (!read.read.Ok()) {
      result.cause = PortRefusal::broken;
      result.line = read.read.line;
      result.rule = read.read.error;
      result.lineText = read.lineText;
      return;
    }
    state.writes = read.writes;
    if (m_firmware != nullptr) {
      for (PatchWrite& write : state.writes) {
        if (write.address >= m_firmware->size) {
          result.cause = PortRefusal::beyondFirmware;
          result.offending = DifferingByte{write.address, write.value, 0, write.old};
          return;
        }
        const std::uint8_t there = m_firmware->data[write.address];
        if (write.old >= 0 && write.old != there) {
          result.cause = PortRefusal::otherFirmware;
          result.offending = DifferingByte{write.address, write.value, there, write.old};
          return;
        }
        write.old = there;
      }
    }
    const std::vector<PatchWrite>& writes = state.writes;
    for (std::size_t i = 0; i < writes.size(); ++i) {
      if (i == 0 || writes[i].address - writes[i - 1].address > kPieceGap) state.pieces.push_back({i, i});
      state.pieces.back().to = i + 1;
    }
    for (std::size_t p = 0; p < state.pieces.size(); ++p) {
      const PieceSpan span = state.pieces[p];
      PortPiece piece;
      piece.first = writes[span.from].address;
      piece.last = writes[span.to - 1].address;
      piece.writes = span.to - span.from;
      state.contextSignature.push_back(kNone);
      state.writtenSignature.push_back(kNone);
      if (m_firmware != nullptr) {
        const std::uint32_t start = piece.first >= kPortContext ? piece.first - kPortContext : 0;
        const std::uint32_t end =
            std::min<std::uint64_t>(std::uint64_t{piece.last} + kPortContext, m_firmware->size - 1);
        if (std::uint64_t{end} - start + 1 >= kMinSignature)
          state.contextSignature[p] = AddSignature(index, p, true, start, end);
      } else {
        const auto unknown = std::find_if(writes.begin() + static_cast<std::ptrdiff_t>(span.from),
                                          writes.begin() + static_cast<std::ptrdiff_t>(span.to),
                                          [](const PatchWrite& write) { return write.old < 0; });
        if (unknown != writes.begin() + static_cast<std::ptrdiff_t>(span.to)) {
          piece.verdict = PieceVerdict::oldUnknown;
          piece.unknownAt = unknown->address;
          result.pieces.push_back(piece);
          continue;
        }
      }
      if (piece.writes >= kMinSignature)
        state.writtenSignature[p] = AddSignature(index, p, false, piece.first, piece.last);
      if (state.contextSignature[p] == kNone && state.writtenSignature[p] == kNone)
        piece.verdict = PieceVerdict::tooShort;
      result.pieces.push_back(piece);
    }
  }

  [[nodiscard]] std::pair<const PatchWrite*, const PatchWrite*> WritesOf(const Signature& signature) const {
    const PatchState& state = m_states[signature.patch];
    const PieceSpan span = state.pieces[signature.piece];
    return {state.writes.data() + span.from, state.writes.data() + span.to};
  }

  std::size_t AddSignature(std::size_t patch, std::size_t piece, bool context, std::uint32_t start, std::uint32_t end) {
    const std::size_t index = m_signatures.size();
    Signature& signature = m_signatures.emplace_back();
    signature.patch = patch;
    signature.piece = piece;
    signature.context = context;
    signature.start = start;
    signature.end = end;
    const auto [begin, finish] = WritesOf(signature);
    const bool changes = std::any_of(begin, finish, [](const PatchWrite& write) { return write.old != write.value; });
    AddPattern(index, false);
    if (changes) AddPattern(index, true);
    return index;
  }

  // The pattern's anchor: the most varied run of 4 consecutive bytes near its
  // start, or of 2, or 1 byte when its written addresses are that scattered.
  void AddPattern(std::size_t signatureIndex, bool installed) {
    Signature& signature = m_signatures[signatureIndex];
    const auto [begin, finish] = WritesOf(signature);
    std::vector<std::pair<std::uint32_t, std::uint8_t>> bytes;
    if (signature.context) {
      const std::uint32_t count = static_cast<std::uint32_t>(
          std::min<std::uint64_t>(std::uint64_t{signature.end} - signature.start + 1, kAnchorScan + 3));
      for (std::uint32_t i = 0; i < count; ++i)
        bytes.emplace_back(signature.start + i, m_firmware->data[signature.start + i]);
      if (installed)
        for (const PatchWrite* write = begin; write != finish && write->address < signature.start + count; ++write)
          bytes[write->address - signature.start].second = write->value;
    } else {
      for (const PatchWrite* write = begin; write != finish && bytes.size() < kAnchorScan + 3; ++write)
        bytes.emplace_back(write->address, installed ? write->value : static_cast<std::uint8_t>(write->old));
    }
    Pattern pattern;
    pattern.signature = signatureIndex;
    pattern.installed = installed;
    int best = -1;
    for (const unsigned width : {4U, 2U, 1U}) {
      for (std::size_t i = 0; i + width <= bytes.size(); ++i) {
        if (bytes[i + width - 1].first - bytes[i].first != width - 1) continue;
        std::uint8_t run[4];
        for (unsigned j = 0; j < width; ++j) run[j] = bytes[i + j].second;
        const int score = AnchorScore(run, width);
        if (score <= best) continue;
        best = score;
        pattern.width = width;
        pattern.anchor = bytes[i].first;
        pattern.key = KeyOf(run, width);
      }
      if (best >= 0) break;
    }
    signature.patterns[signature.patternCount++] = m_patterns.size();
    m_patterns.push_back(pattern);
  }

  [[nodiscard]] bool Holds(const Pattern& pattern, std::int64_t shift) const {
    const Signature& signature = m_signatures[pattern.signature];
    if (signature.start + shift < 0 || signature.end + shift >= std::int64_t{m_image.size}) return false;
    // at[i] is the image's byte where the signature's byte start + i goes.
    const std::uint8_t* at = m_image.data + (signature.start + shift);
    const std::uint32_t start = signature.start;
    const auto [begin, finish] = WritesOf(signature);
    if (!signature.context) {
      for (const PatchWrite* write = begin; write != finish; ++write)
        if (at[write->address - start] != (pattern.installed ? write->value : static_cast<std::uint8_t>(write->old)))
          return false;
      return true;
    }
    const std::uint8_t* original = m_firmware->data + start;
    if (!pattern.installed) return std::memcmp(at, original, std::size_t{signature.end} - start + 1) == 0;
    std::uint32_t from = 0;
    for (const PatchWrite* write = begin; write != finish; ++write) {
      const std::uint32_t offset = write->address - start;
      if (std::memcmp(at + from, original + from, offset - from) != 0) return false;
      if (at[offset] != write->value) return false;
      from = offset + 1;
    }
    return std::memcmp(at + from, original + from, std::size_t{signature.end} - start + 1 - from) == 0;
  }

  void Visit(unsigned width, std::uint32_t key, std::uint64_t position) {
    const std::vector<std::size_t>* bucket = m_index.Find(width, key);
    if (bucket == nullptr) return;
    for (const std::size_t index : *bucket) {
      const Pattern& pattern = m_patterns[index];
      const std::int64_t shift = static_cast<std::int64_t>(position) - pattern.anchor;
      if (!Holds(pattern, shift)) continue;
      Signature& signature = m_signatures[pattern.signature];
      ++signature.places;
      auto& shifts = signature.shifts;
      const std::pair<std::int64_t, bool> found{shift, pattern.installed};
      shifts.insert(std::upper_bound(shifts.begin(), shifts.end(), found), found);
      if (shifts.size() > kShownPlaces) shifts.pop_back();
      if (signature.places == kPlaceCountLimit) m_done.push_back(pattern.signature);
    }
    // A signature found this often is ambiguous already: its anchor is left out
    // of the rest of the pass, which would otherwise verify it all along a fill.
    for (const std::size_t done : m_done) {
      const Signature& signature = m_signatures[done];
      for (std::size_t i = 0; i < signature.patternCount; ++i) {
        Pattern& pattern = m_patterns[signature.patterns[i]];
        if (!pattern.active) continue;
        pattern.active = false;
        m_index.Remove(pattern, signature.patterns[i]);
      }
    }
    m_done.clear();
  }

  bool Search(StopToken stop, const std::function<void(std::uint64_t)>& searched) {
    const std::uint8_t* image = m_image.data;
    const std::uint64_t size = m_image.size;
    for (std::uint64_t from = 0; from < size; from += kSearchStep) {
      if (stop.StopRequested()) return false;
      const std::uint64_t to = std::min(size, from + kSearchStep);
      const std::uint64_t wideEnd = size >= 4 ? std::min(to, size - 3) : 0;
      for (std::uint64_t position = from; position < wideEnd; ++position) {
        std::uint32_t key;
        std::memcpy(&key, image + position, 4);
        if constexpr (std::endian::native == std::endian::big) key = __builtin_bswap32(key);
        if (m_index.Maybe4(key)) Visit(4, key, position);
      }
      if (m_index.Narrow()) {
        for (std::uint64_t position = from; position < to; ++position) {
          if (position + 2 <= size) {
            const std::uint32_t key = image[position] | (std::uint32_t{image[position + 1]} << 8);
            if (m_index.Has2(key)) Visit(2, key, position);
          }
          if (m_index.Has1(image[position])) Visit(1, image[position], position);
        }
      }
      if (searched) searched(to);
    }
    return true;
  }

  // The signature's places decide the piece: the firmware's stretch first,
  // then its bytes at the written addresses where the stretch has no place.
  void Place(PortPiece& piece, const PatchState& state, std::size_t p) {
    if (piece.verdict == PieceVerdict::oldUnknown || piece.verdict == PieceVerdict::tooShort) return;
    const std::size_t context = state.contextSignature[p];
    const std::size_t written = state.writtenSignature[p];
    const Signature* used = nullptr;
    if (context != kNone && m_signatures[context].places > 0) {
      used = &m_signatures[context];
    } else if (written != kNone) {
      used = &m_signatures[written];
      piece.writtenOnly = m_firmware != nullptr;
    }
    if (used == nullptr || used->places == 0) {
      piece.verdict = PieceVerdict::notFound;
      return;
    }
    if (used->places > 1) {
      piece.verdict = PieceVerdict::ambiguous;
      piece.places = used->places;
      for (const auto& [shift, installed] : used->shifts)
        piece.firstPlaces.push_back(static_cast<std::uint32_t>(piece.first + shift));
      return;
    }
    piece.verdict = PieceVerdict::placed;
    piece.shift = used->shifts.front().first;
    piece.installed = used->shifts.front().second;
  }

  void Decide(std::size_t index) {
    PortedPatch& result = m_results[index];
    if (result.cause != PortRefusal::none) return;
    const PatchState& state = m_states[index];
    bool placed = true;
    bool moved = false;
    for (std::size_t p = 0; p < result.pieces.size(); ++p) {
      Place(result.pieces[p], state, p);
      placed = placed && result.pieces[p].verdict == PieceVerdict::placed;
      moved = moved || result.pieces[p].shift != 0;
    }
    if (!placed) {
      result.cause = PortRefusal::pieces;
      return;
    }
    std::vector<PatchWrite> writes;
    writes.reserve(state.writes.size());
    for (std::size_t p = 0; p < state.pieces.size(); ++p)
      for (std::size_t i = state.pieces[p].from; i < state.pieces[p].to; ++i) {
        PatchWrite write = state.writes[i];
        write.address = static_cast<std::uint32_t>(write.address + result.pieces[p].shift);
        writes.push_back(write);
      }
    std::stable_sort(writes.begin(), writes.end(),
                     [](const PatchWrite& a, const PatchWrite& b) { return a.address < b.address; });
    const auto twice = std::adjacent_find(
        writes.begin(), writes.end(), [](const PatchWrite& a, const PatchWrite& b) { return a.address == b.address; });
    if (twice != writes.end()) {
      result.cause = PortRefusal::overlap;
      result.offending = DifferingByte{twice->address, twice->value, m_image.data[twice->address], twice->old};
      return;
    }
    result.status = moved ? PortStatus::ported : PortStatus::fits;
    result.text = ComposeText(index, writes);
  }

  [[nodiscard]] std::string ComposeText(std::size_t index, const std::vector<PatchWrite>& writes) const {
    constexpr char kLineEnd[] = "\r\n";
    std::string header = text::kPortHeaderSource + HeaderPath(m_paths[index]) + kLineEnd;
    header += text::kPortHeaderImage + HeaderPath(m_image.path) + kLineEnd;
    if (m_firmware != nullptr) header += text::kPortHeaderFirmware + HeaderPath(m_firmware->path) + kLineEnd;
    for (const PortPiece& piece : m_results[index].pieces) {
      header += text::kPortHeaderPiece + FormatAddress(piece.first) + "-" + FormatAddress(piece.last) +
                text::kPortHeaderShift + FormatShift(piece.shift);
      if (piece.installed) header += text::kPortHeaderInstalled;
      header += kLineEnd;
    }
    header += kLineEnd;
    std::string out = Utf8ToCp1251(header);
    std::vector<std::uint8_t> before;
    std::vector<std::uint8_t> after;
    for (std::size_t i = 0; i < writes.size();) {
      std::size_t j = i;
      before.clear();
      after.clear();
      do {
        before.push_back(static_cast<std::uint8_t>(writes[j].old));
        after.push_back(writes[j].value);
        ++j;
      } while (j < writes.size() && writes[j].address == writes[j - 1].address + 1);
      AppendDataLine(out, writes[i].address, before.data(), after.data(), before.size());
      i = j;
    }
    return out + kSavedTextEnd;
  }

  const PortImage& m_image;
  const PortImage* m_firmware;
  const std::vector<PatchWrites>& m_patches;
  const std::vector<std::string>& m_paths;
  std::vector<PortedPatch> m_results;
  std::vector<PatchState> m_states;
  std::vector<Signature> m_signatures;
  std::vector<Pattern> m_patterns;
  std::vector<std::size_t> m_done;
  AnchorIndex m_index;
};

}  // namespace

std::string FormatShift(std::int64_t shift) {
  if (shift == 0) return "0";
  const std::uint64_t magnitude = shift < 0 ? 0 - static_cast<std::uint64_t>(shift) : static_cast<std::uint64_t>(shift);
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::string digits;
  for (std::uint64_t rest = magnitude; rest != 0; rest >>= 4) digits.insert(digits.begin(), kDigits[rest & 0xF]);
  return (shift < 0 ? "-0x" : "+0x") + digits;
}

std::size_t PortOutcome::RefusedCount() const {
  return static_cast<std::size_t>(std::count_if(
      patches.begin(), patches.end(), [](const PortedPatch& patch) { return patch.status == PortStatus::refused; }));
}

PatchWrites ReadPortWrites(const std::string& path) {
  return ReadPatchWritesFile(path, std::numeric_limits<std::uint32_t>::max(), AddressFilter{}, SIZE_MAX);
}

std::vector<PortedPatch> PortWrites(const PortImage& image, const PortImage* firmware,
                                    const std::vector<PatchWrites>& patches, const std::vector<std::string>& patchPaths,
                                    StopToken stop, const std::function<void(std::uint64_t)>& searched) {
  return Porter(image, firmware, patches, patchPaths).Run(stop, searched);
}

PortOutcome PortPatches(const PortJob& job, const PortEvents& events, StopToken stop) {
  PortOutcome outcome;
  const auto fail = [&outcome](JobCause cause, const std::string& path, int error) {
    outcome.cause = cause;
    outcome.path = path;
    outcome.systemError = error;
    return outcome;
  };
  try {
    const auto read = [&](const std::string& path, ImageRead& into) {
      into = ReadImageFile(path);
      const auto failure = ImageReadFailure(into, path);
      if (failure) fail(failure->cause, failure->path, failure->systemError);
      return !failure;
    };
    ImageRead image;
    ImageRead firmware;
    if (!read(job.imagePath, image)) return outcome;
    const bool withFirmware = !job.firmwarePath.empty();
    if (withFirmware && !read(job.firmwarePath, firmware)) return outcome;
    const std::uint64_t searchSteps = (image.data.size() + kSearchStep - 1) / kSearchStep;
    const std::uint64_t total = job.patchPaths.size() + searchSteps;
    std::vector<PatchWrites> patches;
    patches.reserve(job.patchPaths.size());
    for (const std::string& path : job.patchPaths) {
      if (stop.StopRequested()) return fail(JobCause::stopped, {}, 0);
      try {
        patches.push_back(ReadPortWrites(path));
      } catch (const FileError& error) {
        return fail(JobCause::patchFile, path, error.OsError());
      }
      if (events.progress) events.progress(patches.size(), total);
    }
    const PortImage target{image.data.data(), static_cast<std::uint32_t>(image.data.size()), job.imagePath};
    const PortImage original{firmware.data.data(), static_cast<std::uint32_t>(firmware.data.size()), job.firmwarePath};
    const std::size_t readSteps = patches.size();
    std::vector<PortedPatch> results =
        PortWrites(target, withFirmware ? &original : nullptr, patches, job.patchPaths, stop, [&](std::uint64_t done) {
          if (events.progress) events.progress(readSteps + (done + kSearchStep - 1) / kSearchStep, total);
        });
    if (stop.StopRequested()) return fail(JobCause::stopped, {}, 0);
    if (events.patchPorted)
      for (std::size_t i = 0; i < results.size(); ++i) events.patchPorted(i, results[i]);
    outcome.patches = std::move(results);
  } catch (const std::bad_alloc&) {
    return fail(JobCause::outOfMemory, {}, 0);
  }
  return outcome;
}

}  // namespace quillet
