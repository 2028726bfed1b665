// The main window's patch list: adding files and folders, removing rows and
// opening the files with the desktop.
#include <QTreeWidget>
#include <algorithm>

#include "ui/main_window/patch_finder_dlg.h"
#include "ui/main_window/patch_list_item.h"
#include "ui/common/user_prompts.h"
#include "core/search/folder_scan.h"
#include "core/search/search.h"
#include "core/platform/file_io.h"
#include "core/res/strings.h"

namespace {

// First row that sorts after (name, path), found by halving: the rows are always in order.
int UpperBound(const QTreeWidget& list, const std::string& name, const std::string& path) {
  int low = 0;
  int high = list.topLevelItemCount();
  while (low < high) {
    const int mid = low + (high - low) / 2;
    const auto* item = static_cast<const PatchListItem*>(list.topLevelItem(mid));
    if (quillet::PatchRowLess(name, path, item->name(), item->path())) {
      high = mid;
    } else {
      low = mid + 1;
    }
  }
  return low;
}

}  // namespace

int CPatchFinderDlg::FindPatchItem(const std::string& path) const {
  // A row's name is always the last part of its path, so the order by name and
  // path leads straight to the only place where path can be.
  const int after = UpperBound(*m_patchList, quillet::FileNameOf(path), path);
  if (after == 0) return -1;
  const auto* item = static_cast<const PatchListItem*>(m_patchList->topLevelItem(after - 1));
  return item->path() == path ? after - 1 : -1;
}

void CPatchFinderDlg::AddPatchItem(const std::string& fullPath) {
  if (FindPatchItem(fullPath) >= 0) return;
  std::string name = quillet::FileNameOf(fullPath);
  const int row = UpperBound(*m_patchList, name, fullPath);
  auto* item = new PatchListItem(name, fullPath);
  item->setText(0, QString::fromStdString(name));
  item->setText(1, QString::fromStdString(fullPath));
  SetPatchMark(item, PATCH_NOT_INSTALLED);
  m_patchList->insertTopLevelItem(row, item);
}

void CPatchFinderDlg::OnAddFile() {
  // However many files were chosen, all of them are added.
  const QStringList chosen =
      Prompts().GetOpenFileNames(this, QString::fromUtf8(quillet::text::kPatchFilter), QStringLiteral("vkp"));
  for (const QString& path : chosen) {
    if (!path.isEmpty()) AddPatchItem(path.toStdString());
  }
  UpdateButtons();
}

void CPatchFinderDlg::OnAddFolder() {
  const QString folder = Prompts().GetExistingDirectory(this);
  if (!folder.isEmpty()) {
    quillet::FolderScanCallbacks callbacks;
    callbacks.showStatus = [this](const std::string& status) {
      ShowStatus(QString::fromStdString(status), status.empty());
    };
    callbacks.addPatchFile = [this](const std::string&, const std::string& fullPath) { AddPatchItem(fullPath); };
    quillet::ScanFolder(folder.toStdString(), callbacks);
    ShowStatus(QString(), true);
  }
  UpdateButtons();
}

void CPatchFinderDlg::OnRemoveFile() {
  qDeleteAll(m_patchList->selectedItems());
  UpdateButtons();
}

void CPatchFinderDlg::OnDblclkPatchList() {
  // Every selected row is opened, top to bottom, not only the one under the pointer.
  for (int row = 0; row < m_patchList->topLevelItemCount(); ++row) {
    const auto* item = static_cast<const PatchListItem*>(m_patchList->topLevelItem(row));
    if (item->isSelected()) Prompts().OpenWithDesktop(QString::fromStdString(item->path()));
  }
}
