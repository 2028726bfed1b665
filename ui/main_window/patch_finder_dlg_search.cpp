// The main window's search for installed patches, run as a job: the window
// keeps answering, and "Стоп" (or Escape) ends it between two rows.
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>
#include <algorithm>
#include <thread>
#include <utility>

#include "core/search/patch_list.h"
#include "ui/common/outcome_text.h"
#include "ui/common/row_details.h"
#include "ui/common/user_prompts.h"
#include "ui/common/window_text.h"
#include "ui/main_window/patch_finder_dlg.h"
#include "ui/main_window/patch_list_model.h"

namespace quillet {

void CPatchFinderDlg::OnSearch() {
  if (Busy()) {
    m_link->RequestStop();
    return;
  }
  if (m_strCurrentFlash.empty()) return;
  SearchRows({});
}

void CPatchFinderDlg::SearchRows(std::vector<std::size_t> rows) {
  // Every row searched is marked not installed first: no mark of an earlier
  // search may stay visible while this one runs.
  quillet::SearchJob job =
      m_model->List().StartSearch(m_strCurrentFlash, m_addrFilter, true, rows.empty() ? nullptr : &rows);
  m_searchRows = job.patchPaths.size();
  m_searchChecked = 0;
  quillet::JobLink& link = *m_link;
  quillet::SearchEvents events{
      .started = link.Posted<std::size_t>([this](std::size_t rows) { OnSearchStarted(rows); }),
      // The status line shows the newest path; the search never waits for it.
      .checking = link.Latest<std::size_t, std::string>(
          [this](std::size_t, const std::string& path) { ShowStatus(QString::fromStdString(path)); }),
      .checked = link.Posted<std::size_t, CheckDetails>(
          [this](std::size_t row, const CheckDetails& details) { OnSearchChecked(row, details); }),
  };
  if (m_pacing.count() != 0) {
    events.checking = [pause = m_pacing, show = events.checking](std::size_t row, const std::string& path) {
      std::this_thread::sleep_for(pause);
      show(row, path);
    };
  }
  const bool started =
      link.Start<quillet::SearchOutcome>([job = std::move(job), events = std::move(events)](
                                             quillet::StopToken stop) { return quillet::RunSearch(job, events, stop); },
                                         [this](quillet::SearchOutcome& outcome) { OnSearchDone(outcome); });
  if (!started) {
    quillet::SearchOutcome failed;
    failed.cause = quillet::JobCause::outOfMemory;
    OnSearchDone(failed);
    return;
  }
  ShowBusy(true);
}

void CPatchFinderDlg::OnSearchStarted(std::size_t rows) {
  // A range of 0..0 would show a busy bar; an empty list shows an empty one.
  m_progress->setRange(0, std::max(1, static_cast<int>(rows)));
  m_progress->setValue(0);
  m_progress->show();
}

void CPatchFinderDlg::OnSearchChecked(std::size_t checked, const CheckDetails& details) {
  m_model->List().Record(checked, details);
  m_searchChecked = checked + 1;
  m_progress->setValue(static_cast<int>(checked));
}

void CPatchFinderDlg::OnSearchDone(const quillet::SearchOutcome& outcome) {
  ShowBusy(false);
  // However it ended, the rows it never reached must not look checked.
  m_model->List().EndSearch(m_searchChecked);
  ResetProgress();
  if (outcome.cause == quillet::JobCause::stopped) {
    ShowStatus(QString::fromUtf8(quillet::text::kSearchStopped).arg(m_searchChecked).arg(m_searchRows));
    return;
  }
  if (!outcome.Ok()) {
    const OutcomeBox box = OutcomeMessage(WindowJob::search, outcome);
    m_prompts.MessageBox(this, box.text, box.caption, box.icon);
    return;
  }
  // Totals of a search that stopped early would count rows it never reached.
  QString totals = QString::fromStdString(quillet::SearchTotalsText(m_model->List()));
  // Where an install just put its undo patch stays in view with them.
  if (!m_statusNote.isEmpty()) totals = std::exchange(m_statusNote, QString()) + QStringLiteral(". ") + totals;
  ShowStatus(totals);
}

void CPatchFinderDlg::ShowBusy(bool busy) {
  m_search->setText(QString::fromUtf8(busy ? quillet::text::kStop : quillet::text::kSearch));
  for (QPushButton* command : {m_curBrowse, m_origBrowse, m_addFile, m_addFolder, m_filter}) command->setEnabled(!busy);
  // Drops and Delete change the list too.
  m_patchList->viewport()->setAcceptDrops(!busy);
  UpdateButtons();
  // What was given while the job ran is added once it has ended: a job can't
  // be started from within the done call that ends the one before.
  if (!busy && !m_pendingInputs.empty()) {
    QMetaObject::invokeMethod(
        this, [this] { AddPaths(std::exchange(m_pendingInputs, {})); }, Qt::QueuedConnection);
  }
}

}  // namespace quillet
