// The main window's patch list: adding files and folders, removing rows and
// opening the files with the desktop. The rows live in m_patches; the widget
// shows them at the same indexes.
#include <QTreeWidget>
#include <filesystem>

#include "core/res/strings.h"
#include "core/search/folder_scan.h"
#include "ui/common/user_prompts.h"
#include "ui/main_window/patch_finder_dlg.h"

int CPatchFinderDlg::FindPatchItem(const std::string& path) const {
  const std::optional<std::size_t> row = m_patches.Find(path);
  return row ? static_cast<int>(*row) : -1;
}

void CPatchFinderDlg::AddPatchItem(const std::string& fullPath) {
  const std::optional<std::size_t> row = m_patches.Add(fullPath);
  if (!row) return;
  const quillet::PatchRow& added = m_patches[*row];
  auto* item = new QTreeWidgetItem;
  item->setText(0, QString::fromStdString(added.name));
  item->setText(1, QString::fromStdString(added.path));
  m_patchList->insertTopLevelItem(static_cast<int>(*row), item);
  ShowPatchMark(static_cast<int>(*row));
  // The columns cut long paths off; the whole one is a pointer away.
  ShowRowTooltip(static_cast<int>(*row));
}

void CPatchFinderDlg::OnAddFile() {
  // However many files were chosen, all of them are added.
  const QStringList chosen =
      m_prompts.GetOpenFileNames(this, QString::fromUtf8(quillet::text::kPatchFilter), QStringLiteral("vkp"));
  for (const QString& path : chosen) {
    if (!path.isEmpty()) AddPatchItem(path.toStdString());
  }
  UpdateButtons();
}

void CPatchFinderDlg::AddPaths(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    if (std::filesystem::is_directory(path)) {
      quillet::FolderScanCallbacks callbacks;
      callbacks.showStatus = [this](const std::string& status) {
        ShowStatus(QString::fromStdString(status), status.empty());
      };
      callbacks.addPatchFile = [this](const std::string&, const std::string& fullPath) { AddPatchItem(fullPath); };
      quillet::ScanFolder(path, callbacks);
      ShowStatus(QString(), true);
    } else if (!path.empty()) {
      AddPatchItem(path);
    }
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
  for (int row = m_patchList->topLevelItemCount() - 1; row >= 0; --row) {
    if (m_patchList->topLevelItem(row)->isSelected()) {
      rows.push_back(static_cast<std::size_t>(row));
      delete m_patchList->takeTopLevelItem(row);
    }
  }
  m_patches.Remove(std::move(rows));
  UpdateButtons();
}

void CPatchFinderDlg::OnDblclkPatchList() {
  // Every selected row is opened, top to bottom, not only the one under the pointer.
  for (int row = 0; row < m_patchList->topLevelItemCount(); ++row) {
    if (m_patchList->topLevelItem(row)->isSelected())
      m_prompts.OpenWithDesktop(QString::fromStdString(m_patches[static_cast<std::size_t>(row)].path));
  }
}
