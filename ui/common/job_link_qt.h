#pragma once
#include <QObject>

#include "core/job/job_link.h"

class QEvent;

namespace quillet {

// A job link whose doorbell is an empty event posted to this object, which
// lives on the GUI thread: Qt carries nothing but the ring, the link's own
// queue carries the calls. A window holds one and builds its jobs' sinks on it.
class QtJobLink final : public QObject {
  Q_OBJECT
 public:
  QtJobLink();
  // Closes the link: a running job is stopped and waited for, and none of its
  // calls reaches the window any more.
  ~QtJobLink() override;
  QtJobLink(const QtJobLink&) = delete;
  QtJobLink& operator=(const QtJobLink&) = delete;

  quillet::JobLink* operator->() { return &m_link; }
  const quillet::JobLink* operator->() const { return &m_link; }
  quillet::JobLink& operator*() { return m_link; }

 protected:
  bool event(QEvent* event) override;

 private:
  void Serve();

  quillet::JobLink m_link;
};

}  // namespace quillet
