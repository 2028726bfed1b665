#pragma once
#include <QAbstractTableModel>
#include <QIcon>

#include <array>
#include <cstddef>
#include <functional>

#include "core/search/patch_list.h"

// The main window's rows as Qt sees them: a view of the core's PatchList, never
// a copy of it. Column 0 shows a row's mark and name, column 1 its path; the
// tooltip is the row's evidence as things are chosen now.
class PatchListModel final : public QAbstractTableModel {
  Q_OBJECT
 public:
  using Tooltip = std::function<QString(std::size_t row)>;
  // icons: by PatchStatus.
  PatchListModel(const quillet::PatchList& list, const std::array<QIcon, 4>& icons, Tooltip tooltip,
                 QObject* parent = nullptr);

  [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  [[nodiscard]] int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
  [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Around any change of the list's rows (added, removed): the view forgets
  // what it knew of them.
  void BeginRowsChange() { beginResetModel(); }
  void EndRowsChange() { endResetModel(); }
  // Rows first..last have new marks or evidence.
  void RowsChanged(std::size_t first, std::size_t last);
  // Every row's tooltip may read differently now (another image or filter).
  void AllRowsChanged();

 private:
  const quillet::PatchList& m_list;
  const std::array<QIcon, 4>& m_icons;
  Tooltip m_tooltip;
};
