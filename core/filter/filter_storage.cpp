#include "core/filter/filter_storage.h"

#include <algorithm>
#include <utility>

#include "core/platform/file_error.h"
#include "core/platform/profile.h"
#include "core/vkp/hex_string.h"

namespace quillet {

namespace {

constexpr std::string_view kLeadingWhiteSpace = " \t\r\n\v\f";

std::string_view DropLeadingWhiteSpace(std::string_view value) {
  const std::size_t first = value.find_first_not_of(kLeadingWhiteSpace);
  return first == std::string_view::npos ? std::string_view() : value.substr(first);
}

// Key n of the section as the loader sees it: cut to the read buffer, leading
// white space dropped; "" for an absent key.
std::string ReadEntry(const ProfileDocument& document, std::size_t n) {
  std::string value = document.Get(kFilterSection, std::to_string(n)).value_or("");
  if (value.size() > kProfileValueChars) value.resize(kProfileValueChars);
  return std::string(DropLeadingWhiteSpace(value));
}

// The number a key names when it is one the loader asks for: it asks for
// std::to_string(n), so "07", "+7" and "7a" name none.
std::optional<std::size_t> KeyNumber(std::string_view key) {
  if (key.empty() || key.size() > 9 || (key.size() > 1 && key.front() == '0')) return std::nullopt;
  std::size_t n = 0;
  for (const char c : key) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<std::size_t>(c - '0');
  }
  return n;
}

// Key by key from 0 up to the first missing or empty one, as ReadEntry reads
// them, but in one pass over the section: key n is only reached when keys 0
// to n - 1 all hold a value, so no key beyond the count of key lines counts.
std::vector<AddressRange> RangesOf(const ProfileDocument& document) {
  std::vector<std::pair<std::size_t, std::string_view>> numbered;
  std::size_t keyLines = 0;
  document.ForEachKey(kFilterSection, [&](std::string_view key, std::string_view value) {
    ++keyLines;
    if (const auto n = KeyNumber(key)) numbered.emplace_back(*n, value);
  });
  std::vector<std::optional<std::string_view>> values(keyLines);
  for (const auto& [n, value] : numbered)
    if (n < values.size() && !values[n]) values[n] = value;  // the first of equal keys wins
  std::vector<AddressRange> ranges;
  for (const auto& value : values) {
    if (!value) break;
    const std::string_view entry = DropLeadingWhiteSpace(value->substr(0, kProfileValueChars));
    if (entry.empty()) break;
    if (const auto range = ParseFilterValue(entry)) ranges.push_back(*range);
  }
  return ranges;
}

}  // namespace

std::optional<AddressRange> ParseFilterValue(std::string_view value) {
  value = DropLeadingWhiteSpace(value);
  if (value.empty()) return std::nullopt;
  // Only the space separates the words: "1000\t2000" is one word, and not hex.
  const std::size_t firstEnd = std::min(value.find(' '), value.size());
  const std::string_view first = value.substr(0, firstEnd);
  std::string_view rest = value.substr(firstEnd);
  rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
  const std::string_view second = rest.substr(0, std::min(rest.find(' '), rest.size()));
  if (!IsHexString(first) || !IsHexString(second)) return std::nullopt;
  std::uint32_t start = HexStringToInt(first);
  std::uint32_t end = HexStringToInt(second);
  if (start > end) std::swap(start, end);
  return AddressRange{start, end};
}

std::vector<AddressRange> ReadAddressFilter(const std::string& settingsPath) {
  return RangesOf(ProfileDocument::Load(settingsPath));
}

bool WriteAddressFilter(const std::string& settingsPath, const std::vector<FilterRowText>& rows) {
  try {
    ProfileDocument document = ProfileDocument::Load(settingsPath);
    // A second line of the same key is never read, but it would come to light
    // once the first is gone: a deleted range must not come back that way.
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const std::string key = std::to_string(i);
      if (!document.Set(kFilterSection, key, rows[i].start + " " + rows[i].end)) return false;
      document.RemoveDuplicates(kFilterSection, key);
    }
    // Keys past a gap are never read, so the clean-up stops at the first one
    // and leaves whatever follows it as the user wrote it.
    for (std::size_t k = rows.size(); !ReadEntry(document, k).empty(); ++k) {
      const std::string key = std::to_string(k);
      document.RemoveDuplicates(kFilterSection, key);
      document.Remove(kFilterSection, key);
    }
    if (document.Modified()) document.Save(settingsPath);
    return true;
  } catch (const FileError&) {
    return false;
  }
}

bool LoadAddressFilter(const std::string& settingsPath, AddressFilter& filter) {
  try {
    filter = quillet::ReadAddressFilter(settingsPath);
    return true;
  } catch (const quillet::FileError&) {
    return false;
  }
}

}  // namespace quillet
