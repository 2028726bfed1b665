#include "core/install/install_rules.h"

#include <algorithm>
#include <queue>

#include "core/platform/file_reader.h"
#include "core/vkp/vkp_reader.h"
#include "core/vkp/vkp_text.h"

namespace quillet {

namespace {

// One write per address, the last one read: what a copy of the image would
// hold after the check wrote the patch into it.
void KeepLastWrites(std::vector<PatchWrite>& writes) {
  const auto byAddress = [](const PatchWrite& a, const PatchWrite& b) { return a.address < b.address; };
  if (std::adjacent_find(writes.begin(), writes.end(), [](const PatchWrite& a, const PatchWrite& b) {
        return a.address >= b.address;
      }) == writes.end())
    return;  // the usual patch: strictly increasing addresses
  std::stable_sort(writes.begin(), writes.end(), byAddress);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < writes.size(); ++i) {
    if (i + 1 < writes.size() && writes[i + 1].address == writes[i].address) continue;
    writes[kept++] = writes[i];
  }
  writes.resize(kept);
}

// Keeps the writes the check would compare, with their old bytes, in reading
// order; a repeated address is settled once the file has been read, or
// whenever the writes outgrow their room, since room is counted in
// addresses: a patch that writes one address a million times writes one byte.
class WriteCollector {
 public:
  WriteCollector(std::uint32_t size, const AddressFilter& filter, std::size_t room, std::vector<PatchWrite>& kept)
      : m_size(size),
        m_filtering(!filter.Stretches().empty()),
        m_filter(filter),
        m_room(room),
        m_settleAt(room + room / 2 + 1),
        m_kept(kept) {}

  // The check's rule: inside the image and outside the filter, and the filter
  // is not asked about addresses beyond the image.
  bool Accepts(std::uint32_t address) {
    if (address >= m_size) return false;
    if (m_filtering && m_filter.IsAddressFiltered(address)) {
      ++m_filtered;
      return false;
    }
    return true;
  }
  void Write(std::uint32_t address, std::uint8_t value) { WriteOld(address, value, -1); }
  void WriteOld(std::uint32_t address, std::uint8_t value, int old) {
    if (m_tooLarge) return;
    if (m_kept.size() >= m_settleAt) Settle();
    if (m_tooLarge) return;
    m_kept.push_back({address, value, static_cast<std::int16_t>(old)});
  }
  void BeginOldLine() { m_lineFrom = m_kept.size(); }
  void EndOldLine(bool usable) {
    if (usable) return;
    for (std::size_t i = m_lineFrom; i < m_kept.size(); ++i) m_kept[i].old = -1;
  }
  // After the last write: more addresses than room is too large.
  void Finish() {
    if (!m_tooLarge) KeepLastWrites(m_kept);
    if (m_kept.size() > m_room) GiveUp();
  }
  [[nodiscard]] bool TooLarge() const { return m_tooLarge; }
  [[nodiscard]] std::uint64_t Filtered() const { return m_filtered; }

 private:
  // The lines read whole are settled; the line being read stays in reading
  // order behind them, since its old field is judged at its end.
  void Settle() {
    std::vector<PatchWrite> line(m_kept.begin() + static_cast<std::ptrdiff_t>(m_lineFrom), m_kept.end());
    m_kept.resize(m_lineFrom);
    KeepLastWrites(m_kept);
    m_lineFrom = m_kept.size();
    m_kept.insert(m_kept.end(), line.begin(), line.end());
    if (m_kept.size() <= m_room) return;
    // Only where the line itself is that long can its addresses be the ones
    // that tip it: count them exactly.
    std::vector<std::uint32_t> addresses;
    addresses.reserve(m_kept.size());
    for (const PatchWrite& write : m_kept) addresses.push_back(write.address);
    std::sort(addresses.begin(), addresses.end());
    if (static_cast<std::size_t>(std::unique(addresses.begin(), addresses.end()) - addresses.begin()) > m_room)
      GiveUp();
  }
  void GiveUp() {
    // Reading goes on to its end all the same: a broken file is reported as broken.
    m_tooLarge = true;
    std::vector<PatchWrite>().swap(m_kept);
  }

  std::uint32_t m_size;
  bool m_filtering;
  FilterCursor m_filter;
  std::size_t m_room;
  std::size_t m_settleAt;
  std::vector<PatchWrite>& m_kept;
  std::size_t m_lineFrom = 0;
  std::uint64_t m_filtered = 0;
  bool m_tooLarge = false;
};

template <class Source>
PatchWrites ReadWrites(Source& source, std::uint32_t size, const AddressFilter& filter, std::size_t room) {
  PatchWrites patch;
  patch.undoPatch = IsUndoPatchText(source.ReadAt(0, kUndoMarkLookahead));
  static const AddressFilter kNone;
  WriteCollector collector(size, patch.undoPatch ? kNone : filter, room, patch.writes);
  patch.read = ReadVkp(source, collector, true);
  if (patch.read.Ok()) collector.Finish();
  patch.tooLarge = collector.TooLarge();
  patch.filtered = collector.Filtered();
  if (!patch.read.Ok()) {
    patch.writes.clear();
    // The line as read, without its line end, as the check's details show it.
    std::string& text = patch.lineText;
    while (text.size() < CheckDetails::kLineTextLimit) {
      const std::string_view more =
          source.ReadAt(patch.read.lineStart + text.size(), CheckDetails::kLineTextLimit - text.size());
      if (more.empty()) break;
      const std::size_t end = more.find_first_of("\n\x1A");
      text += more.substr(0, end);
      if (end != std::string_view::npos) break;
    }
    if (text.ends_with('\r') && text.size() < CheckDetails::kLineTextLimit) text.pop_back();
    return patch;
  }
  patch.writes.shrink_to_fit();
  return patch;
}

bool Installs(InstallStatus status) { return status == InstallStatus::applied || status == InstallStatus::reverted; }

// The value a write puts in place: its new byte installing, its old one
// reverting (known for every patch that is not refused).
std::uint8_t Target(InstallMode mode, const PatchWrite& write) {
  return mode == InstallMode::install ? write.value : static_cast<std::uint8_t>(write.old);
}

void Decide(const std::uint8_t* image, InstallMode mode, bool force, const PatchWrites& patch,
            PatchDecision& decision) {
  decision.filtered = patch.filtered;
  decision.undoPatch = patch.undoPatch;
  if (!patch.read.Ok()) {
    decision.cause = RefusalCause::broken;
    decision.line = patch.read.line;
    decision.rule = patch.read.error;
    decision.lineText = patch.lineText;
    return;
  }
  if (patch.tooLarge) {
    decision.cause = RefusalCause::tooLarge;
    return;
  }
  std::optional<DifferingByte> foreign;
  std::optional<DifferingByte> unknown;
  std::uint64_t toWrite = 0;
  for (const PatchWrite& write : patch.writes) {
    const std::uint8_t found = image[write.address];
    const DifferingByte byte{write.address, write.value, found, write.old};
    if (mode == InstallMode::install) {
      if (found == write.value) continue;
      ++toWrite;
      if (write.old < 0) {
        if (!unknown) unknown = byte;
      } else if (found != write.old && !foreign) {
        foreign = byte;
      }
    } else {
      if (write.old < 0) {
        if (!unknown) unknown = byte;
        continue;
      }
      if (found == write.old) continue;
      ++toWrite;
      if (found != write.value && !foreign) foreign = byte;
    }
  }
  decision.bytesToWrite = toWrite;
  if (mode == InstallMode::revert && unknown) {
    // Without the old byte there is nothing to put back, forced or not.
    decision.cause = RefusalCause::oldUnknown;
    decision.offending = unknown;
    return;
  }
  // As the check judges: a foreign byte says more than an unknown one.
  const std::optional<DifferingByte>& offending = foreign ? foreign : unknown;
  if (offending) {
    decision.offending = offending;
    if (!force) {
      decision.cause = foreign ? RefusalCause::otherFirmware : RefusalCause::oldUnknown;
      return;
    }
    decision.forced = true;
  }
  if (mode == InstallMode::install)
    decision.status = toWrite ? InstallStatus::applied : InstallStatus::alreadyInstalled;
  else
    decision.status = toWrite ? InstallStatus::reverted : InstallStatus::alreadyReverted;
}

struct Member {
  std::size_t patch;
  const PatchWrite* write;
};

// Walks the chosen patches' writes together, address by address in increasing
// order; at each address visit sees every patch that writes there, in list
// order. A merge of the sorted lists, so it needs no room beyond one cursor
// per patch; a patch's stretch that no other reaches is walked without the
// heap, and patches seldom overlap much.
template <class Visit>
void ForEachAddress(const std::vector<PatchWrites>& patches, const std::vector<std::size_t>& chosen, Visit visit) {
  struct Cursor {
    std::uint32_t address;
    std::size_t patch;
    std::size_t next;
  };
  const auto later = [](const Cursor& a, const Cursor& b) {
    return a.address != b.address ? a.address > b.address : a.patch > b.patch;
  };
  std::priority_queue<Cursor, std::vector<Cursor>, decltype(later)> heads(later);
  for (const std::size_t patch : chosen)
    if (!patches[patch].writes.empty()) heads.push({patches[patch].writes.front().address, patch, 0});
  std::vector<Member> members;
  const auto advance = [&](Cursor cursor) {
    const std::vector<PatchWrite>& writes = patches[cursor.patch].writes;
    if (++cursor.next == writes.size()) return;
    cursor.address = writes[cursor.next].address;
    heads.push(cursor);
  };
  while (!heads.empty()) {
    Cursor cursor = heads.top();
    heads.pop();
    const std::vector<PatchWrite>& writes = patches[cursor.patch].writes;
    if (heads.empty() || heads.top().address > cursor.address) {
      // Alone up to the next patch's first address.
      const std::uint64_t limit = heads.empty() ? std::uint64_t{1} << 32 : heads.top().address;
      for (; cursor.next < writes.size() && writes[cursor.next].address < limit; ++cursor.next) {
        members.assign(1, {cursor.patch, &writes[cursor.next]});
        visit(writes[cursor.next].address, members);
      }
      if (cursor.next < writes.size()) {
        cursor.address = writes[cursor.next].address;
        heads.push(cursor);
      }
      continue;
    }
    const std::uint32_t address = cursor.address;
    members.assign(1, {cursor.patch, &writes[cursor.next]});
    advance(cursor);
    while (!heads.empty() && heads.top().address == address) {
      const Cursor same = heads.top();
      heads.pop();
      members.push_back({same.patch, &patches[same.patch].writes[same.next]});
      advance(same);
    }
    visit(address, members);
  }
}

void FindCollisions(InstallMode mode, const std::vector<PatchWrites>& patches, std::vector<PatchDecision>& decisions) {
  std::vector<std::size_t> chosen;
  for (std::size_t i = 0; i < decisions.size(); ++i)
    if (decisions[i].status != InstallStatus::refused) chosen.push_back(i);
  std::vector<bool> collided(decisions.size(), false);
  ForEachAddress(patches, chosen, [&](std::uint32_t address, const std::vector<Member>& members) {
    if (members.size() < 2) return;
    for (const Member& own : members) {
      if (collided[own.patch]) continue;  // its lowest colliding address is known
      for (const Member& other : members) {
        if (Target(mode, *other.write) == Target(mode, *own.write)) continue;
        PatchDecision& decision = decisions[own.patch];
        collided[own.patch] = true;
        decision.otherPatch = other.patch;
        decision.collisionAddress = address;
        decision.ownValue = Target(mode, *own.write);
        decision.otherValue = Target(mode, *other.write);
        break;
      }
    }
  });
  for (std::size_t i = 0; i < decisions.size(); ++i) {
    if (!collided[i]) continue;
    decisions[i].status = InstallStatus::refused;
    decisions[i].cause = RefusalCause::collision;
  }
}

}  // namespace

PatchWrites ReadPatchWritesText(std::string_view text, std::uint32_t size, const AddressFilter& filter,
                                std::size_t room) {
  VkpMemorySource source(text);
  return ReadWrites(source, size, filter, room);
}

PatchWrites ReadPatchWritesFile(const std::string& path, std::uint32_t size, const AddressFilter& filter,
                                std::size_t room) {
  FileReader file(path);
  return ReadWrites(file, size, filter, room);
}

bool InstallPlan::Refused() const {
  return std::any_of(patches.begin(), patches.end(),
                     [](const PatchDecision& decision) { return decision.status == InstallStatus::refused; });
}

InstallPlan PlanInstall(const std::uint8_t* image, std::uint32_t size, InstallMode mode, bool force,
                        const std::vector<PatchWrites>& patches) {
  InstallPlan plan;
  plan.patches.resize(patches.size());
  for (std::size_t i = 0; i < patches.size(); ++i) {
    // Addresses come from a reading against this size; anything else is a caller's mistake.
    if (!patches[i].writes.empty() && patches[i].writes.back().address >= size) {
      plan.patches[i].cause = RefusalCause::tooLarge;
      continue;
    }
    Decide(image, mode, force, patches[i], plan.patches[i]);
  }
  FindCollisions(mode, patches, plan.patches);
  if (plan.Refused()) return plan;
  std::vector<std::size_t> writing;
  for (std::size_t i = 0; i < patches.size(); ++i)
    if (Installs(plan.patches[i].status)) writing.push_back(i);
  // The patches agree wherever two of them write: the first one speaks for all.
  ForEachAddress(patches, writing, [&](std::uint32_t address, const std::vector<Member>& members) {
    const std::uint8_t after = Target(mode, *members.front().write);
    if (image[address] != after) plan.changes.push_back({address, image[address], after});
  });
  return plan;
}

bool HoldsPlan(const std::uint8_t* image, std::uint32_t size, InstallMode mode, const std::vector<PatchWrites>& patches,
               const InstallPlan& plan) {
  if (plan.patches.size() != patches.size()) return false;
  for (std::size_t i = 0; i < patches.size(); ++i) {
    if (plan.patches[i].status == InstallStatus::refused) return false;
    for (const PatchWrite& write : patches[i].writes)
      if (write.address >= size || (mode == InstallMode::revert && write.old < 0) ||
          image[write.address] != Target(mode, write))
        return false;
  }
  return true;
}

void ApplyChanges(std::uint8_t* image, const std::vector<ByteChange>& changes) {
  for (const ByteChange& change : changes) image[change.address] = change.after;
}

void AppendChangeLines(std::string& text, const ByteChange* changes, std::size_t total) {
  // The walk's lines: a run of consecutive differing bytes, cut where a
  // 16-byte group ends. Bytes that did not change are equal in both images,
  // so they end a run just as they do there.
  std::uint8_t before[16];
  std::uint8_t after[16];
  std::size_t i = 0;
  while (i < total) {
    const std::uint32_t start = changes[i].address;
    std::size_t count = 0;
    do {
      before[count] = changes[i].before;
      after[count] = changes[i].after;
      ++count;
      ++i;
    } while (i < total && changes[i].address == start + count && (changes[i].address & 15u) != 0);
    AppendDataLine(text, start, before, after, count);
  }
}

}  // namespace quillet
