#include "ui/common/job_link_qt.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

namespace quillet {

namespace {

QEvent::Type DoorbellType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

}  // namespace

// Qt's event queue is thread-safe; the event carries nothing.
QtJobLink::QtJobLink() : m_link([this] { QCoreApplication::postEvent(this, new QEvent(DoorbellType())); }) {}

QtJobLink::~QtJobLink() { m_link.Close(); }

void QtJobLink::Serve() {
  // A timer, not another posted event: Qt delivers events posted while it
  // delivers posted events in the same pass, and input would wait for all.
  if (m_link.RunPendingCalls()) QTimer::singleShot(0, this, &QtJobLink::Serve);
}

bool QtJobLink::event(QEvent* event) {
  if (event->type() == DoorbellType()) {
    Serve();
    return true;
  }
  return QObject::event(event);
}

}  // namespace quillet
