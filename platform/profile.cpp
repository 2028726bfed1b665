#include "platform/profile.h"

#include <cerrno>

#include "platform/file_error.h"
#include "platform/file_io.h"

namespace quillet {

namespace {

constexpr std::string_view kWhiteSpace = " \t\r\n\v\f";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view TrimLeft(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kWhiteSpace);
  return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

std::string_view Trim(std::string_view text) {
  text = TrimLeft(text);
  const std::size_t last = text.find_last_not_of(kWhiteSpace);
  return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

// A line's meaningful text: a byte-order mark that an editor put in front of
// the file is not part of the first line's name.
std::string_view Content(std::string_view text, bool firstLine) {
  if (firstLine && text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  return TrimLeft(text);
}

// The name of a section header line, or nothing for any other line. A header
// without its ']' runs to the end of the line, as the Windows reader takes it.
std::optional<std::string_view> HeaderName(std::string_view text, bool firstLine) {
  text = Content(text, firstLine);
  if (!text.starts_with('[')) return std::nullopt;
  text.remove_prefix(1);
  const std::size_t close = text.find(']');
  return Trim(close == std::string_view::npos ? text : text.substr(0, close));
}

struct KeyLine {
  std::string_view key;
  std::string_view value;
};

// A key line is any line in a section that is not blank, a ';' comment or a
// header; one without '=' is a key with an empty value.
std::optional<KeyLine> ParseKeyLine(std::string_view text, bool firstLine) {
  text = Content(text, firstLine);
  if (text.empty() || text.starts_with(';') || text.starts_with('[')) return std::nullopt;
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) return KeyLine{Trim(text), {}};
  return KeyLine{Trim(text.substr(0, equals)), Trim(text.substr(equals + 1))};
}

std::string Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return std::string(value);
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

bool IsStorableName(std::string_view section, std::string_view key) {
  const std::string_view trimmedKey = Trim(key);
  return !HasLineBreak(section) && section.find(']') == std::string_view::npos && !HasLineBreak(key) &&
         !trimmedKey.empty() && key.find('=') == std::string_view::npos && !trimmedKey.starts_with('[') &&
         !trimmedKey.starts_with(';');
}

}  // namespace

ProfileDocument::ProfileDocument(std::string_view text) {
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    Line line;
    if (newline == std::string_view::npos) {
      line.text = std::string(text);
      text = {};
    } else {
      line.text = std::string(text.substr(0, newline));
      line.end = "\n";
      text.remove_prefix(newline + 1);
      if (line.text.ends_with('\r')) {
        line.text.pop_back();
        line.end = "\r\n";
      }
    }
    m_lines.push_back(std::move(line));
  }
}

ProfileDocument ProfileDocument::Load(const std::string& file) {
  try {
    return ProfileDocument(ReadWholeFile(file));
  } catch (const FileError& error) {
    if (error.osError() == ENOENT || error.osError() == ENOTDIR) return ProfileDocument();
    throw;
  }
}

std::optional<ProfileDocument::Found> ProfileDocument::FindSection(std::string_view section) const {
  std::optional<Found> found;
  for (std::size_t i = 0; i < m_lines.size(); ++i) {
    const auto name = HeaderName(m_lines[i].text, i == 0);
    if (!name) continue;
    if (found) {
      found->limit = i;
      return found;
    }
    if (EqualNoCase(*name, Trim(section))) found = Found{i, m_lines.size()};
  }
  return found;
}

std::optional<std::size_t> ProfileDocument::FindKey(const Found& found, std::string_view key) const {
  for (std::size_t i = found.header + 1; i < found.limit; ++i) {
    const auto line = ParseKeyLine(m_lines[i].text, false);
    if (line && EqualNoCase(line->key, Trim(key))) return i;
  }
  return std::nullopt;
}

std::optional<std::string> ProfileDocument::Get(std::string_view section, std::string_view key) const {
  const auto found = FindSection(section);
  if (!found) return std::nullopt;
  const auto index = FindKey(*found, key);
  if (!index) return std::nullopt;
  return Unquote(ParseKeyLine(m_lines[*index].text, false)->value);
}

std::string ProfileDocument::NewLineEnd() const {
  for (const Line& line : m_lines)
    if (!line.end.empty()) return line.end;
  return "\n";
}

bool ProfileDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  if (!IsStorableName(section, key) || HasLineBreak(value)) return false;
  const std::string end = NewLineEnd();
  const auto found = FindSection(section);
  if (!found) {
    if (!m_lines.empty()) {
      if (m_lines.back().end.empty()) m_lines.back().end = end;
      if (!Trim(m_lines.back().text).empty()) m_lines.push_back({"", end});
    }
    m_lines.push_back({"[" + std::string(Trim(section)) + "]", end});
    m_lines.push_back({std::string(Trim(key)) + "=" + std::string(value), end});
    m_modified = true;
    return true;
  }
  if (const auto index = FindKey(*found, key)) {
    // Keep the line's own spelling of the key and its spacing around '='.
    std::string& text = m_lines[*index].text;
    std::string updated;
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) {
      updated = std::string(Trim(text)) + "=";
    } else {
      const std::size_t valueStart = text.find_first_not_of(" \t", equals + 1);
      updated = text.substr(0, valueStart == std::string::npos ? text.size() : valueStart);
    }
    updated += value;
    if (updated != text) {
      text = std::move(updated);
      m_modified = true;
    }
    return true;
  }
  // A new key goes after the section's last key, so that blank lines and
  // comments that lead into the next section stay in front of it.
  std::size_t at = found->header + 1;
  for (std::size_t i = found->header + 1; i < found->limit; ++i)
    if (ParseKeyLine(m_lines[i].text, false)) at = i + 1;
  if (m_lines[at - 1].end.empty()) m_lines[at - 1].end = end;
  m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at),
                 Line{std::string(Trim(key)) + "=" + std::string(value), end});
  m_modified = true;
  return true;
}

bool ProfileDocument::Remove(std::string_view section, std::string_view key) {
  const auto found = FindSection(section);
  if (!found) return false;
  const auto index = FindKey(*found, key);
  if (!index) return false;
  m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(*index));
  m_modified = true;
  return true;
}

std::size_t ProfileDocument::RemoveDuplicates(std::string_view section, std::string_view key) {
  const auto found = FindSection(section);
  if (!found) return 0;
  const auto first = FindKey(*found, key);
  if (!first) return 0;
  std::size_t removed = 0;
  for (std::size_t i = found->limit; i-- > *first + 1;) {
    const auto line = ParseKeyLine(m_lines[i].text, false);
    if (line && EqualNoCase(line->key, Trim(key))) {
      m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(i));
      ++removed;
    }
  }
  if (removed != 0) m_modified = true;
  return removed;
}

std::string ProfileDocument::text() const {
  std::string out;
  for (const Line& line : m_lines) {
    out += line.text;
    out += line.end;
  }
  return out;
}

void ProfileDocument::Save(const std::string& file) const { WriteFileAtomically(file, text()); }

std::string ProfileGetString(const std::string& file, std::string_view section, std::string_view key,
                             std::string_view def, std::size_t maxChars) {
  std::string value(def);
  try {
    if (auto stored = ProfileDocument::Load(file).Get(section, key)) value = std::move(*stored);
  } catch (const FileError&) {
    // The Windows reader answers the default for a file it can't read, too.
  }
  if (value.size() > maxChars) value.resize(maxChars);
  return value;
}

bool ProfileWriteString(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view value) {
  try {
    ProfileDocument document = ProfileDocument::Load(file);
    if (!document.Set(section, key, value)) return false;
    if (document.modified()) document.Save(file);
    return true;
  } catch (const FileError&) {
    return false;
  }
}

bool ProfileDeleteKey(const std::string& file, std::string_view section, std::string_view key) {
  try {
    ProfileDocument document = ProfileDocument::Load(file);
    if (document.Remove(section, key)) document.Save(file);
    return true;
  } catch (const FileError&) {
    return false;
  }
}

std::string SettingsPathFor(std::string_view workingDirectory, std::string_view executableName) {
  std::string folder(workingDirectory);
  if (folder.starts_with('"')) folder.erase(0, 1);
  if (folder.ends_with('"')) folder.pop_back();
  if (!folder.ends_with('/')) folder += '/';
  std::string name = FileNameOf(executableName);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot != 0) name.resize(dot);
  if (name.empty()) name = "quillet";
  return folder + name + ".INI";
}

}  // namespace quillet
