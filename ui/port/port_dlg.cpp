#include "ui/port/port_dlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <thread>
#include <utility>

#include "core/platform/file_system.h"
#include "ui/common/dialog_units.h"
#include "ui/common/outcome_text.h"
#include "ui/common/user_prompts.h"
#include "ui/common/window_text.h"
#include "ui/port/port_text.h"

namespace quillet {

namespace {

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

// How many names a question or an error box lists before "…".
constexpr qsizetype kNamesAsked = 5;
constexpr std::size_t kFailuresShown = 10;

using Progress = std::function<void(std::uint64_t, std::uint64_t)>;

// The test hook's pause before each step; a stop cuts it short, so that a
// paced run lasts until it is stopped rather than for a time.
Progress Paced(Progress progress, std::chrono::microseconds pause, quillet::StopToken stop) {
  if (pause.count() == 0) return progress;
  return [progress = std::move(progress), pause, stop](std::uint64_t done, std::uint64_t total) {
    const auto until = std::chrono::steady_clock::now() + pause;
    while (!stop.StopRequested() && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::min<std::chrono::microseconds>(pause, std::chrono::milliseconds(1)));
    if (progress) progress(done, total);
  };
}

// The file name a patch ported alone is offered under, beside it.
QString ProposedPath(const std::string& patchPath) {
  const QFileInfo patch(QString::fromStdString(patchPath));
  QString base = patch.fileName();
  if (base.endsWith(QStringLiteral(".vkp"), Qt::CaseInsensitive)) base.chop(4);
  return patch.absoluteDir().filePath(base + Text(text::kPortProposedSuffix) + QStringLiteral(".vkp"));
}

// Each patch's own file name in one folder. Two of one name are not refused:
// the later ones get "name (2).vkp", "name (3).vkp", a number no other of the
// names has. Names are told apart without regard to case, since the folder
// may be on a FAT memory card where "A.vkp" is "a.vkp".
QStringList NamesInOneFolder(const std::vector<std::string>& paths) {
  QStringList names;
  QSet<QString> taken;
  for (const std::string& path : paths) names << QString::fromStdString(quillet::FileNameOf(path));
  for (const QString& name : names) taken.insert(name.toLower());
  QSet<QString> given;
  for (QString& name : names) {
    if (!given.contains(name.toLower())) {
      given.insert(name.toLower());
      continue;
    }
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    QString numbered;
    for (int n = 2;; ++n) {
      numbered = QStringLiteral("%1 (%2)%3").arg(stem, QString::number(n), extension);
      if (!taken.contains(numbered.toLower())) break;
    }
    taken.insert(numbered.toLower());
    given.insert(numbered.toLower());
    name = numbered;
  }
  return names;
}

}  // namespace

CPortDlg::CPortDlg(QWidget* owner, Inputs inputs, IUserPrompts& prompts)
    : QDialog(owner), m_inputs(std::move(inputs)), m_prompts(prompts) {
  setObjectName(QStringLiteral("IDD_PORT"));
  setWindowTitle(Text(text::kPortTitle).arg(QString::fromStdString(quillet::FileNameOf(m_inputs.imagePath))));
  setFont(DialogUnits::DialogFont());
  const DialogUnits du(font());

  m_list = Named(new QTreeWidget(this), "IDC_PORT_LIST");
  m_list->setAccessibleName(Text(text::kAccPortList));
  m_list->setHeaderLabels({Text(text::kColumnFileName), Text(text::kColumnFilePath), Text(text::kColumnPortResult)});
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  m_list->setColumnWidth(0, 150);
  m_list->setColumnWidth(1, 160);
  m_list->header()->setStretchLastSection(true);
  m_list->setTextElideMode(Qt::ElideMiddle);
  for (const std::string& path : m_inputs.patchPaths) {
    auto* row = new QTreeWidgetItem(m_list);
    row->setText(0, QString::fromStdString(quillet::FileNameOf(path)));
    row->setText(1, QString::fromStdString(path));
    row->setToolTip(0, QString::fromStdString(path));
    row->setToolTip(1, QString::fromStdString(path));
  }
  m_summary = Named(new QLabel(this), "IDC_PORT_SUMMARY");
  m_summary->setWordWrap(true);
  m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
  m_fromOriginal = Named(new QCheckBox(Text(text::kPortFromOriginal), this), "IDC_PORT_FROM_ORIGINAL");
  m_fromOriginal->setEnabled(!m_inputs.originalPath.empty());
  if (!m_inputs.originalPath.empty()) m_fromOriginal->setToolTip(QString::fromStdString(m_inputs.originalPath));
  m_addToList = Named(new QCheckBox(Text(text::kPortAddToList), this), "IDC_PORT_ADD_TO_LIST");
  m_addToList->setChecked(true);
  m_progress = Named(new QProgressBar(this), "IDC_PORT_PROGRESS");
  m_progress->setAccessibleName(Text(text::kAccPortProgress));
  m_progress->setTextVisible(false);
  m_write = Named(new QPushButton(Text(text::kSave), this), "IDC_PORT_WRITE");
  m_write->setEnabled(false);
  m_cancel = Named(new QPushButton(Text(text::kCancel), this), "IDCANCEL");

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(m_progress, 1);
  buttons->addWidget(m_write);
  buttons->addWidget(m_cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_list, 1);
  layout->addWidget(m_summary);
  layout->addWidget(m_fromOriginal);
  layout->addWidget(m_addToList);
  layout->addLayout(buttons);
  resize(du.size(340, 199));

  connect(m_write, &QPushButton::clicked, this, &CPortDlg::OnWrite);
  connect(m_cancel, &QPushButton::clicked, this, &CPortDlg::reject);
  // Porting writes nothing, so another choice of firmware is simply ported again.
  connect(m_fromOriginal, &QCheckBox::toggled, this, [this] { StartPort(); });
}

CPortDlg::~CPortDlg() { m_link->Close(); }

bool CPortDlg::AddToList() const { return m_addToList->isChecked(); }

void CPortDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (m_started) return;
  m_started = true;
  StartPort();
}

std::function<void(std::uint64_t, std::uint64_t)> CPortDlg::ProgressEvent() {
  return m_link->Latest<std::uint64_t, std::uint64_t>([this](std::uint64_t done, std::uint64_t total) {
    if (total == 0) return;
    constexpr int kSteps = 1000;
    m_progress->setRange(0, kSteps);
    m_progress->setValue(static_cast<int>(std::min(done, total) * kSteps / total));
  });
}

void CPortDlg::StartPort() {
  if (Busy()) return;
  quillet::PortJob job;
  job.imagePath = m_inputs.imagePath;
  job.firmwarePath = m_fromOriginal->isChecked() ? m_inputs.originalPath : std::string();
  job.patchPaths = m_inputs.patchPaths;
  m_firmware = job.firmwarePath;
  // No result of an earlier run may stay visible beside this one's.
  m_ported.clear();
  for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = m_list->topLevelItem(i);
    qDeleteAll(row->takeChildren());
    row->setText(2, QString());
    row->setToolTip(2, QString());
  }
  m_summary->setText(Text(text::kPortRunning));
  const quillet::PortEvents events{.progress = ProgressEvent(), .patchPorted = {}};
  const bool started = m_link->Start<quillet::PortOutcome>(
      [job = std::move(job), events, pause = m_pacing](quillet::StopToken stop) {
        quillet::PortEvents paced = events;
        paced.progress = Paced(events.progress, pause, stop);
        return quillet::PortPatches(job, paced, stop);
      },
      [this](quillet::PortOutcome& outcome) { OnPortDone(outcome); });
  if (!started) {
    quillet::PortOutcome failed;
    failed.cause = quillet::JobCause::outOfMemory;
    OnPortDone(failed);
    return;
  }
  ShowRunning(true);
}

void CPortDlg::OnPortDone(quillet::PortOutcome& outcome) {
  ShowRunning(false);
  if (outcome.cause == quillet::JobCause::stopped) {
    m_summary->setText(Text(text::kPortStopped));
    return;
  }
  if (const OutcomeBox box = OutcomeMessage(WindowJob::port, outcome); !box.text.isEmpty()) {
    m_summary->setText(box.text);
    m_prompts.MessageBox(this, box.text, box.caption, box.icon);
    return;
  }
  m_ported = std::move(outcome.patches);
  for (std::size_t i = 0; i < m_ported.size(); ++i) {
    QTreeWidgetItem* row = m_list->topLevelItem(static_cast<int>(i));
    if (row == nullptr) break;
    const QString said = PortPatchText(m_ported[i], m_firmware);
    row->setText(2, said);
    row->setToolTip(2, said);
    for (const quillet::PortPiece& piece : m_ported[i].pieces) {
      auto* child = new QTreeWidgetItem(row);
      child->setText(0, PortPieceRange(piece));
      const QString where = PortPieceText(piece);
      child->setText(2, where);
      child->setToolTip(2, where);
    }
  }
  m_list->expandAll();
  m_summary->setText(PortSummaryText(m_ported));
  ShowRunning(false);
}

void CPortDlg::ShowRunning(bool running) {
  m_progress->setRange(0, running ? 0 : 1);
  m_progress->setValue(0);
  m_progress->setVisible(running);
  m_cancel->setText(Text(running ? text::kStop : text::kCancel));
  const bool anyPorted = std::any_of(m_ported.begin(), m_ported.end(), [](const quillet::PortedPatch& patch) {
    return patch.status != quillet::PortStatus::refused;
  });
  m_write->setEnabled(!running && anyPorted);
  m_fromOriginal->setEnabled(!running && !m_inputs.originalPath.empty());
  m_addToList->setEnabled(!running);
}

std::vector<std::string> CPortDlg::ReadFiles() const {
  std::vector<std::string> inputs = m_inputs.patchPaths;
  inputs.push_back(m_inputs.imagePath);
  // The original image even when the run did not read it: it is the user's
  // other firmware, never a place for a patch.
  if (!m_inputs.originalPath.empty()) inputs.push_back(m_inputs.originalPath);
  if (!m_inputs.settingsPath.empty()) inputs.push_back(m_inputs.settingsPath);
  return inputs;
}

std::vector<quillet::PortedFile> CPortDlg::ChooseOutputs() {
  std::vector<std::size_t> chosen;  // the ported patches, by index
  for (std::size_t i = 0; i < m_ported.size(); ++i)
    if (m_ported[i].status != quillet::PortStatus::refused) chosen.push_back(i);
  if (chosen.empty()) return {};
  const std::vector<std::string> inputs = ReadFiles();
  std::vector<quillet::PortedFile> files;
  QString folder;
  if (chosen.size() == 1) {
    // One patch: a file of the user's choice, beside the patch by default;
    // the save dialog asks before it replaces one.
    IUserPrompts::SaveChoice choice;
    choice.proposed = ProposedPath(m_inputs.patchPaths[chosen.front()]);
    for (const std::string& input : inputs) choice.inputs << QString::fromStdString(input);
    const QString path = m_prompts.GetSaveFileNameFor(this, Text(text::kPatchFilter), QStringLiteral("vkp"), choice);
    if (path.isEmpty()) return {};
    files.push_back({path.toStdString(), m_ported[chosen.front()].text, true});
  } else {
    // Several: one folder, each under its own name.
    folder = m_prompts.GetExistingDirectory(this);
    if (folder.isEmpty()) return {};
    std::vector<std::string> paths;
    paths.reserve(chosen.size());
    for (const std::size_t i : chosen) paths.push_back(m_inputs.patchPaths[i]);
    const QStringList names = NamesInOneFolder(paths);
    for (qsizetype n = 0; n < names.size(); ++n) {
      const QFileInfo target(QDir(folder).filePath(names[n]));
      // A dangling link is there too: writing would make its target.
      const bool there = target.exists() || target.isSymLink();
      files.push_back({target.filePath().toStdString(), m_ported[chosen[static_cast<std::size_t>(n)]].text, there});
    }
  }
  // Refused before anything is asked or written, whatever the save dialog let through.
  std::vector<std::string> outputs;
  outputs.reserve(files.size());
  for (const quillet::PortedFile& file : files) outputs.push_back(file.path);
  if (const auto same = quillet::FindOutputIsInput(outputs, inputs)) {
    m_prompts.MessageBox(this, Text(text::kPortOutputIsInput).arg(QString::fromStdString(outputs[same->output])),
                         Text(text::kErrorCaption), IUserPrompts::Icon::exclamation);
    return {};
  }
  if (folder.isEmpty()) return files;
  // Files there already are replaced only when the user says so, once for all.
  QStringList existing;
  for (const quillet::PortedFile& file : files)
    if (file.replace) existing << QString::fromStdString(quillet::FileNameOf(file.path));
  if (!existing.isEmpty()) {
    const qsizetype count = existing.size();
    if (count > kNamesAsked) {
      existing = existing.mid(0, kNamesAsked);
      existing << QStringLiteral("…");
    }
    // In one pass: a folder's name may hold "%2".
    const QString question =
        Text(text::kPortReplaceQuestion)
            .arg(QDir::toNativeSeparators(folder), QString::number(count), existing.join(QStringLiteral(", ")));
    if (!m_prompts.Confirm(this, question, windowTitle())) return {};
  }
  return files;
}

void CPortDlg::OnWrite() {
  if (Busy()) return;
  std::vector<quillet::PortedFile> files = ChooseOutputs();
  if (!files.empty()) StartWrite(std::move(files));
}

void CPortDlg::StartWrite(std::vector<quillet::PortedFile> files) {
  m_writing.clear();
  for (const quillet::PortedFile& file : files) m_writing.push_back(file.path);
  m_failures.clear();
  m_summary->setText(Text(text::kInstallWriting));
  quillet::JobLink& link = *m_link;
  const quillet::PortWriteEvents events{
      .progress = ProgressEvent(),
      .failed = link.Posted<std::size_t, quillet::FileError>(
          [this](std::size_t, const quillet::FileError& error) { m_failures.emplace_back(error.what()); }),
  };
  const bool started = link.Start<quillet::PortWriteOutcome>(
      [files = std::move(files), inputs = ReadFiles(), events, pause = m_pacing](quillet::StopToken stop) {
        quillet::PortWriteEvents paced = events;
        paced.progress = Paced(events.progress, pause, stop);
        return quillet::WritePortedPatches(files, inputs, paced, stop);
      },
      [this](quillet::PortWriteOutcome& outcome) { OnWriteDone(outcome); });
  if (!started) {
    quillet::PortWriteOutcome failed;
    failed.cause = quillet::JobCause::outOfMemory;
    OnWriteDone(failed);
    return;
  }
  ShowRunning(true);
}

void CPortDlg::OnWriteDone(const quillet::PortWriteOutcome& outcome) {
  ShowRunning(false);
  for (std::size_t i = 0; i < outcome.written.size() && i < m_writing.size(); ++i)
    if (outcome.written[i] && std::find(m_written.begin(), m_written.end(), m_writing[i]) == m_written.end())
      m_written.push_back(m_writing[i]);
  const QString total = QString::number(m_writing.size());
  if (outcome.cause == quillet::JobCause::stopped) {
    m_summary->setText(Text(text::kPortWriteStopped).arg(outcome.WrittenCount()).arg(total));
    return;
  }
  if (!m_failures.empty()) {
    QString failure = Text(text::kPortWriteFailed).arg(m_failures.size()).arg(total);
    for (std::size_t i = 0; i < m_failures.size() && i < kFailuresShown; ++i)
      failure += QLatin1Char('\n') + QString::fromStdString(m_failures[i]);
    if (m_failures.size() > kFailuresShown) failure += QStringLiteral("\n…");
    m_summary->setText(failure.section(QLatin1Char('\n'), 0, 0));
    m_prompts.MessageBox(this, failure, Text(text::kErrorCaption), IUserPrompts::Icon::stop);
    return;
  }
  if (const OutcomeBox box = OutcomeMessage(WindowJob::port, outcome); !box.text.isEmpty()) {
    m_summary->setText(box.text);
    m_prompts.MessageBox(this, box.text, box.caption, box.icon);
    return;
  }
  accept();
}

void CPortDlg::closeEvent(QCloseEvent* event) {
  // The close box while a run goes on is "Стоп": the window stays until the run has ended.
  if (Busy()) {
    m_link->RequestStop();
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void CPortDlg::reject() {
  if (Busy()) {
    m_link->RequestStop();
    return;
  }
  QDialog::reject();
}

}  // namespace quillet
