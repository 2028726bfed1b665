#pragma once
#include <QDialog>

class QPlainTextEdit;

// The evidence behind one row's mark, read-only. Modeless, so that the user can
// keep it beside the list and open another row's.
class CPatchDetailsDlg : public QDialog {
  Q_OBJECT
 public:
  CPatchDetailsDlg(const QString& title, const QString& text, QWidget* parent = nullptr);
  ~CPatchDetailsDlg() override;

 private:
  QPlainTextEdit* m_text = nullptr;
};
