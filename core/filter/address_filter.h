#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace quillet {

// One filtered range of image addresses, both ends inclusive. Its "length" in
// the program's texts is end - start (not + 1); start <= end in every range the
// loader produces.
struct AddressRange {
  std::uint32_t start = 0;
  std::uint32_t end = 0;
};

// The address filter as a value: the ranges in the order of the settings file
// (the filter dialog shows them so), and beside them the same addresses as
// sorted, disjoint stretches, so that asking about an address (through a
// FilterCursor) costs a lookup however many ranges there are. Overlapping and
// duplicate ranges are kept as loaded; they answer as their union.
//
// The lookup goes through a coarse index: the address space up to the last
// stretch cut into about twice as many equal buckets as there are stretches,
// each naming the first stretch that ends in it or after. An address then
// looks among the few stretches that end inside its bucket, instead of a
// binary search over all of them, which a check pays once per data line.
class AddressFilter {
 public:
  AddressFilter() = default;
  AddressFilter(std::vector<AddressRange> ranges);  // NOLINT(google-explicit-constructor): a filter is its ranges
  AddressFilter(std::initializer_list<AddressRange> ranges) : AddressFilter(std::vector<AddressRange>(ranges)) {}

  [[nodiscard]] const std::vector<AddressRange>& Ranges() const { return m_ranges; }
  [[nodiscard]] bool empty() const { return m_ranges.empty(); }
  [[nodiscard]] std::size_t size() const { return m_ranges.size(); }
  [[nodiscard]] const AddressRange& operator[](std::size_t i) const { return m_ranges[i]; }
  void clear() { *this = AddressFilter(); }

  // The sorted, disjoint stretches the ranges cover.
  [[nodiscard]] const std::vector<AddressRange>& Stretches() const { return m_stretches; }

  // Index of the first stretch that ends at or after address (the count of
  // stretches when none does).
  [[nodiscard]] std::size_t FirstEndingFrom(std::uint32_t address) const;

 private:
  void BuildIndex();

  std::vector<AddressRange> m_ranges;
  std::vector<AddressRange> m_stretches;
  // m_firstInBucket[b]: the first stretch ending at or after b << m_bucketShift;
  // one more entry than there are buckets, the count of stretches.
  std::vector<std::uint32_t> m_firstInBucket;
  unsigned m_bucketShift = 0;
};

// Answers for addresses asked mostly in increasing order (the comparison's
// walk, a patch's data lines) in constant time: it remembers the stretch it
// stood at and only moves on from there; a step back costs one lookup.
class FilterCursor {
 public:
  explicit FilterCursor(const AddressFilter& filter) : m_filter(&filter) { (void)Look(0); }
  // True if the address lies in some range of the filter. The stretch or gap
  // of the last lookup answers the addresses after it on a data line without
  // a lookup: a patch asks about every byte it writes.
  [[nodiscard]] bool IsAddressFiltered(std::uint32_t address) {
    if (address - m_knownFrom <= m_knownSpan) return m_knownFiltered;
    return Look(address);
  }

 private:
  bool Look(std::uint32_t address);
  const AddressFilter* m_filter;
  std::size_t m_at = 0;  // first stretch whose end is not below the last address looked up
  // [m_knownFrom, m_knownFrom + m_knownSpan] all answer m_knownFiltered.
  std::uint32_t m_knownFrom = 0;
  std::uint32_t m_knownSpan = 0;
  bool m_knownFiltered = false;
};

}  // namespace quillet
