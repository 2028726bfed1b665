#include "ui/compare/compare_window_qt.h"

#include <QCoreApplication>
#include <QEvent>

#include <utility>

namespace {

QEvent::Type DoorbellType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

}  // namespace

QtCompareWindow::QtCompareWindow(Handlers handlers) : m_handlers(std::move(handlers)) {}

QtCompareWindow::~QtCompareWindow() { Close(); }

void QtCompareWindow::Close() {
  m_closing = true;
  // The link runs the worker's queued calls itself while it waits, so a worker
  // waiting in a send can't hold the wait up; the doorbells it rang meanwhile
  // die with this object.
  StopAndWait();
}

bool QtCompareWindow::event(QEvent* event) {
  if (event->type() == DoorbellType()) {
    RunPendingCalls();
    return true;
  }
  return QObject::event(event);
}

void QtCompareWindow::OnDiffStart(std::uint32_t length) {
  if (!m_closing && m_handlers.onDiffStart) m_handlers.onDiffStart(length);
}

void QtCompareWindow::OnDiffProgress(std::uint32_t position) {
  if (!m_closing && m_handlers.onDiffProgress) m_handlers.onDiffProgress(position);
}

void QtCompareWindow::OnReadProgress(std::uint64_t done, std::uint64_t total) {
  if (!m_closing && m_handlers.onReadProgress) m_handlers.onReadProgress(done, total);
}

void QtCompareWindow::OnDiffDone() {
  if (!m_closing && m_handlers.onDiffDone) m_handlers.onDiffDone();
}

void QtCompareWindow::OnErrorBox(const std::string& text) {
  if (!m_closing && m_handlers.onErrorBox) m_handlers.onErrorBox(text);
}

// Any thread. Qt's event queue is thread-safe; the event carries nothing.
void QtCompareWindow::RingDoorbell() { QCoreApplication::postEvent(this, new QEvent(DoorbellType())); }
