#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "filter/address_filter.h"

namespace quillet {

inline constexpr char kFilterSection[] = "Address Filter";

// One value of the section, by the reading rules: leading white space dropped,
// two words split at spaces only, each IsHexString (empty counts as 0), the
// smaller number becomes the start. Nothing when a word is not hexadecimal.
[[nodiscard]] std::optional<AddressRange> ParseFilterValue(std::string_view value);

// Loads the ranges of the section into a list: keys "0", "1", ... up to the first
// absent or blank one; malformed entries are skipped.
[[nodiscard]] std::vector<AddressRange> ReadAddressFilter(const std::string& settingsPath);

// One row of the filter dialog as its texts show it ("%06lX" each).
struct FilterRowText {
  std::string start;
  std::string end;
};

// Writes the rows as keys 0..n-1 ("start end"), then deletes the keys an earlier,
// longer list left behind, up to the first absent or blank one.
void WriteAddressFilter(const std::string& settingsPath, const std::vector<FilterRowText>& rows);

}  // namespace quillet

// Replaces g_addrFilter with the ranges stored in the settings file.
void LoadAddressFilter(const std::string& settingsPath);
