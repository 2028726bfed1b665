#include "ui/common/group_frame.h"

#include <QPainter>

namespace quillet {

namespace {
constexpr int kTitleIndent = 6;
constexpr int kTitlePadding = 2;
}  // namespace

GroupFrame::GroupFrame(const QString& title, QWidget* parent) : QWidget(parent), m_title(title) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFocusPolicy(Qt::NoFocus);
  setAccessibleName(title);
}

void GroupFrame::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QFontMetrics metrics = fontMetrics();
  const int top = metrics.height() / 2;
  const QRect frame = rect().adjusted(0, top, -2, -2);
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(frame);
  painter.setPen(palette().color(QPalette::Light));
  painter.drawRect(frame.translated(1, 1));

  const QRect titleRect(kTitleIndent, 0, metrics.horizontalAdvance(m_title) + 2 * kTitlePadding, metrics.height());
  painter.fillRect(titleRect, palette().window());
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(titleRect, Qt::AlignCenter, m_title);
}

}  // namespace quillet
