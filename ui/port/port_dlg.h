#pragma once
#include <QDialog>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/port/port.h"
#include "core/port/port_output.h"
#include "ui/common/job_link_qt.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace quillet {

class IUserPrompts;

// Ports the chosen patches to the current image. It first finds where each
// patch's pieces went and lists them, writing nothing; "Записать" then saves
// the ported patches where the user says. Both runs are jobs: the window keeps
// answering, and "Стоп" (or the close box) ends a run.
class CPortDlg : public QDialog {
  Q_OBJECT
 public:
  struct Inputs {
    std::string imagePath;                // the current image: the firmware to port to
    std::string originalPath;             // the original image; empty when not chosen
    std::vector<std::string> patchPaths;  // in list order
    std::string settingsPath;             // read by the program, so never written over
  };

  CPortDlg(QWidget* owner, Inputs inputs, IUserPrompts& prompts);
  ~CPortDlg() override;

  // The ported patches written so far, in list order; they stay written when
  // the window is closed afterwards.
  [[nodiscard]] const std::vector<std::string>& WrittenPaths() const { return m_written; }
  // "Добавить в список": the owner adds the written files to its list.
  [[nodiscard]] bool AddToList() const;
  // True while a run ports or writes.
  [[nodiscard]] bool Busy() const { return m_link->Busy(); }
  // Makes each run pause this long at each step, unless it is stopped
  // meanwhile, so that a test can act in the middle of a run. None by default.
  void SetWorkerPacing(std::chrono::microseconds pause) { m_pacing = pause; }

 public slots:
  void OnWrite();
  // "Отмена", Escape and the close box; "Стоп" while a run goes on.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void StartPort();
  void OnPortDone(quillet::PortOutcome& outcome);
  void StartWrite(std::vector<quillet::PortedFile> files);
  void OnWriteDone(const quillet::PortWriteOutcome& outcome);
  void ShowRunning(bool running);
  // Where the ported patches go: asked of the user, checked against what the
  // run reads. Empty when cancelled or refused.
  [[nodiscard]] std::vector<quillet::PortedFile> ChooseOutputs();
  // Every file the window reads: none of them is ever written over.
  [[nodiscard]] std::vector<std::string> ReadFiles() const;
  [[nodiscard]] std::function<void(std::uint64_t, std::uint64_t)> ProgressEvent();

  Inputs m_inputs;
  IUserPrompts& m_prompts;
  std::chrono::microseconds m_pacing{0};
  bool m_started = false;
  std::string m_firmware;                      // of the last porting run
  std::vector<quillet::PortedPatch> m_ported;  // its results; empty until it has them
  std::vector<std::string> m_writing;          // the running write's files
  std::vector<std::string> m_failures;         // its files that failed, one line each
  std::vector<std::string> m_written;

  QTreeWidget* m_list = nullptr;
  QLabel* m_summary = nullptr;
  QCheckBox* m_fromOriginal = nullptr;
  QCheckBox* m_addToList = nullptr;
  QProgressBar* m_progress = nullptr;
  QPushButton* m_write = nullptr;
  QPushButton* m_cancel = nullptr;
  QtJobLink m_link;  // last member: gone first, after the run has stopped
};

}  // namespace quillet
