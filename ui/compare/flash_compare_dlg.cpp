#include "ui/compare/flash_compare_dlg.h"

#include <QElapsedTimer>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QShortcut>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <climits>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "core/platform/atomic_writer.h"
#include "core/platform/file_error.h"
#include "core/platform/file_system.h"
#include "core/vkp/vkp_text.h"
#include "ui/common/dialog_units.h"
#include "ui/common/outcome_text.h"
#include "ui/common/user_prompts.h"
#include "ui/common/window_text.h"

namespace quillet {

namespace {

// Client area of the template, in dialog units.
constexpr int kTemplateWidth = 290;
constexpr int kTemplateHeight = 170;

// The text field ends this far above the bottom edge, leaving the button row.
constexpr int kBottomRowPixels = 25;

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, const QRect& rect) {
  auto* button = new QPushButton(QString::fromUtf8(caption), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(rect);
  button->setAutoDefault(false);
  return button;
}

// "Символ U+4E2D в строке 5 …": the character as its code point, since the
// field's font may not draw it.
QString UnencodableMessage(const quillet::Unencodable& where) {
  const QString code =
      QStringLiteral("U+%1").arg(static_cast<unsigned>(where.character), 4, 16, QLatin1Char('0')).toUpper();
  return QString::fromUtf8(text::kUnencodableFormat).arg(code, QString::number(where.line));
}

}  // namespace

CFlashCompareDlg::CFlashCompareDlg(QWidget* owner, quillet::CompareJob job, IUserPrompts& prompts)
    : QDialog(owner, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                         Qt::WindowCloseButtonHint),
      m_job(std::move(job)),
      m_saveWatch(prompts),
      m_prompts(m_saveWatch) {
  setObjectName(QStringLiteral("IDD_FLASH_COMPARE"));
  setWindowTitle(QString::fromUtf8(text::kCompareTitle));
  setSizeGripEnabled(false);
  setFont(DialogUnits::DialogFont());
  const DialogUnits units(font());

  // Plain text: a rich-text editor lays out hundreds of thousands of lines far
  // too slowly. No wrapping, as the lines of a patch must stay whole.
  m_text = new QPlainTextEdit(this);
  m_text->setObjectName(QStringLiteral("IDC_DIFF_TEXT"));
  m_text->setAccessibleName(QString::fromUtf8(text::kAccCompareText));
  m_text->setGeometry(units.rect(0, 0, 289, 155));
  m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_text->setTabChangesFocus(true);
  // Fixed pitch, so that the columns of the data lines line up.
  m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  m_text->installEventFilter(this);

  m_save = MakeButton(this, "IDC_DIFF_SAVE", text::kSave, units.rect(190, 156, 50, 14));
  m_save->setEnabled(false);
  m_cancel = MakeButton(this, "IDCANCEL", text::kExit, units.rect(240, 156, 50, 14));

  m_progress = new QProgressBar(this);
  m_progress->setObjectName(QStringLiteral("IDC_PROGRESS"));
  m_progress->setAccessibleName(QString::fromUtf8(text::kAccCompareProgress));
  m_progress->setGeometry(units.rect(0, 156, 189, 14));
  // The images are read first, which can take a while: the bar shows it from
  // the start.
  m_progress->setAccessibleDescription(QString::fromUtf8(text::kReadingImages));
  m_progress->setFormat(QString::fromUtf8(text::kReadingImages) + QStringLiteral(" %p%"));
  m_progress->setTextVisible(true);
  m_progress->setRange(0, 0);

  // Outside the text, so that nobody takes a stopped run's lines for all there are.
  m_partial = new QLabel(QString::fromUtf8(text::kPartialText), this);
  m_partial->setObjectName(QStringLiteral("partialNote"));
  m_partial->setGeometry(m_progress->geometry());
  m_partial->hide();

  setTabOrder(m_text, m_save);
  setTabOrder(m_save, m_cancel);

  connect(m_save, &QPushButton::clicked, this, [this] { (void)Save(); });
  // Ctrl+S is "Записать", whenever the button could be pressed.
  auto* saveKey = new QShortcut(QKeySequence::Save, this);
  connect(saveKey, &QShortcut::activated, this, [this] {
    if (m_save->isEnabled()) (void)Save();
  });
  connect(m_cancel, &QPushButton::clicked, this, [this] {
    if (!JustRelabelled()) reject();
  });
  m_progressTimer.setInterval(kProgressIntervalMs);
  connect(&m_progressTimer, &QTimer::timeout, this, &CFlashCompareDlg::OnDiffProgress);
  m_fillTimer.setInterval(0);
  connect(&m_fillTimer, &QTimer::timeout, this, &CFlashCompareDlg::FillStep);

  resize(units.size(kTemplateWidth, kTemplateHeight));
  if (owner != nullptr) setGeometry(owner->geometry());

  // The header shows at once; the worker appends to the same text.
  m_strHeader = quillet::ComposeComparisonHeader(m_job.originalPath, m_job.currentPath);
  ShowText({m_strHeader});
  m_cancel->setText(QString::fromUtf8(text::kStop));
  m_text->setFocus();
}

CFlashCompareDlg::~CFlashCompareDlg() {
  m_progressTimer.stop();
  m_fillTimer.stop();
  m_link->Close();
}

void CFlashCompareDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!m_started) {
    m_started = true;
    StartWorker();
  }
}

void CFlashCompareDlg::SetWorkerPacing(std::chrono::microseconds pause) { m_pacing = pause; }

void CFlashCompareDlg::StartWorker() {
  m_strText = {m_strHeader};
  quillet::JobLink& link = *m_link;
  quillet::CompareEvents events{
      .reading = link.Latest<std::uint64_t, std::uint64_t>(
          [this](std::uint64_t done, std::uint64_t total) { OnReadProgress(done, total); }),
      // Sent, not posted: the walk begins once the window has set its bar up.
      .started = link.Sent<std::uint32_t>([this](std::uint32_t length) { OnDiffStart(length); }),
      // The bar's timer shows the newest position; the worker never waits for it.
      .progress = link.Latest<std::uint32_t>([this](std::uint32_t position) { m_lastPosition = position; }),
      .lines = {},
  };
  const quillet::LineBatches batches =
      link.Posted<std::string>([this](std::string lines) { OnLines(std::move(lines)); });
  if (m_pacing.count() != 0) {
    // Slowed down on purpose, so that a run can be watched and acted on in the middle.
    events.progress = [pause = m_pacing, show = events.progress, steps = 0u](std::uint32_t position) mutable {
      if (++steps % 64 == 0) std::this_thread::sleep_for(pause);
      show(position);
    };
    events.reading = [pause = m_pacing * 64, show = events.reading](std::uint64_t done, std::uint64_t total) {
      std::this_thread::sleep_for(pause);
      show(done, total);
    };
  }
  const bool started = link.Start<quillet::JobOutcome>(
      [this, events = std::move(events), batches](quillet::StopToken stop) {
        return quillet::CompareThreadProc(m_job, events, batches, stop);
      },
      [this](quillet::JobOutcome& outcome) { OnDiffDone(outcome); });
  // Without a thread the window can only be closed: the button still reads
  // "Стоп", and pressing it closes the window.
  if (!started) {
    m_state = RunState::ended;
    ShowStatusRow();
  }
}

bool CFlashCompareDlg::JustRelabelled() const {
  return m_cancelRelabelled.isValid() && m_cancelRelabelled.elapsed() < kIgnoreClicksMs;
}

void CFlashCompareDlg::reject() {
  if (m_state != RunState::ended && m_started) {
    // The worker leaves at its next step; its done call ends the run with
    // every line it found, and nothing comes after it.
    m_link->RequestStop();
    return;
  }
  // Edits made after the run are the user's work: ask before dropping them.
  if (m_state == RunState::ended && !m_filling && m_text->document()->isModified()) {
    switch (
        m_prompts.AskToSave(this, QString::fromUtf8(text::kUnsavedQuestion), QString::fromUtf8(text::kCompareTitle))) {
      case IUserPrompts::SaveAnswer::save:
        if (!Save()) return;
        break;
      case IUserPrompts::SaveAnswer::discard:
        break;
      case IUserPrompts::SaveAnswer::cancel:
        return;
    }
  }
  QDialog::reject();
}

bool CFlashCompareDlg::Save() {
  if (m_tooBig) return SaveWholeResult();
  m_saveWatch.Begin();
  OnSave();
  if (!m_saveWatch.Saved()) return false;
  m_text->document()->setModified(false);
  return true;
}

void CFlashCompareDlg::OnDiffStart(std::uint32_t length) {
  m_state = RunState::comparing;
  m_progress->setTextVisible(false);
  m_progress->setAccessibleDescription(QString());
  m_progressShift = 0;
  while ((length >> m_progressShift) > static_cast<std::uint32_t>(INT_MAX)) ++m_progressShift;
  m_progress->setRange(0, static_cast<int>(length >> m_progressShift));
  m_progress->setValue(0);
  m_progress->show();
  m_progressTimer.start();
}

void CFlashCompareDlg::OnDiffProgress() {
  const int value = static_cast<int>(m_lastPosition >> m_progressShift);
  if (value != m_progress->value()) m_progress->setValue(value);
}

void CFlashCompareDlg::OnReadProgress(std::uint64_t done, std::uint64_t total) {
  if (total == 0) return;
  constexpr int kSteps = 1000;
  if (m_progress->maximum() != kSteps) m_progress->setRange(0, kSteps);
  const int value = static_cast<int>(std::min(done, total) * kSteps / total);
  if (value != m_progress->value()) m_progress->setValue(value);
}

void CFlashCompareDlg::OnLines(std::string lines) {
  try {
    m_strText.push_back(std::move(lines));
  } catch (const std::bad_alloc&) {
    m_outOfMemory = true;
    m_link->RequestStop();
  }
}

void CFlashCompareDlg::OnDiffDone(const quillet::JobOutcome& outcome) {
  // Memory that ran out while the window kept the lines ends the run as a stop.
  const OutcomeBox box = OutcomeMessage(
      WindowJob::compare, m_outOfMemory ? quillet::JobOutcome{quillet::JobCause::outOfMemory, {}, 0} : outcome);
  if (!box.text.isEmpty()) m_prompts.MessageBox(this, box.text, box.caption, box.icon);
  m_state = RunState::ended;
  m_stopped = outcome.cause == quillet::JobCause::stopped || m_outOfMemory;
  m_progressTimer.stop();
  m_progress->setValue(0);
  m_save->setEnabled(true);
  m_cancel->setText(QString::fromUtf8(text::kExit));
  m_cancelRelabelled.start();
  ShowText(std::exchange(m_strText, {}));
}

void CFlashCompareDlg::ShowStatusRow() {
  m_progress->setVisible(m_state != RunState::ended || m_filling);
  m_partial->setVisible(m_stopped && m_state == RunState::ended && !m_filling);
}

void CFlashCompareDlg::ShowText(std::vector<std::string> pieces) {
  m_fillTimer.stop();
  m_filling = false;
  m_tooBig = false;
  m_pendingPiece = 0;
  m_pendingPos = 0;
  ShowStatusRow();
  try {
    m_result = std::move(pieces);
    std::size_t bytes = 0;
    for (const std::string& piece : m_result) bytes += piece.size();
    // Counted only as far as the limit: the count of a few hundred MiB would
    // hold the window up.
    std::size_t lines = 0;
    for (const std::string& piece : m_result) {
      for (std::size_t at = piece.find('\n'); at != std::string::npos && lines <= m_fieldMaxLines;
           at = piece.find('\n', at + 1))
        ++lines;
    }
    if (lines > m_fieldMaxLines || bytes > m_fieldMaxBytes) {
      // Millions of lines would take the field minutes and gigabytes: it
      // says what there is instead, and the lines stay here for saving.
      m_tooBig = true;
      m_text->document()->setUndoRedoEnabled(false);
      m_text->setReadOnly(true);
      m_text->setPlainText(QString::fromUtf8(text::kTooManyLines)
                               .arg(m_fieldMaxLines)
                               .arg(QString::number(static_cast<double>(bytes) / (1 << 20), 'f', 1)
                                        .replace(QLatin1Char('.'), QLatin1Char(','))));  // "42,0", as Russian writes it
      m_text->document()->setModified(false);
      m_save->setEnabled(m_state == RunState::ended);
      return;
    }
    if (bytes <= static_cast<std::size_t>(kFillChunkChars)) {
      QString shown;
      for (const std::string& piece : m_result) shown += QString::fromStdString(piece);
      m_result.clear();
      shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
      m_text->setPlainText(shown);
      m_text->document()->setModified(false);
      OnTextSetFocus();
      return;
    }
    // Hundreds of thousands of lines take the document seconds to build, so
    // the field is filled a slice per turn of the event loop: the window keeps
    // answering and the text grows in view. Meanwhile it can't be edited or
    // saved, since it isn't all there yet.
    m_text->clear();
    m_text->setReadOnly(true);
    m_text->document()->setUndoRedoEnabled(false);
    m_save->setEnabled(false);
    m_filling = true;
    m_filledLines = 0;
    m_fillLines = lines;
    m_progress->setRange(0, static_cast<int>(lines));
    m_progress->setTextVisible(true);
    m_progress->setAccessibleDescription(QString());
    ShowStatusRow();
    m_fillTimer.start();
  } catch (const std::bad_alloc&) {
    m_result.clear();
    m_prompts.MessageBox(this, QString::fromUtf8(text::kOutOfMemory), QString::fromUtf8(text::kAppName),
                         IUserPrompts::Icon::exclamation);
  }
}

void CFlashCompareDlg::FillStep() {
  QElapsedTimer slice;
  slice.start();
  QTextCursor cursor(m_text->document());
  cursor.movePosition(QTextCursor::End);
  while (m_pendingPiece < m_result.size() && slice.elapsed() < kFillSliceMs) {
    const std::string& piece = m_result[m_pendingPiece];
    // Whole lines per insertion, so no character and no CR LF is ever cut in two.
    std::size_t end = piece.find('\n', m_pendingPos + static_cast<std::size_t>(kFillInsertChars));
    end = end == std::string::npos ? piece.size() : end + 1;
    m_filledLines += static_cast<std::size_t>(std::count(piece.begin() + static_cast<std::ptrdiff_t>(m_pendingPos),
                                                         piece.begin() + static_cast<std::ptrdiff_t>(end), '\n'));
    QString shown = QString::fromUtf8(piece.data() + m_pendingPos, static_cast<qsizetype>(end - m_pendingPos));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    cursor.insertText(shown);
    m_pendingPos = end;
    if (m_pendingPos == piece.size()) {
      ++m_pendingPiece;
      m_pendingPos = 0;
    }
  }
  if (m_pendingPiece < m_result.size()) {
    m_progress->setFormat(QString::fromUtf8(text::kFillingText).arg(m_filledLines).arg(m_fillLines));
    m_progress->setValue(static_cast<int>(m_filledLines));
    return;
  }

  m_fillTimer.stop();
  m_result.clear();
  m_result.shrink_to_fit();
  m_filling = false;
  m_text->document()->setUndoRedoEnabled(true);
  m_text->document()->setModified(false);
  m_text->setReadOnly(false);
  m_save->setEnabled(m_state == RunState::ended);
  ShowStatusRow();
  OnTextSetFocus();
}

bool CFlashCompareDlg::SaveWholeResult() {
  // The lines as the run found them, in the bytes the field would give them
  // unedited, written piece by piece: the result may be hundreds of MB.
  // No proposed name, as before; the images themselves are refused before Qt asks to replace one.
  const QString path = m_prompts.GetSaveFileNameFor(
      this, QString::fromUtf8(text::kPatchFilter), QStringLiteral("vkp"),
      {QString(), {QString::fromStdString(m_job.originalPath), QString::fromStdString(m_job.currentPath)}});
  if (path.isEmpty() || RefusedAsImage(path)) return false;
  try {
    quillet::AtomicFileWriter file(path.toStdString(), true);
    file.Write(quillet::EncodeSavedHeader(m_strHeader));
    std::size_t skip = m_strHeader.size();  // the header is the start of the first piece
    for (const std::string& piece : m_result) {
      const std::size_t from = std::min(skip, piece.size());
      file.Write(std::string_view(piece).substr(from));
      skip -= from;
    }
    file.Write(quillet::kSavedTextEnd);
    file.Commit();
    return true;
  } catch (...) {
    ReportSaveFailure();
  }
  return false;
}

bool CFlashCompareDlg::RefusedAsImage(const QString& path) {
  // The file dialog asks before replacing a file, but not whether that file
  // is the very image the patch was made from: compared as files, so that no
  // link or other spelling gets by.
  const std::string target = path.toStdString();
  if (!quillet::IsSameFile(target, m_job.originalPath) && !quillet::IsSameFile(target, m_job.currentPath)) return false;
  m_prompts.MessageBox(this, QString::fromUtf8(text::kSaveOverImage).arg(path), QString::fromUtf8(text::kErrorCaption),
                       IUserPrompts::Icon::stop);
  return true;
}

void CFlashCompareDlg::ReportSaveFailure() {
  try {
    throw;
  } catch (const quillet::UnencodableText& error) {
    m_prompts.MessageBox(this, UnencodableMessage(error.Where()), QString::fromUtf8(text::kErrorCaption),
                         IUserPrompts::Icon::stop);
  } catch (const quillet::FileError& error) {
    m_prompts.MessageBox(this, QString::fromStdString(error.what()), QString::fromUtf8(text::kAppName),
                         IUserPrompts::Icon::stop);
  } catch (const std::bad_alloc&) {
    m_prompts.MessageBox(this, QString::fromUtf8(text::kOutOfMemory), QString::fromUtf8(text::kAppName),
                         IUserPrompts::Icon::exclamation);
  }
}

void CFlashCompareDlg::OnTextSetFocus() {
  QTextCursor cursor = m_text->textCursor();
  cursor.movePosition(QTextCursor::Start);
  m_text->setTextCursor(cursor);
}

void CFlashCompareDlg::keyPressEvent(QKeyEvent* event) {
  // The buttons are not auto-default, so that Enter in the field stays a new
  // line; Enter on a focused button presses that button.
  const int key = event->key();
  if (key == Qt::Key_Escape && JustRelabelled()) return;
  if ((key == Qt::Key_Return || key == Qt::Key_Enter) && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    for (QPushButton* button : {m_save, m_cancel}) {
      if (button->hasFocus()) {
        if (button->isEnabled()) button->click();
        return;
      }
    }
  }
  QDialog::keyPressEvent(event);
}

bool CFlashCompareDlg::eventFilter(QObject* watched, QEvent* event) {
  // A context menu hands the focus back when it closes; in the original edit
  // control it never took it, so that return must not move the caret.
  if (watched == m_text && event->type() == QEvent::FocusIn &&
      static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
    OnTextSetFocus();
  }
  return QDialog::eventFilter(watched, event);
}

void CFlashCompareDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  OnSize(event->size().width(), event->size().height());
}

void CFlashCompareDlg::OnSize(int cx, int cy) {
  if (m_text == nullptr || m_save == nullptr || m_cancel == nullptr) return;
  const int fl = m_text->x();
  const int ft = m_text->y();
  const int sw = m_save->width();
  const int sh = m_save->height();
  const int ew = m_cancel->width();
  const int eh = m_cancel->height();
  // With a large font the buttons grow past the row the template leaves them.
  const int bottomRow = std::max(kBottomRowPixels, std::max(sh, eh) + 2);
  m_text->setGeometry(fl, ft, std::max(0, cx - fl), std::max(0, cy - bottomRow - ft));
  m_cancel->move(cx - ew, cy - eh);
  m_save->move(cx - ew - sw, cy - sh);
  m_progress->setGeometry(0, cy - sh, std::max(0, cx - ew - sw), sh);
  m_partial->setGeometry(m_progress->geometry());
}

void CFlashCompareDlg::OnSave() {
  // No proposed name, as before; the images themselves are refused before Qt asks to replace one.
  const QString path = m_prompts.GetSaveFileNameFor(
      this, QString::fromUtf8(text::kPatchFilter), QStringLiteral("vkp"),
      {QString(), {QString::fromStdString(m_job.originalPath), QString::fromStdString(m_job.currentPath)}});
  if (path.isEmpty() || RefusedAsImage(path)) return;
  try {
    // Every line as the field shows it, the user's edits included. The raw
    // text keeps each break as typed (Shift+Enter's U+2028 too) for the core to
    // split, and keeps no-break spaces, which toPlainText() would turn into spaces.
    quillet::SaveComparisonText(path.toStdString(),
                                quillet::SplitEditLines(m_text->document()->toRawText().toStdString()));
  } catch (...) {
    ReportSaveFailure();
  }
}

}  // namespace quillet
