#pragma once
#include <QDialog>

class CPatchFinderDlg;

// The comparison window: shows the header at once, runs the worker, shows its
// result and saves it as a .vkp file. Takes both paths from its owner.
class CFlashCompareDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CFlashCompareDlg(CPatchFinderDlg* owner);
  ~CFlashCompareDlg() override;
};
