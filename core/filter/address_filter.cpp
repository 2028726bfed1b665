#include "core/filter/address_filter.h"

std::vector<AddressRange> g_addrFilter;

bool IsAddressFiltered(std::uint32_t address) {
  for (const AddressRange& range : g_addrFilter)
    if (address >= range.start && address <= range.end) return true;
  return false;
}
