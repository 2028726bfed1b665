#pragma once
#include <QFont>
#include <QRect>
#include <QSize>

namespace quillet {

// Dialog templates are laid out in dialog units; this converts them to pixels
// for the dialog's font, by the rule the templates were drawn for:
// x = dlu * avg-char-width / 4, y = dlu * height / 8, rounded half away from zero.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);

  [[nodiscard]] int x(int dlu) const;
  [[nodiscard]] int y(int dlu) const;
  [[nodiscard]] QRect rect(int x, int y, int width, int height) const;
  [[nodiscard]] QSize size(int width, int height) const;

  // "MS Sans Serif" 8 pt of the templates, resolved to what this machine has.
  [[nodiscard]] static QFont DialogFont();

 private:
  int m_baseX;
  int m_baseY;
};

}  // namespace quillet
