#pragma once
#include <QDialog>

#include <string>

#include "core/install/install_job.h"
#include "ui/common/job_link_qt.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace quillet {

class IUserPrompts;

// The workbench's confirmation window. It first reads the image and the chosen
// patches and lists what will happen to each (nothing is written then); then
// "Записать" writes a new image or, asked twice, changes the current one, with
// an undo patch beside the result. Both runs are jobs: the window keeps
// answering, and "Стоп" ends a run with nothing written.
class CInstallDlg : public QDialog {
  Q_OBJECT
 public:
  // job: the image, the chosen patches in list order, the filter and the mode.
  CInstallDlg(QWidget* owner, quillet::InstallJob job, IUserPrompts& prompts);
  ~CInstallDlg() override;

  // The file written by a run that succeeded; empty until then.
  [[nodiscard]] const std::string& WrittenPath() const { return m_written; }
  // Where that run's undo patch went and how it is used; empty without one.
  [[nodiscard]] const std::string& UndoSavedText() const { return m_undoSaved; }
  // True while a run reads or writes.
  [[nodiscard]] bool Busy() const { return m_link->Busy(); }

 public slots:
  void OnWrite();
  // "Отмена", Escape and the close box; "Стоп" while a run goes on.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void StartRun(quillet::InstallJob job);
  void OnRunDone(const quillet::InstallOutcome& outcome);
  void ShowDecisions(const quillet::InstallOutcome& outcome);
  void ShowRunning(bool running);
  // The row's path and what will happen to it, whole, below the list.
  void ShowReason(const QTreeWidgetItem* row);

  quillet::InstallJob m_job;  // as chosen; each run is a copy with its target
  IUserPrompts& m_prompts;
  bool m_planned = false;  // the list says what will happen
  bool m_writing = false;  // the running job writes
  bool m_writable = false;
  std::string m_written;
  std::string m_undoPath;  // of the write under way
  std::string m_undoSaved;

  QTreeWidget* m_list = nullptr;
  QLabel* m_reason = nullptr;
  QLabel* m_summary = nullptr;
  QRadioButton* m_toNew = nullptr;
  QRadioButton* m_inPlace = nullptr;
  QCheckBox* m_saveUndo = nullptr;
  QProgressBar* m_progress = nullptr;
  QPushButton* m_write = nullptr;
  QPushButton* m_cancel = nullptr;
  QtJobLink m_link;  // last member: gone first, after the run has stopped
};

}  // namespace quillet
