// The main window's search for installed patches.
#include <QLabel>
#include <QProgressBar>
#include <QTreeWidget>
#include <algorithm>
#include <vector>

#include "ui/main_window/patch_finder_dlg.h"
#include "ui/main_window/patch_list_item.h"
#include "ui/common/user_prompts.h"
#include "core/search/search.h"

namespace {

IUserPrompts::Icon BoxIcon(quillet::SearchMessage::Icon icon) {
  switch (icon) {
    case quillet::SearchMessage::Icon::exclamation: return IUserPrompts::Icon::exclamation;
    case quillet::SearchMessage::Icon::stop: return IUserPrompts::Icon::stop;
    case quillet::SearchMessage::Icon::none: break;
  }
  return IUserPrompts::Icon::none;
}

}  // namespace

void CPatchFinderDlg::OnSearch() {
  if (m_strCurrentFlash.empty()) return;

  // No mark of an earlier search may stay visible, whatever happens next.
  std::vector<std::string> paths;
  paths.reserve(static_cast<std::size_t>(m_patchList->topLevelItemCount()));
  for (int row = 0; row < m_patchList->topLevelItemCount(); ++row) {
    auto* item = static_cast<PatchListItem*>(m_patchList->topLevelItem(row));
    SetPatchMark(item, PATCH_NOT_INSTALLED);
    paths.push_back(item->path());
  }

  quillet::SearchObserver observer;
  observer.started = [this](std::size_t rows) {
    // A range of 0..0 would show a busy bar; an empty list shows an empty one.
    m_progress->setRange(0, std::max(1, static_cast<int>(rows)));
    m_progress->setValue(0);
    m_progress->show();
  };
  observer.checking = [this](std::size_t, const std::string& path) {
    ShowStatus(QString::fromStdString(path), false);
  };
  observer.checked = [this](std::size_t row, PatchStatus status) {
    SetPatchMark(m_patchList->topLevelItem(static_cast<int>(row)), status);
    m_progress->setValue(static_cast<int>(row));
  };
  const quillet::SearchResult result = quillet::RunSearch(m_strCurrentFlash, paths, observer);

  ResetProgress();
  if (result.failure != quillet::SearchFailure::none) {
    Prompts().MessageBox(this, QString::fromStdString(result.message.text),
                         QString::fromStdString(result.message.caption), BoxIcon(result.message.icon));
  }
}
