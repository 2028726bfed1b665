// The main window's choice of the current and the original Full Flash image.
#include <QLabel>

#include "ui/common/elided_label.h"
#include "ui/common/user_prompts.h"
#include "ui/common/window_text.h"
#include "ui/main_window/flash_selection.h"
#include "ui/main_window/patch_finder_dlg.h"
#include "ui/main_window/patch_list_model.h"

namespace quillet {

void CPatchFinderDlg::OnBrowseCurrentFlash() {
  BrowseFlash(m_strCurrentFlash, m_curName, m_curSize, m_curDate);
  m_model->SetCurrentImage(m_strCurrentFlash);  // the tooltips say whether the evidence was found against it
}

void CPatchFinderDlg::OnBrowseOriginalFlash() { BrowseFlash(m_strOriginalFlash, m_origName, m_origSize, m_origDate); }

void CPatchFinderDlg::ChooseCurrentFlash(const std::string& path) {
  ShowFlash(quillet::ChooseFlash(path), m_strCurrentFlash, m_curName, m_curSize, m_curDate);
  m_model->SetCurrentImage(m_strCurrentFlash);
}

void CPatchFinderDlg::BrowseFlash(std::string& field, ElidedLabel* name, QLabel* size, QLabel* date) {
  // A cancelled dialog forgets the earlier choice too: the texts always match the field.
  const QString chosen =
      m_prompts.GetOpenFileName(this, QString::fromUtf8(quillet::text::kBinaryFilter), QStringLiteral("bin"));
  ShowFlash(quillet::ChooseFlash(chosen.toStdString()), field, name, size, date);
}

void CPatchFinderDlg::ShowFlash(const quillet::FlashChoice& choice, std::string& field, ElidedLabel* name, QLabel* size,
                                QLabel* date) {
  field = choice.path;
  // The whole path is a pointer away; a name alone may stand for two files.
  name->SetFullText(QString::fromStdString(choice.texts.name), QString::fromStdString(choice.path));
  size->setText(QString::fromStdString(choice.texts.size));
  date->setText(QString::fromStdString(choice.texts.date));
  UpdateButtons();
}

}  // namespace quillet
