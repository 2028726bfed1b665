#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "core/compare/function_ref.h"
#include "core/filter/address_filter.h"

namespace quillet {

// What one comparison compares: fixed before it starts, read only while it runs.
struct CompareJob {
  std::string originalPath;
  std::string currentPath;
  AddressFilter filter;
};

// What the comparison of two files asks of its caller, each on the comparing thread.
struct CompareFilesHooks {
  // True once the run is to end; asked while the images are read and at every
  // step of the walk.
  FunctionRef<bool()> stopRequested;
  // Both images are read; the walk over length bytes begins.
  FunctionRef<void(std::uint32_t length)> started;
  // The position at the start of every step; must return at once.
  FunctionRef<void(std::uint32_t position)> progress;
  // Data lines as they are found, in the form they are saved in ("%06lX: OLD NEW"
  // and CR LF each). False ends the walk.
  FunctionRef<bool(std::string_view lines)> lines;
  // While the images are read: the bytes of both read so far, and the sum of
  // their sizes. Called often; must return at once.
  FunctionRef<void(std::uint64_t bytesDone, std::uint64_t bytesTotal)> reading;
};

// How a comparison ended: ok, or the failure's exact message ("Ошибка открытия
// файла '…'", "Out of memory." …). A stopped run is ok.
struct CompareOutcome {
  std::string error;  // empty when ok
  [[nodiscard]] bool ok() const { return error.empty(); }
};

// Reads both images whole and walks their common length. Failures keep the
// order of reading the original first; the current image is not touched when
// the original can't be opened or is too large. started is not called when the
// images can't be read or a stop came first. Never throws.
[[nodiscard]] CompareOutcome CompareFlashFiles(const CompareJob& job, const CompareFilesHooks& hooks);

}  // namespace quillet

// What the comparison worker tells its window. The Qt window implements it;
// tests implement it with fakes. Every call comes from the worker's thread.
class ICompareWindow {
 public:
  virtual ~ICompareWindow() = default;

  // m_bStop: polled by the worker once per step of the walk.
  [[nodiscard]] virtual bool StopRequested() const = 0;

  // Appends to m_strText, unless a stop has been requested: once the window
  // has taken the text on a stop request, nothing more may be appended.
  // Returns false (and appends nothing) then.
  virtual bool AppendText(std::string_view lines) = 0;

  // While the images are read; like progress, must not wait for the screen.
  virtual void PostReadProgress(std::uint64_t /*bytesDone*/, std::uint64_t /*bytesTotal*/) {}
  // WM_DIFF_START: returns once the window has handled it.
  virtual void SendDiffStart(std::uint32_t length) = 0;
  // WM_DIFF_PROGRESS: must not wait for the screen; the window coalesces.
  virtual void PostDiffProgress(std::uint32_t position) = 0;
  // WM_DIFF_DONE: returns once the window has handled it.
  virtual void SendDiffDone() = 0;
  // The error box, caption "Ошибка", owned by the window: returns once answered.
  virtual void ShowErrorBox(const std::string& text) = 0;
};

// The worker's entry: compares the job's images and reports to the window.
// Always returns 0. The window and the job must outlive the call.
unsigned CompareThreadProc(ICompareWindow* window, const quillet::CompareJob& job);
