#include "ui/install/install_dlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

#include "core/platform/file_system.h"
#include "ui/common/dialog_units.h"
#include "ui/common/outcome_text.h"
#include "ui/common/user_prompts.h"
#include "ui/common/window_text.h"
#include "ui/install/install_text.h"

namespace quillet {

namespace {

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

}  // namespace

CInstallDlg::CInstallDlg(QWidget* owner, quillet::InstallJob job, IUserPrompts& prompts)
    : QDialog(owner), m_job(std::move(job)), m_prompts(prompts) {
  setObjectName(QStringLiteral("IDD_INSTALL"));
  const bool reverting = m_job.mode == quillet::InstallMode::revert;
  setWindowTitle(Text(reverting ? text::kRevertTitle : text::kInstallTitle));
  setFont(DialogUnits::DialogFont());
  const DialogUnits du(font());

  m_list = Named(new QTreeWidget(this), "IDC_INSTALL_LIST");
  m_list->setAccessibleName(Text(text::kAccInstallList));
  // Two patches may share a name: the path tells them apart, as in the main list.
  m_list->setHeaderLabels(
      {Text(text::kColumnFileName), Text(text::kColumnFilePath), Text(text::kColumnInstallDecision)});
  m_list->setRootIsDecorated(false);
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  m_list->setColumnWidth(0, 120);
  m_list->setColumnWidth(1, 160);
  m_list->header()->setStretchLastSection(true);
  m_list->setTextElideMode(Qt::ElideMiddle);
  // A reason is often longer than its column: the chosen row's is shown whole below the list.
  m_reason = Named(new QLabel(this), "IDC_INSTALL_REASON");
  m_reason->setWordWrap(true);
  m_reason->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_reason->setAccessibleName(Text(text::kAccInstallReason));
  connect(m_list, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* row) { ShowReason(row); });
  m_summary = Named(new QLabel(Text(text::kInstallChecking), this), "IDC_INSTALL_SUMMARY");
  m_summary->setWordWrap(true);
  m_toNew = Named(new QRadioButton(Text(text::kInstallToNewFile), this), "IDC_INSTALL_NEW");
  m_inPlace = Named(new QRadioButton(Text(text::kInstallInPlace), this), "IDC_INSTALL_IN_PLACE");
  m_toNew->setChecked(true);
  m_saveUndo = Named(new QCheckBox(Text(text::kInstallSaveUndo), this), "IDC_SAVE_UNDO");
  m_saveUndo->setChecked(true);
  m_progress = Named(new QProgressBar(this), "IDC_PROGRESS");
  m_progress->setAccessibleName(Text(reverting ? text::kAccRevertProgress : text::kAccInstallProgress));
  m_progress->setTextVisible(false);
  m_write = Named(new QPushButton(Text(text::kInstallWrite), this), "IDOK");
  m_cancel = Named(new QPushButton(Text(text::kCancel), this), "IDCANCEL");
  m_write->setEnabled(false);

  for (const std::string& path : m_job.patchPaths) {
    auto* row = new QTreeWidgetItem(m_list);
    row->setText(0, QString::fromStdString(quillet::FileNameOf(path)));
    row->setText(1, QString::fromStdString(path));
    row->setToolTip(0, QString::fromStdString(path));
    row->setToolTip(1, QString::fromStdString(path));
  }

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(m_progress, 1);
  buttons->addWidget(m_write);
  buttons->addWidget(m_cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_list, 1);
  layout->addWidget(m_reason);
  layout->addWidget(m_summary);
  layout->addWidget(m_toNew);
  layout->addWidget(m_inPlace);
  layout->addWidget(m_saveUndo);
  layout->addLayout(buttons);
  resize(du.size(311, 199));

  connect(m_write, &QPushButton::clicked, this, &CInstallDlg::OnWrite);
  connect(m_cancel, &QPushButton::clicked, this, &CInstallDlg::reject);
}

CInstallDlg::~CInstallDlg() { m_link->Close(); }

void CInstallDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (m_planned || Busy()) return;
  // What will happen is read first, writing nothing.
  quillet::InstallJob plan = m_job;
  plan.dryRun = true;
  StartRun(std::move(plan));
}

void CInstallDlg::StartRun(quillet::InstallJob job) {
  m_writing = !job.dryRun;
  m_summary->setText(Text(m_writing ? text::kInstallWriting : text::kInstallChecking));
  quillet::JobLink& link = *m_link;
  const quillet::InstallEvents events{
      .progress = link.Latest<std::uint64_t, std::uint64_t>([this](std::uint64_t done, std::uint64_t total) {
        if (total == 0) return;
        constexpr int kSteps = 1000;
        m_progress->setRange(0, kSteps);
        m_progress->setValue(static_cast<int>(std::min(done, total) * kSteps / total));
      }),
      .waitingForImage = link.Posted<>([this] { m_summary->setText(Text(text::kInstallWaitingForImage)); }),
  };
  const bool started = link.Start<quillet::InstallOutcome>(
      [job = std::move(job), events](quillet::StopToken stop) { return quillet::InstallPatches(job, events, stop); },
      [this](quillet::InstallOutcome& outcome) { OnRunDone(outcome); });
  if (!started) {
    quillet::InstallOutcome failed;
    failed.cause = quillet::JobCause::outOfMemory;
    OnRunDone(failed);
    return;
  }
  ShowRunning(true);
}

void CInstallDlg::ShowRunning(bool running) {
  m_progress->setRange(0, running ? 0 : 1);
  m_progress->setValue(0);
  m_progress->setVisible(running);
  m_cancel->setText(Text(running ? text::kStop : text::kCancel));
  m_write->setEnabled(!running && m_writable);
  for (QWidget* choice : std::initializer_list<QWidget*>{m_toNew, m_inPlace, m_saveUndo}) choice->setEnabled(!running);
}

void CInstallDlg::ShowDecisions(const quillet::InstallOutcome& outcome) {
  std::vector<std::string> names;
  names.reserve(m_job.patchPaths.size());
  for (const std::string& path : m_job.patchPaths) names.push_back(quillet::FileNameOf(path));
  for (std::size_t i = 0; i < outcome.patches.size() && i < names.size(); ++i) {
    QTreeWidgetItem* row = m_list->topLevelItem(static_cast<int>(i));
    std::string said = quillet::InstallDecisionText(outcome.patches[i], names);
    if (const std::string note = quillet::InstallUndoNote(outcome.patches[i], m_job.mode); !note.empty())
      said += ". " + note;
    const QString what = QString::fromStdString(said);
    row->setText(2, what);
    row->setToolTip(2, what);
  }
  // The first refused patch is the one the user needs to read about.
  int shown = 0;
  for (std::size_t i = 0; i < outcome.patches.size(); ++i) {
    if (outcome.patches[i].status == quillet::InstallStatus::refused) {
      shown = static_cast<int>(i);
      break;
    }
  }
  if (QTreeWidgetItem* row = m_list->topLevelItem(shown)) {
    m_list->setCurrentItem(row);
    ShowReason(row);
  }
  m_summary->setText(QString::fromStdString(quillet::InstallSummaryText(outcome.patches, outcome.bytesChanged)));
  m_planned = true;
  m_writable = outcome.cause == quillet::JobCause::none;
}

void CInstallDlg::ShowReason(const QTreeWidgetItem* row) {
  m_reason->setText(row && !row->text(2).isEmpty() ? row->text(1) + QLatin1Char('\n') + row->text(2) : QString());
}

void CInstallDlg::OnRunDone(const quillet::InstallOutcome& outcome) {
  const bool wrote = m_writing;
  m_writing = false;
  if (!outcome.patches.empty() || outcome.cause == quillet::JobCause::refused) ShowDecisions(outcome);
  if (!wrote && !outcome.Ok()) m_writable = false;
  ShowRunning(false);
  if (outcome.cause == quillet::JobCause::stopped) {
    m_summary->setText(Text(text::kInstallStopped));
    return;
  }
  if (const OutcomeBox box = OutcomeMessage(WindowJob::install, outcome); !box.text.isEmpty()) {
    m_prompts.MessageBox(this, box.text, box.caption, box.icon);
    return;
  }
  if (wrote && outcome.Ok()) {
    m_written = m_job.inPlace ? m_job.imagePath : m_job.outputPath;
    m_undoSaved = m_undoPath.empty() ? std::string() : quillet::InstallUndoSavedText(m_undoPath);
    if (!m_undoSaved.empty()) m_summary->setText(QString::fromStdString(m_undoSaved));
    accept();
  }
}

void CInstallDlg::OnWrite() {
  if (Busy() || !m_writable) return;
  quillet::InstallJob job = m_job;
  job.dryRun = false;
  job.inPlace = m_inPlace->isChecked();
  if (job.inPlace) {
    const QString question =
        Text(text::kInstallInPlaceQuestion).arg(QString::fromStdString(quillet::FileNameOf(job.imagePath)));
    if (!m_prompts.Confirm(this, question, windowTitle())) return;
  } else {
    // Beside the image, named after it; neither the image nor a patch may be chosen.
    const QFileInfo image(QString::fromStdString(job.imagePath));
    IUserPrompts::SaveChoice choice;
    choice.proposed = image.absoluteDir().filePath(
        image.completeBaseName() +
        Text(job.mode == quillet::InstallMode::revert ? text::kRevertProposedSuffix : text::kInstallProposedSuffix) +
        QStringLiteral(".bin"));
    choice.inputs << image.filePath();
    for (const std::string& patch : job.patchPaths) choice.inputs << QString::fromStdString(patch);
    const QString path = m_prompts.GetSaveFileNameFor(this, Text(text::kBinaryFilter), QStringLiteral("bin"), choice);
    if (path.isEmpty()) return;
    job.outputPath = path.toStdString();
  }
  const std::string& result = job.inPlace ? job.imagePath : job.outputPath;
  job.undoPath = m_saveUndo->isChecked() ? quillet::FreeUndoPath(result) : std::string();
  m_job.inPlace = job.inPlace;
  m_job.outputPath = job.outputPath;
  m_undoPath = job.undoPath;
  StartRun(std::move(job));
}

void CInstallDlg::closeEvent(QCloseEvent* event) {
  // The close box while a run goes on is "Стоп": the window stays until the run has ended.
  if (Busy()) {
    m_link->RequestStop();
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void CInstallDlg::reject() {
  if (Busy()) {
    m_link->RequestStop();
    return;
  }
  QDialog::reject();
}

}  // namespace quillet
