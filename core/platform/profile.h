#pragma once
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quillet {

// Settings (INI) files, read and written one key at a time the way the Windows
// profile functions do it, because users edit these files by hand: a write
// changes only the line concerned and keeps every other line (other sections,
// comments, order, line ends) as it was; section and key names compare without
// regard to ASCII case; the first of two equal keys wins; a missing file reads
// as empty and comes into being on the first write.

// One settings file in memory, for callers that read or change several keys
// and want the file written once: either every change reaches the disk or none.
// Lines are kept byte for byte except those a change touches. The first section
// of a name is the one read and written (later ones of the same name are kept
// but ignored). A value is returned the way Windows returns it: leading and
// trailing white space dropped, then one pair of enclosing quotes (" or ').
class ProfileDocument {
 public:
  ProfileDocument() = default;
  // The document keeps the text it is given and nothing per line, so that a
  // file costs about its own size in memory whatever its lines are; changes
  // are kept beside it.
  explicit ProfileDocument(std::string text) : m_text(std::move(text)) {}

  // A missing file (or one under a missing folder) is an empty document; a
  // file that exists but can't be read throws FileError.
  [[nodiscard]] static ProfileDocument Load(const std::string& file);

  [[nodiscard]] std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  // Calls visit(key, value) for each key line of the section, in the file's
  // order, duplicates included: the key trimmed, the value as Get returns it.
  // One pass, for readers of a whole list of keys (a long filter asked key by
  // key costs a lookup and copies per key).
  void ForEachKey(std::string_view section,
                  const std::function<void(std::string_view key, std::string_view value)>& visit) const;
  // False, and nothing changed, for a name or value a settings line can't hold
  // (a line break, a key with '=' or empty, a section name with ']').
  bool Set(std::string_view section, std::string_view key, std::string_view value);
  // Removes the key's first line (the one Get reads). True when a line went.
  bool Remove(std::string_view section, std::string_view key);
  // Removes the key's later lines in the section, which Get never sees but
  // which a Remove would bring to light. Returns how many went.
  std::size_t RemoveDuplicates(std::string_view section, std::string_view key);

  [[nodiscard]] bool Modified() const { return m_modified; }
  [[nodiscard]] std::string Text() const;
  // Through WriteFileAtomically: throws FileError, and the file is then as it was.
  void Save(const std::string& file) const;

 private:
  // A line added by a change.
  struct AddedLine {
    std::string text;  // without its line end
    std::string end;
    bool removed = false;
  };
  // What changes did to one of the text's own lines and what they put after it.
  struct Change {
    std::optional<std::string> text;  // the line's new text, when changed
    std::optional<std::string> end;   // the line end given to a last line without one
    bool removed = false;
    std::vector<AddedLine> after;
  };
  // One line of the document: the text's own line starting at anchor (sub 0),
  // or line sub - 1 of those added after it. The anchor m_text.size() stands
  // for the end of the text, where added sections go.
  struct LineRef {
    std::size_t anchor = 0;
    std::size_t sub = 0;
  };
  struct LineView {
    LineRef ref;
    std::string_view text;
    std::string_view end;
    bool firstLine = false;
  };
  struct Found {
    LineRef header;
  };
  // Where the keys of the one section last asked for are, so that reading a
  // long list key by key does not rescan the file for every key.
  struct Index {
    std::string section;  // trimmed, lower case
    std::optional<Found> found;
    struct KeyLines {
      LineRef first;          // the line Get reads
      std::size_t count = 0;  // lines of the key in the section
    };
    std::unordered_map<std::string, KeyLines> keys;  // key trimmed, lower case
    LineRef lastKey;                                 // a new key of the section goes after it (the header when none)
  };
  // Calls visit(LineView) for each line that is not removed, from the one at
  // from on, in order, until visit returns false.
  template <class Visit>
  void ForEachLine(LineRef from, Visit&& visit) const;
  [[nodiscard]] static LineRef Start() { return {}; }
  [[nodiscard]] static std::string LowerName(std::string_view name);
  [[nodiscard]] const Index& IndexOf(std::string_view section) const;
  [[nodiscard]] std::optional<Found> FindSection(std::string_view section) const;
  [[nodiscard]] std::optional<LineRef> FindKey(std::string_view section, std::string_view key) const;
  [[nodiscard]] std::string NewLineEnd() const;
  [[nodiscard]] std::string_view TextOf(LineRef line) const;
  void SetText(LineRef line, std::string text);
  void SetEnd(LineRef line, std::string_view end);
  // Puts a line right after line; returns the new line.
  LineRef InsertAfter(LineRef line, std::string text, std::string end);
  void Append(std::string text, std::string end);
  void RemoveLine(LineRef line);
  [[nodiscard]] std::size_t OwnLineEnd(std::size_t start, std::size_t& endLength) const;

  std::string m_text;
  std::map<std::size_t, Change> m_changes;  // by the anchor they concern
  bool m_modified = false;
  mutable std::optional<Index> m_index;
};

// What a 260-character read buffer holds of a value: files written for the
// program's first versions rely on the cut.
inline constexpr std::size_t kProfileValueChars = 259;

// The settings file the desktop program started in this working directory uses:
// the directory, one '/', the executable's base name without extension and ".INI".
// One enclosing pair of double quotes around the directory is dropped; the
// executable may be given as a path.
[[nodiscard]] std::string SettingsPathFor(std::string_view workingDirectory, std::string_view executableName);

// The folder that holds the settings of a program started from the desktop's
// menu, where the working directory is merely the home folder:
// $XDG_CONFIG_HOME/quillet, or ~/.config/quillet when that is unset or not an
// absolute path. Empty when neither variable helps.
[[nodiscard]] std::string DesktopSettingsFolder(const char* xdgConfigHome, const char* home);

}  // namespace quillet
