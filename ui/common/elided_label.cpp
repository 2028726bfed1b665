#include "ui/common/elided_label.h"

#include <QPainter>

void ElidedLabel::SetFullText(const QString& text) {
  setText(text);
  setToolTip(text);
}

void ElidedLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect area = contentsRect();
  painter.setPen(palette().color(foregroundRole()));
  painter.drawText(area, static_cast<int>(alignment()), fontMetrics().elidedText(text(), Qt::ElideRight, area.width()));
}
