#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

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

// Where the comparison window's worker hands its lines on: batches of whole
// lines, in the order found, called on the comparing thread.
using LineBatches = std::function<void(std::string lines)>;

// The comparison window's worker: the comparison, its lines gathered into
// batches of megabytes for the window's text (m_strText), whatever
// events.lines says. The last batch is handed on before it returns, a stopped
// run's too.
[[nodiscard]] JobOutcome CompareThreadProc(const CompareJob& job, const CompareEvents& events,
                                           const LineBatches& batches, StopToken stop);

}  // namespace quillet
