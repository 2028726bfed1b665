// Two file names and a field text, NUL between them: whatever the names hold,
// the comparison header made from them gives the saved patch no data line, no
// offset and no error. Saved as the window saves (split into the field's lines,
// then encoded), header and field together must read back exactly as the field
// alone does.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/platform/atomic_writer.h"
#include "core/vkp/vkp_reader.h"
#include "core/vkp/vkp_text.h"

namespace {

// An existing file, so that a header also gets its size and date lines.
const std::string& ExistingFile() {
  static const std::string path = [] {
    std::string pattern = "/tmp/quillet-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    static std::string folderToRemove = pattern;
    std::atexit([] { std::filesystem::remove_all(folderToRemove); });
    quillet::WriteFileAtomically(pattern + "/image.bin", "image");
    return pattern + "/image.bin";
  }();
  return path;
}

// A name that is never opened as given: under a folder that does not exist no
// path, ".." included, reaches a device whose opening has effects.
std::string PathFor(std::string_view name) {
  if (name.empty()) return ExistingFile();
  return "/nonexistent-quillet-fuzz/" + std::string(name);
}

struct Read {
  quillet::VkpReadResult result;
  std::vector<std::pair<std::uint32_t, std::uint8_t>> writes;
  std::size_t asked = 0;
};

Read ReadBack(std::string_view saved) {
  struct Sink {
    Read* read;
    bool Accepts(std::uint32_t) {
      ++read->asked;
      return true;
    }
    void Write(std::uint32_t address, std::uint8_t value) { read->writes.emplace_back(address, value); }
  };
  Read read;
  Sink sink{&read};
  read.result = quillet::ReadVkpText(saved, sink);
  return read;
}

std::string_view Take(std::string_view& input) {
  const std::size_t nul = input.find('\0');
  const std::string_view part = input.substr(0, nul);
  input.remove_prefix(nul == std::string_view::npos ? input.size() : nul + 1);
  return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string original = PathFor(Take(input));
  const std::string current = PathFor(Take(input));
  const std::string_view field = input;

  const std::string header = quillet::ComposeComparisonHeader(original, current);
  std::vector<std::string> headerLines = quillet::SplitEditLines(header);
  // The header ends with a line end: its last "line" is where the field starts.
  if (headerLines.empty() || !headerLines.back().empty()) __builtin_trap();
  headerLines.pop_back();
  for (const std::string& line : headerLines)
    if (!line.empty() && !line.starts_with(';')) __builtin_trap();

  const quillet::SavedLines whole = quillet::EncodeSavedLines(quillet::SplitEditLines(header + std::string(field)));
  const quillet::SavedLines alone = quillet::EncodeSavedLines(quillet::SplitEditLines(field));
  if (whole.refused || alone.refused) return 0;
  const quillet::SavedLines headerOnly = quillet::EncodeSavedLines(headerLines);
  if (headerOnly.refused || whole.bytes != headerOnly.bytes + alone.bytes) __builtin_trap();

  const Read fromHeader = ReadBack(headerOnly.bytes);
  if (!fromHeader.result.Ok() || fromHeader.asked != 0) __builtin_trap();
  const Read fromWhole = ReadBack(whole.bytes);
  const Read fromField = ReadBack(alone.bytes);
  if (fromWhole.writes != fromField.writes || fromWhole.asked != fromField.asked ||
      fromWhole.result.error != fromField.result.error)
    __builtin_trap();
  return 0;
}
