// The main window's patch list: adding files and folders, removing rows and
// opening the files with the desktop. The rows live in m_patches; the widget
// shows them at the same indexes.
#include <QTreeWidget>
#include <vector>

#include "core/res/strings.h"
#include "core/search/folder_scan.h"
#include "ui/common/user_prompts.h"
#include "ui/main_window/patch_finder_dlg.h"

int CPatchFinderDlg::FindPatchItem(const std::string& path) const {
  const std::optional<std::size_t> row = m_patches.Find(path);
  return row ? static_cast<int>(*row) : -1;
}

void CPatchFinderDlg::AddPatchItem(const std::string& fullPath) { AddPatchItems({fullPath}); }

void CPatchFinderDlg::AddPatchItems(const std::vector<std::string>& paths) {
  const std::vector<std::size_t> added = m_patches.AddAll(paths);
  if (added.empty()) return;
  const auto itemOf = [this](std::size_t row) {
    const quillet::PatchRow& patch = m_patches[row];
    auto* item = new QTreeWidgetItem;
    item->setText(0, QString::fromStdString(patch.name));
    item->setText(1, QString::fromStdString(patch.path));
    return item;
  };
  const bool oneRun = added.back() - added.front() + 1 == added.size();
  if (oneRun) {
    QList<QTreeWidgetItem*> items;
    for (const std::size_t row : added) items.push_back(itemOf(row));
    m_patchList->insertTopLevelItems(static_cast<int>(added.front()), items);
  } else {
    // Rows new among old ones all over the list: the widget is filled again
    // in one go, since an insertion per run would move the rows after it
    // each time. The rows already shown keep their items and selection.
    std::vector<QTreeWidgetItem*> old;
    std::vector<bool> selected;
    for (int row = m_patchList->topLevelItemCount() - 1; row >= 0; --row) {
      selected.push_back(m_patchList->topLevelItem(row)->isSelected());
      old.push_back(m_patchList->takeTopLevelItem(row));
    }
    QList<QTreeWidgetItem*> items;
    std::vector<QTreeWidgetItem*> reselect;
    auto next = added.begin();
    for (std::size_t row = 0; row < m_patches.size(); ++row) {
      if (next != added.end() && *next == row) {
        items.push_back(itemOf(row));
        ++next;
      } else {
        items.push_back(old.back());
        if (selected.back()) reselect.push_back(old.back());
        old.pop_back();
        selected.pop_back();
      }
    }
    m_patchList->addTopLevelItems(items);
    for (QTreeWidgetItem* item : reselect) item->setSelected(true);
  }
  for (const std::size_t row : added) {
    ShowPatchMark(static_cast<int>(row));
    // The columns cut long paths off; the whole one is a pointer away.
    ShowRowTooltip(static_cast<int>(row));
  }
}

void CPatchFinderDlg::OnAddFile() {
  // However many files were chosen, all of them are added.
  const QStringList chosen =
      m_prompts.GetOpenFileNames(this, QString::fromUtf8(quillet::text::kPatchFilter), QStringLiteral("vkp"));
  std::vector<std::string> paths;
  for (const QString& path : chosen) {
    if (!path.isEmpty()) paths.push_back(path.toStdString());
  }
  AddPatchItems(paths);
  UpdateButtons();
}

void CPatchFinderDlg::AddPaths(const std::vector<std::string>& paths) {
  std::vector<std::string> inputs;
  for (const std::string& path : paths)
    if (!path.empty()) inputs.push_back(path);
  // Unreadable folders are passed over in silence here: the window's list is
  // what it found, as it always was.
  bool scanned = false;
  const std::vector<std::string> found = quillet::ExpandPatchInputs(inputs, [this, &scanned](const std::string& status) {
    scanned = true;
    ShowStatus(QString::fromStdString(status), status.empty());
  });
  if (scanned) ShowStatus(QString(), true);
  AddPatchItems(found);
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
