#include "core/filter/address_filter.h"

#include <algorithm>

namespace {

// Index of the first stretch from `from` on that ends at or after address.
// Without branches on the data: a patch's lines come in no order, so each
// step of an ordinary binary search would be a guess, wrong half the time.
std::size_t FirstEndingFrom(const std::vector<AddressRange>& stretches, std::uint32_t address, std::size_t from = 0) {
  std::size_t count = stretches.size() - from;
  if (count == 0) return from;
  const AddressRange* base = stretches.data() + from;
  while (count > 1) {
    const std::size_t half = count / 2;
    base = base[half].end < address ? base + half : base;
    count -= half;
  }
  return static_cast<std::size_t>(base - stretches.data()) + (base->end < address ? 1 : 0);
}

}  // namespace

AddressFilter::AddressFilter(std::vector<AddressRange> ranges) : m_ranges(std::move(ranges)) {
  m_stretches.reserve(m_ranges.size());
  for (AddressRange range : m_ranges) {
    // Hand-built filters may hold a reversed range; the loader never makes one.
    if (range.start > range.end) std::swap(range.start, range.end);
    m_stretches.push_back(range);
  }
  std::sort(m_stretches.begin(), m_stretches.end(),
            [](const AddressRange& a, const AddressRange& b) { return a.start < b.start; });
  std::size_t kept = 0;
  for (const AddressRange& range : m_stretches) {
    // Touching stretches merge too; the end + 1 test avoids wrapping at 2^32 - 1.
    if (kept != 0 && (range.start <= m_stretches[kept - 1].end || range.start - 1 == m_stretches[kept - 1].end)) {
      m_stretches[kept - 1].end = std::max(m_stretches[kept - 1].end, range.end);
    } else {
      m_stretches[kept++] = range;
    }
  }
  m_stretches.resize(kept);
}

namespace quillet {

bool FilterCursor::Look(std::uint32_t address) {
  const std::vector<AddressRange>& stretches = *m_stretches;
  if (m_at > 0 && address <= stretches[m_at - 1].end) {
    m_at = FirstEndingFrom(stretches, address);  // a step back
  } else if (m_at < stretches.size() && stretches[m_at].end < address) {
    // Mostly the next stretch; a jump further on is looked up.
    ++m_at;
    if (m_at < stretches.size() && stretches[m_at].end < address) m_at = FirstEndingFrom(stretches, address, m_at);
  }
  m_knownFiltered = m_at < stretches.size() && stretches[m_at].start <= address;
  if (m_knownFiltered) {
    m_knownFrom = stretches[m_at].start;
    m_knownSpan = stretches[m_at].end - stretches[m_at].start;
  } else {
    // The gap before stretch m_at: stretches are disjoint and never touch.
    m_knownFrom = m_at > 0 ? stretches[m_at - 1].end + 1 : 0;
    const std::uint32_t last = m_at < stretches.size() ? stretches[m_at].start - 1 : UINT32_MAX;
    m_knownSpan = last - m_knownFrom;
  }
  return m_knownFiltered;
}

}  // namespace quillet
