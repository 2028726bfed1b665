#include "filter/addr_filter_dlg.h"

CAddrFilterDlg::CAddrFilterDlg(QWidget* parent) : QDialog(parent) {}
CAddrFilterDlg::~CAddrFilterDlg() = default;
