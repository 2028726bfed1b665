// The main window's patch list: adding files and folders (a folder's files
// found on a job), removing rows and opening the files with the desktop. The
// rows live in m_model, which tells the view of every change.
#include <QItemSelectionModel>
#include <QTreeView>
#include <algorithm>
#include <thread>
#include <utility>

#include "core/search/folder_scan.h"
#include "ui/common/user_prompts.h"
#include "ui/common/window_text.h"
#include "ui/main_window/patch_finder_dlg.h"
#include "ui/main_window/patch_list_model.h"

namespace quillet {

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
  if (Busy()) {
    // The running search's rows must not move under it.
    m_pendingInputs.insert(m_pendingInputs.end(), given.begin(), given.end());
    return;
  }
  if (std::any_of(given.begin(), given.end(), quillet::IsFolder)) {
    ScanInputs(given);
    return;
  }
  (void)m_model->List().AddAll(given);
  UpdateButtons();
}

void CPatchFinderDlg::ScanInputs(const std::vector<std::string>& inputs) {
  // The same expansion as quillet-cli's: a folder adds the *.vkp files below
  // it, anything else is added as named. A folder that can't be read is passed
  // over silently here, as it always was.
  quillet::JobLink& link = *m_link;
  quillet::FolderScanEvents events{
      .scanning =
          link.Latest<std::string>([this](const std::string& path) { ShowStatus(QString::fromStdString(path)); }),
      .found = link.Posted<std::vector<std::string>>([this](const std::vector<std::string>& paths) {
        (void)m_model->List().AddAll(paths);
        UpdateButtons();
      }),
  };
  if (m_pacing.count() != 0) {
    events.scanning = [pause = m_pacing, show = events.scanning](const std::string& path) {
      std::this_thread::sleep_for(pause);
      show(path);
    };
  }
  auto work = [inputs, events = std::move(events)](quillet::StopToken stop) {
    return quillet::ScanPatchInputs(inputs, events, stop);
  };
  if (!link.Start<quillet::FolderScanOutcome>(std::move(work),
                                              [this](quillet::FolderScanOutcome& outcome) { OnScanDone(outcome); })) {
    // No thread to be had: the files are still worth adding, the window waiting.
    (void)quillet::AddPatchInputs(m_model->List(), inputs);
    UpdateButtons();
    return;
  }
  ShowBusy(true);
}

void CPatchFinderDlg::OnScanDone(const quillet::FolderScanOutcome& outcome) {
  ShowStatus(outcome.cause == quillet::JobCause::stopped
                 ? QString::fromUtf8(quillet::text::kScanStopped).arg(outcome.found)
                 : QString());
  ShowBusy(false);
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

}  // namespace quillet
