#pragma once
#include <QDialog>

// The address filter dialog: edits a working copy of g_addrFilter and, on OK,
// writes it to the settings file (the caller then reloads the filter).
class CAddrFilterDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAddrFilterDlg(QWidget* parent = nullptr);
  ~CAddrFilterDlg() override;
};
