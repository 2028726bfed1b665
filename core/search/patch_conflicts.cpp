#include "core/search/patch_conflicts.h"

#include <algorithm>

#include "core/platform/file_error.h"
#include "core/platform/file_io.h"

namespace quillet {

namespace {

struct Write {
  std::uint32_t address;
  std::uint32_t file;
  std::uint8_t value;
};

// Every byte counts, so nothing is refused; a pair that is not hexadecimal is
// then always tested and breaks the file.
struct CollectSink {
  std::vector<Write>& writes;
  std::uint32_t file;
  bool accepts(std::uint32_t) const { return true; }
  void write(std::uint32_t address, std::uint8_t value) const { writes.push_back({address, file, value}); }
};

struct Hit {
  std::uint32_t first;
  std::uint32_t second;
  ConflictingByte byte;
};

struct FileByte {
  std::uint32_t file;
  std::uint8_t value;
};

// The files writing one address, each with its last byte there, in file order;
// collisions go to hits.
void CollectHits(const std::vector<FileByte>& writers, std::uint32_t address, std::vector<Hit>& hits) {
  for (std::size_t a = 0; a < writers.size(); ++a)
    for (std::size_t b = a + 1; b < writers.size(); ++b)
      if (writers[a].value != writers[b].value)
        hits.push_back({writers[a].file, writers[b].file, {address, writers[a].value, writers[b].value}});
}

}  // namespace

PatchConflicts FindPatchConflicts(const std::vector<std::string>& paths) {
  PatchConflicts result;
  std::vector<Write> writes;
  for (std::size_t file = 0; file < paths.size(); ++file) {
    const std::size_t before = writes.size();
    try {
      CollectSink sink{writes, static_cast<std::uint32_t>(file)};
      FileReader reader(paths[file]);
      const VkpReadResult read = ReadVkp(reader, sink, true);
      if (!read.ok()) {
        // Half a patch is not what anyone would install, so none of it is compared.
        writes.resize(before);
        result.excluded.push_back({file, read, {}});
      }
    } catch (const FileError& error) {
      writes.resize(before);
      result.excluded.push_back({file, {}, error.what()});
    }
  }

  // Writes were appended file by file in input order, each file's in its own
  // order; a stable sort by address keeps both orders inside each address, so
  // a file's last byte there is the last of its run. Sorting once is what
  // keeps a thousand files from costing half a million file pairs.
  std::stable_sort(writes.begin(), writes.end(),
                   [](const Write& a, const Write& b) { return a.address < b.address; });

  std::vector<Hit> hits;
  std::vector<FileByte> writers;
  for (std::size_t start = 0; start < writes.size();) {
    const std::uint32_t address = writes[start].address;
    std::size_t end = start + 1;
    bool differ = false;
    while (end < writes.size() && writes[end].address == address) {
      differ = differ || writes[end].value != writes[start].value;
      ++end;
    }
    // Nearly every address is written by one file, or with one value.
    if (differ) {
      writers.clear();
      for (std::size_t i = start; i < end; ++i) {
        if (!writers.empty() && writers.back().file == writes[i].file)
          writers.back().value = writes[i].value;
        else
          writers.push_back({writes[i].file, writes[i].value});
      }
      CollectHits(writers, address, hits);
    }
    start = end;
  }

  // Hits came by address; stable by pair keeps each pair's addresses rising.
  std::stable_sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) {
    return a.first != b.first ? a.first < b.first : a.second < b.second;
  });
  for (const Hit& hit : hits) {
    if (result.conflicts.empty() || result.conflicts.back().first != hit.first ||
        result.conflicts.back().second != hit.second)
      result.conflicts.push_back({hit.first, hit.second, {}});
    result.conflicts.back().bytes.push_back(hit.byte);
  }
  return result;
}

}  // namespace quillet
