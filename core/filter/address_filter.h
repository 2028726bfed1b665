#pragma once
#include <cstdint>
#include <vector>

// One filtered range of image addresses, both ends inclusive. Its "length" in
// the program's texts is end - start (not + 1); start <= end in every range the
// loader produces.
struct AddressRange {
  std::uint32_t start = 0;
  std::uint32_t end = 0;
};

// The process-wide filter, in the order of the settings file. Only
// LoadAddressFilter changes it, and never while a comparison worker runs.
extern std::vector<AddressRange> g_addrFilter;

// True if the address lies in some range of g_addrFilter. A plain walk that
// stops at the first hit: overlapping and duplicate ranges are kept as loaded.
[[nodiscard]] bool IsAddressFiltered(std::uint32_t address);
