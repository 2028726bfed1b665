#include "core/platform/profile.h"
#include "core/platform/atomic_writer.h"

#include <cerrno>

#include "core/platform/file_error.h"
#include "core/platform/file_reader.h"
#include "core/platform/file_system.h"

namespace quillet {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// A test per byte rather than find_first_not_of, which searches the set of
// white space once for every byte: every line of the file passes through here.
bool IsWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view TrimLeft(std::string_view text) {
  std::size_t first = 0;
  while (first < text.size() && IsWhiteSpace(text[first])) ++first;
  return text.substr(first);
}

std::string_view Trim(std::string_view text) {
  text = TrimLeft(text);
  std::size_t length = text.size();
  while (length > 0 && IsWhiteSpace(text[length - 1])) --length;
  return text.substr(0, length);
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

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return value;
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

bool IsStorableName(std::string_view section, std::string_view key) {
  const std::string_view trimmedKey = Trim(key);
  return !HasLineBreak(section) && section.find(']') == std::string_view::npos && !HasLineBreak(key) &&
         !trimmedKey.empty() && key.find('=') == std::string_view::npos && !trimmedKey.starts_with('[') &&
         !trimmedKey.starts_with(';');
}

}  // namespace

std::size_t ProfileDocument::OwnLineEnd(std::size_t start, std::size_t& endLength) const {
  // CR alone ends a line too: editors that keep the old Macintosh line ends
  // write such files, and read as one line a whole filter would vanish.
  const char* const text = m_text.data();
  const std::size_t size = m_text.size();
  std::size_t at = start;
  while (at < size && text[at] != '\n' && text[at] != '\r') ++at;
  endLength = at == size ? 0 : (text[at] == '\r' && at + 1 < size && text[at + 1] == '\n') ? 2 : 1;
  return at;
}

template <class Visit>
void ProfileDocument::ForEachLine(LineRef from, Visit&& visit) const {
  std::size_t anchor = from.anchor;
  std::size_t sub = from.sub;
  auto change = m_changes.lower_bound(anchor);
  for (;;) {
    const bool atEnd = anchor >= m_text.size();
    const Change* changed = change != m_changes.end() && change->first == anchor ? &change->second : nullptr;
    std::size_t next = m_text.size();
    if (!atEnd) {
      std::size_t endLength = 0;
      const std::size_t lineEnd = OwnLineEnd(anchor, endLength);
      next = lineEnd + endLength;
      if (sub == 0 && !(changed && changed->removed)) {
        const std::string_view own(m_text);
        const LineView line{
            {anchor, 0},
            changed && changed->text ? std::string_view(*changed->text) : own.substr(anchor, lineEnd - anchor),
            changed && changed->end ? std::string_view(*changed->end) : own.substr(lineEnd, endLength),
            anchor == 0};
        if (!visit(line)) return;
      }
    }
    if (changed) {
      for (std::size_t i = sub == 0 ? 0 : sub - 1; i < changed->after.size(); ++i) {
        const AddedLine& added = changed->after[i];
        if (added.removed) continue;
        if (!visit(LineView{{anchor, i + 1}, added.text, added.end, false})) return;
      }
    }
    if (atEnd) return;
    anchor = next;
    sub = 0;
    while (change != m_changes.end() && change->first < anchor) ++change;
  }
}

ProfileDocument ProfileDocument::Load(const std::string& file) {
  try {
    return ProfileDocument(ReadWholeFile(file));
  } catch (const FileError& error) {
    if (error.OsError() == ENOENT || error.OsError() == ENOTDIR) return ProfileDocument();
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
  ForEachLine(Start(), [&index](const LineView& line) {
    const auto name = HeaderName(line.text, line.firstLine);
    if (index.found) {
      if (name) return false;  // the section ends at the next header
      if (const auto key = ParseKeyLine(line.text, false)) {
        auto& entry = index.keys.try_emplace(LowerName(key->key), Index::KeyLines{line.ref, 0}).first->second;
        ++entry.count;
        index.lastKey = line.ref;
      }
      return true;
    }
    if (name && LowerName(*name) == index.section) {
      index.found = Found{line.ref};
      index.lastKey = line.ref;
    }
    return true;
  });
  m_index = std::move(index);
  return *m_index;
}

std::optional<ProfileDocument::Found> ProfileDocument::FindSection(std::string_view section) const {
  return IndexOf(section).found;
}

std::optional<ProfileDocument::LineRef> ProfileDocument::FindKey(std::string_view section, std::string_view key) const {
  const Index& index = IndexOf(section);
  const auto it = index.keys.find(LowerName(key));
  if (it == index.keys.end()) return std::nullopt;
  return it->second.first;
}

std::string_view ProfileDocument::TextOf(LineRef line) const {
  const auto changed = m_changes.find(line.anchor);
  if (line.sub != 0) return changed->second.after[line.sub - 1].text;
  if (changed != m_changes.end() && changed->second.text) return *changed->second.text;
  std::size_t endLength = 0;
  return std::string_view(m_text).substr(line.anchor, OwnLineEnd(line.anchor, endLength) - line.anchor);
}

void ProfileDocument::SetText(LineRef line, std::string text) {
  Change& changed = m_changes[line.anchor];
  if (line.sub != 0)
    changed.after[line.sub - 1].text = std::move(text);
  else
    changed.text = std::move(text);
}

void ProfileDocument::SetEnd(LineRef line, std::string_view end) {
  Change& changed = m_changes[line.anchor];
  if (line.sub != 0) {
    if (changed.after[line.sub - 1].end.empty()) changed.after[line.sub - 1].end = std::string(end);
    return;
  }
  std::size_t endLength = 0;
  static_cast<void>(OwnLineEnd(line.anchor, endLength));
  if (endLength == 0 && !changed.end) changed.end = std::string(end);
}

ProfileDocument::LineRef ProfileDocument::InsertAfter(LineRef line, std::string text, std::string end) {
  std::vector<AddedLine>& after = m_changes[line.anchor].after;
  after.insert(after.begin() + static_cast<std::ptrdiff_t>(line.sub), AddedLine{std::move(text), std::move(end)});
  return {line.anchor, line.sub + 1};
}

void ProfileDocument::Append(std::string text, std::string end) {
  m_changes[m_text.size()].after.push_back(AddedLine{std::move(text), std::move(end)});
}

std::optional<std::string> ProfileDocument::Get(std::string_view section, std::string_view key) const {
  const auto line = FindKey(section, key);
  if (!line) return std::nullopt;
  return std::string(Unquote(ParseKeyLine(TextOf(*line), false)->value));
}

void ProfileDocument::ForEachKey(std::string_view section,
                                 const std::function<void(std::string_view, std::string_view)>& visit) const {
  // The walk IndexOf makes, without building the index of every key.
  const std::string wanted = LowerName(section);
  bool inside = false;
  ForEachLine(Start(), [&](const LineView& line) {
    const auto name = HeaderName(line.text, line.firstLine);
    if (inside) {
      if (name) return false;  // the section ends at the next header
      if (const auto key = ParseKeyLine(line.text, false)) visit(key->key, Unquote(key->value));
      return true;
    }
    inside = name && LowerName(*name) == wanted;
    return true;
  });
}

std::string ProfileDocument::NewLineEnd() const {
  std::string end = "\n";
  ForEachLine(Start(), [&end](const LineView& line) {
    if (line.end.empty()) return true;
    end = std::string(line.end);
    return false;
  });
  return end;
}

bool ProfileDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  if (!IsStorableName(section, key) || HasLineBreak(value)) return false;
  const std::string end = NewLineEnd();
  if (!FindSection(section)) {
    m_index.reset();
    std::optional<LineRef> last;
    bool lastBlank = true;
    ForEachLine(Start(), [&](const LineView& line) {
      last = line.ref;
      lastBlank = Trim(line.text).empty();
      return true;
    });
    if (last) {
      SetEnd(*last, end);
      if (!lastBlank) Append("", end);
    }
    Append("[" + std::string(Trim(section)) + "]", end);
    Append(std::string(Trim(key)) + "=" + std::string(value), end);
    m_modified = true;
    return true;
  }
  if (const auto line = FindKey(section, key)) {
    // Keep the line's own spelling of the key and its spacing around '='.
    const std::string_view text = TextOf(*line);
    std::string updated;
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
      updated = std::string(Trim(text)) + "=";
    } else {
      const std::size_t valueStart = text.find_first_not_of(" \t", equals + 1);
      updated = std::string(text.substr(0, valueStart == std::string_view::npos ? text.size() : valueStart));
    }
    updated += value;
    if (updated != text) {
      SetText(*line, std::move(updated));
      m_modified = true;
    }
    return true;
  }
  // A new key goes after the section's last key, so that blank lines and
  // comments that lead into the next section stay in front of it. No key
  // line of the section lies after that point, so an insertion there moves
  // no line the index knows.
  Index& index = *m_index;
  SetEnd(index.lastKey, end);
  const LineRef added = InsertAfter(index.lastKey, std::string(Trim(key)) + "=" + std::string(value), end);
  index.keys.emplace(LowerName(key), Index::KeyLines{added, 1});
  index.lastKey = added;
  m_modified = true;
  return true;
}

void ProfileDocument::RemoveLine(LineRef line) {
  Change& changed = m_changes[line.anchor];
  if (line.sub != 0)
    changed.after[line.sub - 1].removed = true;
  else
    changed.removed = true;
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
  ForEachLine(*first, [&entry](const LineView& line) {
    if (HeaderName(line.text, line.firstLine)) return false;
    const auto parsed = ParseKeyLine(line.text, false);
    if (!parsed || LowerName(parsed->key) != entry->first) return true;
    entry->second.first = line.ref;
    return false;
  });
  return true;
}

std::size_t ProfileDocument::RemoveDuplicates(std::string_view section, std::string_view key) {
  const auto first = FindKey(section, key);
  if (!first) return 0;
  auto& entry = m_index->keys.find(LowerName(key))->second;
  if (entry.count <= 1) return 0;
  const std::string wanted = LowerName(key);
  std::vector<LineRef> later;
  bool atFirst = true;
  ForEachLine(*first, [&](const LineView& line) {
    if (std::exchange(atFirst, false)) return true;
    if (HeaderName(line.text, line.firstLine)) return false;
    const auto parsed = ParseKeyLine(line.text, false);
    if (parsed && LowerName(parsed->key) == wanted) later.push_back(line.ref);
    return later.size() + 1 < entry.count;
  });
  for (const LineRef& line : later) RemoveLine(line);
  entry.count -= later.size();
  return later.size();
}

std::string ProfileDocument::Text() const {
  // Stretches no change touches are copied whole.
  std::string out;
  out.reserve(m_text.size());
  std::size_t copied = 0;
  for (const auto& [anchor, changed] : m_changes) {
    if (anchor < m_text.size()) {
      out.append(m_text, copied, anchor - copied);
      std::size_t endLength = 0;
      const std::size_t lineEnd = OwnLineEnd(anchor, endLength);
      if (!changed.removed) {
        if (changed.text)
          out += *changed.text;
        else
          out.append(m_text, anchor, lineEnd - anchor);
        if (changed.end)
          out += *changed.end;
        else
          out.append(m_text, lineEnd, endLength);
      }
      copied = lineEnd + endLength;
    } else {
      out.append(m_text, copied);
      copied = m_text.size();
    }
    for (const AddedLine& line : changed.after) {
      if (line.removed) continue;
      out += line.text;
      out += line.end;
    }
  }
  if (copied < m_text.size()) out.append(m_text, copied);
  return out;
}

void ProfileDocument::Save(const std::string& file) const { WriteFileAtomically(file, Text()); }

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
