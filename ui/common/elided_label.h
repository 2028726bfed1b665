#pragma once
#include <QLabel>

// A one-line label that shortens its text with "…" where it doesn't fit and
// keeps the whole text in its tooltip. Its text (and so what a screen reader
// reads) stays whole: only the painting is shortened.
class ElidedLabel final : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
  // Sets the text and the tooltip to it.
  void SetFullText(const QString& text);

 protected:
  void paintEvent(QPaintEvent* event) override;
};
