#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// What the comparison worker sees of its window. The Qt window implements it;
// tests implement it with fakes. Every call comes from the worker's thread.
class ICompareWindow {
 public:
  virtual ~ICompareWindow() = default;

  // The two paths, fixed before the worker starts and read only while it runs.
  [[nodiscard]] virtual const std::string& OriginalFlashPath() const = 0;
  [[nodiscard]] virtual const std::string& CurrentFlashPath() const = 0;

  // m_bStop: polled by the worker once per step of the walk.
  [[nodiscard]] virtual bool StopRequested() const = 0;

  // Appends to m_strText, unless a stop has been requested: once the window
  // has taken the text on a stop request, nothing more may be appended.
  // Returns false (and appends nothing) then.
  virtual bool AppendText(std::string_view lines) = 0;

  // WM_DIFF_START: returns once the window has handled it.
  virtual void SendDiffStart(std::uint32_t length) = 0;
  // WM_DIFF_PROGRESS: must not wait for the screen; the window coalesces.
  virtual void PostDiffProgress(std::uint32_t position) = 0;
  // WM_DIFF_DONE: returns once the window has handled it.
  virtual void SendDiffDone() = 0;
  // The error box, caption "Ошибка", owned by the window: returns once answered.
  virtual void ShowErrorBox(const std::string& text) = 0;
};

// The worker's entry: reads both images, walks them, reports to the window.
// Always returns 0. The window must outlive the call.
unsigned CompareThreadProc(ICompareWindow* window);
