#include "compare/flash_compare_dlg.h"

CFlashCompareDlg::CFlashCompareDlg(CPatchFinderDlg* owner) : QDialog(nullptr) { (void)owner; }
CFlashCompareDlg::~CFlashCompareDlg() = default;
