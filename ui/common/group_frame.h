#pragma once
#include <QString>
#include <QWidget>

namespace quillet {

// A group box as the dialog templates draw it: an etched frame whose top line
// runs through the middle of the title, so that controls placed just under the
// title (as the templates place them) sit inside the frame, not on it. Only
// paints: it sits behind its sibling controls and lets every click through.
class GroupFrame final : public QWidget {
  Q_OBJECT
 public:
  GroupFrame(const QString& title, QWidget* parent);

  [[nodiscard]] QString title() const { return m_title; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString m_title;
};

}  // namespace quillet
