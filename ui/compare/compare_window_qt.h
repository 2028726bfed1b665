#pragma once
#include <QObject>

#include <cstdint>
#include <functional>
#include <string>

#include "core/compare/compare_link.h"

class QEvent;

// The Qt side of the worker link: the worker's calls are queued by the link
// under its mutex, and Qt only carries an empty event as the doorbell that
// makes the GUI thread run them. Handing the work itself over through Qt would
// hide it from the thread sanitizer, as Qt is not instrumented.
class QtCompareWindow final : public QObject, public quillet::CompareWindowLink {
  Q_OBJECT
 public:
  // What the window does with the worker's messages; each runs on the GUI thread.
  struct Handlers {
    std::function<void(std::uint32_t length)> onDiffStart;
    std::function<void(std::uint32_t position)> onDiffProgress;
    std::function<void()> onDiffDone;
    std::function<void(const std::string& text)> onErrorBox;
    std::function<void(std::uint64_t done, std::uint64_t total)> onReadProgress;
  };

  explicit QtCompareWindow(Handlers handlers);
  // Stops a running worker and waits for it, running its calls meanwhile.
  ~QtCompareWindow() override;
  QtCompareWindow(const QtCompareWindow&) = delete;
  QtCompareWindow& operator=(const QtCompareWindow&) = delete;

  // The window is going: stops the worker, waits for it, and from then on its
  // messages reach no handler (an error box would have no window left to own it).
  void Close();

 protected:
  bool event(QEvent* event) override;
  void OnDiffStart(std::uint32_t length) override;
  void OnDiffProgress(std::uint32_t position) override;
  void OnDiffDone() override;
  void OnReadProgress(std::uint64_t done, std::uint64_t total) override;
  void OnErrorBox(const std::string& text) override;
  void RingDoorbell() override;

 private:
  Handlers m_handlers;
  bool m_closing = false;  // GUI thread only
};
