#include "ui/common/elided_label.h"

#include <QPainter>

namespace quillet {

void ElidedLabel::SetFullText(const QString& text, const QString& tooltip) {
  setText(text);
  setToolTip(tooltip.isEmpty() ? text : tooltip);
}

QString ElidedLabel::ShownText() const { return fontMetrics().elidedText(text(), m_mode, contentsRect().width()); }

void ElidedLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(palette().color(foregroundRole()));
  painter.drawText(contentsRect(), static_cast<int>(alignment()), ShownText());
}

}  // namespace quillet
