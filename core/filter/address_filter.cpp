#include "core/filter/address_filter.h"

#include <algorithm>

namespace quillet {

namespace {

// Index of the first of count stretches from base on that ends at or after
// address (count when none does). Without branches on the data: a patch's
// lines come in no order, so each step of an ordinary binary search would be
// a guess, wrong half the time.
std::size_t FirstEndingIn(const AddressRange* base, std::size_t count, std::uint32_t address) {
  if (count == 0) return 0;
  const AddressRange* const first = base;
  while (count > 1) {
    const std::size_t half = count / 2;
    base = base[half].end < address ? base + half : base;
    count -= half;
  }
  return static_cast<std::size_t>(base - first) + (base->end < address ? 1 : 0);
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
  BuildIndex();
}

void AddressFilter::BuildIndex() {
  if (m_stretches.empty()) return;
  // About two buckets a stretch, so that a bucket holds the ends of few: the
  // index is at most twice the stretches' count in entries.
  const std::uint64_t last = m_stretches.back().end;
  const std::uint64_t wanted = 2 * static_cast<std::uint64_t>(m_stretches.size());
  while ((last >> m_bucketShift) + 1 > wanted) ++m_bucketShift;
  const std::uint64_t buckets = (last >> m_bucketShift) + 1;
  m_firstInBucket.resize(buckets + 1);
  std::size_t at = 0;
  for (std::uint64_t bucket = 0; bucket < buckets; ++bucket) {
    const std::uint64_t from = bucket << m_bucketShift;
    while (at < m_stretches.size() && m_stretches[at].end < from) ++at;
    m_firstInBucket[bucket] = static_cast<std::uint32_t>(at);
  }
  m_firstInBucket[buckets] = static_cast<std::uint32_t>(m_stretches.size());
}

std::size_t AddressFilter::FirstEndingFrom(std::uint32_t address) const {
  const std::size_t bucket = address >> m_bucketShift;
  // Past the last bucket every stretch ends before the address.
  if (bucket + 1 >= m_firstInBucket.size()) return m_stretches.size();
  // The answer lies between this bucket's first and the next one's: the
  // stretches before the next one's first all end inside this bucket or before.
  const std::size_t from = m_firstInBucket[bucket];
  return from + FirstEndingIn(m_stretches.data() + from, m_firstInBucket[bucket + 1] - from, address);
}

bool FilterCursor::Look(std::uint32_t address) {
  const std::vector<AddressRange>& stretches = m_filter->Stretches();
  if (m_at > 0 && address <= stretches[m_at - 1].end) {
    m_at = m_filter->FirstEndingFrom(address);  // a step back
  } else if (m_at < stretches.size() && stretches[m_at].end < address) {
    // Mostly the next stretch; a jump further on is looked up.
    ++m_at;
    if (m_at < stretches.size() && stretches[m_at].end < address) m_at = m_filter->FirstEndingFrom(address);
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
