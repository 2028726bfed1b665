// The main window's search for installed patches.
#include <QLabel>
#include <QProgressBar>
#include <QTreeWidget>
#include <algorithm>
#include <vector>

#include "ui/main_window/patch_finder_dlg.h"
#include "ui/common/user_prompts.h"
#include "core/search/patch_list.h"
#include "core/search/row_details.h"

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

  quillet::SearchObserver observer;
  observer.started = [this](std::size_t rows) {
    // The list has marked every row not installed: no mark of an earlier
    // search may stay visible while this one runs.
    for (int row = 0; row < PatchCount(); ++row) ShowPatchMark(row);
    // A range of 0..0 would show a busy bar; an empty list shows an empty one.
    m_progress->setRange(0, std::max(1, static_cast<int>(rows)));
    m_progress->setValue(0);
    m_progress->show();
  };
  observer.checking = [this](std::size_t, const std::string& path) {
    ShowStatus(QString::fromStdString(path), false);
  };
  observer.checked = [this](std::size_t row, PatchStatus) {
    ShowPatchMark(static_cast<int>(row));
    m_progress->setValue(static_cast<int>(row));
  };
  const quillet::SearchResult result = quillet::SearchPatchList(m_strCurrentFlash, m_patches, m_addrFilter, observer,
                                                                {}, quillet::RowDetails::keep);

  // Also when the image could not be read and no row was checked.
  for (int row = 0; row < PatchCount(); ++row) ShowPatchMark(row);
  ShowRowTooltips();
  ResetProgress();
  if (result.failure != quillet::SearchFailure::none) {
    m_prompts.MessageBox(this, QString::fromStdString(result.message.text),
                         QString::fromStdString(result.message.caption), BoxIcon(result.message.icon));
    return;
  }
  // Totals of a search that stopped early would count rows it never reached.
  ShowStatus(QString::fromStdString(quillet::SearchTotalsText(m_patches)), true);
}
