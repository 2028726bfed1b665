// Any settings file must load without a fault, and whatever loads must survive
// a save: writing the loaded ranges back and loading again gives the same list,
// and no other section of the file changes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/filter/address_filter.h"
#include "core/filter/filter_storage.h"
#include "core/platform/atomic_writer.h"

#include "core/platform/profile.h"
#include "core/vkp/hex_string.h"

using quillet::AddressFilter;
using quillet::AddressRange;
using quillet::LoadAddressFilter;

namespace {

const std::string& SettingsPath() {
  static const std::string path = [] {
    // Memory-backed when it can be: every run writes the file twice.
    std::string folder = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = folder + "/quillet-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    static std::string folderToRemove = pattern;
    std::atexit([] { std::filesystem::remove_all(folderToRemove); });
    return pattern + "/quillet.INI";
  }();
  return path;
}

bool SameRanges(const std::vector<AddressRange>& a, const std::vector<AddressRange>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].start != b[i].start || a[i].end != b[i].end) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  if (const auto range = quillet::ParseFilterValue(input); range && range->start > range->end) std::abort();

  const std::string& path = SettingsPath();
  quillet::WriteFileAtomically(path, input);
  AddressFilter filter;
  if (!LoadAddressFilter(path, filter)) std::abort();
  const std::vector<AddressRange> loaded = filter.Ranges();

  const std::string other = quillet::ProfileDocument::Load(path).Get("Other", "key").value_or("<none>");

  std::vector<quillet::FilterRowText> rows;
  for (const AddressRange& range : loaded) {
    if (range.start > range.end) std::abort();
    rows.push_back({quillet::FormatAddress(range.start), quillet::FormatAddress(range.end)});
  }
  if (!quillet::WriteAddressFilter(path, rows)) std::abort();
  if (!LoadAddressFilter(path, filter) || !SameRanges(filter.Ranges(), loaded)) std::abort();
  if (quillet::ProfileDocument::Load(path).Get("Other", "key").value_or("<none>") != other) std::abort();
  return 0;
}
