#include "core/platform/profile.h"

#include <cerrno>

#include "core/platform/file_error.h"
#include "core/platform/file_io.h"

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
  // CR alone ends a line too: editors that keep the old Macintosh line ends
  // write such files, and read as one line a whole filter would vanish.
  while (!text.empty()) {
    const std::size_t end = text.find_first_of("\r\n");
    Line line;
    if (end == std::string_view::npos) {
      line.text = std::string(text);
      text = {};
    } else {
      const std::size_t length = text.substr(end, 2) == "\r\n" ? 2 : 1;
      line.text = std::string(text.substr(0, end));
      line.end = std::string(text.substr(end, length));
      text.remove_prefix(end + length);
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

std::string ProfileDocument::LowerName(std::string_view name) {
  std::string lower(Trim(name));
  for (char& c : lower) c = AsciiLower(c);
  return lower;
}

const ProfileDocument::Index& ProfileDocument::IndexOf(std::string_view section) const {
  std::string wanted = LowerName(section);
  if (m_index && m_index->section == wanted) return *m_index;
  Index index;
  index.section = std::move(wanted);
  for (std::size_t i = 0; i < m_lines.size(); ++i) {
    if (m_lines[i].removed) continue;
    const auto name = HeaderName(m_lines[i].text, i == 0);
    if (!name) continue;
    if (index.found) {
      index.found->limit = i;
      break;
    }
    if (LowerName(*name) == index.section) index.found = Found{i, m_lines.size()};
  }
  if (index.found) {
    index.afterLastKey = index.found->header + 1;
    for (std::size_t i = index.found->header + 1; i < index.found->limit; ++i) {
      const auto line = m_lines[i].removed ? std::nullopt : ParseKeyLine(m_lines[i].text, false);
      if (!line) continue;
      auto& entry = index.keys.try_emplace(LowerName(line->key), Index::KeyLines{i, 0}).first->second;
      ++entry.count;
      index.afterLastKey = i + 1;
    }
  }
  m_index = std::move(index);
  return *m_index;
}

std::optional<ProfileDocument::Found> ProfileDocument::FindSection(std::string_view section) const {
  return IndexOf(section).found;
}

std::optional<std::size_t> ProfileDocument::FindKey(std::string_view section, std::string_view key) const {
  const Index& index = IndexOf(section);
  const auto it = index.keys.find(LowerName(key));
  if (it == index.keys.end()) return std::nullopt;
  return it->second.first;
}

std::optional<std::string> ProfileDocument::Get(std::string_view section, std::string_view key) const {
  const auto index = FindKey(section, key);
  if (!index) return std::nullopt;
  return Unquote(ParseKeyLine(m_lines[*index].text, false)->value);
}

std::string ProfileDocument::NewLineEnd() const {
  for (const Line& line : m_lines)
    if (!line.removed && !line.end.empty()) return line.end;
  return "\n";
}

bool ProfileDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  if (!IsStorableName(section, key) || HasLineBreak(value)) return false;
  const std::string end = NewLineEnd();
  if (!FindSection(section)) {
    m_index.reset();
    std::size_t last = m_lines.size();
    while (last > 0 && m_lines[last - 1].removed) --last;
    if (last > 0) {
      if (m_lines[last - 1].end.empty()) m_lines[last - 1].end = end;
      if (!Trim(m_lines[last - 1].text).empty()) m_lines.push_back({"", end});
    }
    m_lines.push_back({"[" + std::string(Trim(section)) + "]", end});
    m_lines.push_back({std::string(Trim(key)) + "=" + std::string(value), end});
    m_modified = true;
    return true;
  }
  if (const auto index = FindKey(section, key)) {
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
  // comments that lead into the next section stay in front of it. No key
  // line of the section lies at or past that point, so the index stays true
  // once the section's end has moved with the inserted line.
  Index& index = *m_index;
  const std::size_t at = index.afterLastKey;
  if (m_lines[at - 1].end.empty()) m_lines[at - 1].end = end;
  m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at),
                 Line{std::string(Trim(key)) + "=" + std::string(value), end});
  index.found->limit += 1;
  index.keys.emplace(LowerName(key), Index::KeyLines{at, 1});
  index.afterLastKey = at + 1;
  m_modified = true;
  return true;
}

void ProfileDocument::RemoveLine(std::size_t line) {
  m_lines[line].removed = true;
  m_modified = true;
}

bool ProfileDocument::Remove(std::string_view section, std::string_view key) {
  const auto first = FindKey(section, key);
  if (!first) return false;
  RemoveLine(*first);
  // The index follows by hand: rebuilding it for every removal would make
  // clearing a long list quadratic.
  Index& index = *m_index;
  const auto entry = index.keys.find(LowerName(key));
  if (--entry->second.count == 0) {
    index.keys.erase(entry);
    return true;
  }
  for (std::size_t i = *first + 1; i < index.found->limit; ++i) {
    const auto line = m_lines[i].removed ? std::nullopt : ParseKeyLine(m_lines[i].text, false);
    if (line && LowerName(line->key) == entry->first) {
      entry->second.first = i;
      break;
    }
  }
  return true;
}

std::size_t ProfileDocument::RemoveDuplicates(std::string_view section, std::string_view key) {
  const auto first = FindKey(section, key);
  if (!first) return 0;
  Index& index = *m_index;
  auto& entry = index.keys.find(LowerName(key))->second;
  std::size_t removed = 0;
  for (std::size_t i = *first + 1; i < index.found->limit && entry.count > 1; ++i) {
    const auto line = m_lines[i].removed ? std::nullopt : ParseKeyLine(m_lines[i].text, false);
    if (line && LowerName(line->key) == LowerName(key)) {
      RemoveLine(i);
      --entry.count;
      ++removed;
    }
  }
  return removed;
}

std::string ProfileDocument::text() const {
  std::string out;
  for (const Line& line : m_lines) {
    if (line.removed) continue;
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

std::string DesktopSettingsFolder(const char* xdgConfigHome, const char* home) {
  // The XDG rule: a relative value is invalid and is ignored.
  if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') return std::string(xdgConfigHome) + "/quillet";
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.config/quillet";
  return {};
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
