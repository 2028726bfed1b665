#pragma once
#include <QLabel>

namespace quillet {

// A one-line label that shortens its text with "…" where it doesn't fit and
// keeps the whole text in its tooltip. Its text (and so what a screen reader
// reads) stays whole: only the painting is shortened.
class ElidedLabel final : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
  // Sets the text, and the tooltip to tooltip (to the text when none is given).
  void SetFullText(const QString& text, const QString& tooltip = QString());
  // Where the text is shortened: at its end unless told otherwise.
  void SetElideMode(Qt::TextElideMode mode) { m_mode = mode; }
  // The text as it is painted at the label's width now.
  [[nodiscard]] QString ShownText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Qt::TextElideMode m_mode = Qt::ElideRight;
};

}  // namespace quillet
