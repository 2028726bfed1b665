#include "core/search/patch_conflicts.h"

#include <algorithm>
#include <cstring>
#include <queue>

#include "core/platform/file_error.h"
#include "core/platform/file_reader.h"
#include "core/vkp/vkp_reader.h"

namespace quillet {

namespace {

// A stretch of consecutive addresses one file writes; its bytes follow those of
// the runs before it in the file's byte list.
struct Run {
  std::uint32_t start;
  std::uint32_t length;
  [[nodiscard]] std::uint64_t end() const { return std::uint64_t{start} + length; }
};

// What one file writes, in about a byte per byte written: a data line writes
// consecutive addresses, so a run costs 8 bytes per line at most, and one line
// of any length is one run.
struct FileBytes {
  std::vector<Run> runs;
  std::vector<std::uint8_t> bytes;
};

// Every byte counts, so nothing is refused; a pair that is not hexadecimal is
// then always tested and breaks the file.
struct RunSink {
  FileBytes& out;
  bool Accepts(std::uint32_t) const { return true; }
  void Write(std::uint32_t address, std::uint8_t value) {
    std::vector<Run>& runs = out.runs;
    if (!runs.empty() && runs.back().end() == address && runs.back().length != UINT32_MAX)
      ++runs.back().length;
    else
      runs.push_back({address, 1});
    out.bytes.push_back(value);
  }
};

// Leaves the file's runs sorted by address and apart, each address with the
// last byte the file writes there. Files whose lines rise and never overlap,
// nearly all of them, are that already.
void KeepLastWrites(FileBytes& file) {
  const std::vector<Run>& runs = file.runs;
  bool ordered = true;
  for (std::size_t i = 1; i < runs.size() && ordered; ++i) ordered = runs[i].start >= runs[i - 1].end();
  if (ordered) return;

  std::vector<std::uint64_t> from(runs.size());  // where each run's bytes begin
  for (std::size_t i = 1; i < runs.size(); ++i) from[i] = from[i - 1] + runs[i - 1].length;
  std::vector<std::uint32_t> byStart(runs.size());
  for (std::size_t i = 0; i < byStart.size(); ++i) byStart[i] = static_cast<std::uint32_t>(i);
  std::stable_sort(byStart.begin(), byStart.end(),
                   [&runs](std::uint32_t a, std::uint32_t b) { return runs[a].start < runs[b].start; });

  // A sweep over the addresses: among the runs covering one, the one written
  // last (the highest index) wins.
  FileBytes kept;
  kept.bytes.reserve(file.bytes.size());
  std::priority_queue<std::uint32_t> covering;
  std::size_t next = 0;
  std::uint64_t at = 0;
  while (next < byStart.size() || !covering.empty()) {
    if (covering.empty()) at = std::max<std::uint64_t>(at, runs[byStart[next]].start);
    while (next < byStart.size() && runs[byStart[next]].start <= at) covering.push(byStart[next++]);
    while (!covering.empty() && runs[covering.top()].end() <= at) covering.pop();
    if (covering.empty()) continue;
    const Run& top = runs[covering.top()];
    std::uint64_t until = top.end();
    if (next < byStart.size()) until = std::min<std::uint64_t>(until, runs[byStart[next]].start);
    const auto* bytes = file.bytes.data() + from[covering.top()] + (at - top.start);
    const auto length = static_cast<std::uint32_t>(until - at);
    if (!kept.runs.empty() && kept.runs.back().end() == at && kept.runs.back().length <= UINT32_MAX - length)
      kept.runs.back().length += length;
    else
      kept.runs.push_back({static_cast<std::uint32_t>(at), length});
    kept.bytes.insert(kept.bytes.end(), bytes, bytes + length);
    at = until;
  }
  file = std::move(kept);
}

struct Hit {
  std::uint32_t first;
  std::uint32_t second;
  ConflictingByte byte;
};

// Where one file's walk over its runs has got to.
struct Cursor {
  std::uint32_t file = 0;
  const FileBytes* bytes = nullptr;
  std::size_t run = 0;
  std::uint64_t from = 0;  // where the run's bytes begin
  [[nodiscard]] const Run& Current() const { return bytes->runs[run]; }
  [[nodiscard]] std::uint8_t At(std::uint64_t address) const {
    return bytes->bytes[from + (address - Current().start)];
  }
};

// The files writing [from, until), in file order, each one run covering all of
// it; collisions go to hits by address.
void CollectHits(const std::vector<const Cursor*>& writers, std::uint64_t from, std::uint64_t until,
                 std::vector<Hit>& hits) {
  const Cursor& lead = *writers.front();
  const std::size_t length = static_cast<std::size_t>(until - from);
  bool differ = false;
  for (std::size_t w = 1; w < writers.size() && !differ; ++w)
    differ =
        std::memcmp(&lead.bytes->bytes[lead.from + (from - lead.Current().start)],
                    &writers[w]->bytes->bytes[writers[w]->from + (from - writers[w]->Current().start)], length) != 0;
  // Nearly every stretch is written by one file, or with one value.
  if (!differ) return;
  for (std::uint64_t address = from; address < until; ++address)
    for (std::size_t a = 0; a < writers.size(); ++a)
      for (std::size_t b = a + 1; b < writers.size(); ++b) {
        const std::uint8_t first = writers[a]->At(address);
        const std::uint8_t second = writers[b]->At(address);
        if (first != second)
          hits.push_back({writers[a]->file, writers[b]->file, {static_cast<std::uint32_t>(address), first, second}});
      }
}

// One walk over the addresses of all files at once, stretch by stretch: a
// stretch only one file writes costs nothing but its ends.
std::vector<Hit> FindHits(const std::vector<FileBytes>& files) {
  std::vector<Cursor> cursors;
  for (std::size_t f = 0; f < files.size(); ++f)
    if (!files[f].runs.empty()) cursors.push_back({static_cast<std::uint32_t>(f), &files[f], 0, 0});
  // Waiting cursors, the lowest start first.
  auto later = [&cursors](std::size_t a, std::size_t b) {
    return cursors[a].Current().start != cursors[b].Current().start
               ? cursors[a].Current().start > cursors[b].Current().start
               : cursors[a].file > cursors[b].file;
  };
  std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(later)> waiting(later);
  for (std::size_t c = 0; c < cursors.size(); ++c) waiting.push(c);

  std::vector<Hit> hits;
  std::vector<std::size_t> active;
  std::vector<const Cursor*> writers;
  std::uint64_t at = 0;
  while (!waiting.empty() || !active.empty()) {
    if (active.empty()) at = cursors[waiting.top()].Current().start;
    while (!waiting.empty() && cursors[waiting.top()].Current().start <= at) {
      active.push_back(waiting.top());
      waiting.pop();
    }
    std::uint64_t until = waiting.empty() ? std::uint64_t{1} << 32 : cursors[waiting.top()].Current().start;
    for (const std::size_t c : active) until = std::min(until, cursors[c].Current().end());
    if (active.size() > 1) {
      writers.clear();
      for (const std::size_t c : active) writers.push_back(&cursors[c]);
      std::sort(writers.begin(), writers.end(), [](const Cursor* a, const Cursor* b) { return a->file < b->file; });
      CollectHits(writers, at, until, hits);
    }
    at = until;
    std::erase_if(active, [&](std::size_t c) {
      Cursor& cursor = cursors[c];
      if (cursor.Current().end() != at) return false;
      cursor.from += cursor.Current().length;
      if (++cursor.run < cursor.bytes->runs.size()) waiting.push(c);
      return true;
    });
  }
  return hits;
}

}  // namespace

PatchConflicts FindPatchConflicts(const std::vector<std::string>& paths) {
  return FindPatchConflicts(paths, {}, {}).found;
}

ConflictsOutcome FindPatchConflicts(const std::vector<std::string>& paths, const ConflictEvents& events,
                                    StopToken stop) {
  ConflictsOutcome outcome;
  PatchConflicts& result = outcome.found;
  std::vector<FileBytes> files(paths.size());
  for (std::size_t file = 0; file < paths.size(); ++file) {
    if (stop.StopRequested()) {
      outcome.cause = JobCause::stopped;
      outcome.found = {};
      return outcome;
    }
    if (events.reading) events.reading(file, paths.size());
    try {
      RunSink sink{files[file]};
      FileReader reader(paths[file]);
      const VkpReadResult read = ReadVkp(reader, sink, true);
      if (!read.Ok()) {
        // Half a patch is not what anyone would install, so none of it is compared.
        files[file] = {};
        result.excluded.push_back({file, read, {}});
        continue;
      }
    } catch (const FileError& error) {
      files[file] = {};
      result.excluded.push_back({file, {}, error.what()});
      continue;
    }
    KeepLastWrites(files[file]);
    files[file].runs.shrink_to_fit();
    files[file].bytes.shrink_to_fit();
  }

  std::vector<Hit> hits = FindHits(files);
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
  return outcome;
}

}  // namespace quillet
