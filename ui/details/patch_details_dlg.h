#pragma once
#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "ui/common/job_link_qt.h"
#include "ui/common/row_details.h"

class QPlainTextEdit;

namespace quillet {

// The evidence behind one row's mark, read-only. Modeless, so that the user can
// keep it beside the list and open another row's.
class CPatchDetailsDlg : public QDialog {
  Q_OBJECT
 public:
  CPatchDetailsDlg(const QString& title, const QString& text, QWidget* parent = nullptr);
  ~CPatchDetailsDlg() override;

  // What the row's conflicts make of the text, called on this window's thread.
  using Compose = std::function<QString(const std::vector<quillet::RowConflict>& conflicts)>;
  // Reads every listed file (paths, names: the list's rows in display order,
  // taken when the window opened) for the files that collide with row, on a
  // job of its own: the window opens at once, says how far the reading is,
  // and shows compose's text when it is done. Closing the window stops it.
  void FindConflicts(std::vector<std::string> paths, std::vector<std::string> names, std::size_t row, Compose compose);
  // True until the conflicts are shown.
  [[nodiscard]] bool Finding() const { return m_link->Busy(); }

 private:
  QPlainTextEdit* m_text = nullptr;
  QString m_shown;  // the text without the reading's line
  Compose m_compose;
  QtJobLink m_link;  // last member: gone first, after the job has stopped
};

}  // namespace quillet
