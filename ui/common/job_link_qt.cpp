#include "ui/common/job_link_qt.h"

#include <QCoreApplication>
#include <QEvent>

namespace {

QEvent::Type DoorbellType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

}  // namespace

// Qt's event queue is thread-safe; the event carries nothing.
QtJobLink::QtJobLink() : m_link([this] { QCoreApplication::postEvent(this, new QEvent(DoorbellType())); }) {}

QtJobLink::~QtJobLink() { m_link.Close(); }

bool QtJobLink::event(QEvent* event) {
  if (event->type() == DoorbellType()) {
    m_link.RunPendingCalls();
    return true;
  }
  return QObject::event(event);
}
