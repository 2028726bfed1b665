#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/filter/address_filter.h"
#include "core/job/job.h"

namespace quillet {

// What one comparison compares: fixed before it starts, read only while it runs.
struct CompareJob {
  std::string originalPath;
  std::string currentPath;
  AddressFilter filter;
};

// The comparison's events, each called on the comparing thread. An empty one
// is not called.
struct CompareEvents {
  // While the images are read: the bytes of both read so far, and the sum of
  // their sizes. Called often; must return at once.
  std::function<void(std::uint64_t bytesDone, std::uint64_t bytesTotal)> reading;
  // Both images are read; the walk over length bytes begins.
  std::function<void(std::uint32_t length)> started;
  // The position at the start of every step; must return at once.
  std::function<void(std::uint32_t position)> progress;
  // Data lines as they are found, in the form they are saved in ("%06lX: OLD
  // NEW" and CR LF each). False ends the walk: nobody takes lines any more.
  std::function<bool(std::string_view lines)> lines;
};

// Reads both images whole and walks their common length. Failures keep the
// order of reading the original first: imageOpen, imageRead or imageTooLarge
// with the image's path, or outOfMemory. Both sizes are looked at before
// either image is read. started is not called when the images can't be read
// or a stop came first; a stop gives JobCause::stopped. Never throws.
[[nodiscard]] JobOutcome CompareFlashFiles(const CompareJob& job, const CompareEvents& events, StopToken stop);

// The comparison window's text of a failed comparison, as its error box shows
// it ("Ошибка открытия файла '…'", "Out of memory."); empty when ok.
[[nodiscard]] std::string CompareErrorText(const JobOutcome& outcome);

// m_strText: the comparison window's text, shared with its worker. The worker
// appends; the window closes it when the run ends early, and from then on
// nothing is appended, so what the window shows is what it keeps.
class CompareText {
 public:
  // The header, which the window shows at once.
  void Reset(std::string header);
  // False, appending nothing, once closed.
  bool Append(std::string_view lines);
  // Closes the text and moves it out in the pieces it is kept in, each ending
  // at the end of a line: copying hundreds of MiB would hold the window up.
  [[nodiscard]] std::vector<std::string> Close();

 private:
  mutable std::mutex m_mutex;
  // Guarded by m_mutex: the text is these pieces one after the other. A new
  // piece is made outside the lock, so that the text's growth never copies it
  // under the lock that the window's thread takes too.
  std::vector<std::string> m_pieces;
  bool m_closed = false;
};

// The comparison window's worker: the comparison, its lines appended to the
// window's text as they are found (whatever events.lines says).
[[nodiscard]] JobOutcome CompareThreadProc(const CompareJob& job, const CompareEvents& events, CompareText& text,
                                           StopToken stop);

}  // namespace quillet
