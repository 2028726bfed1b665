#pragma once
#include <QDialog>

#include <cstdint>
#include <string>

#include "core/filter/address_filter.h"

class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace quillet {

class IUserPrompts;

// Nonzero while the filter dialog writes an edit itself, so that the edit's
// change handler does not recompute from a text the user never typed.

// The address filter dialog: edits a working copy of the filter in force and,
// on OK, writes it to the settings file (the caller then reloads the filter).
// Input it can't use is ignored without a message.
class CAddrFilterDlg : public QDialog {
  Q_OBJECT
 public:
  CAddrFilterDlg(std::string settingsPath, const quillet::AddressFilter& filter, IUserPrompts& prompts,
                 QWidget* parent = nullptr);
  ~CAddrFilterDlg() override;

 public slots:
  // "OK": writes the rows to the settings file and closes; on a write failure
  // says so and stays open, so that no edit is lost.
  void accept() override;

 private:
  void OnInitDialog();
  void OnChangeRangeStart();
  void OnChangeRangeEnd();
  void OnChangeRangeLength();
  void OnRangeAdd();
  void OnRangeDelete();
  void OnDblclkRangeList(QTreeWidgetItem* item);

  // Recomputes the length from the start and the end; validates only `other`,
  // the field the edit being typed depends on.
  void SyncLength(const QLineEdit* other);
  void AddRow(std::uint32_t start, std::uint32_t end);
  static void WriteSuppressed(QLineEdit* edit, const std::string& text);

  std::string m_settingsPath;
  const quillet::AddressFilter& m_filter;
  IUserPrompts& m_prompts;

  QLineEdit* m_start = nullptr;
  QLineEdit* m_end = nullptr;
  QLineEdit* m_length = nullptr;
  QTreeWidget* m_rangeList = nullptr;
  QPushButton* m_add = nullptr;
  QPushButton* m_delete = nullptr;
  QPushButton* m_ok = nullptr;
  QPushButton* m_cancel = nullptr;
};

}  // namespace quillet
