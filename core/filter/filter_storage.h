#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/filter/address_filter.h"

namespace quillet {

inline constexpr char kFilterSection[] = "Address Filter";

// One value of the section, by the reading rules: leading white space dropped,
// two words split at spaces only, each IsHexString (empty counts as 0), the
// smaller number becomes the start. Nothing when a word is not hexadecimal.
[[nodiscard]] std::optional<AddressRange> ParseFilterValue(std::string_view value);

// Loads the ranges of the section into a list: keys "0", "1", ... up to the first
// absent or blank one; malformed entries are skipped; a value is seen only up to
// its first 259 characters. A missing file holds no ranges; one that exists but
// can't be read throws FileError.
[[nodiscard]] std::vector<AddressRange> ReadAddressFilter(const std::string& settingsPath);

// One row of the filter dialog as its texts show it ("%06lX" each).
struct FilterRowText {
  std::string start;
  std::string end;
};

// Writes the rows as keys 0..n-1 ("start end"), then deletes the keys an earlier,
// longer list left behind, up to the first absent or blank one. Everything else
// in the file stays as it was. The file is written once, whole: false when it
// can't be read or written (or a row's text holds a line break), and then it is
// exactly as it was, so the caller can tell the user the filter was not saved.
bool WriteAddressFilter(const std::string& settingsPath, const std::vector<FilterRowText>& rows);

// Replaces filter with the ranges stored in the settings file (none when there
// is no file). False when the file exists but can't be read: filter is then
// left as it was rather than silently emptied.
[[nodiscard]] bool LoadAddressFilter(const std::string& settingsPath, AddressFilter& filter);

}  // namespace quillet
