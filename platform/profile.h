#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace quillet {

// Settings (INI) files, read and written one key at a time the way the Windows
// profile functions do it, because users edit these files by hand: a write
// changes only the line concerned and keeps every other line (other sections,
// comments, order, line ends) as it was; section and key names compare without
// regard to ASCII case; the first of two equal keys wins; a missing file reads
// as empty and comes into being on the first write.

// The value of the key, or def when the file, section or key is absent. At most
// maxChars characters of the value are returned (a 260-character buffer holds 259).
[[nodiscard]] std::string ProfileGetString(const std::string& file, std::string_view section,
                                           std::string_view key, std::string_view def,
                                           std::size_t maxChars = 259);

// Sets the key, adding the section and key where they are missing. Returns
// false when the file can't be written; the file is then as it was.
bool ProfileWriteString(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view value);

// Removes the key's line. Returns false when the file can't be written.
bool ProfileDeleteKey(const std::string& file, std::string_view section, std::string_view key);

// The settings file the desktop program started in this working directory uses:
// the directory, one '/', the executable's base name without extension and ".INI".
[[nodiscard]] std::string SettingsPathFor(std::string_view workingDirectory, std::string_view executableName);

}  // namespace quillet
