#pragma once
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "core/compare/compare_worker.h"
#include "ui/common/job_link_qt.h"
#include "ui/common/user_prompts.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace quillet {

// The comparison window: shows the header at once, runs the worker, shows its
// result and saves it as a .vkp file. Lies over its owner, whose chosen
// images and filter make the job. The worker starts when the window is first shown.
class CFlashCompareDlg : public QDialog {
  Q_OBJECT
 public:
  CFlashCompareDlg(QWidget* owner, quillet::CompareJob job, IUserPrompts& prompts);
  // Waits for a running worker: it holds a pointer into this window.
  ~CFlashCompareDlg() override;

  // The run as the window sees it: reading the images, walking them, or over
  // (finished, failed or stopped). There is one run per window.
  enum class RunState { reading, comparing, ended };
  [[nodiscard]] RunState State() const { return m_state; }

  // How often the progress bar catches up with the worker's position.
  static constexpr int kProgressIntervalMs = 50;
  // A longer text is put into the field in slices of about this many
  // characters, each turn of the event loop taking no more than a slice time.
  static constexpr qsizetype kFillChunkChars = qsizetype{1} << 20;
  static constexpr qsizetype kFillInsertChars = qsizetype{1} << 12;
  static constexpr int kFillSliceMs = 30;
  // A click or Escape this soon after "Стоп" became "Выход" was meant for "Стоп".
  static constexpr int kIgnoreClicksMs = 300;
  // A text above either limit is not put into the field: the field says so,
  // and "Записать" saves it as the run found it.
  static constexpr std::size_t kFieldMaxLines = 2'000'000;
  static constexpr std::size_t kFieldMaxBytes = std::size_t{256} << 20;
  void SetFieldLimits(std::size_t lines, std::size_t bytes) {
    m_fieldMaxLines = lines;
    m_fieldMaxBytes = bytes;
  }
  // True when the result is too large for the field.
  [[nodiscard]] bool ResultOutsideField() const { return m_tooBig; }

  // Slows the worker down so that a run can be acted on in the middle.
  void SetWorkerPacing(std::chrono::microseconds pause);

  // True while a long text is still being put into the field.
  [[nodiscard]] bool Filling() const { return m_filling; }
  // True until the worker's done call has come.
  [[nodiscard]] bool WorkerRunning() const { return m_link->Busy(); }
  // True for a moment after "Стоп" became "Выход": a click then was meant for "Стоп".
  [[nodiscard]] bool IgnoringClicks() const { return JustRelabelled(); }

 protected:
  // "Стоп", Escape and the close box ask a run to stop, and the worker's done
  // call ends it; after it they close.
  void reject() override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OnSize(int cx, int cy);
  void OnSave();
  // Saves; true when the file was written (not cancelled, no failure).
  bool Save();
  void OnTextSetFocus();
  void OnDiffStart(std::uint32_t length);
  // The bar catches up with the newest position, at most every kProgressIntervalMs.
  void OnDiffProgress();
  void OnReadProgress(std::uint64_t done, std::uint64_t total);
  bool SaveWholeResult();
  // Tells the user why a save failed; called inside a catch block.
  void ReportSaveFailure();
  // True, after a box naming the file, when path is one of the two images.
  bool RefusedAsImage(const QString& path);
  [[nodiscard]] bool JustRelabelled() const;
  // A batch of the worker's lines, for m_strText.
  void OnLines(std::string lines);
  // The worker's end: a failure's box first, then the whole text.
  void OnDiffDone(const quillet::JobOutcome& outcome);
  void StartWorker();
  void ShowText(std::vector<std::string> text);
  void FillStep();
  // The row below the field: the bar while the run goes and the field fills,
  // then the note that a stopped run's text is partial.
  void ShowStatusRow();

  // Passes every prompt on and notes what OnSave met, as it reports nothing:
  // a save was done when a file was chosen and no box followed.
  class SaveWatch final : public IUserPrompts {
   public:
    explicit SaveWatch(IUserPrompts& prompts) : m_real(prompts) {}
    void Begin() { m_chosen = m_failed = false; }
    [[nodiscard]] bool Saved() const { return m_chosen && !m_failed; }
    QString GetOpenFileName(QWidget* owner, const QString& filter, const QString& suffix) override {
      return m_real.GetOpenFileName(owner, filter, suffix);
    }
    QStringList GetOpenFileNames(QWidget* owner, const QString& filter, const QString& suffix) override {
      return m_real.GetOpenFileNames(owner, filter, suffix);
    }
    QString GetExistingDirectory(QWidget* owner) override { return m_real.GetExistingDirectory(owner); }
    QString GetSaveFileName(QWidget* owner, const QString& filter, const QString& suffix) override {
      QString path = m_real.GetSaveFileName(owner, filter, suffix);
      m_chosen = !path.isEmpty();
      return path;
    }
    QString GetSaveFileNameFor(QWidget* owner, const QString& filter, const QString& suffix,
                               const SaveChoice& choice) override {
      QString path = m_real.GetSaveFileNameFor(owner, filter, suffix, choice);
      m_chosen = !path.isEmpty();
      return path;
    }
    void MessageBox(QWidget* owner, const QString& text, const QString& caption, Icon icon) override {
      m_failed = true;
      m_real.MessageBox(owner, text, caption, icon);
    }
    SaveAnswer AskToSave(QWidget* owner, const QString& text, const QString& caption) override {
      return m_real.AskToSave(owner, text, caption);
    }
    bool Confirm(QWidget* owner, const QString& text, const QString& caption) override {
      return m_real.Confirm(owner, text, caption);
    }
    bool OpenWithDesktop(const QString& path) override { return m_real.OpenWithDesktop(path); }

   private:
    IUserPrompts& m_real;
    bool m_chosen = false;
    bool m_failed = false;
  };

  QtJobLink m_link;           // first made, last gone: the worker holds pointers into this window
  quillet::CompareJob m_job;  // m_strOriginalFlash and m_strCurrentFlash, and the filter
  SaveWatch m_saveWatch;
  IUserPrompts& m_prompts;  // m_saveWatch
  RunState m_state = RunState::reading;
  bool m_started = false;
  std::string m_strHeader;
  // The header, then the worker's batches as they come, each ending a line.
  std::vector<std::string> m_strText;
  bool m_stopped = false;      // the run ended on "Стоп": its text is partial
  bool m_outOfMemory = false;  // a batch could not be kept
  std::chrono::microseconds m_pacing{0};
  // Written by the worker through the link, read by the bar's timer.
  std::uint32_t m_lastPosition = 0;

  QPlainTextEdit* m_text = nullptr;
  QPushButton* m_save = nullptr;
  QPushButton* m_cancel = nullptr;
  QProgressBar* m_progress = nullptr;
  QLabel* m_partial = nullptr;
  QTimer m_progressTimer;
  QTimer m_fillTimer;
  bool m_filling = false;
  bool m_tooBig = false;
  std::size_t m_fieldMaxLines = kFieldMaxLines;
  std::size_t m_fieldMaxBytes = kFieldMaxBytes;
  // The run's text (CR LF) while it goes into the field, and for good when it
  // is too large for it: pieces, one after the other, each ending a line.
  std::vector<std::string> m_result;
  std::size_t m_pendingPiece = 0;  // what is still to go into the field
  std::size_t m_pendingPos = 0;
  std::size_t m_filledLines = 0;  // of m_fillLines, in the field so far
  std::size_t m_fillLines = 0;
  QElapsedTimer m_cancelRelabelled;
  // The bar counts in int; a length above INT_MAX is shown shifted right.
  int m_progressShift = 0;
};

}  // namespace quillet
