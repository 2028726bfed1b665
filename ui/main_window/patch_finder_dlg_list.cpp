// The main window's patch list: adding files and folders, removing rows and
// opening the files with the desktop. The rows live in m_model, which tells
// the view of every change.
#include <QItemSelectionModel>
#include <QTreeView>

#include "core/res/strings.h"
#include "ui/common/user_prompts.h"
#include "ui/main_window/patch_finder_dlg.h"
#include "ui/main_window/patch_list_model.h"

void CPatchFinderDlg::OnAddFile() {
  // However many files were chosen, all of them are added.
  const QStringList chosen =
      m_prompts.GetOpenFileNames(this, QString::fromUtf8(quillet::text::kPatchFilter), QStringLiteral("vkp"));
  std::vector<std::string> paths;
  for (const QString& path : chosen)
    if (!path.isEmpty()) paths.push_back(path.toStdString());
  AddPaths(paths);
}

void CPatchFinderDlg::AddPaths(const std::vector<std::string>& paths) {
  std::vector<std::string> given;
  for (const std::string& path : paths)
    if (!path.empty()) given.push_back(path);
  if (!given.empty()) {
    // The same expansion as quillet-cli's: a folder adds the *.vkp files below
    // it, anything else is added as named.
    // A folder that can't be read is passed over silently here, as it always was.
    (void)quillet::AddPatchInputs(m_model->List(), given, [this](const std::string& status) {
      ShowStatus(QString::fromStdString(status), status.empty());
    });
    ShowStatus(QString(), true);
  }
  UpdateButtons();
}

void CPatchFinderDlg::OnAddFolder() {
  const QString folder = m_prompts.GetExistingDirectory(this);
  if (folder.isEmpty()) {
    UpdateButtons();
    return;
  }
  AddPaths({folder.toStdString()});
}

void CPatchFinderDlg::OnRemoveFile() {
  std::vector<std::size_t> rows;
  for (const QModelIndex& index : m_patchList->selectionModel()->selectedRows())
    rows.push_back(static_cast<std::size_t>(index.row()));
  m_model->List().Remove(std::move(rows));
  UpdateButtons();
}

void CPatchFinderDlg::OnDblclkPatchList() {
  // Every selected row is opened, top to bottom, not only the one under the pointer.
  const quillet::PatchList& rows = m_model->List();
  for (std::size_t row = 0; row < rows.size(); ++row) {
    if (m_patchList->selectionModel()->isRowSelected(static_cast<int>(row), QModelIndex()))
      m_prompts.OpenWithDesktop(QString::fromStdString(rows[row].path));
  }
}
