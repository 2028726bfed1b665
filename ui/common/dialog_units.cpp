#include "ui/common/dialog_units.h"

#include <QFontMetrics>

namespace quillet {

namespace {

// MulDiv: a * b / c rounded half away from zero.
int MulDiv(int a, int b, int c) {
  const long long product = static_cast<long long>(a) * b;
  const long long half = c / 2;
  return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int alphabet =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  m_baseX = (alphabet / 26 + 1) / 2;
  m_baseY = metrics.height();
}

int DialogUnits::x(int dlu) const { return MulDiv(dlu, m_baseX, 4); }
int DialogUnits::y(int dlu) const { return MulDiv(dlu, m_baseY, 8); }

QRect DialogUnits::rect(int x0, int y0, int width, int height) const { return {x(x0), y(y0), x(width), y(height)}; }

QSize DialogUnits::size(int width, int height) const { return {x(width), y(height)}; }

QFont DialogUnits::DialogFont() {
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPointSize(8);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

}  // namespace quillet
